// The command exchange: bytes on the wire, judging of replies, failures of the
// transfer, the erase pause, block sizes and the closed state.
#include <climits>
#include <cstring>
#include <functional>

#include "device/hid/clock_port.h"
#include "tests/device/device_fixture.h"

namespace {

// Every operation of the exchange, as a caller sees it. The ones whose outcome is
// ignored report 0.
struct Operation {
    const char* name;
    uint8_t command;
    std::function<ExchangeResult()> run;
    bool ignored = false;
};

alignas(4) uint8_t g_blockData[56];

std::vector<Operation> AllOperations() {
    static uint8_t reply[REPORT_BUFFER_BYTES];
    static bool flag;
    return {
        {"GetUnitInfo", CMD_GET_UNIT_INFO, [] { return ExchangeGetUnitInfo(reply); }},
        {"ReadMemory", CMD_READ_MEMORY,
         [] { return ExchangeReadMemory(UNIT_VERSION_ADDRESS, reply); }},
        {"ReadFirmwareInfo", CMD_READ_FIRMWARE_INFO,
         [] { return ExchangeReadFirmwareInfo(reply, &flag); }},
        {"GetControllerInfo", CMD_GET_CONTROLLER_INFO,
         [] { return ExchangeGetControllerInfo(reply, &flag); }},
        {"SystemLockSet", CMD_SYSTEM_LOCK, [] { return SystemLockSet(&flag); }},
        {"SystemLockReset", CMD_SYSTEM_LOCK, [] { return SystemLockReset(), 0; }, true},
        {"WriteProtectClear", CMD_WRITE_PROTECT, [] { return WriteProtectClear(&flag); }},
        {"WriteProtectSet", CMD_WRITE_PROTECT, [] { return WriteProtectSet(), 0; }, true},
        {"EraseFirmware", CMD_ERASE_FIRMWARE, [] { return EraseFirmware(); }},
        {"SetWriteAddress", CMD_SET_WRITE_ADDRESS, [] { return SetWriteAddress(); }},
        {"WriteBlock", CMD_WRITE_BLOCK, [] { return WriteBlock(g_blockData, 12); }},
    };
}

// Block data whose words after the twelfth are not zero, so a request that
// carried more than its count would show it.
void FillBlockData() {
    for (size_t i = 0; i < sizeof g_blockData; ++i) {
        g_blockData[i] = static_cast<uint8_t>(0x10 + i);
    }
}

Bytes BlockRequest(uint8_t words) {
    Bytes request = Report({0x01, 0x1B, static_cast<uint8_t>(4 * words), 0x00});
    memcpy(request.data() + 4, g_blockData, 4u * words);
    return request;
}

} // namespace

// Every request byte the program does not set goes out as zero, also after
// exchanges that filled buffers with other bytes; the controller query sends 0x00
// from byte 2 on even right after the firmware-information reply.
TEST_F(DeviceTest, EveryCommandGoesOutWithItsBytesAndZeroElsewhere) {
    SimInterface unit = SimReadyUnit();
    memset(unit.controller.firmwareInfo, 0xAB, sizeof unit.controller.firmwareInfo);
    memset(unit.controller.identityExtra, 0xCD, sizeof unit.controller.identityExtra);
    OpenIdentified(unit);
    FillBlockData();

    struct Case {
        const char* name;
        std::function<void()> send;
        Bytes expected;
    };
    uint8_t reply[REPORT_BUFFER_BYTES];
    bool flag = false;
    const std::vector<Case> cases = {
        {"GetUnitInfo", [&] { ExchangeGetUnitInfo(reply); }, Report({0x01, 0x08, 0x00})},
        {"ReadMemory", [&] { ExchangeReadMemory(UNIT_VERSION_ADDRESS, reply); },
         Report({0x01, 0x0A, 0x0C, 0x00, 0x00, 0xFC, 0x01, 0x08})},
        {"ReadFirmwareInfo", [&] { ExchangeReadFirmwareInfo(reply, &flag); },
         Report({0x01, 0x1D, 0x08, 0x00, 0x20, 0x00, 0x00, 0x00, 0xE0, 0xFF, 0xFF, 0xFF})},
        {"GetControllerInfo", [&] { ExchangeGetControllerInfo(reply, &flag); },
         Report({0x01, 0x22})},
        {"SystemLockSet", [&] { SystemLockSet(&flag); }, Report({0x01, 0x0B, 0x01, 0x01})},
        {"SystemLockReset", [] { SystemLockReset(); }, Report({0x01, 0x0B, 0x01, 0x00})},
        {"WriteProtectClear", [&] { WriteProtectClear(&flag); }, Report({0x01, 0x20, 0x01, 0x00})},
        {"WriteProtectSet", [] { WriteProtectSet(); }, Report({0x01, 0x20, 0x01, 0x01})},
        {"EraseFirmware", [] { EraseFirmware(); },
         Report({0x01, 0x1E, 0x04, 0x00, 0x71, 0x9C, 0x2A, 0x5E})},
        {"SetWriteAddress", [] { SetWriteAddress(); },
         Report({0x01, 0x1F, 0x09, 0x01, 0x00, 0x00, 0x00, 0x00, 0x71, 0x9C, 0x2A, 0x5E})},
        {"WriteBlock14", [] { WriteBlock(g_blockData, 14); }, BlockRequest(14)},
        {"WriteBlock12", [] { WriteBlock(g_blockData, 12); }, BlockRequest(12)},
        {"WriteBlock0", [] { WriteBlock(g_blockData, 0); }, BlockRequest(0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Leave full buffers behind: a 60-byte block and a firmware-information
        // reply full of nonzero bytes.
        WriteBlock(g_blockData, 14);
        ExchangeReadFirmwareInfo(reply, &flag);
        SimClearWireLog();
        c.send();
        const std::vector<Bytes> sent = SimSentRequests();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0], c.expected);
    }
}

namespace {

struct JudgeCase {
    const char* name;
    Bytes reply;
    ExchangeResult expected;
    bool flag; // data taken or state confirmed, where the operation reports one
};

Bytes ReplyWith(uint8_t byte1, uint8_t byte3, uint32_t bytes4to7, uint8_t reportId = 0x02) {
    Bytes reply = Report({reportId, byte1, 0x00, byte3});
    SetLe32(&reply, 4, bytes4to7);
    return reply;
}

} // namespace

class JudgingTest : public DeviceTest {
  protected:
    void SetUp() override {
        DeviceTest::SetUp();
        OpenIdentified();
        FillBlockData();
    }
    // Runs `run`, which sends `command`, against each given reply of the table.
    void Check(const std::vector<JudgeCase>& cases, uint8_t command,
               const std::function<ExchangeResult(bool*)>& run) {
        for (const JudgeCase& c : cases) {
            SCOPED_TRACE(c.name);
            SimArmReply(0, command, 1, c.reply);
            bool flag = !c.flag;
            EXPECT_EQ(run(&flag), c.expected);
            EXPECT_EQ(flag, c.flag);
        }
    }
};

TEST_F(JudgingTest, StandardRuleFailsOnlyOnErrorMarkWithNonzeroCode) {
    const std::vector<JudgeCase> cases = {
        {"normal", ReplyWith(0x1E, 0, 0), 0, true},
        {"normal with data in 4..7", ReplyWith(0x00, 0, 5), 0, true},
        {"mark 0xFE is no error", ReplyWith(0xFE, 0, 9), 0, true},
        {"error mark, code zero", ReplyWith(0xFF, 0, 0), 0, true},
        {"code in the high byte", ReplyWith(0xFF, 0, 0x80000001), static_cast<int32_t>(0x80000001),
         false},
        {"all four code bytes count", ReplyWith(0xFF, 0, 0x00010007), 0x00010007, false},
        {"unit code looks like -1", ReplyWith(0xFF, 0, 0xFFFFFFFF), -1, false},
        {"report ID not looked at", ReplyWith(0xFF, 0, 3, 0x05), 3, false},
    };
    const std::vector<Operation> standard = {
        {"EraseFirmware", CMD_ERASE_FIRMWARE, [] { return EraseFirmware(); }},
        {"SetWriteAddress", CMD_SET_WRITE_ADDRESS, [] { return SetWriteAddress(); }},
        {"WriteBlock", CMD_WRITE_BLOCK, [] { return WriteBlock(g_blockData, 1); }},
    };
    for (const Operation& op : standard) {
        SCOPED_TRACE(op.name);
        Check(cases, op.command, [&](bool* success) {
            ExchangeResult result = op.run();
            *success = result == 0;
            return result;
        });
    }
}

TEST_F(JudgingTest, ShortCodeRuleUsesOnlyTheLowWordAndTakesNoDataFromErrorReplies) {
    const std::vector<JudgeCase> cases = {
        {"normal reply carries data", ReplyWith(0x1D, 0, 0x12345678), 0, true},
        {"error mark, code zero", ReplyWith(0xFF, 0, 0), 0, false},
        {"high word alone is no error", ReplyWith(0xFF, 0, 0x00010000), 0, false},
        {"code 7, high word ignored", ReplyWith(0xFF, 0, 0x00010007), 7, false},
        {"largest code", ReplyWith(0xFF, 0, 0x0000FFFF), 0xFFFF, false},
    };
    uint8_t reply[REPORT_BUFFER_BYTES];
    {
        SCOPED_TRACE("ReadFirmwareInfo");
        Check(cases, CMD_READ_FIRMWARE_INFO,
              [&](bool* taken) { return ExchangeReadFirmwareInfo(reply, taken); });
    }
    {
        SCOPED_TRACE("GetControllerInfo");
        Check(cases, CMD_GET_CONTROLLER_INFO,
              [&](bool* taken) { return ExchangeGetControllerInfo(reply, taken); });
    }
}

TEST_F(JudgingTest, LockIsConfirmedByStateByteOneAlone) {
    Check(
        {
            {"state 1", ReplyWith(0x0B, 1, 0), 0, true},
            {"state 0", ReplyWith(0x0B, 0, 0), 0, false},
            {"state 2", ReplyWith(0x0B, 2, 0), 0, false},
            {"error mark not looked at", ReplyWith(0xFF, 1, 5), 0, true},
            {"error mark, state 0", ReplyWith(0xFF, 0, 5), 0, false},
        },
        CMD_SYSTEM_LOCK, [](bool* confirmed) { return SystemLockSet(confirmed); });
}

TEST_F(JudgingTest, ClearingProtectionJudgesCodeFirstThenStateByte) {
    Check(
        {
            {"state 0", ReplyWith(0x20, 0, 0), 0, true},
            {"state 0, data in 4..7", ReplyWith(0x20, 0, 9), 0, true},
            {"state 1", ReplyWith(0x20, 1, 0), 0, false},
            {"error mark, code zero, state ignored", ReplyWith(0xFF, 1, 0), 0, true},
            {"error code", ReplyWith(0xFF, 0, 5), 5, false},
        },
        CMD_WRITE_PROTECT, [](bool* confirmed) { return WriteProtectClear(confirmed); });
}

// Failures of the transfer itself, for every operation: a failed write is never
// followed by a read, and an unanswered request ends after the read time-out.
TEST_F(DeviceTest, TransferFailuresEndEveryExchange) {
    struct FaultCase {
        SimFault fault;
        ExchangeResult expected;
        int reads;
        uint32_t timeoutPause;
    };
    const FaultCase faults[] = {
        {SimFault::WriteFails, -2, 0, 0},
        {SimFault::Unplugged, -2, 0, 0},
        {SimFault::ReadFails, -3, 1, 0},
        {SimFault::NoAnswer, -3, 1, HID_READ_TIMEOUT_MS},
    };
    FillBlockData();
    for (const Operation& op : AllOperations()) {
        for (const FaultCase& f : faults) {
            SCOPED_TRACE(testing::Message() << op.name << " fault " << static_cast<int>(f.fault));
            SetUp();
            const int unit = OpenIdentified();
            SimArmFault(unit, op.command, 1, f.fault, 0, 1234);
            const ExchangeResult result = op.run();
            EXPECT_EQ(result, op.ignored ? 0 : f.expected);
            EXPECT_EQ(CountRecords(true), 1);
            EXPECT_EQ(CountRecords(false), f.reads);
            EXPECT_EQ(PlatformLastError(),
                      f.fault == SimFault::Unplugged ? SIM_LAST_ERROR_NOT_CONNECTED : 1234u);
            std::vector<uint32_t> pauses;
            if (std::string(op.name) == "EraseFirmware" && f.reads > 0) {
                pauses.push_back(ERASE_REPLY_DELAY_MS);
            }
            // The erase reply has a time-out of its own, sized for a slow flash.
            const bool erase = std::string(op.name) == "EraseFirmware";
            if (f.timeoutPause != 0) {
                pauses.push_back(erase ? ERASE_REPLY_TIMEOUT_MS : f.timeoutPause);
            }
            EXPECT_EQ(VirtualPauses(), pauses);
            TearDown();
        }
    }
}

// The erase waits between its write and its read, and only after a write that
// succeeded.
TEST_F(DeviceTest, EraseWaitsBetweenWriteAndRead) {
    const int unit = OpenIdentified();
    SimGetInterface(unit).lockState = 1;
    SimGetInterface(unit).writeProtectState = 0;
    std::vector<std::pair<int, int>> trafficDuringPause;
    VirtualClockSetObserver([&](uint32_t) {
        trafficDuringPause.push_back({CountRecords(true), CountRecords(false)});
    });
    EXPECT_EQ(EraseFirmware(), 0);
    VirtualClockSetObserver(nullptr);
    EXPECT_EQ(VirtualPauses(), std::vector<uint32_t>{ERASE_REPLY_DELAY_MS});
    EXPECT_EQ(trafficDuringPause, (std::vector<std::pair<int, int>>{{1, 0}}));
    EXPECT_EQ(CountRecords(false), 1);
}

TEST_F(DeviceTest, WriteBlockRefusesCountsOutsideZeroToFourteen) {
    OpenIdentified();
    FillBlockData();
    for (int32_t count : {15, 16, -1, INT_MIN, INT_MAX, 0x40000001, 0x40000000}) {
        SCOPED_TRACE(count);
        EXPECT_EQ(WriteBlock(g_blockData, count), -1);
    }
    EXPECT_EQ(WriteBlock(nullptr, 1), -1);
    EXPECT_TRUE(SimWireLog().empty());
    // No data at all is fine for an empty block.
    WriteBlock(nullptr, 0);
    EXPECT_EQ(SimSentRequests(), std::vector<Bytes>{BlockRequest(0)});
}

TEST_F(DeviceTest, ClosedUnitMakesEveryOperationReturnMinusOneWithoutTraffic) {
    SimAddInterface(SimReadyUnit());
    FillBlockData();
    for (const Operation& op : AllOperations()) {
        SCOPED_TRACE(op.name);
        const ExchangeResult result = op.run();
        if (!op.ignored) {
            EXPECT_EQ(result, -1);
        }
    }
    EXPECT_EQ(WriteBlock(g_blockData, 15), -1);
    EXPECT_EQ(IdentifyUnit(), -1);
    EXPECT_TRUE(SimWireLog().empty());
    EXPECT_EQ(SimOpenCount(0), 0);
    EXPECT_TRUE(VirtualPauses().empty());
}

// Reply bytes the unit did not send are zero, never the bytes of an earlier
// reply or whatever the caller's buffer held.
TEST_F(DeviceTest, ReplyBufferIsClearedBeforeEveryRead) {
    SimInterface unit = SimReadyUnit();
    unit.inputReportLength = 44; // just long enough for the controller identity
    OpenIdentified(unit);
    uint8_t reply[REPORT_BUFFER_BYTES];
    memset(reply, 0xCC, sizeof reply);
    bool taken = false;
    ASSERT_EQ(ExchangeGetControllerInfo(reply, &taken), 0);
    EXPECT_EQ(reply[0], 0x02);
    EXPECT_EQ(Bytes(reply + 44, reply + 60), Bytes(16, 0));

    // A failed read leaves nothing of the buffer's previous content either.
    memset(reply, 0xCC, sizeof reply);
    SimArmFault(0, CMD_GET_CONTROLLER_INFO, 1, SimFault::ReadFails);
    EXPECT_EQ(ExchangeGetControllerInfo(reply, &taken), -3);
    EXPECT_FALSE(taken);
    EXPECT_EQ(Bytes(reply, reply + 60), Report({0x02}));
}

// Both report lengths bound every transfer: larger than the 60-byte buffers, or
// too short for what a command sends or reads, and the command is refused
// before anything goes out. Identification asks more: reports that can carry a
// 12-word block and the controller information, or nothing is sent at all, so
// that no unit shows as ready whose update would erase and then fail. The table
// runs the whole identification.
TEST_F(DeviceTest, ReportLengthsBoundEveryExchange) {
    struct Case {
        uint16_t output, input;
        ExchangeResult identify;
        uint32_t exchanges;
    };
    const Case cases[] = {
        {60, 60, 0, 3},  {61, 60, -1, 0}, {60, 61, -1, 0}, {64, 64, -1, 0},
        {52, 44, 0, 3},  {51, 60, -1, 0}, {60, 43, -1, 0}, {12, 60, -1, 0},
        {11, 60, -1, 0}, {60, 15, -1, 0}, {2, 2, -1, 0},   {0, 0, -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.output << "/" << c.input);
        SetUp();
        SimInterface unit = SimReadyUnit();
        unit.outputReportLength = c.output;
        unit.inputReportLength = c.input;
        SimAddInterface(unit);
        EXPECT_EQ(OpenUnit(), c.identify);
        EXPECT_EQ(SimExchangeCount(), c.exchanges);
        EXPECT_EQ(g_unit.outputReportLength, c.output);
        EXPECT_EQ(g_unit.inputReportLength, c.input);
        // An exchange on the record as identified stays within the same bounds.
        const uint32_t before = SimExchangeCount();
        const bool eraseFits = c.output >= 8 && c.output <= 60 && c.input >= 8 && c.input <= 60;
        EraseFirmware();
        EXPECT_EQ(SimExchangeCount() - before, eraseFits ? 1u : 0u);
        TearDown();
    }
}

// A block never goes out cut short: the request must fit the output report.
TEST_F(DeviceTest, BlockLongerThanOutputReportIsRefused) {
    SimInterface unit = SimReadyUnit();
    unit.outputReportLength = 52; // 4 header bytes and 12 words
    OpenIdentified(unit);
    FillBlockData();
    EXPECT_EQ(WriteBlock(g_blockData, 13), -1);
    EXPECT_TRUE(SimWireLog().empty());
    WriteBlock(g_blockData, 12);
    Bytes expected = BlockRequest(12);
    expected.resize(52);
    EXPECT_EQ(SimSentRequests(), std::vector<Bytes>{expected});
}
