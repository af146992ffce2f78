// The clock port: pauses and the thread's last system error, used by the device
// link (the erase reply's wait) and the update (its pauses and failure codes).
// Each platform implements it in its own file: clock_posix.cpp (Linux programs
// without an event loop), app/linux/clock_qt.cpp (the Qt program),
// app/windows/clock_windows.cpp (the Win32 programs, which keep their windows
// painted while they pause), tests/support/virtual_clock.cpp (virtual time).
#pragma once
#include <cstdint>

// Every pause of the program goes through here. It ends at its deadline or
// after it, never before.
void PlatformSleep(uint32_t milliseconds);
// The thread's last system error value (GetLastError on Windows, errno on Linux).
uint32_t PlatformLastError();
void PlatformSetLastError(uint32_t value);
