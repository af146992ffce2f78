// What the simulated HID port keeps in the world: open handles with the input
// reports waiting on them, the wire log and the counts. Only hid_sim.cpp and
// sim_world.cpp use this.
#pragma once
#include <cstdint>
#include <deque>
#include <vector>

#include "device/hid/hid_port.h"
#include "device/hid/sim_world.h"

struct SimOpenHandle {
    int interfaceIndex = 0;
    uint32_t plugGeneration = 0; // the plug-in the handle was opened under
    // Input reports waiting to be read, oldest first.
    std::deque<std::vector<uint8_t>> queued;
    // Replies that arrive only once the read waiting for them has timed out.
    std::vector<std::vector<uint8_t>> lateReplies;
    uint32_t readFailure = 0;      // last error for a read that fails at once
    uint32_t readTimeoutError = 0; // last error for a read that times out
};

// A handle on a plugged interface, counted as one of its opens.
HidHandle SimAddHandle(int index);
SimOpenHandle* SimFindHandle(HidHandle handle);
void SimRemoveHandle(HidHandle handle); // counted as a close, known or not
// Opened under the interface's present plug-in.
bool SimHandleIsLive(const SimOpenHandle& handle);

void SimLogWire(int index, bool isWrite, const uint8_t* bytes, uint32_t length, bool failed,
                uint32_t timeoutMs = 0);
void SimCountExchange();
bool SimInterfaceListRefused();
void SimCountInterfaceSet(int change);
