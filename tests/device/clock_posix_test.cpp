// The real-time clock of the Linux programs: a pause never ends early, however
// its sleep is cut short, and the last error belongs to its thread.
#include <gtest/gtest.h>

#include <sys/time.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "device/hid/clock_port.h"

namespace {

typedef std::chrono::steady_clock Clock;

void IgnoreSignal(int) {}

} // namespace

// Many pauses in a row, as the block transfer takes them: the sleep ends before
// the deadline by what earlier wake-ups taught, and the pause must still not.
TEST(ClockPosix, NoPauseEndsEarly) {
    for (int round = 0; round < 50; ++round) {
        for (uint32_t milliseconds : {0u, 1u, 2u, 20u}) {
            const Clock::time_point start = Clock::now();
            PlatformSleep(milliseconds);
            ASSERT_GE(Clock::now() - start, std::chrono::milliseconds(milliseconds))
                << milliseconds << " ms, round " << round;
        }
    }
}

TEST(ClockPosix, SignalsDoNotShortenAPause) {
    struct sigaction action = {};
    action.sa_handler = IgnoreSignal;
    sigaction(SIGALRM, &action, nullptr);
    itimerval every = {{0, 700}, {0, 700}};
    setitimer(ITIMER_REAL, &every, nullptr);
    const Clock::time_point start = Clock::now();
    PlatformSleep(30);
    const Clock::duration took = Clock::now() - start;
    itimerval off = {};
    setitimer(ITIMER_REAL, &off, nullptr);
    signal(SIGALRM, SIG_DFL);
    EXPECT_GE(took, std::chrono::milliseconds(30));
}

TEST(ClockPosix, LastErrorIsPerThread) {
    PlatformSetLastError(5);
    uint32_t seenByOther = 99;
    std::thread other([&] {
        seenByOther = PlatformLastError();
        PlatformSetLastError(7);
    });
    other.join();
    EXPECT_EQ(seenByOther, 0u);
    EXPECT_EQ(PlatformLastError(), 5u);
}
