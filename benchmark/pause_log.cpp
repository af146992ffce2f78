#include "benchmark/pause_log.h"

#include <algorithm>
#include <cstdio>

#include "benchmark/update_figures.h"

namespace {

bool g_logging = false;
PauseLog g_log;

} // namespace

// The names the linker gives the wrapped PlatformSleep(uint32_t) and the original.
extern "C" void __real__Z13PlatformSleepj(uint32_t milliseconds);

extern "C" void __wrap__Z13PlatformSleepj(uint32_t milliseconds) {
    if (!g_logging) {
        __real__Z13PlatformSleepj(milliseconds);
        return;
    }
    const double before = WallClockMs();
    __real__Z13PlatformSleepj(milliseconds);
    const double paused = WallClockMs() - before;
    g_log.lateMs.push_back(paused - milliseconds);
    g_log.pausedMs += paused;
}

void StartPauseLog() {
    g_log = PauseLog();
    g_log.lateMs.reserve(4096);
    g_logging = true;
}

PauseLog StopPauseLog() {
    g_logging = false;
    return g_log;
}

double PrintLateness(const std::vector<double>& lateMs) {
    std::vector<double> late = lateMs;
    std::sort(late.begin(), late.end());
    int stalls = 0;
    double stalledMs = 0;
    for (double ms : late) {
        if (ms > STALL_MS) {
            ++stalls;
            stalledMs += ms;
        }
    }
    const size_t count = late.size();
    if (count > 0) {
        std::printf("  late by          median %.3f ms, 99th percentile %.3f, most %.3f\n",
                    late[count / 2], late[count * 99 / 100], late[count - 1]);
        std::printf("  over %.1f ms late %6d pauses, %.1f ms in all\n", STALL_MS, stalls,
                    stalledMs);
    }
    return stalledMs;
}

void PrintUpdatePauses(uint32_t imageSize, const ClockReading& update, const PauseLog& log) {
    const double mandatedMs = double(MandatedPausesMs(imageSize));
    std::printf("the update's own %zu pauses\n", log.lateMs.size());
    const double stalledMs = PrintLateness(log.lateMs);
    const double betweenMs = update.wallMs - log.pausedMs;
    const double ownMs = update.wallMs - mandatedMs - stalledMs;
    std::printf("  between pauses   %10.1f ms (%.2f %% of the pauses)\n", betweenMs,
                100.0 * betweenMs / mandatedMs);
    std::printf("  overhead less the pauses over %.1f ms late %.1f ms (%.2f %%)\n", STALL_MS, ownMs,
                100.0 * ownMs / mandatedMs);
    std::fflush(stdout);
}
