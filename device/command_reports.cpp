#include "device/command_reports.h"

#include "device/hid/clock_port.h"

#include <cstring>

#include "device/little_endian.h"
#include "device/unit_connection.h"

namespace {

// One request as it goes out: the bytes it sets, every other byte zero.
struct Request {
    uint8_t bytes[REPORT_BUFFER_BYTES];
    uint32_t usedBytes; // how many leading bytes carry the command
};

void BeginRequest(Request* request, uint8_t command, uint8_t lengthByte, uint32_t usedBytes) {
    memset(request->bytes, 0, sizeof request->bytes);
    request->bytes[0] = COMMAND_REPORT_ID;
    request->bytes[1] = command;
    request->bytes[2] = lengthByte;
    request->usedBytes = usedBytes;
}

// The reply bytes each kind of judging looks at, so that an interface whose input
// report cannot carry them is refused rather than judged on bytes never received.
constexpr uint32_t REPLY_STATE_BYTES = 4; // up to the state byte 3
constexpr uint32_t REPLY_CODE_BYTES = 8;  // up to the error code in 4..7
constexpr uint32_t REPLY_IGNORED_BYTES = 1;

// Writes the request, waits pauseMs after a successful write, reads the reply
// into a buffer cleared to the report ID, so that no byte of an earlier reply can
// pass for part of this one.
ExchangeResult Exchange(const Request& request, uint32_t replyBytesUsed,
                        uint8_t reply[REPORT_BUFFER_BYTES], uint32_t pauseMs = 0,
                        uint32_t replyTimeoutMs = HID_READ_TIMEOUT_MS) {
    if (!UnitIsOpen()) {
        return EXCHANGE_NOT_OPEN;
    }
    const uint32_t outLength = g_unit.outputReportLength;
    const uint32_t inLength = g_unit.inputReportLength;
    // Reports larger than the buffers would be written from or read into memory
    // beyond them; a request cut to a short output report would go out incomplete
    // (a block without its last words) and still be answered as a success.
    if (outLength > REPORT_BUFFER_BYTES || inLength > REPORT_BUFFER_BYTES) {
        return EXCHANGE_NOT_OPEN;
    }
    if (request.usedBytes > outLength || replyBytesUsed > inLength) {
        return EXCHANGE_NOT_OPEN;
    }

    if (HidWriteReport(g_unit.deviceHandle, request.bytes, outLength) != 0) {
        return EXCHANGE_WRITE_FAILED;
    }
    if (pauseMs != 0) {
        PlatformSleep(pauseMs);
    }
    memset(reply, 0, REPORT_BUFFER_BYTES);
    reply[0] = REPLY_REPORT_ID;
    if (HidReadReport(g_unit.deviceHandle, reply, inLength, replyTimeoutMs) != 0) {
        return EXCHANGE_READ_FAILED;
    }
    return EXCHANGE_OK;
}

// CMD_SYSTEM_LOCK and CMD_WRITE_PROTECT: one parameter byte, the state asked for.
Request StateRequest(uint8_t command, uint8_t state) {
    Request request;
    BeginRequest(&request, command, 0x01, 4);
    request.bytes[3] = state;
    return request;
}

bool IsErrorReply(const uint8_t* reply) {
    return reply[1] == REPLY_ERROR_MARK;
}

ExchangeResult JudgeStandard(const uint8_t* reply) {
    if (IsErrorReply(reply)) {
        return static_cast<ExchangeResult>(GetLe32(reply + 4));
    }
    return EXCHANGE_OK;
}

// Short-code rule: only the 16-bit word in bytes 4..5 counts; an error reply with
// code 0 is a success that carries no data.
ExchangeResult JudgeShortCode(const uint8_t* reply, bool* dataTaken) {
    *dataTaken = false;
    if (IsErrorReply(reply)) {
        return GetLe16(reply + 4);
    }
    *dataTaken = true;
    return EXCHANGE_OK;
}

ExchangeResult ExchangeStandard(const Request& request, uint32_t pauseMs = 0,
                                uint32_t replyTimeoutMs = HID_READ_TIMEOUT_MS) {
    uint8_t reply[REPORT_BUFFER_BYTES];
    ExchangeResult result = Exchange(request, REPLY_CODE_BYTES, reply, pauseMs, replyTimeoutMs);
    if (result != EXCHANGE_OK) {
        return result;
    }
    return JudgeStandard(reply);
}

void ExchangeIgnored(const Request& request) {
    uint8_t reply[REPORT_BUFFER_BYTES];
    (void)Exchange(request, REPLY_IGNORED_BYTES, reply);
}

// Reply bytes used by the identification commands.
constexpr uint32_t UNIT_INFO_REPLY_BYTES = 16;
constexpr uint32_t READ_MEMORY_REPLY_BYTES = 16;
constexpr uint32_t FIRMWARE_INFO_REPLY_BYTES = 36;
constexpr uint32_t CONTROLLER_INFO_REPLY_BYTES = MIN_INPUT_REPORT_BYTES;

constexpr uint8_t READ_MEMORY_BYTE_COUNT = 12;
constexpr uint32_t FIRMWARE_INFO_SIZE = 0x00000020;
constexpr uint32_t FIRMWARE_INFO_OFFSET = 0xFFFFFFE0;
constexpr uint8_t SET_WRITE_ADDRESS_FLAG = 0x01;
constexpr uint32_t WRITE_START_ADDRESS = 0x00000000;

} // namespace

ExchangeResult ExchangeGetUnitInfo(uint8_t reply[REPORT_BUFFER_BYTES]) {
    Request request;
    BeginRequest(&request, CMD_GET_UNIT_INFO, 0x00, 3);
    return Exchange(request, UNIT_INFO_REPLY_BYTES, reply);
}

ExchangeResult ExchangeReadMemory(uint32_t address, uint8_t reply[REPORT_BUFFER_BYTES]) {
    Request request;
    BeginRequest(&request, CMD_READ_MEMORY, READ_MEMORY_BYTE_COUNT, 8);
    PutLe32(request.bytes + 4, address);
    return Exchange(request, READ_MEMORY_REPLY_BYTES, reply);
}

ExchangeResult ExchangeReadFirmwareInfo(uint8_t reply[REPORT_BUFFER_BYTES], bool* dataTaken) {
    *dataTaken = false;
    Request request;
    BeginRequest(&request, CMD_READ_FIRMWARE_INFO, 0x08, 12);
    PutLe32(request.bytes + 4, FIRMWARE_INFO_SIZE);
    PutLe32(request.bytes + 8, FIRMWARE_INFO_OFFSET);
    ExchangeResult result = Exchange(request, FIRMWARE_INFO_REPLY_BYTES, reply);
    if (result != EXCHANGE_OK) {
        return result;
    }
    return JudgeShortCode(reply, dataTaken);
}

ExchangeResult ExchangeGetControllerInfo(uint8_t reply[REPORT_BUFFER_BYTES], bool* dataTaken) {
    *dataTaken = false;
    Request request;
    // The command has no parameters; its length byte and everything after go out
    // as 0x00, as for the other parameterless command.
    BeginRequest(&request, CMD_GET_CONTROLLER_INFO, 0x00, 2);
    ExchangeResult result = Exchange(request, CONTROLLER_INFO_REPLY_BYTES, reply);
    if (result != EXCHANGE_OK) {
        return result;
    }
    return JudgeShortCode(reply, dataTaken);
}

ExchangeResult SystemLockSet(bool* confirmed) {
    *confirmed = false;
    const Request request = StateRequest(CMD_SYSTEM_LOCK, 0x01);
    uint8_t reply[REPORT_BUFFER_BYTES];
    ExchangeResult result = Exchange(request, REPLY_STATE_BYTES, reply);
    if (result != EXCHANGE_OK) {
        return result;
    }
    *confirmed = reply[3] == 1;
    return EXCHANGE_OK;
}

void SystemLockReset() {
    const Request request = StateRequest(CMD_SYSTEM_LOCK, 0x00);
    ExchangeIgnored(request);
}

ExchangeResult WriteProtectClear(bool* confirmed) {
    *confirmed = false;
    const Request request = StateRequest(CMD_WRITE_PROTECT, 0x00);
    uint8_t reply[REPORT_BUFFER_BYTES];
    ExchangeResult result = Exchange(request, REPLY_CODE_BYTES, reply);
    if (result != EXCHANGE_OK) {
        return result;
    }
    if (IsErrorReply(reply)) {
        result = JudgeStandard(reply);
        *confirmed = result == EXCHANGE_OK;
        return result;
    }
    *confirmed = reply[3] == 0;
    return EXCHANGE_OK;
}

void WriteProtectSet() {
    const Request request = StateRequest(CMD_WRITE_PROTECT, 0x01);
    ExchangeIgnored(request);
}

ExchangeResult EraseFirmware() {
    Request request;
    BeginRequest(&request, CMD_ERASE_FIRMWARE, 0x04, 8);
    PutLe32(request.bytes + 4, GUARD_WORD);
    return ExchangeStandard(request, ERASE_REPLY_DELAY_MS, ERASE_REPLY_TIMEOUT_MS);
}

ExchangeResult SetWriteAddress() {
    Request request;
    BeginRequest(&request, CMD_SET_WRITE_ADDRESS, 0x09, 12);
    request.bytes[3] = SET_WRITE_ADDRESS_FLAG;
    PutLe32(request.bytes + 4, WRITE_START_ADDRESS);
    PutLe32(request.bytes + 8, GUARD_WORD);
    return ExchangeStandard(request);
}

ExchangeResult WriteBlock(const void* data, int32_t wordCount) {
    if (!UnitIsOpen()) {
        return EXCHANGE_NOT_OPEN;
    }
    // The count is checked as a count: a product taken modulo 2^32 would let
    // counts such as 0x40000001 through as one word.
    if (wordCount < 0 || static_cast<uint32_t>(wordCount) > WRITE_BLOCK_MAX_WORDS) {
        return EXCHANGE_NOT_OPEN;
    }
    if (data == nullptr && wordCount > 0) {
        return EXCHANGE_NOT_OPEN;
    }
    const uint32_t dataBytes = 4 * static_cast<uint32_t>(wordCount);
    Request request;
    BeginRequest(&request, CMD_WRITE_BLOCK, static_cast<uint8_t>(dataBytes), 4 + dataBytes);
    if (dataBytes != 0) {
        memcpy(request.bytes + 4, data, dataBytes);
    }
    return ExchangeStandard(request);
}
