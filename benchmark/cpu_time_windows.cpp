#include "benchmark/cpu_time.h"

#include <windows.h>

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
