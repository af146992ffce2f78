#include "tests/e2e/emulator_control.h"

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

std::string EmulatorControlDir() {
    const char* dir = std::getenv("EMULATED_UNIT_CONTROL");
    return dir != nullptr ? dir : "";
}

std::string AskEmulatedUnit(const std::string& line) {
    const std::string dir = EmulatorControlDir();
    const int in = open((dir + "/in").c_str(), O_WRONLY | O_CLOEXEC);
    if (in < 0) {
        return "no control";
    }
    const std::string request = line + "\n";
    const bool sent = write(in, request.data(), request.size()) == ssize_t(request.size());
    close(in);
    const int out = open((dir + "/out").c_str(), O_RDONLY | O_CLOEXEC);
    if (!sent || out < 0) {
        return "no control";
    }
    std::string reply;
    char c;
    while (read(out, &c, 1) == 1 && c != '\n') {
        reply += c;
    }
    close(out);
    return reply;
}
