// The figures every update benchmark prints: wall time against the pauses that a
// whole update must take, and processor time.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "benchmark/clocks.h"

// The pauses that the update must take for an image of this size, in its order,
// and their sum.
std::vector<uint32_t> MandatedPauses(uint32_t imageSize);
uint64_t MandatedPausesMs(uint32_t imageSize);

void PrintUpdateFigures(const std::string& heading, uint32_t imageSize, bool written,
                        const ClockReading& elapsed);
