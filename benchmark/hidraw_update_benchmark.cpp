// A whole update through the real Linux HID layer against the emulated unit's
// hidraw node, on the real clock and without windows: how far the update's wall
// time goes beyond the 45,820 ms of pauses it must take when every exchange goes
// through hidraw system calls. Runs as emulated_unit's child:
//     emulated_unit --control DIR -- hidraw_update_benchmark
// Prints its figures and asserts nothing about them; exits 1 only when the unit
// was not found or the flash does not hold the image afterwards.
#include <cstdio>
#include <string>
#include <unistd.h>

#include "benchmark/clocks.h"
#include "benchmark/update_figures.h"

#include "device/command_reports.h"
#include "device/unit_connection.h"
#include "res/resource_data.h"
#include "update/transfer_image.h"
#include "tests/e2e/emulator_control.h"
#include "update/update_procedure.h"

extern int g_errorBoxes;

int main() {
    if (EmulatorControlDir().empty()) {
        std::fprintf(stderr, "run as emulated_unit --control DIR -- hidraw_update_benchmark\n");
        return 1;
    }
    ResetUnitConnection();
    if (OpenUnit() != 0) {
        std::fprintf(stderr, "the emulated unit was not found ready\n");
        return 1;
    }
    const uint32_t imageSize = ResFirmwareImageSize();

    const ClockReading start = ReadClocks();
    UpdateProcedure();
    const ClockReading elapsed = ElapsedSince(start);

    const std::string image = "/tmp/hidraw_update_benchmark_" + std::to_string(getpid()) + ".bin";
    FILE* file = std::fopen(image.c_str(), "wb");
    if (file != nullptr) {
        std::fwrite(ResFirmwareImageData(), 1, imageSize, file);
        std::fclose(file);
    }
    const std::string flash = AskEmulatedUnit("flash-matches " + image);
    std::remove(image.c_str());
    const bool written = flash == "ok match" && g_errorBoxes == 0;
    PrintUpdateFigures("whole update through hidraw", imageSize, written, elapsed);
    std::printf("  flash: %s; error boxes: %d\n", flash.c_str(), g_errorBoxes);
    return written ? 0 : 1;
}
