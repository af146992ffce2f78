#include "benchmark/pauses_alone.h"

#include <cstdio>

#include "benchmark/update_figures.h"
#include "device/command_reports.h"
#include "device/hid/clock_port.h"
#include "update/transfer_image.h"
#include "update/update_procedure.h"

ClockReading TimePausesAlone(uint32_t imageSize) {
    const uint64_t blocks = (uint64_t(imageSize) + BLOCK_BYTES - 1) / BLOCK_BYTES;
    const ClockReading start = ReadClocks();
    // After the lock and after the unprotect step, the erase's reply delay and
    // settle time, before the address and before the transfer, then every block.
    PlatformSleep(STEP_PAUSE_MS);
    PlatformSleep(STEP_PAUSE_MS);
    PlatformSleep(ERASE_REPLY_DELAY_MS);
    PlatformSleep(ERASE_SETTLE_MS);
    PlatformSleep(STEP_PAUSE_MS);
    PlatformSleep(STEP_PAUSE_MS);
    for (uint64_t block = 0; block < blocks; ++block) {
        PlatformSleep(STEP_PAUSE_MS);
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
