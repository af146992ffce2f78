#include "device/hid/sim_unit_model.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "device/command_reports.h"
#include "device/little_endian.h"

namespace {

// Replies are built in a buffer large enough for every reply and then cut to the
// interface's input report length, as the wire would.
constexpr uint32_t REPLY_BUILD_BYTES = 64;

struct Reply {
    uint8_t bytes[REPLY_BUILD_BYTES];
};

void StartReply(Reply* reply, uint8_t command, uint8_t dataBytes) {
    memset(reply->bytes, 0, sizeof reply->bytes);
    reply->bytes[0] = REPLY_REPORT_ID;
    reply->bytes[1] = command;
    reply->bytes[2] = dataBytes;
}

void ErrorReply(Reply* reply, uint32_t code) {
    memset(reply->bytes, 0, sizeof reply->bytes);
    reply->bytes[0] = REPLY_REPORT_ID;
    reply->bytes[1] = REPLY_ERROR_MARK;
    reply->bytes[2] = 4;
    PutLe32(reply->bytes + 4, code);
}

bool ControllerReachable(const SimUnitModel& unit, Reply* reply) {
    if (unit.unitMode != UNIT_MODE_SERVES_CONTROLLER) {
        ErrorReply(reply, SIM_ERROR_WRONG_MODE);
        return false;
    }
    if (unit.controller.status != CONTROLLER_STATUS_UPDATABLE) {
        ErrorReply(reply, SIM_ERROR_NO_CONTROLLER);
        return false;
    }
    return true;
}

bool WriteSessionOpen(const SimUnitModel& unit) {
    return unit.lockState == 1 && unit.writeProtectState == 0;
}

// Protection set again or lock released: the programming session is over. A
// controller that received blocks after its erase now reports the new version.
void EndWriteSession(SimUnitModel* unit) {
    if (unit->erased && unit->blockWrites > 0) {
        unit->controller.firmwareVersion = unit->controller.programmedVersion;
    }
    unit->erased = false;
    unit->addressSet = false;
}

void GetUnitInfo(const SimUnitModel& unit, const uint8_t* request, Reply* reply) {
    if (request[2] != 0x00) {
        return ErrorReply(reply, SIM_ERROR_BAD_REQUEST);
    }
    StartReply(reply, CMD_GET_UNIT_INFO, 12);
    reply->bytes[3] = unit.unitMode;
    if (unit.unitMode != UNIT_MODE_SERVES_CONTROLLER) {
        memcpy(reply->bytes + 4, unit.altModeBytes, sizeof unit.altModeBytes);
        return;
    }
    PutLe16(reply->bytes + 4, unit.controller.status);
    PutLe16(reply->bytes + 6, unit.controller.statusAux);
    PutLe32(reply->bytes + 8, unit.unitFirmwareVersion);
    PutLe32(reply->bytes + 12, unit.unitFirmwareAux);
}

// The unit's readable memory is its information page: firmware version, the
// following word, then zeros.
void ReadMemory(const SimUnitModel& unit, const uint8_t* request, Reply* reply) {
    constexpr uint32_t PAGE_BYTES = 16;
    const uint32_t count = request[2];
    const uint32_t address = GetLe32(request + 4);
    if (count == 0 || count > REPORT_BUFFER_BYTES - 8) {
        return ErrorReply(reply, SIM_ERROR_BAD_REQUEST);
    }
    if (address < UNIT_VERSION_ADDRESS || address - UNIT_VERSION_ADDRESS > PAGE_BYTES - count) {
        return ErrorReply(reply, SIM_ERROR_OUT_OF_RANGE);
    }
    uint8_t page[PAGE_BYTES] = {};
    PutLe32(page, unit.unitFirmwareVersion);
    PutLe32(page + 4, unit.unitFirmwareAux);
    StartReply(reply, CMD_READ_MEMORY, static_cast<uint8_t>(count + 4));
    PutLe32(reply->bytes + 4, address);
    memcpy(reply->bytes + 8, page + (address - UNIT_VERSION_ADDRESS), count);
}

// The firmware information is the last 32 bytes before the end of the program
// area: the request names its size and its offset from that end.
void ReadFirmwareInfo(const SimUnitModel& unit, const uint8_t* request, Reply* reply) {
    if (!ControllerReachable(unit, reply)) {
        return;
    }
    const uint32_t size = GetLe32(request + 4);
    const uint32_t offset = GetLe32(request + 8);
    if (request[2] != 0x08 || size == 0 || size > 32 || offset != 0u - size) {
        return ErrorReply(reply, SIM_ERROR_BAD_REQUEST);
    }
    uint8_t info[32];
    memcpy(info, unit.controller.firmwareInfo, sizeof info);
    PutLe16(info + 4, unit.controller.firmwareVersion);
    StartReply(reply, CMD_READ_FIRMWARE_INFO, static_cast<uint8_t>(size));
    memcpy(reply->bytes + 4, info + (32 - size), size);
}

void GetControllerInfo(const SimUnitModel& unit, Reply* reply) {
    if (!ControllerReachable(unit, reply)) {
        return;
    }
    StartReply(reply, CMD_GET_CONTROLLER_INFO, 40);
    PutLe32(reply->bytes + 4, unit.controller.typeId);
    PutLe32(reply->bytes + 8, unit.controller.bootloaderVersion);
    memcpy(reply->bytes + 12, unit.controller.identityExtra, sizeof unit.controller.identityExtra);
}

// The lock takes hold only with an updatable controller attached; the reply's
// state byte tells whether it did.
void SystemLock(SimUnitModel* unit, const uint8_t* request, Reply* reply) {
    if (request[2] != 0x01 || request[3] > 1) {
        return ErrorReply(reply, SIM_ERROR_BAD_REQUEST);
    }
    if (request[3] == 1) {
        if (unit->unitMode == UNIT_MODE_SERVES_CONTROLLER &&
            unit->controller.status == CONTROLLER_STATUS_UPDATABLE) {
            unit->lockState = 1;
        }
    } else {
        EndWriteSession(unit);
        unit->lockState = 0;
        unit->writeProtectState = 1;
    }
    StartReply(reply, CMD_SYSTEM_LOCK, 0);
    reply->bytes[3] = unit->lockState;
}

// Protection comes off only under the lock; otherwise the state byte stays 1.
void WriteProtect(SimUnitModel* unit, const uint8_t* request, Reply* reply) {
    if (request[2] != 0x01 || request[3] > 1) {
        return ErrorReply(reply, SIM_ERROR_BAD_REQUEST);
    }
    if (request[3] == 0) {
        if (unit->lockState == 1) {
            unit->writeProtectState = 0;
        }
    } else {
        EndWriteSession(unit);
        unit->writeProtectState = 1;
    }
    StartReply(reply, CMD_WRITE_PROTECT, 0);
    reply->bytes[3] = unit->writeProtectState;
}

void EraseFlash(SimUnitModel* unit, const uint8_t* request, Reply* reply) {
    if (request[2] != 0x04) {
        return ErrorReply(reply, SIM_ERROR_BAD_REQUEST);
    }
    if (GetLe32(request + 4) != GUARD_WORD) {
        return ErrorReply(reply, SIM_ERROR_BAD_GUARD);
    }
    if (!WriteSessionOpen(*unit)) {
        return ErrorReply(reply, SIM_ERROR_NOT_READY);
    }
    std::fill(unit->controller.flash.begin(), unit->controller.flash.end(), 0xFF);
    unit->controller.firmwareVersion = FIRMWARE_VERSION_NONE;
    unit->erased = true;
    unit->addressSet = false;
    unit->writeAddress = 0;
    unit->blockWrites = 0;
    StartReply(reply, CMD_ERASE_FIRMWARE, 0);
}

void SetWriteAddress(SimUnitModel* unit, const uint8_t* request, Reply* reply) {
    if (request[2] != 0x09 || request[3] != 0x01) {
        return ErrorReply(reply, SIM_ERROR_BAD_REQUEST);
    }
    if (GetLe32(request + 8) != GUARD_WORD) {
        return ErrorReply(reply, SIM_ERROR_BAD_GUARD);
    }
    if (!WriteSessionOpen(*unit) || !unit->erased) {
        return ErrorReply(reply, SIM_ERROR_NOT_READY);
    }
    const uint32_t address = GetLe32(request + 4);
    if (address % 4 != 0 || address >= unit->controller.flash.size()) {
        return ErrorReply(reply, SIM_ERROR_OUT_OF_RANGE);
    }
    unit->writeAddress = address;
    unit->addressSet = true;
    StartReply(reply, CMD_SET_WRITE_ADDRESS, 0);
}

// Flash programming can only clear bits, so a block written twice or over an
// unerased area shows in the flash contents.
void WriteFlashBlock(SimUnitModel* unit, const uint8_t* request, Reply* reply) {
    const uint32_t count = request[2];
    if (count % 4 != 0 || count > 4 * WRITE_BLOCK_MAX_WORDS) {
        return ErrorReply(reply, SIM_ERROR_BAD_REQUEST);
    }
    if (!WriteSessionOpen(*unit) || !unit->erased || !unit->addressSet) {
        return ErrorReply(reply, SIM_ERROR_NOT_READY);
    }
    std::vector<uint8_t>& flash = unit->controller.flash;
    if (count > flash.size() - unit->writeAddress) {
        return ErrorReply(reply, SIM_ERROR_OUT_OF_RANGE);
    }
    for (uint32_t i = 0; i < count; ++i) {
        flash[unit->writeAddress + i] &= request[4 + i];
    }
    unit->writeAddress += count;
    ++unit->blockWrites;
    StartReply(reply, CMD_WRITE_BLOCK, 0);
}

// `request` holds at least REPORT_BUFFER_BYTES bytes, zero beyond what arrived.
void Serve(SimUnitModel* unit, const uint8_t* request, Reply* reply) {
    const uint8_t command = request[1];
    for (const auto& entry : unit->errorReplies) {
        if (entry.first == command) {
            return ErrorReply(reply, entry.second);
        }
    }
    switch (command) {
    case CMD_GET_UNIT_INFO:
        return GetUnitInfo(*unit, request, reply);
    case CMD_READ_MEMORY:
        return ReadMemory(*unit, request, reply);
    case CMD_READ_FIRMWARE_INFO:
        return ReadFirmwareInfo(*unit, request, reply);
    case CMD_GET_CONTROLLER_INFO:
        return GetControllerInfo(*unit, reply);
    case CMD_SYSTEM_LOCK:
        return SystemLock(unit, request, reply);
    case CMD_WRITE_PROTECT:
        return WriteProtect(unit, request, reply);
    case CMD_ERASE_FIRMWARE:
        return EraseFlash(unit, request, reply);
    case CMD_SET_WRITE_ADDRESS:
        return SetWriteAddress(unit, request, reply);
    case CMD_WRITE_BLOCK:
        return WriteFlashBlock(unit, request, reply);
    default:
        return ErrorReply(reply, SIM_ERROR_UNKNOWN_COMMAND);
    }
}

// Counts the request against every armed fault for its command; the first one
// whose turn it is fires and is disarmed.
bool TakeFault(SimUnitModel* unit, uint8_t command, SimArmedFault* taken) {
    bool fired = false;
    for (auto it = unit->faults.begin(); it != unit->faults.end();) {
        if (it->command != command) {
            ++it;
            continue;
        }
        if (it->remaining > 1) {
            --it->remaining;
            ++it;
            continue;
        }
        if (fired) {
            ++it; // its turn came with another's: it waits for the next request
            continue;
        }
        *taken = std::move(*it);
        it = unit->faults.erase(it);
        fired = true;
    }
    return fired;
}

struct CommandNameEntry {
    const char* name;
    uint8_t command;
};

const CommandNameEntry COMMAND_NAMES[] = {
    {"CMD_GET_UNIT_INFO", CMD_GET_UNIT_INFO},
    {"CMD_READ_MEMORY", CMD_READ_MEMORY},
    {"CMD_SYSTEM_LOCK", CMD_SYSTEM_LOCK},
    {"CMD_WRITE_BLOCK", CMD_WRITE_BLOCK},
    {"CMD_READ_FIRMWARE_INFO", CMD_READ_FIRMWARE_INFO},
    {"CMD_ERASE_FIRMWARE", CMD_ERASE_FIRMWARE},
    {"CMD_SET_WRITE_ADDRESS", CMD_SET_WRITE_ADDRESS},
    {"CMD_WRITE_PROTECT", CMD_WRITE_PROTECT},
    {"CMD_GET_CONTROLLER_INFO", CMD_GET_CONTROLLER_INFO},
};

struct FaultNameEntry {
    const char* name;
    SimFault fault;
};

const FaultNameEntry FAULT_NAMES[] = {
    {"no-answer", SimFault::NoAnswer},       {"error-reply", SimFault::ErrorReply},
    {"unplug", SimFault::Unplugged},         {"late-reply", SimFault::LateReply},
    {"double-reply", SimFault::DoubleReply}, {"short-reply", SimFault::ShortReply},
    {"write-fails", SimFault::WriteFails},   {"read-fails", SimFault::ReadFails},
};

} // namespace

SimUnitModel SimReadyUnitModel() {
    SimUnitModel unit;
    SimModelMakeReady(unit);
    SimModelFillEmptyFlash(unit);
    return unit;
}

void SimModelMakeReady(SimUnitModel& unit) {
    unit.unitMode = UNIT_MODE_SERVES_CONTROLLER;
    unit.controller.status = CONTROLLER_STATUS_UPDATABLE;
    unit.controller.typeId = SUPPORTED_CONTROLLER_TYPES[0];
    unit.controller.firmwareVersion = 0x0304;
}

void SimModelFillEmptyFlash(SimUnitModel& unit) {
    std::vector<uint8_t>& flash = unit.controller.flash;
    if (!flash.empty()) {
        return;
    }
    flash.resize(SIM_FLASH_BYTES);
    for (uint32_t i = 0; i < SIM_FLASH_BYTES; ++i) {
        flash[i] = static_cast<uint8_t>((i * 7 + 3) & 0x7F);
    }
}

void SimModelPowerUp(SimUnitModel& unit) {
    unit.lockState = 0;
    unit.writeProtectState = 1;
    unit.writeAddress = 0;
    unit.addressSet = false;
    unit.erased = false;
    unit.blockWrites = 0;
}

void SimModelArmFault(SimUnitModel& unit, uint8_t command, uint32_t occurrence, SimFault fault,
                      uint32_t errorCode, uint32_t lastError) {
    SimArmedFault armed;
    armed.command = command;
    armed.remaining = std::max<uint32_t>(occurrence, 1);
    armed.fault = fault;
    armed.errorCode = errorCode;
    armed.lastError = lastError;
    unit.faults.push_back(std::move(armed));
}

void SimModelArmReply(SimUnitModel& unit, uint8_t command, uint32_t occurrence,
                      const std::vector<uint8_t>& reply) {
    SimModelArmFault(unit, command, occurrence, SimFault::GivenReply, 0, 0);
    unit.faults.back().reply = reply;
}

void SimModelClearFaults(SimUnitModel& unit) {
    unit.faults.clear();
}

bool SimCommandFromName(const char* name, uint8_t* command) {
    if (name == nullptr || *name == '\0') {
        return false;
    }
    for (const CommandNameEntry& entry : COMMAND_NAMES) {
        if (strcmp(entry.name, name) == 0) {
            *command = entry.command;
            return true;
        }
    }
    char* end = nullptr;
    const unsigned long value = strtoul(name, &end, 0);
    if (*end != '\0' || value > 0xFF || name[0] == '-' || name[0] == '+') {
        return false;
    }
    *command = static_cast<uint8_t>(value);
    return true;
}

const char* SimCommandName(uint8_t command) {
    for (const CommandNameEntry& entry : COMMAND_NAMES) {
        if (entry.command == command) {
            return entry.name;
        }
    }
    return nullptr;
}

bool SimFaultFromName(const char* name, SimFault* fault) {
    if (name == nullptr) {
        return false;
    }
    for (const FaultNameEntry& entry : FAULT_NAMES) {
        if (strcmp(entry.name, name) == 0) {
            *fault = entry.fault;
            return true;
        }
    }
    return false;
}

SimModelOutcome SimModelHandleRequest(SimUnitModel& unit, const uint8_t* request, size_t length,
                                      size_t inputReportLength) {
    uint8_t padded[REPORT_BUFFER_BYTES] = {};
    if (request != nullptr) {
        memcpy(padded, request, std::min<size_t>(length, REPORT_BUFFER_BYTES));
    }
    SimModelOutcome outcome;
    SimArmedFault armed;
    if (TakeFault(&unit, padded[1], &armed)) {
        outcome.fault = armed.fault;
        outcome.lastError = armed.lastError;
    }
    const SimFault kind = outcome.fault;
    if (kind == SimFault::WriteFails || kind == SimFault::Unplugged || kind == SimFault::NoAnswer) {
        return outcome;
    }
    Reply reply;
    if (kind == SimFault::ErrorReply) {
        ErrorReply(&reply, armed.errorCode);
    } else if (kind != SimFault::GivenReply) {
        Serve(&unit, padded, &reply);
    }
    if (kind == SimFault::ReadFails) {
        return outcome;
    }
    std::vector<uint8_t> answer(inputReportLength, 0);
    if (kind == SimFault::GivenReply) {
        std::copy_n(armed.reply.begin(), std::min(answer.size(), armed.reply.size()),
                    answer.begin());
    } else {
        std::copy_n(reply.bytes, std::min(answer.size(), sizeof reply.bytes), answer.begin());
    }
    if (kind == SimFault::ShortReply) {
        answer.resize(std::min<size_t>(answer.size(), SIM_SHORT_REPLY_BYTES));
    }
    outcome.replies.push_back(answer);
    if (kind == SimFault::DoubleReply) {
        outcome.replies.push_back(answer);
    }
    outcome.repliesLate = kind == SimFault::LateReply;
    return outcome;
}
