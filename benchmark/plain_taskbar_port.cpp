// The taskbar port of programs that run without a desktop (the benchmarks
// without windows, the hidraw benchmark): the update shows nothing outside them.
#include "update/taskbar_port.h"

void TaskbarShowProgress(uint32_t) {}

void TaskbarShowFailed(const char16_t*, const char16_t*) {}

void TaskbarShowEnded(const char16_t*) {}
