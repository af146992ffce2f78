// Arbitrary replies to every command, link failures, and report lengths from 0 to
// 65,535, through the command exchange. Nothing may be read or written beyond a
// buffer (the sanitizers watch that); a request goes out whole or not at all; and
// every reply is judged by its command's rule, whatever its bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "device/command_reports.h"
#include "device/little_endian.h"
#include "device/unit_connection.h"
#include "tests/faults/fuzz/fuzz_support.h"

namespace {

enum Operation {
    OP_GET_UNIT_INFO,
    OP_READ_MEMORY,
    OP_READ_FIRMWARE_INFO,
    OP_GET_CONTROLLER_INFO,
    OP_LOCK_SET,
    OP_LOCK_RESET,
    OP_PROTECT_CLEAR,
    OP_PROTECT_SET,
    OP_ERASE,
    OP_SET_ADDRESS,
    OP_WRITE_BLOCK,
    OP_LAST = OP_WRITE_BLOCK
};

// The command each operation sends, in the order of Operation.
const uint8_t OP_COMMANDS[] = {CMD_GET_UNIT_INFO,       CMD_READ_MEMORY,   CMD_READ_FIRMWARE_INFO,
                               CMD_GET_CONTROLLER_INFO, CMD_SYSTEM_LOCK,   CMD_SYSTEM_LOCK,
                               CMD_WRITE_PROTECT,       CMD_WRITE_PROTECT, CMD_ERASE_FIRMWARE,
                               CMD_SET_WRITE_ADDRESS,   CMD_WRITE_BLOCK};
static_assert(sizeof OP_COMMANDS == OP_LAST + 1, "a command for every operation");

const SimFault LINK_FAULTS[] = {SimFault::WriteFails, SimFault::ReadFails, SimFault::NoAnswer,
                                SimFault::ErrorReply, SimFault::Unplugged};

struct Call {
    ExchangeResult result = 0;
    bool flag = false; // dataTaken or confirmed
    uint8_t reply[REPORT_BUFFER_BYTES] = {};
    std::vector<uint8_t> blockData;
    bool blockDataValid = false;
};

// The block's data in a buffer of exactly its size, so that a read past it is
// caught; a count that must be refused gets one byte.
Call CallWriteBlock(FuzzedDataProvider* in) {
    Call call;
    const int32_t count = in->ConsumeBool() ? in->ConsumeIntegralInRange<int32_t>(-2, 16)
                                            : in->ConsumeIntegral<int32_t>();
    call.blockDataValid = count >= 0 && count <= int32_t(WRITE_BLOCK_MAX_WORDS);
    const size_t bytes = call.blockDataValid ? size_t(count) * 4 : 1;
    std::unique_ptr<uint8_t[]> data(new uint8_t[bytes == 0 ? 1 : bytes]);
    for (size_t i = 0; i < bytes; ++i) {
        data[i] = uint8_t(i * 13 + 1);
    }
    call.blockData.assign(data.get(), data.get() + bytes);
    call.result = WriteBlock(data.get(), count);
    call.blockData.resize(call.blockDataValid ? bytes : 0);
    return call;
}

Call Perform(Operation op, FuzzedDataProvider* in) {
    Call call;
    switch (op) {
    case OP_GET_UNIT_INFO:
        call.result = ExchangeGetUnitInfo(call.reply);
        break;
    case OP_READ_MEMORY:
        call.result = ExchangeReadMemory(in->ConsumeIntegral<uint32_t>(), call.reply);
        break;
    case OP_READ_FIRMWARE_INFO:
        call.result = ExchangeReadFirmwareInfo(call.reply, &call.flag);
        break;
    case OP_GET_CONTROLLER_INFO:
        call.result = ExchangeGetControllerInfo(call.reply, &call.flag);
        break;
    case OP_LOCK_SET:
        call.result = SystemLockSet(&call.flag);
        break;
    case OP_LOCK_RESET:
        SystemLockReset();
        break;
    case OP_PROTECT_CLEAR:
        call.result = WriteProtectClear(&call.flag);
        break;
    case OP_PROTECT_SET:
        WriteProtectSet();
        break;
    case OP_ERASE:
        call.result = EraseFirmware();
        break;
    case OP_SET_ADDRESS:
        call.result = SetWriteAddress();
        break;
    case OP_WRITE_BLOCK:
        return CallWriteBlock(in);
    }
    return call;
}

bool ReturnsNothing(Operation op) {
    return op == OP_LOCK_RESET || op == OP_PROTECT_SET;
}

// The judging rules, read off the reply that crossed the wire. The exchange ran,
// so the reply holds at least the bytes that its rule looks at, and no more are
// read here.
void CheckJudgement(Operation op, const Call& call, const std::vector<uint8_t>& r) {
    switch (op) {
    case OP_GET_UNIT_INFO:
    case OP_READ_MEMORY:
        Require(call.result == 0, "an unjudged reply is a success");
        Require(std::equal(r.begin(), r.begin() + 16, call.reply),
                "the reply's data reaches the caller");
        return;
    case OP_READ_FIRMWARE_INFO:
    case OP_GET_CONTROLLER_INFO: {
        const bool error = r[1] == REPLY_ERROR_MARK;
        Require(call.result == (error ? int32_t(GetLe16(&r[4])) : 0), "short-code result");
        Require(call.flag == !error, "data taken exactly from a normal reply");
        return;
    }
    case OP_LOCK_SET:
        Require(call.result == 0 && call.flag == (r[3] == 1), "lock: the state byte decides");
        return;
    case OP_PROTECT_CLEAR:
        if (r[1] == REPLY_ERROR_MARK) {
            const int32_t code = int32_t(GetLe32(&r[4]));
            Require(call.result == code && call.flag == (code == 0), "unprotect: code decides");
        } else {
            Require(call.result == 0 && call.flag == (r[3] == 0), "unprotect: state decides");
        }
        return;
    case OP_ERASE:
    case OP_SET_ADDRESS:
    case OP_WRITE_BLOCK:
        Require(call.result == (r[1] == REPLY_ERROR_MARK ? int32_t(GetLe32(&r[4])) : 0),
                "standard-rule result");
        return;
    case OP_LOCK_RESET:
    case OP_PROTECT_SET:
        return;
    }
}

void CheckRequest(Operation op, const Call& call, const std::vector<uint8_t>& request) {
    Require(request.size() == g_unit.outputReportLength, "a request is one whole report");
    Require(request[0] == COMMAND_REPORT_ID, "request report ID");
    if (op == OP_WRITE_BLOCK) {
        const size_t bytes = call.blockData.size();
        Require(call.blockDataValid, "a refused word count sends nothing");
        Require(request[1] == CMD_WRITE_BLOCK && request[2] == bytes, "block header");
        Require(std::equal(call.blockData.begin(), call.blockData.end(), request.begin() + 4),
                "block data byte for byte");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    SimInterface unit = FreshWorldWithReadyUnit();
    if (in.ConsumeBool()) {
        unit.inputReportLength = in.ConsumeIntegral<uint16_t>();
        unit.outputReportLength = in.ConsumeIntegral<uint16_t>();
    }
    const int index = SimAddInterface(unit);
    // The identification only sets the lengths here; it may refuse them and leave
    // the unit open, and every exchange must then refuse them too.
    OpenUnit();

    for (int calls = 0; calls < 24 && in.remaining_bytes() > 0; ++calls) {
        if (!SimIsPlugged(index)) {
            SimReplug(index);
            OpenUnit();
        }
        const Operation op = Operation(in.ConsumeIntegralInRange<int>(0, OP_LAST));
        const int source = in.ConsumeIntegralInRange<int>(0, 3);
        bool faultInjected = false;
        if (source <= 1) {
            const size_t length = in.ConsumeIntegralInRange<size_t>(0, 64);
            SimArmReply(index, OP_COMMANDS[op], 1, in.ConsumeBytes<uint8_t>(length));
        } else if (source == 2) {
            const SimFault fault = in.PickValueInArray(LINK_FAULTS);
            SimArmFault(index, OP_COMMANDS[op], 1, fault, in.ConsumeIntegral<uint32_t>(), 0x1F0D);
            faultInjected = fault != SimFault::ErrorReply;
        } // else the unit answers by itself

        const bool open = UnitIsOpen();
        const bool lengthsFit = g_unit.outputReportLength <= REPORT_BUFFER_BYTES &&
                                g_unit.inputReportLength <= REPORT_BUFFER_BYTES;
        const size_t since = SimWireLog().size();
        const Call call = Perform(op, &in);
        SimClearFaults(); // one meant for an exchange that never began

        const std::vector<SimWireRecord>& log = SimWireLog();
        const size_t records = log.size() - since;
        Require(records <= 2, "one exchange at most");
        if (!open || !lengthsFit) {
            Require(records == 0, "nothing sent without an open unit or with unfit lengths");
            Require(ReturnsNothing(op) || call.result == EXCHANGE_NOT_OPEN, "refused with -1");
        }
        if (records == 0) {
            Require(ReturnsNothing(op) || call.result == EXCHANGE_NOT_OPEN, "-1 when nothing sent");
            continue;
        }
        const SimWireRecord& request = log[since];
        Require(request.isWrite, "the request comes first");
        if (request.failed) {
            Require(faultInjected, "only an injected fault fails a write");
            Require(records == 1, "no read after a failed write");
            Require(ReturnsNothing(op) || call.result == EXCHANGE_WRITE_FAILED, "-2");
            continue;
        }
        CheckRequest(op, call, request.bytes);
        Require(records == 2, "a read follows the request");
        const std::vector<uint8_t>* reply = LastReplyOnWire(since);
        if (reply == nullptr) {
            Require(faultInjected, "only an injected fault fails a read");
            Require(ReturnsNothing(op) || call.result == EXCHANGE_READ_FAILED, "-3");
            continue;
        }
        Require(reply->size() == g_unit.inputReportLength, "a reply is one whole report");
        CheckJudgement(op, call, *reply);
    }
    CloseUnit();
    Require(SimOpenHandleCount() == 0 && SimInterfaceSetCount() == 0, "nothing left open");
    return 0;
}
