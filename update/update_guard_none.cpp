// The update guard of programs with no system service to ask (benchmarks,
// fuzzers, the dialog tests): an update there runs as it would without a guard.
#include "update/update_guard_port.h"

void UpdateGuardTake(const char16_t*) {}

void UpdateGuardRelease() {}
