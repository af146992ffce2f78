// The simulated unit as the other tests rely on it: it programs the flash only
// through the full order of steps, and plugging behaves like the hardware.
#include <algorithm>
#include <cstring>
#include <functional>

#include "device/hid/clock_port.h"
#include "tests/device/device_fixture.h"

namespace {

// Lock, unprotect, erase, address: the steps before the first block.
void PrepareForWriting() {
    bool confirmed = false;
    ASSERT_EQ(SystemLockSet(&confirmed), 0);
    ASSERT_TRUE(confirmed);
    ASSERT_EQ(WriteProtectClear(&confirmed), 0);
    ASSERT_TRUE(confirmed);
    ASSERT_EQ(EraseFirmware(), 0);
    ASSERT_EQ(SetWriteAddress(), 0);
}

} // namespace

TEST_F(DeviceTest, SimulatedUnitProgramsBlocksInSequenceAfterTheFullPreparation) {
    const int index = OpenIdentified();
    PrepareForWriting();
    alignas(4) uint8_t image[100];
    for (size_t i = 0; i < sizeof image; ++i) {
        image[i] = static_cast<uint8_t>(i * 3 + 1);
    }
    ASSERT_EQ(WriteBlock(image, 12), 0);
    ASSERT_EQ(WriteBlock(image + 48, 12), 0);
    ASSERT_EQ(WriteBlock(image + 96, 1), 0);
    WriteProtectSet();
    SystemLockReset();

    const SimInterface& unit = SimGetInterface(index);
    const std::vector<uint8_t>& flash = unit.controller.flash;
    EXPECT_EQ(Bytes(flash.begin(), flash.begin() + 100), Bytes(image, image + 100));
    EXPECT_TRUE(std::all_of(flash.begin() + 100, flash.end(), [](uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(unit.blockWrites, 3u);
    EXPECT_EQ(unit.controller.firmwareVersion, unit.controller.programmedVersion);
    EXPECT_EQ(unit.lockState, 0);
    EXPECT_EQ(unit.writeProtectState, 1);
}

// Each step needs the ones before it; the unit says so in its reply.
TEST_F(DeviceTest, SimulatedUnitRefusesStepsOutOfOrder) {
    alignas(4) uint8_t block[48] = {};
    bool confirmed = true;
    struct Case {
        const char* name;
        std::function<void()> before;
        std::function<bool()> refused;
    };
    const Case cases[] = {
        {"unprotect without lock", [] {},
         [&] { return WriteProtectClear(&confirmed) == 0 && !confirmed; }},
        {"erase while protected", [&] { SystemLockSet(&confirmed); },
         [] { return EraseFirmware() == static_cast<int32_t>(SIM_ERROR_NOT_READY); }},
        {"address before erase",
         [&] {
             SystemLockSet(&confirmed);
             WriteProtectClear(&confirmed);
         },
         [] { return SetWriteAddress() == static_cast<int32_t>(SIM_ERROR_NOT_READY); }},
        {"block before address",
         [&] {
             SystemLockSet(&confirmed);
             WriteProtectClear(&confirmed);
             EraseFirmware();
         },
         [&] { return WriteBlock(block, 12) == static_cast<int32_t>(SIM_ERROR_NOT_READY); }},
        {"block after the session ended",
         [&] {
             PrepareForWriting();
             WriteProtectSet();
         },
         [&] { return WriteBlock(block, 12) == static_cast<int32_t>(SIM_ERROR_NOT_READY); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        const int index = OpenIdentified();
        c.before();
        EXPECT_TRUE(c.refused());
        EXPECT_EQ(SimGetInterface(index).blockWrites, 0u);
        TearDown();
    }
}

TEST_F(DeviceTest, SimulatedUnitLocksOnlyWithAnUpdatableControllerInMode0) {
    for (auto change : {+[](SimInterface& u) { u.controller.status = 1; },
                        +[](SimInterface& u) { u.unitMode = 1; }}) {
        SetUp();
        SimInterface unit = SimReadyUnit();
        change(unit);
        SimAddInterface(unit);
        OpenUnit();
        bool confirmed = true;
        EXPECT_EQ(SystemLockSet(&confirmed), 0);
        EXPECT_FALSE(confirmed);
        TearDown();
    }
}

// Unplugging kills open handles; plugging in again powers the unit up anew with
// its flash kept, and the record has to be opened again to talk to it.
TEST_F(DeviceTest, ReplugPowersTheUnitUpAnewAndOldHandlesStayDead) {
    const int index = OpenIdentified();
    PrepareForWriting();
    SimUnplug(index);
    EXPECT_EQ(EraseFirmware(), -2);
    EXPECT_EQ(PlatformLastError(), SIM_LAST_ERROR_NOT_CONNECTED);
    EXPECT_EQ(OpenUnit(), -4);

    SimReplug(index);
    const SimInterface& unit = SimGetInterface(index);
    EXPECT_EQ(unit.lockState, 0);
    EXPECT_EQ(unit.writeProtectState, 1);
    EXPECT_FALSE(unit.erased);
    EXPECT_EQ(unit.controller.flash[0], 0xFF); // the erase happened before
    EXPECT_EQ(unit.controller.firmwareVersion, FIRMWARE_VERSION_NONE);
    ASSERT_EQ(OpenUnit(), 0);
    EXPECT_EQ(ControllerFirmwareVersion(), FIRMWARE_VERSION_NONE);
}

// A unit that stops answering mid-exchange: the read waits out the time-out on
// the program's clock and fails, and the unit is gone when unplugged meanwhile.
TEST_F(DeviceTest, UnplugDuringTheErasePauseFailsTheRead) {
    const int index = OpenIdentified();
    bool confirmed = false;
    SystemLockSet(&confirmed);
    WriteProtectClear(&confirmed);
    VirtualClockSetObserver([&](uint32_t) { SimUnplug(index); });
    EXPECT_EQ(EraseFirmware(), -3);
    VirtualClockSetObserver(nullptr);
    EXPECT_EQ(VirtualPauses(), std::vector<uint32_t>{ERASE_REPLY_DELAY_MS});
}

// Replies wait in a queue as on a real device, and each request drops what is
// left there: a reply that came after its read gave up, or a second copy of one,
// would otherwise be read as the answer to the next request (here the lock's
// state byte 1 as the unprotect's, which must be 0).
TEST_F(DeviceTest, LateAndRepeatedRepliesWaitInTheQueueUntilTheNextRequest) {
    const int index = OpenIdentified();
    SimArmFault(index, CMD_SYSTEM_LOCK, 1, SimFault::LateReply, 0, SIM_LAST_ERROR_TIMEOUT);
    bool confirmed = false;
    EXPECT_EQ(SystemLockSet(&confirmed), -3);
    EXPECT_EQ(SimGetInterface(index).lockState, 1); // the unit acted all the same
    EXPECT_EQ(PlatformLastError(), SIM_LAST_ERROR_TIMEOUT);
    EXPECT_EQ(VirtualPauses(), std::vector<uint32_t>{HID_READ_TIMEOUT_MS});

    uint8_t late[60] = {};
    EXPECT_EQ(HidReadReport(g_unit.deviceHandle, late, 60, 7), 0);
    EXPECT_EQ(late[1], CMD_SYSTEM_LOCK);
    EXPECT_NE(HidReadReport(g_unit.deviceHandle, late, 60, 7), 0);
    EXPECT_EQ(VirtualPauses().back(), 7u); // the time-out the caller gave

    SimArmFault(index, CMD_SYSTEM_LOCK, 1, SimFault::LateReply);
    EXPECT_EQ(SystemLockSet(&confirmed), -3);
    EXPECT_EQ(WriteProtectClear(&confirmed), 0);
    EXPECT_TRUE(confirmed);

    SimArmFault(index, CMD_SYSTEM_LOCK, 1, SimFault::DoubleReply);
    EXPECT_EQ(SystemLockSet(&confirmed), 0);
    EXPECT_TRUE(confirmed);
    EXPECT_EQ(WriteProtectClear(&confirmed), 0);
    EXPECT_TRUE(confirmed);
}

// A short reply is a successful read of fewer bytes: what it leaves out reads as
// the zeros the exchange cleared the buffer to.
TEST_F(DeviceTest, ShortReplyFillsOnlyItsOwnBytes) {
    const int index = OpenIdentified();
    SimArmFault(index, CMD_GET_CONTROLLER_INFO, 1, SimFault::ShortReply);
    uint8_t reply[REPORT_BUFFER_BYTES];
    memset(reply, 0xEE, sizeof reply);
    bool dataTaken = false;
    EXPECT_EQ(ExchangeGetControllerInfo(reply, &dataTaken), 0);
    EXPECT_TRUE(dataTaken);
    EXPECT_EQ(reply[1], CMD_GET_CONTROLLER_INFO);
    EXPECT_TRUE(
        std::all_of(reply + SIM_SHORT_REPLY_BYTES, reply + 60, [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(SimWireLog().back().bytes.size(), SIM_SHORT_REPLY_BYTES);
}
