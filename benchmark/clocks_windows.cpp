#include "benchmark/clocks.h"

#include <windows.h>

double WallClockMs() {
    static LARGE_INTEGER frequency = {};
    if (frequency.QuadPart == 0) {
        QueryPerformanceFrequency(&frequency);
    }
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return double(counter.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

double ProcessCpuMs() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        return 0;
    }
    const auto ticks = [](const FILETIME& t) {
        return double((unsigned long long)t.dwHighDateTime << 32 | t.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) / 10000.0; // 100 ns units
}
