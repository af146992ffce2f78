// Virtual time for the core tests: PlatformSleep records the pause and moves a
// virtual "now" on instead of waiting; the last system error is a plain value.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

// Back to time 0 with no pauses recorded and last error 0. The observer stays.
void VirtualClockReset();
uint64_t VirtualNowMs();
// Every pause since the reset, in order, in milliseconds.
const std::vector<uint32_t>& VirtualPauses();
// Called inside every pause, after "now" has moved on; lets a test log pauses in
// order with other events, or act while the program waits (unplug a unit during
// the erase, say). An empty function removes it.
void VirtualClockSetObserver(std::function<void(uint32_t milliseconds)> observer);
