// Shared by the fuzz targets: a broken rule stops the run, so that the fuzzer
// keeps the input that broke it; and a fresh simulated world for every input.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "device/hid/sim_world.h"

inline void Require(bool holds, const char* rule) {
    if (!holds) {
        std::fprintf(stderr, "broken: %s\n", rule);
        std::abort();
    }
}

// Nothing present, time 0, no unit open. The ready unit gets a small flash: the
// fuzzed updates write a few blocks, and filling the default flash for every
// input would slow the fuzzer down for nothing.
SimInterface FreshWorldWithReadyUnit();

// The bytes of the last wire record if it is a successful read, else null.
const std::vector<uint8_t>* LastReplyOnWire(size_t since);
