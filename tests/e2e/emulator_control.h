// The emulated unit's control FIFOs, as its child programs use them: one command
// line to EMULATED_UNIT_CONTROL/in, one reply line back from .../out.
#pragma once
#include <string>

// The control folder the emulated unit gave its child; empty when not run as one.
std::string EmulatorControlDir();
// One command to the emulator and its reply line; "no control" when the FIFOs
// cannot be used.
std::string AskEmulatedUnit(const std::string& line);
