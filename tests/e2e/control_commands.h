// The emulated unit's settings at start (--unit) and its control commands, one
// line each, answered by one line that begins "ok" or "error":
//   plug | unplug                               real add / remove uevents
//   fault COMMAND OCCURRENCE KIND [CODE]        arms a fault in the unit's model
//   flash-matches FILE                          "ok match" or "ok differs ..."
//   stats | stats-reset                         exchanges and request times (ms, monotonic)
//   state                                       plugging and the unit's volatile state
//   quit                                        ends the child, then this program
#pragma once
#include <string>

#include "tests/e2e/unit_world.h"

// ready (nothing changed), absent, product=1|2, mode=N, controller-status=N,
// controller-type=0xXXXXXXXX, firmware=0xHHLL, no-answer.
bool ApplyUnitOption(const std::string& option, UnitOptions* options, std::string* problem);
std::string RunControlCommand(const std::string& line, bool* quit);
