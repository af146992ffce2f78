// The kernel wakes a sleeping thread some tens of microseconds after the time it
// asked for (longer on virtual machines, where an idle processor has to be woken
// by the host). Over the update's two thousand pauses that alone adds a few tenths
// of a second. So the sleep ends a little before the deadline, by the lateness
// that wake-ups have shown so far, and the rest is waited out on the clock.
//
// The lead settles where about half the wake-ups come before the deadline (and
// wait out a few microseconds) and half after it. Measured with the pauses taken
// in turns, that ends a pause 5 to 14 us sooner than a lead that lets only a
// third wake early, for 2 to 4 us more processor time on the clock; a lead that
// lets two thirds wake early gains nothing more. A single wake-up delayed by
// other work barely moves the lead, and it is capped, so that however the system
// behaves a pause spends at most that long reading the clock.
#include "device/hid/wait_until_posix.h"

#include <sys/prctl.h>

#include <cerrno>
#include <ctime>

namespace {

constexpr int64_t NS_PER_S = 1000000000;
constexpr int64_t LEAD_STEP_UP_NS = 1000;
constexpr int64_t LEAD_STEP_DOWN_NS = 1000;
constexpr int64_t LEAD_LIMIT_NS = 200000;

thread_local bool t_slackReduced = false;
thread_local int64_t t_leadNs = 0;

// The kernel may also end a sleep up to the thread's timer slack (50 us by
// default) late, to batch wake-ups; 1 ns asks it not to.
void ReduceTimerSlack() {
    if (!t_slackReduced) {
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        t_slackReduced = true;
    }
}

void SleepUntilNs(int64_t target) {
    timespec until;
    until.tv_sec = static_cast<time_t>(target / NS_PER_S);
    until.tv_nsec = static_cast<long>(target % NS_PER_S);
    // Absolute: an interrupted sleep resumes towards the same moment.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

} // namespace

int64_t MonotonicNowNs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * NS_PER_S + now.tv_nsec;
}

void WaitUntilNs(int64_t deadline) {
    ReduceTimerSlack();
    const int64_t target = deadline - t_leadNs;
    if (MonotonicNowNs() < target) {
        SleepUntilNs(target);
        if (MonotonicNowNs() - target > t_leadNs) {
            t_leadNs = t_leadNs + LEAD_STEP_UP_NS < LEAD_LIMIT_NS ? t_leadNs + LEAD_STEP_UP_NS
                                                                  : LEAD_LIMIT_NS;
        } else {
            t_leadNs = t_leadNs > LEAD_STEP_DOWN_NS ? t_leadNs - LEAD_STEP_DOWN_NS : 0;
        }
    }
    while (MonotonicNowNs() < deadline) {
    }
}
