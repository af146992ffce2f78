#include "device/hid/sim_unit.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>

#include "device/command_reports.h"
#include "device/hid/hid_port.h"
#include "device/little_endian.h"

struct HidInterfaceSet {
    std::vector<std::u16string> paths;
    std::vector<bool> pathReadable;
};

namespace {

struct OpenHandle {
    int interfaceIndex = 0;
    uint32_t plugGeneration = 0; // the plug-in the handle was opened under
    // Input reports waiting to be read, oldest first.
    std::deque<std::vector<uint8_t>> queued;
    // A reply that arrives only once the read waiting for it has timed out.
    std::vector<uint8_t> lateReply;
    bool lateReplyDue = false;
    uint32_t readFailure = 0;      // last error for a read that fails at once
    uint32_t readTimeoutError = 0; // last error for a read that times out
};

struct PendingFault {
    uint32_t exchange;
    SimFault fault;
    uint32_t errorCode;
    uint32_t lastError;
    std::vector<uint8_t> reply; // GivenReply
};

struct Slot {
    SimInterface unit;
    bool plugged = true;
    uint32_t plugGeneration = 0;
    int openCount = 0;
};

// The simulated world. A deque keeps SimGetInterface's references stable.
std::deque<Slot> g_slots;
std::map<HidHandle, OpenHandle> g_handles;
HidHandle g_nextHandle = 0x100;
std::vector<PendingFault> g_faults;
uint32_t g_exchangeCount = 0;
std::vector<SimWireRecord> g_wireLog;
uint32_t g_closeCount = 0;
int g_liveSets = 0;
bool g_listFails = false;

int Fail(uint32_t lastError) {
    PlatformSetLastError(lastError);
    return -1;
}

void PowerUp(SimInterface* unit) {
    unit->lockState = 0;
    unit->writeProtectState = 1;
    unit->writeAddress = 0;
    unit->addressSet = false;
    unit->erased = false;
    unit->blockWrites = 0;
}

OpenHandle* FindHandle(HidHandle handle) {
    auto it = g_handles.find(handle);
    return it == g_handles.end() ? nullptr : &it->second;
}

bool HandleIsLive(const OpenHandle& handle) {
    const Slot& slot = g_slots[handle.interfaceIndex];
    return slot.plugged && slot.plugGeneration == handle.plugGeneration;
}

void Log(int interfaceIndex, bool isWrite, const uint8_t* bytes, uint32_t length, bool failed,
         uint32_t timeoutMs = 0) {
    SimWireRecord record{interfaceIndex, isWrite, {}, failed, timeoutMs};
    if (bytes != nullptr) {
        record.bytes.assign(bytes, bytes + length);
    }
    g_wireLog.push_back(std::move(record));
}

SimFault TakeFault(uint32_t exchange, PendingFault* taken) {
    for (auto it = g_faults.begin(); it != g_faults.end(); ++it) {
        if (it->exchange == exchange) {
            *taken = *it;
            g_faults.erase(it);
            return taken->fault;
        }
    }
    return SimFault::None;
}

// --- The unit's protocol ---------------------------------------------------------

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

bool ControllerReachable(const SimInterface& unit, Reply* reply) {
    if (unit.unitMode != 0) {
        ErrorReply(reply, SIM_ERROR_WRONG_MODE);
        return false;
    }
    if (unit.controller.status != 3) {
        ErrorReply(reply, SIM_ERROR_NO_CONTROLLER);
        return false;
    }
    return true;
}

bool WriteSessionOpen(const SimInterface& unit) {
    return unit.lockState == 1 && unit.writeProtectState == 0;
}

// Protection set again or lock released: the programming session is over. A
// controller that received blocks after its erase now reports the new version.
void EndWriteSession(SimInterface* unit) {
    if (unit->erased && unit->blockWrites > 0)
        unit->controller.firmwareVersion = unit->controller.programmedVersion;
    unit->erased = false;
    unit->addressSet = false;
}

void GetUnitInfo(const SimInterface& unit, const uint8_t* request, Reply* reply) {
    if (request[2] != 0x00)
        return ErrorReply(reply, SIM_ERROR_BAD_REQUEST);
    StartReply(reply, CMD_GET_UNIT_INFO, 12);
    reply->bytes[3] = unit.unitMode;
    if (unit.unitMode != 0) {
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
void ReadMemory(const SimInterface& unit, const uint8_t* request, Reply* reply) {
    constexpr uint32_t PAGE_BYTES = 16;
    const uint32_t count = request[2];
    const uint32_t address = GetLe32(request + 4);
    if (count == 0 || count > REPORT_BUFFER_BYTES - 8)
        return ErrorReply(reply, SIM_ERROR_BAD_REQUEST);
    if (address < UNIT_VERSION_ADDRESS || address - UNIT_VERSION_ADDRESS > PAGE_BYTES - count)
        return ErrorReply(reply, SIM_ERROR_OUT_OF_RANGE);
    uint8_t page[PAGE_BYTES] = {};
    PutLe32(page, unit.unitFirmwareVersion);
    PutLe32(page + 4, unit.unitFirmwareAux);
    StartReply(reply, CMD_READ_MEMORY, static_cast<uint8_t>(count + 4));
    PutLe32(reply->bytes + 4, address);
    memcpy(reply->bytes + 8, page + (address - UNIT_VERSION_ADDRESS), count);
}

// The firmware information is the last 32 bytes before the end of the program
// area: the request names its size and its offset from that end.
void ReadFirmwareInfo(const SimInterface& unit, const uint8_t* request, Reply* reply) {
    if (!ControllerReachable(unit, reply))
        return;
    const uint32_t size = GetLe32(request + 4);
    const uint32_t offset = GetLe32(request + 8);
    if (request[2] != 0x08 || size == 0 || size > 32 || offset != 0u - size)
        return ErrorReply(reply, SIM_ERROR_BAD_REQUEST);
    uint8_t info[32];
    memcpy(info, unit.controller.firmwareInfo, sizeof info);
    PutLe16(info + 4, unit.controller.firmwareVersion);
    StartReply(reply, CMD_READ_FIRMWARE_INFO, static_cast<uint8_t>(size));
    memcpy(reply->bytes + 4, info + (32 - size), size);
}

void GetControllerInfo(const SimInterface& unit, Reply* reply) {
    if (!ControllerReachable(unit, reply))
        return;
    StartReply(reply, CMD_GET_CONTROLLER_INFO, 40);
    PutLe32(reply->bytes + 4, unit.controller.typeId);
    PutLe32(reply->bytes + 8, unit.controller.bootloaderVersion);
    memcpy(reply->bytes + 12, unit.controller.identityExtra, sizeof unit.controller.identityExtra);
}

// The lock takes hold only with an updatable controller attached; the reply's
// state byte tells whether it did.
void SystemLock(SimInterface* unit, const uint8_t* request, Reply* reply) {
    if (request[2] != 0x01 || request[3] > 1)
        return ErrorReply(reply, SIM_ERROR_BAD_REQUEST);
    if (request[3] == 1) {
        if (unit->unitMode == 0 && unit->controller.status == 3)
            unit->lockState = 1;
    } else {
        EndWriteSession(unit);
        unit->lockState = 0;
        unit->writeProtectState = 1;
    }
    StartReply(reply, CMD_SYSTEM_LOCK, 0);
    reply->bytes[3] = unit->lockState;
}

// Protection comes off only under the lock; otherwise the state byte stays 1.
void WriteProtect(SimInterface* unit, const uint8_t* request, Reply* reply) {
    if (request[2] != 0x01 || request[3] > 1)
        return ErrorReply(reply, SIM_ERROR_BAD_REQUEST);
    if (request[3] == 0) {
        if (unit->lockState == 1)
            unit->writeProtectState = 0;
    } else {
        EndWriteSession(unit);
        unit->writeProtectState = 1;
    }
    StartReply(reply, CMD_WRITE_PROTECT, 0);
    reply->bytes[3] = unit->writeProtectState;
}

void EraseFlash(SimInterface* unit, const uint8_t* request, Reply* reply) {
    if (request[2] != 0x04)
        return ErrorReply(reply, SIM_ERROR_BAD_REQUEST);
    if (GetLe32(request + 4) != GUARD_WORD)
        return ErrorReply(reply, SIM_ERROR_BAD_GUARD);
    if (!WriteSessionOpen(*unit))
        return ErrorReply(reply, SIM_ERROR_NOT_READY);
    std::fill(unit->controller.flash.begin(), unit->controller.flash.end(), 0xFF);
    unit->controller.firmwareVersion = 0xFFFF;
    unit->erased = true;
    unit->addressSet = false;
    unit->writeAddress = 0;
    unit->blockWrites = 0;
    StartReply(reply, CMD_ERASE_FIRMWARE, 0);
}

void SetWriteAddress(SimInterface* unit, const uint8_t* request, Reply* reply) {
    if (request[2] != 0x09 || request[3] != 0x01)
        return ErrorReply(reply, SIM_ERROR_BAD_REQUEST);
    if (GetLe32(request + 8) != GUARD_WORD)
        return ErrorReply(reply, SIM_ERROR_BAD_GUARD);
    if (!WriteSessionOpen(*unit) || !unit->erased)
        return ErrorReply(reply, SIM_ERROR_NOT_READY);
    const uint32_t address = GetLe32(request + 4);
    if (address % 4 != 0 || address >= unit->controller.flash.size())
        return ErrorReply(reply, SIM_ERROR_OUT_OF_RANGE);
    unit->writeAddress = address;
    unit->addressSet = true;
    StartReply(reply, CMD_SET_WRITE_ADDRESS, 0);
}

// Flash programming can only clear bits, so a block written twice or over an
// unerased area shows in the flash contents.
void WriteFlashBlock(SimInterface* unit, const uint8_t* request, Reply* reply) {
    const uint32_t count = request[2];
    if (count % 4 != 0 || count > 4 * WRITE_BLOCK_MAX_WORDS)
        return ErrorReply(reply, SIM_ERROR_BAD_REQUEST);
    if (!WriteSessionOpen(*unit) || !unit->erased || !unit->addressSet)
        return ErrorReply(reply, SIM_ERROR_NOT_READY);
    std::vector<uint8_t>& flash = unit->controller.flash;
    if (count > flash.size() - unit->writeAddress)
        return ErrorReply(reply, SIM_ERROR_OUT_OF_RANGE);
    for (uint32_t i = 0; i < count; ++i)
        flash[unit->writeAddress + i] &= request[4 + i];
    unit->writeAddress += count;
    ++unit->blockWrites;
    StartReply(reply, CMD_WRITE_BLOCK, 0);
}

// `request` holds at least REPORT_BUFFER_BYTES bytes, zero beyond what arrived.
void Serve(SimInterface* unit, const uint8_t* request, Reply* reply) {
    const uint8_t command = request[1];
    for (const auto& entry : unit->errorReplies) {
        if (entry.first == command)
            return ErrorReply(reply, entry.second);
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

std::u16string DefaultPath(const SimInterface& unit, int index) {
    char text[64];
    snprintf(text, sizeof text, "\\\\?\\hid#vid_%04x&pid_%04x#sim%d#{hid}", unit.vendorId,
             unit.productId, index);
    return std::u16string(text, text + strlen(text));
}

} // namespace

// --- Setting up the world ------------------------------------------------------

void SimReset() {
    g_slots.clear();
    g_handles.clear();
    g_faults.clear();
    g_exchangeCount = 0;
    g_wireLog.clear();
    g_closeCount = 0;
    g_liveSets = 0;
    g_listFails = false;
}

int SimAddInterface(const SimInterface& interface) {
    const int index = static_cast<int>(g_slots.size());
    Slot slot;
    slot.unit = interface;
    if (slot.unit.path.empty())
        slot.unit.path = DefaultPath(interface, index);
    std::vector<uint8_t>& flash = slot.unit.controller.flash;
    if (flash.empty()) {
        flash.resize(SIM_FLASH_BYTES);
        for (uint32_t i = 0; i < SIM_FLASH_BYTES; ++i)
            flash[i] = static_cast<uint8_t>((i * 7 + 3) & 0x7F);
    }
    g_slots.push_back(std::move(slot));
    return index;
}

SimInterface& SimGetInterface(int index) {
    return g_slots[index].unit;
}

int SimInterfaceCount() {
    return static_cast<int>(g_slots.size());
}

void SimUnplug(int index) {
    g_slots[index].plugged = false;
    ++g_slots[index].plugGeneration;
}

void SimReplug(int index) {
    if (g_slots[index].plugged)
        return;
    g_slots[index].plugged = true;
    ++g_slots[index].plugGeneration;
    PowerUp(&g_slots[index].unit);
}

bool SimIsPlugged(int index) {
    return g_slots[index].plugged;
}

SimInterface SimReadyUnit() {
    SimInterface unit;
    unit.vendorId = 0x3A5D;
    unit.productId = 2;
    unit.unitMode = 0;
    unit.controller.status = 3;
    unit.controller.typeId = 0x111F408C;
    unit.controller.firmwareVersion = 0x0304;
    return unit;
}

void SimSetInterfaceListFails(bool fails) {
    g_listFails = fails;
}

// --- Faults --------------------------------------------------------------------

void SimInjectFault(uint32_t exchangeIndex, SimFault fault, uint32_t errorCode,
                    uint32_t faultLastError) {
    g_faults.push_back({g_exchangeCount + exchangeIndex, fault, errorCode, faultLastError, {}});
}

void SimInjectReply(uint32_t exchangeIndex, const std::vector<uint8_t>& reply) {
    g_faults.push_back({g_exchangeCount + exchangeIndex, SimFault::GivenReply, 0, 0, reply});
}

void SimClearFaults() {
    g_faults.clear();
}

uint32_t SimExchangeCount() {
    return g_exchangeCount;
}

// --- Observation ---------------------------------------------------------------

const std::vector<SimWireRecord>& SimWireLog() {
    return g_wireLog;
}

std::vector<std::vector<uint8_t>> SimSentRequests() {
    std::vector<std::vector<uint8_t>> requests;
    for (const SimWireRecord& record : g_wireLog) {
        if (record.isWrite && !record.failed)
            requests.push_back(record.bytes);
    }
    return requests;
}

void SimClearWireLog() {
    g_wireLog.clear();
}

int SimOpenHandleCount() {
    return static_cast<int>(g_handles.size());
}

int SimOpenCount(int index) {
    return g_slots[index].openCount;
}

uint32_t SimCloseCount() {
    return g_closeCount;
}

int SimInterfaceSetCount() {
    return g_liveSets;
}

// --- The HID port --------------------------------------------------------------

HidInterfaceSet* HidGetInterfaceSet() {
    if (g_listFails) {
        PlatformSetLastError(SIM_LAST_ERROR_GEN_FAILURE);
        return nullptr;
    }
    HidInterfaceSet* set = new HidInterfaceSet;
    for (const Slot& slot : g_slots) {
        if (!slot.plugged)
            continue;
        set->paths.push_back(slot.unit.path);
        set->pathReadable.push_back(slot.unit.pathReadable);
    }
    ++g_liveSets;
    return set;
}

HidInterfaceEntry HidGetInterfacePath(HidInterfaceSet* set, uint32_t index, const char16_t** path) {
    *path = nullptr;
    if (set == nullptr || index >= set->paths.size())
        return HID_ENTRY_END;
    if (!set->pathReadable[index])
        return HID_ENTRY_SKIP;
    *path = set->paths[index].c_str();
    return HID_ENTRY_OK;
}

void HidDestroyInterfaceSet(HidInterfaceSet* set) {
    if (set == nullptr)
        return;
    delete set;
    --g_liveSets;
}

HidHandle HidOpenInterface(const char16_t* path) {
    for (size_t i = 0; i < g_slots.size(); ++i) {
        Slot& slot = g_slots[i];
        if (!slot.plugged || slot.unit.path != path)
            continue;
        if (!slot.unit.openable) {
            PlatformSetLastError(SIM_LAST_ERROR_SHARING_VIOLATION);
            return HID_INVALID_HANDLE;
        }
        const HidHandle handle = g_nextHandle++;
        OpenHandle open;
        open.interfaceIndex = static_cast<int>(i);
        open.plugGeneration = slot.plugGeneration;
        g_handles[handle] = open;
        ++slot.openCount;
        return handle;
    }
    PlatformSetLastError(SIM_LAST_ERROR_FILE_NOT_FOUND);
    return HID_INVALID_HANDLE;
}

// The unit behind a live handle; null with the last error set otherwise.
static const SimInterface* UnitBehind(HidHandle handle) {
    OpenHandle* open = FindHandle(handle);
    if (open == nullptr || !HandleIsLive(*open)) {
        PlatformSetLastError(open == nullptr ? SIM_LAST_ERROR_INVALID_HANDLE
                                             : SIM_LAST_ERROR_NOT_CONNECTED);
        return nullptr;
    }
    return &g_slots[open->interfaceIndex].unit;
}

int HidGetAttributes(HidHandle handle, uint16_t* vendorId, uint16_t* productId) {
    const SimInterface* unit = UnitBehind(handle);
    if (unit == nullptr)
        return -1;
    if (!unit->attributesReadable)
        return Fail(SIM_LAST_ERROR_GEN_FAILURE);
    *vendorId = unit->vendorId;
    *productId = unit->productId;
    return 0;
}

int HidGetReportLengths(HidHandle handle, uint16_t* inputReportLength,
                        uint16_t* outputReportLength) {
    const SimInterface* unit = UnitBehind(handle);
    if (unit == nullptr)
        return -1;
    if (!unit->capsReadable)
        return Fail(SIM_LAST_ERROR_GEN_FAILURE);
    *inputReportLength = unit->inputReportLength;
    *outputReportLength = unit->outputReportLength;
    return 0;
}

int HidWriteReport(HidHandle handle, const uint8_t* report, uint32_t length) {
    OpenHandle* open = FindHandle(handle);
    if (open == nullptr)
        return Fail(SIM_LAST_ERROR_INVALID_HANDLE);
    const int index = open->interfaceIndex;
    const uint32_t exchange = g_exchangeCount++;
    open->queued.clear();
    open->lateReplyDue = false;
    open->readFailure = 0;
    open->readTimeoutError = 0;

    PendingFault fault = {};
    const SimFault kind = TakeFault(exchange, &fault);
    if (kind == SimFault::Unplugged)
        SimUnplug(index);
    if (!HandleIsLive(*open)) {
        Log(index, true, nullptr, 0, true);
        return Fail(SIM_LAST_ERROR_NOT_CONNECTED);
    }
    if (kind == SimFault::WriteFails) {
        Log(index, true, nullptr, 0, true);
        return Fail(fault.lastError);
    }
    SimInterface& unit = g_slots[index].unit;
    // A HID write carries exactly one whole output report.
    if (report == nullptr || length != unit.outputReportLength || report[0] != COMMAND_REPORT_ID) {
        Log(index, true, nullptr, 0, true);
        return Fail(SIM_LAST_ERROR_INVALID_PARAMETER);
    }
    Log(index, true, report, length, false);

    if (kind == SimFault::NoAnswer || !unit.speaksProtocol) {
        open->readTimeoutError =
            kind == SimFault::NoAnswer ? fault.lastError : SIM_LAST_ERROR_TIMEOUT;
        return 0;
    }
    uint8_t request[REPORT_BUFFER_BYTES] = {};
    memcpy(request, report, std::min<uint32_t>(length, REPORT_BUFFER_BYTES));
    Reply reply;
    if (kind == SimFault::ErrorReply)
        ErrorReply(&reply, fault.errorCode);
    else if (kind != SimFault::GivenReply)
        Serve(&unit, request, &reply);
    if (kind == SimFault::ReadFails)
        open->readFailure = fault.lastError;
    std::vector<uint8_t> answer(unit.inputReportLength, 0);
    if (kind == SimFault::GivenReply) {
        std::copy_n(fault.reply.begin(), std::min(answer.size(), fault.reply.size()),
                    answer.begin());
    } else {
        std::copy_n(reply.bytes, std::min(answer.size(), sizeof reply.bytes), answer.begin());
    }
    if (kind == SimFault::ShortReply) {
        answer.resize(std::min<size_t>(answer.size(), SIM_SHORT_REPLY_BYTES));
    }
    if (kind == SimFault::LateReply) {
        open->readTimeoutError = fault.lastError;
        open->lateReply = answer;
        open->lateReplyDue = true;
        return 0;
    }
    open->queued.push_back(answer);
    if (kind == SimFault::DoubleReply) {
        open->queued.push_back(answer);
    }
    return 0;
}

int HidReadReport(HidHandle handle, uint8_t* report, uint32_t length, uint32_t timeoutMs) {
    OpenHandle* open = FindHandle(handle);
    if (open == nullptr)
        return Fail(SIM_LAST_ERROR_INVALID_HANDLE);
    const int index = open->interfaceIndex;
    const SimInterface& unit = g_slots[index].unit;
    if (!HandleIsLive(*open)) {
        Log(index, false, nullptr, 0, true);
        return Fail(SIM_LAST_ERROR_NOT_CONNECTED);
    }
    if (report == nullptr || length != unit.inputReportLength) {
        Log(index, false, nullptr, 0, true);
        return Fail(SIM_LAST_ERROR_INVALID_PARAMETER);
    }
    if (open->readFailure != 0) {
        const uint32_t error = open->readFailure;
        open->readFailure = 0;
        open->queued.clear();
        Log(index, false, nullptr, 0, true, timeoutMs);
        return Fail(error);
    }
    if (open->queued.empty()) {
        // Nothing to answer: the read waits out its time-out. A late reply comes
        // just after and waits for the next read.
        const uint32_t error =
            open->readTimeoutError != 0 ? open->readTimeoutError : SIM_LAST_ERROR_TIMEOUT;
        PlatformSleep(timeoutMs);
        Log(index, false, nullptr, 0, true, timeoutMs);
        if (open->lateReplyDue) {
            open->lateReplyDue = false;
            open->queued.push_back(open->lateReply);
        }
        return Fail(error);
    }
    // A shorter report fills only its own bytes; the rest keeps what the caller
    // left there.
    const std::vector<uint8_t> answer = open->queued.front();
    open->queued.pop_front();
    memcpy(report, answer.data(), answer.size());
    Log(index, false, answer.data(), uint32_t(answer.size()), false, timeoutMs);
    return 0;
}

void HidCloseInterface(HidHandle handle) {
    ++g_closeCount;
    g_handles.erase(handle);
}
