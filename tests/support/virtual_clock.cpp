#include "tests/support/virtual_clock.h"

#include "device/hid/clock_port.h"

namespace {
uint64_t g_nowMs = 0;
std::vector<uint32_t> g_pauses;
uint32_t g_lastError = 0;
std::function<void(uint32_t)> g_observer;
} // namespace

void VirtualClockReset() {
    g_nowMs = 0;
    g_pauses.clear();
    g_lastError = 0;
}

uint64_t VirtualNowMs() {
    return g_nowMs;
}

const std::vector<uint32_t>& VirtualPauses() {
    return g_pauses;
}

void VirtualClockSetObserver(std::function<void(uint32_t milliseconds)> observer) {
    g_observer = std::move(observer);
}

void PlatformSleep(uint32_t milliseconds) {
    g_nowMs += milliseconds;
    g_pauses.push_back(milliseconds);
    if (g_observer) {
        g_observer(milliseconds);
    }
}

uint32_t PlatformLastError() {
    return g_lastError;
}

void PlatformSetLastError(uint32_t value) {
    g_lastError = value;
}
