#include "benchmark/pauses_alone.h"

#include <cstdio>

#include "benchmark/update_figures.h"
#include "device/hid/clock_port.h"

ClockReading TimePausesAlone(uint32_t imageSize) {
    const std::vector<uint32_t> pauses = MandatedPauses(imageSize);
    const ClockReading start = ReadClocks();
    for (uint32_t pause : pauses) {
        PlatformSleep(pause);
    }
    return ElapsedSince(start);
}

void PrintPausesAloneFigures(uint32_t imageSize, const ClockReading& update,
                             const ClockReading& alone) {
    const double mandated = double(MandatedPausesMs(imageSize));
    const double overshoot = alone.wallMs - mandated;
    const double beyond = update.wallMs - alone.wallMs;
    std::printf("the same pauses alone, nothing between them\n");
    std::printf("  wall time        %10.1f ms\n", alone.wallMs);
    std::printf("  overshoot        %10.1f ms (%.2f %%)\n", overshoot,
                100.0 * overshoot / mandated);
    std::printf("  CPU time         %10.1f ms\n", alone.cpuMs);
    std::printf("  update beyond it %10.1f ms (%.2f %% of the pauses)\n", beyond,
                100.0 * beyond / mandated);
    std::fflush(stdout);
}
