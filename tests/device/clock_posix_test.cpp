// The real-time clock of the Linux programs: a pause never ends early, and the
// last error belongs to its thread.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "device/hid/hid_port.h"

TEST(ClockPosix, PauseLastsAtLeastItsLength) {
    const auto start = std::chrono::steady_clock::now();
    PlatformSleep(30);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
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
