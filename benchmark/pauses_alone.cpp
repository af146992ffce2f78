#include "benchmark/pauses_alone.h"

#include <algorithm>
#include <cstdio>

#include "benchmark/update_figures.h"
#include "device/hid/clock_port.h"

namespace {

// A pause this late was not woken late by the usual amount: its thread was held
// off the processor (on a virtual machine, usually by the host).
constexpr double STALL_MS = 0.2;

} // namespace

PausesAlone TimePausesAlone(uint32_t imageSize) {
    const std::vector<uint32_t> pauses = MandatedPauses(imageSize);
    PausesAlone alone;
    alone.lateMs.reserve(pauses.size());
    const ClockReading start = ReadClocks();
    for (uint32_t pause : pauses) {
        const double before = WallClockMs();
        PlatformSleep(pause);
        alone.lateMs.push_back(WallClockMs() - before - pause);
    }
    alone.elapsed = ElapsedSince(start);
    return alone;
}

void PrintPausesAloneFigures(uint32_t imageSize, const ClockReading& update,
                             const PausesAlone& alone) {
    const double mandated = double(MandatedPausesMs(imageSize));
    const double overshoot = alone.elapsed.wallMs - mandated;
    const double beyond = update.wallMs - alone.elapsed.wallMs;
    std::vector<double> late = alone.lateMs;
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
    std::printf("the same pauses alone, nothing between them\n");
    std::printf("  wall time        %10.1f ms\n", alone.elapsed.wallMs);
    std::printf("  overshoot        %10.1f ms (%.2f %%)\n", overshoot,
                100.0 * overshoot / mandated);
    if (count > 0) {
        std::printf("  late by          median %.3f ms, 99th percentile %.3f, most %.3f\n",
                    late[count / 2], late[count * 99 / 100], late[count - 1]);
        std::printf("  over %.1f ms late %6d pauses, %.1f ms in all\n", STALL_MS, stalls,
                    stalledMs);
    }
    std::printf("  CPU time         %10.1f ms\n", alone.elapsed.cpuMs);
    std::printf("  update beyond it %10.1f ms (%.2f %% of the pauses)\n", beyond,
                100.0 * beyond / mandated);
    std::fflush(stdout);
}
