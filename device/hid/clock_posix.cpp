// Real time for Linux programs without a GUI event loop: the pause waits for its
// deadline on the monotonic clock, however often signals interrupt it.
#include "device/hid/clock_port.h"
#include "device/hid/wait_until_posix.h"

namespace {
thread_local uint32_t t_lastError = 0;
} // namespace

void PlatformSleep(uint32_t milliseconds) {
    WaitUntilNs(MonotonicNowNs() + static_cast<int64_t>(milliseconds) * 1000000);
}

uint32_t PlatformLastError() {
    return t_lastError;
}

void PlatformSetLastError(uint32_t value) {
    t_lastError = value;
}
