// The simulated world around programming units: the HID interfaces present, in
// an order, each with its HID-level fields and, for a programming unit, the
// unit's protocol model; plugging; a refused interface list; a log of every
// report on the wire; and counts of open handles and interface sets. The HID
// port over it (hid_sim.cpp) is linked instead of a real HID backend; pauses and
// the last error go through PlatformSleep / PlatformSetLastError, so the same
// world serves tests on virtual time and demonstration programs on a real clock.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "device/hid/sim_unit_model.h"

// One interface: what enumeration and the HID capabilities show of it, and the
// unit behind it. Faults are armed on the unit (SimModelArmFault on
// SimGetInterface(index)) and count that unit's requests.
struct SimInterface : SimUnitModel {
    std::u16string path; // empty: SimAddInterface makes a unique one
    uint16_t vendorId = 0x3A5D;
    uint16_t productId = 2;
    bool pathReadable = true;      // false: enumeration skips it
    bool openable = true;          // false: held exclusively elsewhere
    bool accessDenied = false;     // true: the open is refused for want of permission
    bool claimedElsewhere = false; // true: another copy of the updater holds its claim
    bool attributesReadable = true;
    bool capsReadable = true;
    uint16_t inputReportLength = 60; // including the report-ID byte
    uint16_t outputReportLength = 60;
    bool speaksProtocol = true; // false: not a programming unit (never answers)
};

struct SimWireRecord {
    int interfaceIndex;
    bool isWrite;               // request (true) or reply (false)
    std::vector<uint8_t> bytes; // exactly what crossed the port
    bool failed = false;        // the call failed; bytes is empty for reads
    uint32_t timeoutMs = 0;     // reads: the time-out the caller gave
};

// --- Setting up the world ----------------------------------------------------
void SimReset(); // nothing present, log, handles and counts cleared
// Returns its index; interfaces are enumerated in the order they were added. An
// empty flash is given an old program. References from SimGetInterface stay
// valid until SimReset.
int SimAddInterface(const SimInterface& interface);
SimInterface& SimGetInterface(int index);
int SimInterfaceCount();
// Plugging: an unplugged interface is absent from enumeration and fails every
// read and write on handles opened before; plugging it in again powers the unit
// up anew (volatile state reset, flash kept) and old handles stay dead.
void SimUnplug(int index);
void SimReplug(int index);
bool SimIsPlugged(int index);
// A ready LINK-CUBE unit in mode 0 with a VESPRA 80 LV controller at firmware 3.4.
SimInterface SimReadyUnit();
// Makes obtaining the interface list fail (as if the system refused it).
void SimSetInterfaceListFails(bool fails);

// --- Faults --------------------------------------------------------------------
// Replies wait in a queue per handle, as input reports do on a real HID device;
// every request write drops what is still queued first, as the real backends do,
// so that a late or repeated reply is never read as the next exchange's.
//
// Arms a fault on the unit at `index`: see SimModelArmFault.
void SimArmFault(int index, uint8_t command, uint32_t occurrence, SimFault fault,
                 uint32_t errorCode = 0x2A, uint32_t lastError = SIM_LAST_ERROR_GEN_FAILURE);
void SimArmReply(int index, uint8_t command, uint32_t occurrence,
                 const std::vector<uint8_t>& reply);
void SimClearFaults();       // on every interface
uint32_t SimExchangeCount(); // request writes begun since SimReset

// --- Observation ---------------------------------------------------------------
const std::vector<SimWireRecord>& SimWireLog();
// The requests that reached a unit, in order (failed writes left out).
std::vector<std::vector<uint8_t>> SimSentRequests();
void SimClearWireLog();
int SimOpenHandleCount();    // handles currently open (leak checks)
int SimOpenCount(int index); // successful opens of one interface
uint32_t SimCloseCount();    // HidCloseInterface calls since SimReset
int SimInterfaceSetCount();  // interface sets not yet destroyed
