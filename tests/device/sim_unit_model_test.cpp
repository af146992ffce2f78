// The unit's protocol model on its own: faults armed by command and occurrence,
// and what survives a power-up.
#include <gtest/gtest.h>

#include <vector>

#include "device/command_reports.h"
#include "device/hid/sim_unit_model.h"
#include "device/little_endian.h"

namespace {

constexpr size_t REPORT_BYTES = 60;

std::vector<uint8_t> Request(uint8_t command, uint8_t lengthByte = 0) {
    std::vector<uint8_t> request(REPORT_BYTES, 0);
    request[0] = COMMAND_REPORT_ID;
    request[1] = command;
    request[2] = lengthByte;
    return request;
}

std::vector<uint8_t> Lock(bool set) {
    std::vector<uint8_t> request = Request(CMD_SYSTEM_LOCK, 1);
    request[3] = set ? 1 : 0;
    return request;
}

std::vector<uint8_t> Unprotect() {
    std::vector<uint8_t> request = Request(CMD_WRITE_PROTECT, 1);
    request[3] = 0;
    return request;
}

std::vector<uint8_t> Erase() {
    std::vector<uint8_t> request = Request(CMD_ERASE_FIRMWARE, 4);
    PutLe32(request.data() + 4, GUARD_WORD);
    return request;
}

std::vector<uint8_t> Address() {
    std::vector<uint8_t> request = Request(CMD_SET_WRITE_ADDRESS, 9);
    request[3] = 1;
    PutLe32(request.data() + 8, GUARD_WORD);
    return request;
}

std::vector<uint8_t> Block(uint8_t fill) {
    std::vector<uint8_t> request = Request(CMD_WRITE_BLOCK, 48);
    for (size_t i = 4; i < 52; ++i) {
        request[i] = fill;
    }
    return request;
}

SimModelOutcome Send(SimUnitModel& unit, const std::vector<uint8_t>& request) {
    return SimModelHandleRequest(unit, request.data(), request.size(), REPORT_BYTES);
}

void Prepare(SimUnitModel& unit) {
    for (const auto& request : {Lock(true), Unprotect(), Erase(), Address()}) {
        const SimModelOutcome outcome = Send(unit, request);
        ASSERT_EQ(outcome.replies.size(), 1u);
        ASSERT_NE(outcome.replies[0][1], REPLY_ERROR_MARK) << int(request[1]);
    }
}

} // namespace

// The 3rd block write after arming fails, others of other commands in between do
// not count, the fault fires once, and a failed write leaves the flash alone.
TEST(SimUnitModel, FaultFiresOnceAtTheCommandsOccurrenceCountedFromArming) {
    SimUnitModel unit = SimReadyUnitModel();
    Prepare(unit);
    ASSERT_EQ(Send(unit, Block(0x11)).fault, SimFault::None); // before arming: not counted
    SimModelArmFault(unit, CMD_WRITE_BLOCK, 3, SimFault::WriteFails, 0, 77);
    SimModelArmFault(unit, CMD_GET_UNIT_INFO, 1, SimFault::ErrorReply, 0x99);

    EXPECT_EQ(Send(unit, Block(0x22)).fault, SimFault::None);
    const SimModelOutcome info = Send(unit, Request(CMD_GET_UNIT_INFO));
    EXPECT_EQ(info.fault, SimFault::ErrorReply);
    ASSERT_EQ(info.replies.size(), 1u);
    EXPECT_EQ(info.replies[0][1], REPLY_ERROR_MARK);
    EXPECT_EQ(GetLe32(info.replies[0].data() + 4), 0x99u);
    EXPECT_EQ(Send(unit, Block(0x33)).fault, SimFault::None);
    const SimModelOutcome third = Send(unit, Block(0x44));
    EXPECT_EQ(third.fault, SimFault::WriteFails);
    EXPECT_EQ(third.lastError, 77u);
    EXPECT_TRUE(third.replies.empty());
    EXPECT_EQ(unit.blockWrites, 3u);
    EXPECT_EQ(unit.writeAddress, 3u * 48);

    const SimModelOutcome after = Send(unit, Block(0x55));
    EXPECT_EQ(after.fault, SimFault::None);
    EXPECT_EQ(Send(unit, Request(CMD_GET_UNIT_INFO)).fault, SimFault::None);
    EXPECT_TRUE(unit.faults.empty());
    EXPECT_EQ(unit.controller.flash[3 * 48], 0x55); // the failed block never landed
}

// What each kind hands the port: how many replies, how long, and when.
TEST(SimUnitModel, EachFaultKindShapesTheReplies) {
    struct Case {
        SimFault fault;
        size_t replies;
        size_t bytes;
        bool late;
        bool actedOn;
    };
    const Case cases[] = {
        {SimFault::None, 1, REPORT_BYTES, false, true},
        {SimFault::WriteFails, 0, 0, false, false},
        {SimFault::Unplugged, 0, 0, false, false},
        {SimFault::NoAnswer, 0, 0, false, false},
        {SimFault::ReadFails, 0, 0, false, true},
        {SimFault::ErrorReply, 1, REPORT_BYTES, false, false},
        {SimFault::LateReply, 1, REPORT_BYTES, true, true},
        {SimFault::DoubleReply, 2, REPORT_BYTES, false, true},
        {SimFault::ShortReply, 1, SIM_SHORT_REPLY_BYTES, false, true},
    };
    for (const Case& c : cases) {
        SimUnitModel unit = SimReadyUnitModel();
        SimModelArmFault(unit, CMD_SYSTEM_LOCK, 1, c.fault, 0x2A, 1460);
        const SimModelOutcome outcome = Send(unit, Lock(true));
        const int why = static_cast<int>(c.fault);
        EXPECT_EQ(outcome.fault, c.fault) << why;
        ASSERT_EQ(outcome.replies.size(), c.replies) << why;
        for (const auto& reply : outcome.replies) {
            EXPECT_EQ(reply.size(), c.bytes) << why;
            EXPECT_EQ(reply[0], REPLY_REPORT_ID) << why;
        }
        EXPECT_EQ(outcome.repliesLate, c.late) << why;
        EXPECT_EQ(unit.lockState, c.actedOn ? 1 : 0) << why;
    }

    SimUnitModel unit = SimReadyUnitModel();
    SimModelArmReply(unit, CMD_GET_UNIT_INFO, 2, {0x02, 0x08, 0x0C, 0x05, 0xAB});
    Send(unit, Request(CMD_GET_UNIT_INFO));
    const SimModelOutcome given =
        SimModelHandleRequest(unit, Request(CMD_GET_UNIT_INFO).data(), REPORT_BYTES, 8);
    ASSERT_EQ(given.replies.size(), 1u);
    EXPECT_EQ(given.replies[0], (std::vector<uint8_t>{0x02, 0x08, 0x0C, 0x05, 0xAB, 0, 0, 0}));
}

// A power-up ends the session and forgets lock, protection and erase, but the
// programmed flash and the new version stay, as do faults still armed.
TEST(SimUnitModel, PowerUpKeepsFlashAndForgetsTheSession) {
    SimUnitModel unit = SimReadyUnitModel();
    ASSERT_EQ(unit.controller.flash.size(), SIM_FLASH_BYTES);
    Prepare(unit);
    Send(unit, Block(0x5A));
    SimModelArmFault(unit, CMD_WRITE_BLOCK, 1, SimFault::NoAnswer);
    SimModelPowerUp(unit);

    EXPECT_EQ(unit.lockState, 0);
    EXPECT_EQ(unit.writeProtectState, 1);
    EXPECT_FALSE(unit.erased);
    EXPECT_FALSE(unit.addressSet);
    EXPECT_EQ(unit.blockWrites, 0u);
    EXPECT_EQ(unit.controller.flash[0], 0x5A);
    EXPECT_EQ(unit.controller.flash[48], 0xFF);
    const SimModelOutcome refused = Send(unit, Block(0x00));
    EXPECT_EQ(refused.fault, SimFault::NoAnswer);
    const SimModelOutcome again = Send(unit, Block(0x00));
    ASSERT_EQ(again.replies.size(), 1u);
    EXPECT_EQ(GetLe32(again.replies[0].data() + 4), SIM_ERROR_NOT_READY);
    EXPECT_EQ(unit.controller.flash[0], 0x5A);
}

TEST(SimUnitModel, NamesOfCommandsAndFaults) {
    uint8_t command = 0;
    EXPECT_TRUE(SimCommandFromName("CMD_ERASE_FIRMWARE", &command));
    EXPECT_EQ(command, CMD_ERASE_FIRMWARE);
    EXPECT_TRUE(SimCommandFromName("0x1b", &command));
    EXPECT_EQ(command, CMD_WRITE_BLOCK);
    for (const char* bad : {"", "CMD_NONE", "0x100", "-1", "12x"}) {
        EXPECT_FALSE(SimCommandFromName(bad, &command)) << bad;
    }
    EXPECT_STREQ(SimCommandName(CMD_GET_CONTROLLER_INFO), "CMD_GET_CONTROLLER_INFO");
    SimFault fault = SimFault::None;
    EXPECT_TRUE(SimFaultFromName("late-reply", &fault));
    EXPECT_EQ(fault, SimFault::LateReply);
    EXPECT_FALSE(SimFaultFromName("late", &fault));
}
