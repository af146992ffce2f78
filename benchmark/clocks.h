// The benchmarks' two clocks, each platform reading them its own way: a steady
// wall clock, and the processor time used by the whole process so far (user and
// kernel), both in milliseconds.
#pragma once

double WallClockMs();
double ProcessCpuMs();
