// The programming unit's protocol, alone: what a unit in a given mode with a
// given controller answers to each request, the lock, protection, erase and
// write-address state it keeps, the controller's flash it programs, and the
// faults a test arms against it. No HID handles, no clock, no globals: the
// simulated HID port of the core tests and the emulated hidraw unit of the
// end-to-end runs both wrap one of these.
//
// The unit keeps the state a real one keeps and refuses what a real one would:
// a block write is answered with an error reply unless the lock is set, the write
// protection cleared, the flash erased and a write address set, so a program that
// gets the order of steps wrong sees it fail here as it would on the hardware.
#pragma once
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "device/unit_connection.h"
#include "res/firmware_image.h"

enum class SimFault {
    None,
    WriteFails,  // the request write fails (the unit sees nothing)
    ReadFails,   // the request arrives and is acted on, the reply read fails at once
    NoAnswer,    // the request arrives but the unit never answers: the read waits out
                 // its time-out and fails
    ErrorReply,  // the unit answers with byte 1 = 0xFF and the fault's error code,
                 // without acting on the request
    Unplugged,   // the unit is gone from this request on (its write fails)
    GivenReply,  // the unit answers with the bytes given to SimModelArmReply, without
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
constexpr uint32_t SIM_LAST_ERROR_ACCESS_DENIED = 5;
constexpr uint32_t SIM_LAST_ERROR_BUSY = 170;
constexpr uint32_t SIM_LAST_ERROR_GEN_FAILURE = 31;
constexpr uint32_t SIM_LAST_ERROR_SHARING_VIOLATION = 32;
constexpr uint32_t SIM_LAST_ERROR_INVALID_PARAMETER = 87;
constexpr uint32_t SIM_LAST_ERROR_NOT_CONNECTED = 1167;
constexpr uint32_t SIM_LAST_ERROR_TIMEOUT = 1460;

// Controller flash size; an empty flash is given this many bytes of old program
// (not 0xFF), so that an erase is visible.
constexpr uint32_t SIM_FLASH_BYTES = 0x20000;

struct SimController {
    uint16_t status = CONTROLLER_STATUS_UPDATABLE;
    uint16_t statusAux = 0;
    uint32_t typeId = SUPPORTED_CONTROLLER_TYPES[0];
    uint32_t bootloaderVersion = 0x00000102;
    uint16_t firmwareVersion = 0x0304; // FIRMWARE_VERSION_NONE: holds no firmware version
    // Reported once a programming session ends.
    uint16_t programmedVersion = FIRMWARE_IMAGE_VERSION;
    uint8_t firmwareInfo[32] = {};  // reply bytes 4..35; bytes 4..5 are replaced
                                    // by firmwareVersion
    uint8_t identityExtra[32] = {}; // reply bytes 12..43 of the identity
    std::vector<uint8_t> flash;     // the controller's program flash
};

// A fault waiting for its request: the `remaining`-th request carrying `command`
// from now on.
struct SimArmedFault {
    uint8_t command = 0;
    uint32_t remaining = 1;
    SimFault fault = SimFault::None;
    uint32_t errorCode = 0;
    uint32_t lastError = 0;
    std::vector<uint8_t> reply; // GivenReply
};

struct SimUnitModel {
    uint8_t unitMode = UNIT_MODE_SERVES_CONTROLLER;
    uint8_t altModeBytes[12] = {}; // reply bytes 4..15 in any other mode
    uint32_t unitFirmwareVersion = 0x00000203;
    uint32_t unitFirmwareAux = 0;
    SimController controller;

    // Volatile unit state; back to these values at every power-up.
    uint8_t lockState = 0;         // CMD_SYSTEM_LOCK state byte
    uint8_t writeProtectState = 1; // CMD_WRITE_PROTECT state byte
    uint32_t writeAddress = 0;
    bool addressSet = false;
    bool erased = false;
    uint32_t blockWrites = 0; // blocks accepted since the last erase

    // Error reply (byte 1 = 0xFF, bytes 4..7 = code) for every exchange of a
    // command; the unit does not act on such a request.
    std::vector<std::pair<uint8_t, uint32_t>> errorReplies;

    // Armed faults in the order they were armed; each fires once.
    std::vector<SimArmedFault> faults;
};

// A ready unit in mode 0 with a VESPRA 80 LV controller at firmware 3.4, its
// flash holding an old program.
SimUnitModel SimReadyUnitModel();
// The ready unit's mode and controller on `unit`; its flash stays as it is.
void SimModelMakeReady(SimUnitModel& unit);
// Gives an empty flash SIM_FLASH_BYTES of old program; a filled one is kept.
void SimModelFillEmptyFlash(SimUnitModel& unit);
// Volatile state back to power-on values; flash, settings and armed faults kept.
void SimModelPowerUp(SimUnitModel& unit);

// Arms `fault` for the `occurrence`-th request (1-based; 0 counts as 1) carrying
// `command` in byte 1, counted from this call. errorCode is the code of an
// ErrorReply; lastError is what the port reports after the failed call. A fault
// whose request is taken by an earlier-armed one fires at the next such request.
void SimModelArmFault(SimUnitModel& unit, uint8_t command, uint32_t occurrence, SimFault fault,
                      uint32_t errorCode = 0x2A, uint32_t lastError = SIM_LAST_ERROR_GEN_FAILURE);
// The unit answers that request with exactly these bytes (byte 0 included,
// zero-filled or cut to the input report length), without acting on it.
void SimModelArmReply(SimUnitModel& unit, uint8_t command, uint32_t occurrence,
                      const std::vector<uint8_t>& reply);
void SimModelClearFaults(SimUnitModel& unit);

// "CMD_WRITE_BLOCK" -> 0x1B; a number (hex with 0x, or decimal) up to 255 is
// taken as it is. False for anything else.
bool SimCommandFromName(const char* name, uint8_t* command);
// The command's name, or null for a code the unit does not know.
const char* SimCommandName(uint8_t command);
// "no-answer", "error-reply", "unplug", "late-reply", "double-reply",
// "short-reply", "write-fails", "read-fails".
bool SimFaultFromName(const char* name, SimFault* fault);

struct SimModelOutcome {
    SimFault fault = SimFault::None; // the armed fault that fired on this request, if any
    uint32_t lastError = 0;          // for WriteFails / ReadFails / NoAnswer / LateReply /
                                     // Unplugged
    // Input reports to queue now (0, 1 or 2), each cut or zero-filled to
    // inputReportLength (ShortReply: shorter). Empty for WriteFails, Unplugged,
    // NoAnswer and ReadFails (the reply is lost with the failing read).
    std::vector<std::vector<uint8_t>> replies;
    bool repliesLate = false; // LateReply: queue them only after the reader's time-out
};

// One request (an output report, byte 0 its ID) reaching the unit: counts it
// against the armed faults, acts on it and says what comes back.
SimModelOutcome SimModelHandleRequest(SimUnitModel& unit, const uint8_t* request, size_t length,
                                      size_t inputReportLength);
