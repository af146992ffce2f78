#include "benchmark/update_figures.h"

#include <cstdio>

#include "device/command_reports.h"
#include "update/transfer_image.h"
#include "update/update_procedure.h"

// 20 ms after the lock, the unprotect step, before the address and before the
// transfer, the erase's reply delay and settle time, and 20 ms after every block.
uint64_t MandatedPausesMs(uint32_t imageSize) {
    const uint64_t blocks = (uint64_t(imageSize) + BLOCK_BYTES - 1) / BLOCK_BYTES;
    return 4 * STEP_PAUSE_MS + ERASE_REPLY_DELAY_MS + ERASE_SETTLE_MS + blocks * STEP_PAUSE_MS;
}

void PrintUpdateFigures(const std::string& heading, uint32_t imageSize, bool written,
                        const ClockReading& elapsed) {
    const uint64_t mandated = MandatedPausesMs(imageSize);
    const double overhead = elapsed.wallMs - double(mandated);
    std::printf("%s, %u-byte image%s\n", heading.c_str(), imageSize,
                written ? "" : " - FAILED, the image was not written");
    std::printf("  wall time        %10.1f ms\n", elapsed.wallMs);
    std::printf("  mandated pauses  %10llu ms\n", (unsigned long long)mandated);
    std::printf("  overhead         %10.1f ms (%.2f %%)\n", overhead,
                100.0 * overhead / double(mandated));
    std::printf("  CPU time         %10.1f ms\n", elapsed.cpuMs);
    std::fflush(stdout);
}
