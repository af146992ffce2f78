// A whole update through the real Linux HID layer against the emulated unit's
// hidraw node, on the real clock and without windows: how far the update's wall
// time goes beyond the 45,820 ms of pauses it must take when every exchange goes
// through hidraw system calls. Runs as emulated_unit's child:
//     emulated_unit --control DIR -- hidraw_update_benchmark
// Prints its figures and asserts nothing about them; exits 1 only when the unit
// was not found or the flash does not hold the image afterwards.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <string>
#include <unistd.h>

#include "device/command_reports.h"
#include "device/unit_connection.h"
#include "res/resource_data.h"
#include "update/transfer_image.h"
#include "update/update_procedure.h"

extern int g_errorBoxes;

namespace {

double NowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

std::string Control(const std::string& dir, const std::string& line) {
    const int in = open((dir + "/in").c_str(), O_WRONLY | O_CLOEXEC);
    if (in < 0) {
        return "no control";
    }
    const std::string request = line + "\n";
    const bool sent = write(in, request.data(), request.size()) == ssize_t(request.size());
    close(in);
    const int out = open((dir + "/out").c_str(), O_RDONLY | O_CLOEXEC);
    if (!sent || out < 0) {
        return "no control";
    }
    std::string reply;
    char c;
    while (read(out, &c, 1) == 1 && c != '\n') {
        reply += c;
    }
    close(out);
    return reply;
}

} // namespace

int main() {
    const char* control = std::getenv("EMULATED_UNIT_CONTROL");
    if (control == nullptr) {
        std::fprintf(stderr, "run as emulated_unit --control DIR -- hidraw_update_benchmark\n");
        return 1;
    }
    ResetUnitConnection();
    if (OpenUnit() != 0) {
        std::fprintf(stderr, "the emulated unit was not found ready\n");
        return 1;
    }
    const uint32_t imageSize = ResFirmwareImageSize();
    const uint64_t blocks = (uint64_t(imageSize) + BLOCK_BYTES - 1) / BLOCK_BYTES;
    const uint64_t pauses =
        4 * STEP_PAUSE_MS + ERASE_REPLY_DELAY_MS + ERASE_SETTLE_MS + blocks * STEP_PAUSE_MS;

    const double before = NowMs();
    UpdateProcedure();
    const double wall = NowMs() - before;

    const std::string image = "/tmp/hidraw_update_benchmark_" + std::to_string(getpid()) + ".bin";
    FILE* file = std::fopen(image.c_str(), "wb");
    if (file != nullptr) {
        std::fwrite(ResFirmwareImageData(), 1, imageSize, file);
        std::fclose(file);
    }
    const std::string flash = Control(control, "flash-matches " + image);
    std::remove(image.c_str());
    std::printf("whole update through hidraw: %.0f ms wall, %llu ms of pauses, %+.0f ms "
                "(%+.2f %%) over them; flash: %s; error boxes: %d\n",
                wall, static_cast<unsigned long long>(pauses), wall - double(pauses),
                (wall - double(pauses)) / double(pauses) * 100.0, flash.c_str(), g_errorBoxes);
    return flash == "ok match" && g_errorBoxes == 0 ? 0 : 1;
}
