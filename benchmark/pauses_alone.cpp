#include "benchmark/pauses_alone.h"

#include <cstdio>

#include "benchmark/pause_log.h"
#include "benchmark/update_figures.h"
#include "device/hid/clock_port.h"

// Timed through the pause log, as the update's pauses are.
PausesAlone TimePausesAlone(uint32_t imageSize) {
    const std::vector<uint32_t> pauses = MandatedPauses(imageSize);
    PausesAlone alone;
    StartPauseLog();
    const ClockReading start = ReadClocks();
    for (uint32_t pause : pauses) {
        PlatformSleep(pause);
    }
    alone.elapsed = ElapsedSince(start);
    alone.lateMs = StopPauseLog().lateMs;
    return alone;
}

void PrintPausesAloneFigures(uint32_t imageSize, const ClockReading& update,
                             const PausesAlone& alone) {
    const double mandated = double(MandatedPausesMs(imageSize));
    const double overshoot = alone.elapsed.wallMs - mandated;
    const double beyond = update.wallMs - alone.elapsed.wallMs;
    std::printf("the same pauses alone, nothing between them\n");
    std::printf("  wall time        %10.1f ms\n", alone.elapsed.wallMs);
    std::printf("  overshoot        %10.1f ms (%.2f %%)\n", overshoot,
                100.0 * overshoot / mandated);
    PrintLateness(alone.lateMs);
    std::printf("  CPU time         %10.1f ms\n", alone.elapsed.cpuMs);
    std::printf("  update beyond it %10.1f ms (%.2f %% of the pauses)\n", beyond,
                100.0 * beyond / mandated);
    std::fflush(stdout);
}
