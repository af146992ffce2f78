// Waiting for a moment on the monotonic clock, shared by the Linux pauses with
// and without an event loop.
#pragma once
#include <cstdint>

// CLOCK_MONOTONIC, in nanoseconds.
int64_t MonotonicNowNs();

// Returns at `deadline` (CLOCK_MONOTONIC, nanoseconds) or after it, never before,
// and as soon after it as the system allows.
void WaitUntilNs(int64_t deadline);
