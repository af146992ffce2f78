// The update's pauses on their own: the same lengths in the same order, through
// the same pause, with nothing done between them. How far they overshoot is how
// close to their length this system lets a thread's pauses end; what the whole
// update takes beyond that is the program's own doing.
#pragma once
#include <cstdint>
#include <vector>

#include "benchmark/clocks.h"

struct PausesAlone {
    ClockReading elapsed;
    // How late each pause ended, in milliseconds, in the order taken.
    std::vector<double> lateMs;
};

PausesAlone TimePausesAlone(uint32_t imageSize);

// Prints the pauses' own figures, how their lateness is spread, and the update's
// time beyond them.
void PrintPausesAloneFigures(uint32_t imageSize, const ClockReading& update,
                             const PausesAlone& alone);
