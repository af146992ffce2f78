// The pauses of the update being timed, each as it ended. The benchmarks that
// link this file route every PlatformSleep call through it (the linker's --wrap,
// see vespra_log_pauses in CMakeLists.txt), so the update's overshoot splits, in
// the same run, into pauses the host held off the processor, the pauses' usual
// lateness, and the program's own work between its pauses.
#pragma once
#include <cstdint>
#include <vector>

#include "benchmark/clocks.h"

struct PauseLog {
    // How late each pause ended, in milliseconds, in the order taken.
    std::vector<double> lateMs;
    // The wall time spent inside the pauses, lateness included.
    double pausedMs = 0;
};

// Pauses are logged from here on, replacing what was logged before.
void StartPauseLog();
// Ends the logging and returns what it logged.
PauseLog StopPauseLog();

// A pause this late was not woken late by the usual amount: its thread was held
// off the processor (on a virtual machine, usually by the host).
constexpr double STALL_MS = 0.2;

// Prints how the lateness is spread and how much of it the held pauses make.
// Returns the milliseconds that the held pauses were late in all.
double PrintLateness(const std::vector<double>& lateMs);

// Prints how the update's time beyond the pauses it must take for an image of
// this size is made up.
void PrintUpdatePauses(uint32_t imageSize, const ClockReading& update, const PauseLog& log);
