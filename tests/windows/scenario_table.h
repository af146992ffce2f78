// The end-to-end scenario table (tests/e2e/scenarios.txt), read into scenarios of
// steps. Plain text, one statement a line; "#" starts a comment; words are
// separated by blanks:
//
//   scenario <name> <en|de>
//   unit <option>...          the emulated unit's options at start (for the runner)
//   <step word> <argument>... any number of steps
//   end
#pragma once
#include <string>
#include <vector>

struct ScenarioStep {
    int line = 0;                   // in the table file, for messages
    std::vector<std::string> words; // words[0] names the step
};

struct Scenario {
    std::string name;
    std::string language; // "en" or "de"
    std::vector<std::string> unitOptions;
    std::vector<ScenarioStep> steps;
};

// False with a message naming the line when the text is not a well-formed table.
bool ParseScenarioTable(const std::string& text, std::vector<Scenario>& scenarios,
                        std::string& error);

// The words from `first` on, joined by single blanks.
std::string JoinWords(const std::vector<std::string>& words, size_t first);
