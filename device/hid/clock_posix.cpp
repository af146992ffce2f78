// Real time for Linux programs without a GUI event loop: the pause sleeps out its
// whole length, however often signals interrupt it.
#include <sys/prctl.h>

#include <cerrno>
#include <ctime>

#include "device/hid/hid_port.h"

namespace {
thread_local uint32_t t_lastError = 0;
thread_local bool t_slackReduced = false;

// The kernel may end a sleep up to the thread's timer slack (50 us by default)
// late so that it can batch wake-ups; over the update's two thousand pauses that
// adds up to a tenth of a second. A pause is never ended early, only on time.
void ReduceTimerSlack() {
    if (!t_slackReduced) {
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        t_slackReduced = true;
    }
}
} // namespace

void PlatformSleep(uint32_t milliseconds) {
    ReduceTimerSlack();
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += milliseconds / 1000;
    deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    // An absolute deadline: an interrupted sleep resumes without drifting.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

uint32_t PlatformLastError() {
    return t_lastError;
}

void PlatformSetLastError(uint32_t value) {
    t_lastError = value;
}
