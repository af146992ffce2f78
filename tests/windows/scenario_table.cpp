#include "tests/windows/scenario_table.h"

#include <sstream>

namespace {

std::vector<std::string> SplitWords(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream stream(line);
    std::string word;
    while (stream >> word) {
        if (word[0] == '#') {
            break;
        }
        words.push_back(word);
    }
    return words;
}

bool Fail(std::string& error, int line, const std::string& what) {
    error = "line " + std::to_string(line) + ": " + what;
    return false;
}

} // namespace

std::string JoinWords(const std::vector<std::string>& words, size_t first) {
    std::string joined;
    for (size_t i = first; i < words.size(); ++i) {
        joined += (i > first ? " " : "") + words[i];
    }
    return joined;
}

bool ParseScenarioTable(const std::string& text, std::vector<Scenario>& scenarios,
                        std::string& error) {
    std::istringstream stream(text);
    std::string line;
    int number = 0;
    bool open = false;
    while (std::getline(stream, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::vector<std::string> words = SplitWords(line);
        if (words.empty()) {
            continue;
        }
        if (words[0] == "scenario") {
            if (open) {
                return Fail(error, number, "scenario inside a scenario (missing end)");
            }
            if (words.size() != 3 || (words[2] != "en" && words[2] != "de")) {
                return Fail(error, number, "expected: scenario <name> <en|de>");
            }
            scenarios.push_back(Scenario{words[1], words[2], {}, {}});
            open = true;
        } else if (!open) {
            return Fail(error, number, "\"" + words[0] + "\" outside a scenario");
        } else if (words[0] == "end") {
            open = false;
        } else if (words[0] == "unit") {
            scenarios.back().unitOptions.assign(words.begin() + 1, words.end());
        } else {
            scenarios.back().steps.push_back(ScenarioStep{number, words});
        }
    }
    if (open) {
        return Fail(error, number, "the last scenario has no end");
    }
    return true;
}
