// A simulated programming unit behind the HID port: a set of present HID
// interfaces, some of them programming units that speak the command protocol
// and keep a controller's flash, with faults injected at chosen exchanges and a
// log of every report on the wire. Linked instead of a real HID backend; pauses
// and the last error go through PlatformSleep / PlatformSetLastError, so the same
// unit serves tests on virtual time and demonstration programs on a real clock.
//
// The unit keeps the state a real one keeps and refuses what a real one would:
// a block write is answered with an error reply unless the lock is set, the write
// protection cleared, the flash erased and a write address set, so a program that
// gets the order of steps wrong sees it fail here as it would on the hardware.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

enum class SimFault {
    None,
    WriteFails,  // the request write fails (the unit sees nothing)
    ReadFails,   // the request arrives and is acted on, the reply read fails at once
    NoAnswer,    // the request arrives but the unit never answers: the read waits out
                 // its time-out (through PlatformSleep) and fails
    ErrorReply,  // the unit answers with byte 1 = 0xFF and the fault's error code,
                 // without acting on the request
    Unplugged,   // the interface is gone from this exchange on (its write fails)
    GivenReply,  // the unit answers with the bytes given to SimInjectReply, without
                 // acting on the request
    LateReply,   // the unit acts on the request but answers only after the read has
                 // waited out its time-out and failed; the reply then waits in the
                 // queue, where the next read would find it
    DoubleReply, // the unit acts on the request and answers twice: two copies of
                 // the reply wait in the queue
    ShortReply,  // the unit acts on the request and answers with only the first
                 // SIM_SHORT_REPLY_BYTES bytes of its reply
};

// A short reply carries the report ID, the error mark, the length byte and the
// state byte; the error code and every data byte are left out.
constexpr uint32_t SIM_SHORT_REPLY_BYTES = 4;

// Error codes the unit itself sends in bytes 4..7 of an error reply.
constexpr uint32_t SIM_ERROR_UNKNOWN_COMMAND = 0x0001;
constexpr uint32_t SIM_ERROR_BAD_REQUEST = 0x0002;  // length byte or parameter wrong
constexpr uint32_t SIM_ERROR_BAD_GUARD = 0x0003;    // GUARD_WORD missing
constexpr uint32_t SIM_ERROR_NOT_READY = 0x0004;    // a step before this one is missing
constexpr uint32_t SIM_ERROR_OUT_OF_RANGE = 0x0005; // address or size outside memory
constexpr uint32_t SIM_ERROR_NO_CONTROLLER = 0x0006;
constexpr uint32_t SIM_ERROR_WRONG_MODE = 0x0007;

// Last-error values the simulated port reports (Windows' numbers).
constexpr uint32_t SIM_LAST_ERROR_INVALID_HANDLE = 6;
constexpr uint32_t SIM_LAST_ERROR_FILE_NOT_FOUND = 2;
constexpr uint32_t SIM_LAST_ERROR_GEN_FAILURE = 31;
constexpr uint32_t SIM_LAST_ERROR_SHARING_VIOLATION = 32;
constexpr uint32_t SIM_LAST_ERROR_INVALID_PARAMETER = 87;
constexpr uint32_t SIM_LAST_ERROR_NOT_CONNECTED = 1167;
constexpr uint32_t SIM_LAST_ERROR_TIMEOUT = 1460;

// Controller flash size; SimAddInterface gives an empty flash this many bytes of
// old program (not 0xFF), so that an erase is visible.
constexpr uint32_t SIM_FLASH_BYTES = 0x20000;

struct SimController {
    uint16_t status = 3; // 3: updatable controller attached
    uint16_t statusAux = 0;
    uint32_t typeId = 0x111F408C;
    uint32_t bootloaderVersion = 0x00000102;
    uint16_t firmwareVersion = 0x0304;   // 0xFFFF: holds no firmware version
    uint16_t programmedVersion = 0x0305; // reported once a programming session ends
    uint8_t firmwareInfo[32] = {};       // reply bytes 4..35; bytes 4..5 are replaced
                                         // by firmwareVersion
    uint8_t identityExtra[32] = {};      // reply bytes 12..43 of the identity
    std::vector<uint8_t> flash;          // the controller's program flash
};

struct SimInterface {
    std::u16string path; // empty: SimAddInterface makes a unique one
    uint16_t vendorId = 0x3A5D;
    uint16_t productId = 2;
    bool pathReadable = true; // false: enumeration skips it
    bool openable = true;     // false: held exclusively elsewhere
    bool attributesReadable = true;
    bool capsReadable = true;
    uint16_t inputReportLength = 60; // including the report-ID byte
    uint16_t outputReportLength = 60;
    bool speaksProtocol = true; // false: not a programming unit (never answers)

    uint8_t unitMode = 0;
    uint8_t altModeBytes[12] = {}; // reply bytes 4..15 when unitMode != 0
    uint32_t unitFirmwareVersion = 0x00000203;
    uint32_t unitFirmwareAux = 0;
    SimController controller;

    // Volatile unit state; back to these values whenever the unit is plugged in.
    uint8_t lockState = 0;         // CMD_SYSTEM_LOCK state byte
    uint8_t writeProtectState = 1; // CMD_WRITE_PROTECT state byte
    uint32_t writeAddress = 0;
    bool addressSet = false;
    bool erased = false;
    uint32_t blockWrites = 0; // blocks accepted since the last erase

    // Error reply (byte 1 = 0xFF, bytes 4..7 = code) for every exchange of a
    // command; the unit does not act on such a request.
    std::vector<std::pair<uint8_t, uint32_t>> errorReplies;
};

struct SimWireRecord {
    int interfaceIndex;
    bool isWrite;               // request (true) or reply (false)
    std::vector<uint8_t> bytes; // exactly what crossed the port
    bool failed = false;        // the call failed; bytes is empty for reads
    uint32_t timeoutMs = 0;     // reads: the time-out the caller gave
};

// --- Setting up the world ----------------------------------------------------
void SimReset(); // nothing present, log and faults cleared
// Returns its index; interfaces are enumerated in the order they were added.
// References from SimGetInterface stay valid until SimReset.
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
// Injects `fault` at the exchange with 0-based number `exchangeIndex`, counted over
// all exchanges (every request write begins one) after this call. errorCode is
// the code of an ErrorReply; faultLastError is what PlatformLastError reports
// after the failed call.
void SimInjectFault(uint32_t exchangeIndex, SimFault fault, uint32_t errorCode = 0x2A,
                    uint32_t faultLastError = SIM_LAST_ERROR_GEN_FAILURE);
// The unit answers exchange `exchangeIndex` with exactly these bytes (byte 0
// included, zero-filled or cut to the input report length).
void SimInjectReply(uint32_t exchangeIndex, const std::vector<uint8_t>& reply);
void SimClearFaults();
uint32_t SimExchangeCount(); // exchanges begun since SimReset

// --- Observation ---------------------------------------------------------------
const std::vector<SimWireRecord>& SimWireLog();
// The requests that reached a unit, in order (failed writes left out).
std::vector<std::vector<uint8_t>> SimSentRequests();
void SimClearWireLog();
int SimOpenHandleCount();    // handles currently open (leak checks)
int SimOpenCount(int index); // successful opens of one interface
uint32_t SimCloseCount();    // HidCloseInterface calls since SimReset
int SimInterfaceSetCount();  // interface sets not yet destroyed
