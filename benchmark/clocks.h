// The benchmarks' two clocks, each platform reading them its own way: a steady
// wall clock, and the processor time used by the whole process so far (user and
// kernel), both in milliseconds.
#pragma once

double WallClockMs();
double ProcessCpuMs();

// Both clocks at once. The processor clock is read outside the wall clock at
// either end, so that reading it is not timed.
struct ClockReading {
    double wallMs = 0;
    double cpuMs = 0;
};

inline ClockReading ReadClocks() {
    const double cpuMs = ProcessCpuMs();
    return {WallClockMs(), cpuMs};
}

inline ClockReading ElapsedSince(const ClockReading& start) {
    const double wallMs = WallClockMs() - start.wallMs;
    return {wallMs, ProcessCpuMs() - start.cpuMs};
}
