#include "benchmark/update_figures.h"

#include <cstdio>

#include "device/command_reports.h"
#include "update/transfer_image.h"
#include "update/update_procedure.h"

// 20 ms after the lock and after the unprotect step, the erase's reply delay and
// settle time, 20 ms before the address and before the transfer, then 20 ms after
// every block.
std::vector<uint32_t> MandatedPauses(uint32_t imageSize) {
    std::vector<uint32_t> pauses = {STEP_PAUSE_MS,   STEP_PAUSE_MS, ERASE_REPLY_DELAY_MS,
                                    ERASE_SETTLE_MS, STEP_PAUSE_MS, STEP_PAUSE_MS};
    pauses.insert(pauses.end(), BlockCount(imageSize), STEP_PAUSE_MS);
    return pauses;
}

uint64_t MandatedPausesMs(uint32_t imageSize) {
    uint64_t sum = 0;
    for (uint32_t pause : MandatedPauses(imageSize)) {
        sum += pause;
    }
    return sum;
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
