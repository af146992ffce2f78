// The HID port: the platform layer below the device link for HID access. Each
// platform implements it in its own file (hid_windows.cpp, hid_linux.cpp,
// hid_sim.cpp); the program picks one at link time.
#pragma once
#include <cstdint>

// Opaque handle of an open HID interface; HID_INVALID_HANDLE (-1) means none.
typedef intptr_t HidHandle;
constexpr HidHandle HID_INVALID_HANDLE = -1;

// Time-out of a report write, and of every read but the erase reply's (the device
// link chooses each read's limit, see command_reports.h). A unit answers an
// ordinary command within milliseconds; 5 s leaves ample room for a busy USB bus
// and still frees the program from a unit that never answers.
constexpr uint32_t HID_READ_TIMEOUT_MS = 5000;

// Before each request the backends drop input reports still queued from earlier
// exchanges, at most this many: a device that reports without pause must not hold
// the program there.
constexpr int HID_MAX_DROPPED_REPORTS = 256;

// The set of present HID interfaces, in a stable order.
struct HidInterfaceSet;

// Obtains the set of present HID interfaces; null when it cannot be obtained.
HidInterfaceSet* HidGetInterfaceSet();

enum HidInterfaceEntry : int {
    HID_ENTRY_END = -1, // no interface at this index (the normal end of the walk)
    HID_ENTRY_OK = 0,   // *path holds the interface's device path
    HID_ENTRY_SKIP = 1, // the interface exists but its path cannot be read
};

// Path of the interface at index (0, 1, 2, ...). The path stays valid until the
// next call on the set or until the set is destroyed.
HidInterfaceEntry HidGetInterfacePath(HidInterfaceSet* set, uint32_t index, const char16_t** path);
void HidDestroyInterfaceSet(HidInterfaceSet* set);

// Opens an interface for reading and writing, shared with other processes.
HidHandle HidOpenInterface(const char16_t* path);
// For an interface whose HidOpenInterface has just failed: 0 when the system
// denied this user access to it for want of a permission that can be granted
// (on Linux, the hidraw node's owner and mode), with its vendor and product read
// without opening it; -1 after any other failure, or when they cannot be read.
int HidGetDeniedAttributes(const char16_t* path, uint16_t* vendorId, uint16_t* productId);

// Every open handle of an interface receives every input report, so a second
// copy of the program talking to the same unit would take our replies as its own
// and we its, even in the middle of an update. Whoever holds an interface's claim
// has it to itself; the claim ends with HidCloseInterface. The device link claims
// an interface only once it knows it is a programming unit, so that no other
// device is ever held, not even for a moment.
constexpr int HID_CLAIM_HELD = 1;
// 0 when claimed, or when the system offers no way to claim it; HID_CLAIM_HELD
// when this or another copy of the program holds its claim.
int HidClaimInterface(HidHandle handle);
// 0 when the attributes could be read.
int HidGetAttributes(HidHandle handle, uint16_t* vendorId, uint16_t* productId);
// Whole report sizes including the report-ID byte, as the HID capabilities give
// them. 0 on success, -1 when the capabilities cannot be read.
int HidGetReportLengths(HidHandle handle, uint16_t* inputReportLength,
                        uint16_t* outputReportLength);
// Report transfers count by the success of the call alone: the number of bytes
// the system reports as transferred is not compared with the length asked for,
// since HID stacks differ in whether they count the report-ID byte. Bytes of a
// read that the system did not fill keep what the caller put there. A transfer
// that succeeds leaves the thread's last error (clock_port.h) 0, so that a
// failure judged afterwards from the reply's bytes shows 0 as its system code and
// not the error of an earlier call, such as another interface that refused to
// open; a failed one leaves the system's error.
//
// Writes one output report of `length` bytes. 0 on success. Input reports still
// pending from an earlier, abandoned exchange are dropped first, so that the
// read that follows cannot take a stale reply for the reply to this request.
int HidWriteReport(HidHandle handle, const uint8_t* report, uint32_t length);
// Reads one input report of at most `length` bytes, waiting at most timeoutMs.
// 0 on success, nonzero on failure or time-out.
int HidReadReport(HidHandle handle, uint8_t* report, uint32_t length, uint32_t timeoutMs);
void HidCloseInterface(HidHandle handle);
