// A simulated programming unit behind the HID port: a set of present HID
// interfaces, some of them programming units that speak the command protocol
// and keep a controller's flash, with faults injected at chosen exchanges and a
// log of every report on the wire. Linked instead of a real HID backend.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

enum class SimFault {
    None,
    WriteFails,   // the request write fails (the unit sees nothing)
    ReadFails,    // the request arrives, the reply read fails at once
    NoAnswer,     // the request arrives, the read waits out its time-out
    ErrorReply,   // the unit answers with byte 1 = 0xFF and faultErrorCode
    Unplugged,    // the interface is gone from this exchange on
};

struct SimController {
    uint16_t status = 3;                  // 3: updatable controller attached
    uint16_t statusAux = 0;
    uint32_t typeId = 0x111F408C;
    uint32_t bootloaderVersion = 0x00000102;
    uint16_t firmwareVersion = 0x0304;    // 0xFFFF: holds no firmware version
    std::vector<uint8_t> flash;           // the controller's program flash
};

struct SimInterface {
    std::u16string path;                  // e.g. u"\\\\?\\hid#vid_3a5d&pid_0002#sim0"
    uint16_t vendorId = 0x3A5D;
    uint16_t productId = 2;
    bool pathReadable = true;             // false: enumeration skips it
    bool openable = true;                 // false: held exclusively elsewhere
    bool attributesReadable = true;
    bool capsReadable = true;
    uint16_t inputReportLength = 60;      // including the report-ID byte
    uint16_t outputReportLength = 60;
    bool speaksProtocol = true;           // false: not a programming unit (never answers)

    uint8_t unitMode = 0;
    uint8_t altModeBytes[12] = {};        // reply bytes 4..15 when unitMode != 0
    uint32_t unitFirmwareVersion = 0x00000203;
    uint32_t unitFirmwareAux = 0;
    SimController controller;

    uint8_t lockState = 0;                // CMD_SYSTEM_LOCK state byte
    uint8_t writeProtectState = 1;        // CMD_WRITE_PROTECT state byte
    uint32_t writeAddress = 0;
    bool addressSet = false;
    bool erased = false;

    // Error reply (byte 1 = 0xFF, bytes 4..7 = code) for every exchange of a command.
    std::vector<std::pair<uint8_t, uint32_t>> errorReplies;
};

struct SimWireRecord {
    int interfaceIndex;
    bool isWrite;                         // request (true) or reply (false)
    std::vector<uint8_t> bytes;           // exactly what crossed the port
};

// --- Setting up the world ----------------------------------------------------
void SimReset();                          // nothing present, log and faults cleared
int SimAddInterface(const SimInterface& interface); // returns its index
SimInterface& SimGetInterface(int index);
int SimInterfaceCount();
// Plugging: an unplugged interface is absent from enumeration and fails every
// read and write on open handles.
void SimUnplug(int index);
void SimReplug(int index);
bool SimIsPlugged(int index);
// A ready LINK-CUBE unit in mode 0 with a VESPRA 80 LV controller at firmware 3.4.
SimInterface SimReadyUnit();

// --- Faults --------------------------------------------------------------------
// Injects `fault` at the exchange with 0-based number `exchangeIndex`, counted over
// all exchanges (write + read pairs) after this call. faultLastError is what
// PlatformLastError reports after the failed call.
void SimInjectFault(uint32_t exchangeIndex, SimFault fault, uint32_t errorCode = 0x2A,
                    uint32_t faultLastError = 31);
void SimClearFaults();
uint32_t SimExchangeCount();              // exchanges begun since SimReset

// --- Observation ---------------------------------------------------------------
const std::vector<SimWireRecord>& SimWireLog();
void SimClearWireLog();
int SimOpenHandleCount();                 // handles currently open (leak checks)
