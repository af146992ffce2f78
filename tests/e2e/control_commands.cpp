#include "tests/e2e/control_commands.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <vector>

namespace {

bool ParseNumber(const std::string& text, unsigned long max, unsigned long* value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long parsed = std::strtoul(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || parsed > max) {
        return false;
    }
    *value = parsed;
    return true;
}

std::string Printed(const char* format, unsigned long long a, unsigned long long b = 0,
                    unsigned long long c = 0) {
    char text[160];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

// The controller's flash holds the file from address 0 and is erased behind it.
std::string FlashMatches(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return "error cannot read " + path;
    }
    const std::vector<uint8_t> image((std::istreambuf_iterator<char>(file)),
                                     std::istreambuf_iterator<char>());
    std::lock_guard<std::mutex> guard(g_world.lock);
    const std::vector<uint8_t>& flash = g_world.options.model.controller.flash;
    if (image.size() > flash.size()) {
        return Printed("ok differs file has %llu bytes, flash %llu", image.size(), flash.size());
    }
    for (size_t i = 0; i < flash.size(); ++i) {
        const uint8_t wanted = i < image.size() ? image[i] : 0xFF;
        if (flash[i] != wanted) {
            return Printed("ok differs at 0x%05llX: flash 0x%02llX, expected 0x%02llX", i, flash[i],
                           wanted);
        }
    }
    return "ok match";
}

std::string ArmFault(std::istringstream& words) {
    std::string name, occurrenceText, kind, codeText;
    words >> name >> occurrenceText >> kind >> codeText;
    uint8_t command = 0;
    SimFault fault = SimFault::None;
    unsigned long occurrence = 0, code = 0x2A;
    if (!SimCommandFromName(name.c_str(), &command)) {
        return "error unknown command " + name;
    }
    if (!ParseNumber(occurrenceText, 0xFFFFFFFFul, &occurrence) || occurrence == 0) {
        return "error bad occurrence " + occurrenceText;
    }
    if (!SimFaultFromName(kind.c_str(), &fault)) {
        return "error unknown fault " + kind;
    }
    if (!codeText.empty() && !ParseNumber(codeText, 0xFFFFFFFFul, &code)) {
        return "error bad code " + codeText;
    }
    std::lock_guard<std::mutex> guard(g_world.lock);
    SimModelArmFault(g_world.options.model, command, static_cast<uint32_t>(occurrence), fault,
                     static_cast<uint32_t>(code));
    LogLine("armed %s %lu %s 0x%lX", name.c_str(), occurrence, kind.c_str(), code);
    return "ok";
}

} // namespace

bool ApplyUnitOption(const std::string& option, UnitOptions* options, std::string* problem) {
    const size_t equals = option.find('=');
    const std::string key = option.substr(0, equals);
    const std::string text =
        equals == std::string::npos ? std::string() : option.substr(equals + 1);
    if (equals == std::string::npos) {
        if (key == "ready") {
            // The table's word for a unit with nothing changed.
        } else if (key == "absent") {
            options->absent = true;
        } else if (key == "no-answer") {
            options->noAnswer = true;
        } else {
            *problem = "unknown option";
            return false;
        }
        return true;
    }
    unsigned long value = 0;
    SimUnitModel& model = options->model;
    if (key == "product" && ParseNumber(text, 0xFFFF, &value)) {
        options->productId = static_cast<uint16_t>(value);
    } else if (key == "mode" && ParseNumber(text, 0xFF, &value)) {
        model.unitMode = static_cast<uint8_t>(value);
    } else if (key == "controller-status" && ParseNumber(text, 0xFFFF, &value)) {
        model.controller.status = static_cast<uint16_t>(value);
    } else if (key == "controller-type" && ParseNumber(text, 0xFFFFFFFFul, &value)) {
        model.controller.typeId = static_cast<uint32_t>(value);
    } else if (key == "node-mode" && ParseNumber(text, 07777, &value)) {
        // Octal as written ("0000"): what udev would give the node without a rule.
        options->nodeMode = static_cast<int>(value);
    } else if (key == "firmware" && ParseNumber(text, 0xFFFF, &value)) {
        model.controller.firmwareVersion = static_cast<uint16_t>(value);
    } else {
        *problem = "unknown option or bad value";
        return false;
    }
    return true;
}

std::string RunControlCommand(const std::string& line, bool* quit) {
    std::istringstream words(line);
    std::string verb;
    words >> verb;
    LogLine("control %s", line.c_str());
    if (verb == "plug") {
        bool plugged;
        {
            std::lock_guard<std::mutex> guard(g_world.lock);
            plugged = g_world.plugged;
        }
        if (plugged) {
            return "error already plugged";
        }
        return PlugUnit() ? "ok" : "error plugging failed";
    }
    if (verb == "unplug") {
        {
            std::lock_guard<std::mutex> guard(g_world.lock);
            if (!g_world.plugged && !g_world.unplugWanted) {
                return "error not plugged";
            }
        }
        UnplugUnit();
        return "ok";
    }
    if (verb == "fault") {
        return ArmFault(words);
    }
    if (verb == "flash-matches") {
        std::string path;
        std::getline(words >> std::ws, path);
        return FlashMatches(path);
    }
    std::lock_guard<std::mutex> guard(g_world.lock);
    if (verb == "stats") {
        return "ok exchanges=" + std::to_string(g_world.exchanges) +
               " first_ms=" + std::to_string(g_world.firstMs) +
               " last_ms=" + std::to_string(g_world.lastMs);
    }
    if (verb == "stats-reset") {
        g_world.exchanges = 0;
        g_world.firstMs = -1;
        g_world.lastMs = -1;
        return "ok";
    }
    if (verb == "state") {
        const SimUnitModel& model = g_world.options.model;
        return Printed("ok plugged=%llu lock=%llu protect=%llu", g_world.plugged ? 1 : 0,
                       model.lockState, model.writeProtectState) +
               Printed(" erased=%llu blocks=%llu", model.erased ? 1 : 0, model.blockWrites);
    }
    if (verb == "quit") {
        *quit = true;
        return "ok";
    }
    return "error unknown command " + verb;
}
