// An emulated programming unit behind a hidraw node, for running the real
// programs from outside:
//
//     emulated_unit [--unit OPTION]... [--control DIR] [--log FILE] [--flash-at-end FILE]
//                   -- COMMAND [ARGS...]
//
// COMMAND runs as a child inside the emulated world (see unit_world.h) with this
// program's environment and standard streams, in a process group of its own
// that `quit` or a SIGTERM here ends with SIGTERM; the exit code is the child's, 1
// for a failure of this program and 125 for a world that could not be set up.
// With --control, each line written to DIR/in is a command (control_commands.h)
// and gets one reply line on DIR/out; the child finds DIR in
// EMULATED_UNIT_CONTROL. Two commands are this program's own: `copy` starts
// COMMAND once more in the same world, as a user starting a second copy of the
// program would ("ok PID"), and `copy-exit PID` tells whether that copy has
// ended ("ok running", "ok exit CODE"). Copies still running at the end are
// ended as the child is. With --flash-at-end, the controller's flash is written
// to FILE when the program ends, for checks after a child that ended by itself.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <string>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "tests/e2e/control_commands.h"
#include "tests/e2e/unit_world.h"

namespace {

constexpr int SETUP_FAILED = 125;
// How long an ended child may take to go after SIGTERM before SIGKILL.
constexpr int CHILD_GRACE_MS = 10000;

void Usage() {
    std::fprintf(stderr, "usage: emulated_unit [--unit OPTION]... [--control DIR] [--log FILE] "
                         "[--flash-at-end FILE] -- COMMAND [ARGS...]\n");
}

bool PreloadActive() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr;
}

// The testbed works only with umockdev's library preloaded in this process too:
// starts this program again through its wrapper.
int RestartUnderWrapper(char** argv) {
    if (std::getenv("EMULATED_UNIT_RESTARTED") != nullptr) {
        std::fprintf(stderr, "emulated_unit: the umockdev library did not load\n");
        return SETUP_FAILED;
    }
    setenv("EMULATED_UNIT_RESTARTED", "1", 1);
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) {
        return SETUP_FAILED;
    }
    self[length] = '\0';
    std::vector<char*> args = {const_cast<char*>(UMOCKDEV_WRAPPER), self};
    for (char** arg = argv + 1; *arg != nullptr; ++arg) {
        args.push_back(*arg);
    }
    args.push_back(nullptr);
    execv(UMOCKDEV_WRAPPER, args.data());
    std::fprintf(stderr, "emulated_unit: %s: %s\n", UMOCKDEV_WRAPPER, std::strerror(errno));
    return SETUP_FAILED;
}

// The command the child runs, for copies of it; their pids and, once they
// ended, their exit codes (-1 while running).
char** g_command = nullptr;
sigset_t g_originalMask;
std::map<pid_t, int> g_copies;

int ExitCodeOf(int status);

// A copy leads its own process group, as the child does.
pid_t StartCopy() {
    const pid_t copy = fork();
    if (copy == 0) {
        setpgid(0, 0);
        sigprocmask(SIG_SETMASK, &g_originalMask, nullptr);
        signal(SIGPIPE, SIG_DFL);
        execvp(g_command[0], g_command);
        _exit(127);
    }
    if (copy > 0) {
        setpgid(copy, copy);
        g_copies[copy] = -1;
    }
    return copy;
}

std::string RunOwnCommand(const std::string& line, bool* handled) {
    *handled = true;
    if (line == "copy") {
        const pid_t copy = StartCopy();
        return copy > 0 ? "ok " + std::to_string(copy) : "error fork failed";
    }
    if (line.rfind("copy-exit ", 0) == 0) {
        const auto found = g_copies.find(static_cast<pid_t>(std::atol(line.c_str() + 10)));
        if (found == g_copies.end()) {
            return "error no such copy";
        }
        return found->second < 0 ? "ok running" : "ok exit " + std::to_string(found->second);
    }
    *handled = false;
    return "";
}

struct Control {
    int in = -1;
    int out = -1;
    std::string pending;
};

bool OpenControl(const std::string& dir, Control* control) {
    const std::string in = dir + "/in", out = dir + "/out";
    mkdir(dir.c_str(), 0700);
    for (const std::string& path : {in, out}) {
        unlink(path.c_str());
        if (mkfifo(path.c_str(), 0600) != 0) {
            std::fprintf(stderr, "emulated_unit: mkfifo %s: %s\n", path.c_str(),
                         std::strerror(errno));
            return false;
        }
    }
    // Held open both ways here, so that neither side ever sees an end of file
    // when the driver closes and opens its ends between commands.
    control->in = open(in.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    // Not blocking: a driver that never reads its replies must not stop the unit.
    control->out = open(out.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    return control->in >= 0 && control->out >= 0;
}

// Runs every whole line that has come in; true once `quit` was among them.
bool ServeControl(Control* control) {
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(control->in, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        control->pending.append(buffer, static_cast<size_t>(got));
    }
    bool quit = false;
    size_t end;
    while ((end = control->pending.find('\n')) != std::string::npos) {
        std::string line = control->pending.substr(0, end);
        control->pending.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty()) {
            continue;
        }
        bool own = false;
        std::string reply = RunOwnCommand(line, &own);
        if (!own) {
            reply = RunControlCommand(line, &quit);
        }
        reply += "\n";
        if (write(control->out, reply.data(), reply.size()) < 0) {
            std::fprintf(stderr, "emulated_unit: control reply: %s\n", std::strerror(errno));
        }
    }
    return quit;
}

int ExitCodeOf(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : 1;
}

// The child leads its own process group, so that what it started ends with it.
int EndChild(pid_t child) {
    kill(-child, SIGTERM);
    int status = 0;
    for (int waited = 0; waited < CHILD_GRACE_MS; waited += 50) {
        if (waitpid(child, &status, WNOHANG) == child) {
            return ExitCodeOf(status);
        }
        usleep(50 * 1000);
    }
    kill(-child, SIGKILL);
    waitpid(child, &status, 0);
    return ExitCodeOf(status);
}

} // namespace

int main(int argc, char** argv) {
    std::string controlDir, logFile, flashFile;
    std::vector<std::string> unitOptions;
    int first = 1;
    for (; first < argc; ++first) {
        const std::string arg = argv[first];
        if (arg == "--") {
            ++first;
            break;
        }
        if ((arg == "--unit" || arg == "--control" || arg == "--log" || arg == "--flash-at-end") &&
            first + 1 < argc) {
            const std::string value = argv[++first];
            if (arg == "--unit") {
                unitOptions.push_back(value);
            } else if (arg == "--control") {
                controlDir = value;
            } else if (arg == "--flash-at-end") {
                flashFile = value;
            } else {
                logFile = value;
            }
            continue;
        }
        Usage();
        return SETUP_FAILED;
    }
    if (first >= argc) {
        Usage();
        return SETUP_FAILED;
    }
    if (!PreloadActive()) {
        return RestartUnderWrapper(argv);
    }
    for (const std::string& option : unitOptions) {
        std::string problem;
        if (!ApplyUnitOption(option, &g_world.options, &problem)) {
            std::fprintf(stderr, "emulated_unit: --unit %s: %s\n", option.c_str(), problem.c_str());
            return SETUP_FAILED;
        }
    }
    if (!logFile.empty()) {
        g_world.log = std::fopen(logFile.c_str(), "w");
        if (g_world.log == nullptr) {
            std::fprintf(stderr, "emulated_unit: %s: %s\n", logFile.c_str(), std::strerror(errno));
            return SETUP_FAILED;
        }
    }

    // Blocked before umockdev starts its thread, so that every thread has them
    // blocked and they arrive through the signal descriptor only.
    sigset_t handled, original;
    sigemptyset(&handled);
    sigaddset(&handled, SIGCHLD);
    sigaddset(&handled, SIGTERM);
    sigaddset(&handled, SIGINT);
    sigaddset(&handled, SIGHUP);
    sigprocmask(SIG_BLOCK, &handled, &original);
    g_originalMask = original;
    signal(SIGPIPE, SIG_IGN);
    const int signals = signalfd(-1, &handled, SFD_CLOEXEC | SFD_NONBLOCK);
    int wake[2];
    if (signals < 0 || pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        return SETUP_FAILED;
    }
    g_world.wakeFd = wake[1];

    if (!CreateWorld() || (!g_world.options.absent && !PlugUnit())) {
        DestroyWorld();
        return SETUP_FAILED;
    }
    Control control;
    if (!controlDir.empty()) {
        if (!OpenControl(controlDir, &control)) {
            DestroyWorld();
            return SETUP_FAILED;
        }
        // Absolute, so that it holds for a child that changes its directory.
        char* absolute = realpath(controlDir.c_str(), nullptr);
        setenv("EMULATED_UNIT_CONTROL", absolute != nullptr ? absolute : controlDir.c_str(), 1);
        std::free(absolute);
    }

    g_command = argv + first;
    const pid_t child = fork();
    if (child > 0) {
        setpgid(child, child);
    }
    if (child < 0) {
        DestroyWorld();
        return SETUP_FAILED;
    }
    if (child == 0) {
        setpgid(0, 0);
        // On a terminal the child's group takes the foreground, so that a shell
        // or program reading the terminal works as it would without us.
        if (isatty(STDIN_FILENO)) {
            signal(SIGTTOU, SIG_IGN);
            tcsetpgrp(STDIN_FILENO, getpid());
            signal(SIGTTOU, SIG_DFL);
        }
        sigprocmask(SIG_SETMASK, &original, nullptr);
        signal(SIGPIPE, SIG_DFL);
        execvp(argv[first], argv + first);
        std::fprintf(stderr, "emulated_unit: %s: %s\n", argv[first], std::strerror(errno));
        _exit(127);
    }

    int exitCode = 1;
    for (;;) {
        pollfd waits[3] = {{signals, POLLIN, 0}, {wake[0], POLLIN, 0}, {control.in, POLLIN, 0}};
        const nfds_t count = control.in >= 0 ? 3 : 2;
        if (poll(waits, count, NextLateReplyInMs()) < 0 && errno != EINTR) {
            exitCode = EndChild(child);
            break;
        }
        QueueDueLateReplies();
        if (waits[1].revents & POLLIN) {
            char drained[64];
            while (read(wake[0], drained, sizeof drained) > 0) {
            }
        }
        bool unplugWanted;
        {
            std::lock_guard<std::mutex> guard(g_world.lock);
            unplugWanted = g_world.unplugWanted;
        }
        if (unplugWanted) {
            UnplugUnit();
        }
        if (count == 3 && (waits[2].revents & POLLIN) && ServeControl(&control)) {
            exitCode = EndChild(child);
            break;
        }
        signalfd_siginfo info;
        bool childEnded = false, stopWanted = false;
        while (read(signals, &info, sizeof info) == sizeof info) {
            if (info.ssi_signo == SIGCHLD) {
                // Signals merge: reap every child that has ended.
                int status = 0;
                pid_t ended;
                while ((ended = waitpid(-1, &status, WNOHANG)) > 0) {
                    if (ended == child) {
                        exitCode = ExitCodeOf(status);
                        childEnded = true;
                    } else if (g_copies.count(ended) != 0) {
                        g_copies[ended] = ExitCodeOf(status);
                    }
                }
            } else {
                stopWanted = true;
            }
        }
        if (childEnded) {
            break;
        }
        if (stopWanted) {
            exitCode = EndChild(child);
            break;
        }
    }
    for (const auto& copy : g_copies) {
        if (copy.second < 0) {
            EndChild(copy.first);
        }
    }
    if (isatty(STDIN_FILENO)) {
        signal(SIGTTOU, SIG_IGN);
        tcsetpgrp(STDIN_FILENO, getpgrp());
    }
    DestroyWorld();
    if (!flashFile.empty()) {
        const std::vector<uint8_t>& flash = g_world.options.model.controller.flash;
        FILE* out = std::fopen(flashFile.c_str(), "wb");
        if (out == nullptr || std::fwrite(flash.data(), 1, flash.size(), out) != flash.size()) {
            std::fprintf(stderr, "emulated_unit: %s: cannot be written\n", flashFile.c_str());
            exitCode = exitCode == 0 ? 1 : exitCode;
        }
        if (out != nullptr) {
            std::fclose(out);
        }
    }
    if (!controlDir.empty()) {
        unlink((controlDir + "/in").c_str());
        unlink((controlDir + "/out").c_str());
    }
    if (g_world.log != nullptr) {
        std::fclose(g_world.log);
    }
    return exitCode;
}
