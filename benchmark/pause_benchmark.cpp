// Measures the update's pause under the running system: how long PlatformSleep(20)
// really lasts against the system's Sleep(20), and the processor time it costs
// while a window of the thread keeps asking to be repainted. Reports, asserts nothing.
#include <windows.h>

#include <cstdio>

#include "benchmark/clocks.h"
#include "device/hid/clock_port.h"

namespace {

template <typename Pause> double Measure(const char* name, int count, Pause pause) {
    double shortest = 1e9, longest = 0;
    const double cpuStart = ProcessCpuMs();
    const double start = WallClockMs();
    for (int i = 0; i < count; ++i) {
        const double before = WallClockMs();
        pause();
        const double took = WallClockMs() - before;
        shortest = took < shortest ? took : shortest;
        longest = took > longest ? took : longest;
    }
    const double total = WallClockMs() - start;
    std::printf("%-28s %4d x: mean %.3f ms, min %.3f, max %.3f, cpu %.1f ms\n", name, count,
                total / count, shortest, longest, ProcessCpuMs() - cpuStart);
    return total / count;
}

} // namespace

int main() {
    const HWND window =
        CreateWindowExW(0, L"STATIC", L"pause benchmark", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                        300, 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    // As in the update, a long pause comes before the 20 ms ones.
    Measure("PlatformSleep(1000)", 3, [] { PlatformSleep(1000); });
    const double plain = Measure("Sleep(20)", 200, [] { Sleep(20); });
    const double pause = Measure("PlatformSleep(20)", 200, [] { PlatformSleep(20); });
    Measure("PlatformSleep(20), repaints", 200, [window] {
        InvalidateRect(window, nullptr, TRUE);
        PlatformSleep(20);
    });
    // The block transfer pauses 2,037 times.
    std::printf("2,037 block pauses: %.1f s with Sleep, %.1f s with PlatformSleep\n",
                plain * 2037 / 1000, pause * 2037 / 1000);
    DestroyWindow(window);
    return 0;
}
