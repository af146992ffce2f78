// Identification: which commands a unit gets, depending on its answers, and
// where every identity field comes from.
#include <cstdlib>
#include <cstring>

#include "tests/device/device_fixture.h"

namespace {

std::vector<uint8_t> SentCommands() {
    std::vector<uint8_t> commands;
    for (const Bytes& request : SimSentRequests()) {
        commands.push_back(request[1]);
    }
    return commands;
}

} // namespace

TEST_F(DeviceTest, UpdatableControllerIsAskedForFirmwareInfoThenIdentity) {
    SimInterface unit = SimReadyUnit();
    unit.unitFirmwareVersion = 0x01020304;
    unit.unitFirmwareAux = 0xA1A2A3A4;
    unit.controller.statusAux = 0xBEEF;
    unit.controller.bootloaderVersion = 0x00050607;
    for (int i = 0; i < 32; ++i) {
        unit.controller.firmwareInfo[i] = static_cast<uint8_t>(0x40 + i);
        unit.controller.identityExtra[i] = static_cast<uint8_t>(0x80 + i);
    }
    SimAddInterface(unit);

    EXPECT_EQ(OpenUnit(), 0);
    EXPECT_EQ(SentCommands(), (std::vector<uint8_t>{CMD_GET_UNIT_INFO, CMD_READ_FIRMWARE_INFO,
                                                    CMD_GET_CONTROLLER_INFO}));
    EXPECT_EQ(g_unit.unitMode, 0);
    EXPECT_EQ(g_unit.controllerStatus, 3);
    EXPECT_EQ(g_unit.controllerStatusAux, 0xBEEF);
    EXPECT_EQ(g_unit.unitFirmwareVersion, 0x01020304u);
    EXPECT_EQ(g_unit.unitFirmwareAux, 0xA1A2A3A4u);
    // Both blocks are taken whole, from reply byte 4 on.
    uint8_t firmwareInfo[32];
    memcpy(firmwareInfo, unit.controller.firmwareInfo, 32);
    firmwareInfo[4] = 0x04; // the unit reports the version there
    firmwareInfo[5] = 0x03;
    EXPECT_EQ(Bytes(g_unit.controllerFirmwareInfo, g_unit.controllerFirmwareInfo + 32),
              Bytes(firmwareInfo, firmwareInfo + 32));
    EXPECT_EQ(ControllerFirmwareVersion(), 0x0304);
    EXPECT_EQ(Bytes(g_unit.controllerInfo, g_unit.controllerInfo + 4),
              (Bytes{0x8C, 0x40, 0x1F, 0x11}));
    EXPECT_EQ(ControllerTypeId(), SUPPORTED_CONTROLLER_TYPES[0]);
    EXPECT_EQ(ControllerBootloaderVersion(), 0x00050607u);
    EXPECT_EQ(Bytes(g_unit.controllerInfo + 8, g_unit.controllerInfo + 40),
              Bytes(unit.controller.identityExtra, unit.controller.identityExtra + 32));
    EXPECT_EQ(g_unit.altModeByte1, 0);
    EXPECT_EQ(g_unit.altModeDword2, 0u);
}

TEST_F(DeviceTest, ControllerWithoutFirmwareReportsVersionFFFF) {
    SimInterface unit = SimReadyUnit();
    unit.controller.firmwareVersion = FIRMWARE_VERSION_NONE;
    SimAddInterface(unit);
    EXPECT_EQ(OpenUnit(), 0);
    EXPECT_EQ(ControllerFirmwareVersion(), FIRMWARE_VERSION_NONE);
}

// In another mode the values lie packed at odd offsets, and the unit's version
// comes from its memory.
TEST_F(DeviceTest, UnitInAnotherModeIsReadFromItsMemory) {
    SimInterface unit = SimReadyUnit();
    unit.unitMode = 1;
    const uint8_t packed[12] = {0x11, 0x21, 0x22, 0x31, 0x32, 0x33,
                                0x34, 0x41, 0x42, 0x43, 0x44, 0x51};
    memcpy(unit.altModeBytes, packed, sizeof packed);
    unit.unitFirmwareVersion = 0x00010203;
    unit.unitFirmwareAux = 0x0A0B0C0D;
    SimAddInterface(unit);

    EXPECT_EQ(OpenUnit(), 0);
    const std::vector<Bytes> sent = SimSentRequests();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1], Report({0x01, 0x0A, 0x0C, 0x00, 0x00, 0xFC, 0x01, 0x08}));
    EXPECT_EQ(g_unit.unitMode, 1);
    EXPECT_EQ(g_unit.altModeByte1, 0x11);
    EXPECT_EQ(g_unit.altModeWord, 0x2221);
    EXPECT_EQ(g_unit.altModeDword1, 0x34333231u);
    EXPECT_EQ(g_unit.altModeDword2, 0x44434241u);
    EXPECT_EQ(g_unit.altModeByte2, 0x51);
    EXPECT_EQ(g_unit.unitFirmwareVersion, 0x00010203u);
    EXPECT_EQ(g_unit.unitFirmwareAux, 0x0A0B0C0Du);
    EXPECT_EQ(g_unit.controllerStatus, 0);
    EXPECT_EQ(ControllerTypeId(), 0u);
}

TEST_F(DeviceTest, ControllerThatCannotBeUpdatedNeedsOneExchange) {
    SimInterface unit = SimReadyUnit();
    unit.controller.status = 2;
    SimAddInterface(unit);
    EXPECT_EQ(OpenUnit(), 0);
    EXPECT_EQ(SentCommands(), std::vector<uint8_t>{CMD_GET_UNIT_INFO});
    EXPECT_EQ(g_unit.controllerStatus, 2);
    EXPECT_EQ(ControllerTypeId(), 0u);
    EXPECT_EQ(ControllerFirmwareVersion(), 0);
}

// Error replies to the two controller queries: a nonzero low word ends the
// identification with that code; a zero one counts as success without data.
TEST_F(DeviceTest, ControllerQueryErrorRepliesFollowTheShortCodeRule) {
    struct Case {
        const char* name;
        uint8_t command;
        uint32_t code;
        int32_t expected;
        std::vector<uint8_t> commands;
        uint16_t firmwareVersion;
        uint32_t typeId;
    };
    const std::vector<uint8_t> all = {CMD_GET_UNIT_INFO, CMD_READ_FIRMWARE_INFO,
                                      CMD_GET_CONTROLLER_INFO};
    const Case cases[] = {
        {"firmware info code 7",
         CMD_READ_FIRMWARE_INFO,
         7,
         7,
         {CMD_GET_UNIT_INFO, CMD_READ_FIRMWARE_INFO},
         0,
         0},
        {"firmware info code 7, high word set",
         CMD_READ_FIRMWARE_INFO,
         0x00030007,
         7,
         {CMD_GET_UNIT_INFO, CMD_READ_FIRMWARE_INFO},
         0,
         0},
        {"firmware info code 0", CMD_READ_FIRMWARE_INFO, 0, 0, all, 0,
         SUPPORTED_CONTROLLER_TYPES[0]},
        {"identity code 0", CMD_GET_CONTROLLER_INFO, 0, 0, all, 0x0304, 0},
        {"identity code 0x1234", CMD_GET_CONTROLLER_INFO, 0x1234, 0x1234, all, 0x0304, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        SimInterface unit = SimReadyUnit();
        unit.errorReplies.push_back({c.command, c.code});
        SimAddInterface(unit);
        EXPECT_EQ(OpenUnit(), c.expected);
        EXPECT_TRUE(UnitIsOpen());
        EXPECT_EQ(SentCommands(), c.commands);
        EXPECT_EQ(ControllerFirmwareVersion(), c.firmwareVersion);
        EXPECT_EQ(ControllerTypeId(), c.typeId);
        TearDown();
    }
}

// The replies to the unit query and the memory read are taken as they come.
TEST_F(DeviceTest, UnjudgedRepliesAreReadEvenWithTheErrorMark) {
    SimAddInterface(SimReadyUnit());
    Bytes unitInfo = Report({0x02, 0xFF, 0x00, 0x00, 0x03, 0x00});
    SetLe32(&unitInfo, 8, 0x00040506);
    SimArmReply(0, CMD_GET_UNIT_INFO, 1, unitInfo);
    EXPECT_EQ(OpenUnit(), 0);
    EXPECT_EQ(g_unit.controllerStatus, 3);
    EXPECT_EQ(g_unit.unitFirmwareVersion, 0x00040506u);
    EXPECT_EQ(SimSentRequests().size(), 3u);

    TearDown();
    SetUp();
    SimInterface unit = SimReadyUnit();
    unit.unitMode = 2;
    SimAddInterface(unit);
    Bytes memory = Report({0x02, 0xFF});
    SetLe32(&memory, 4, 0x00000007);
    SetLe32(&memory, 8, 0x00090807);
    SimArmReply(0, CMD_READ_MEMORY, 1, memory);
    EXPECT_EQ(OpenUnit(), 0);
    EXPECT_EQ(g_unit.unitFirmwareVersion, 0x00090807u);
}

// A failed transfer ends the identification at once; what was learnt before
// stays, and the unit stays open.
TEST_F(DeviceTest, TransferFailureStopsIdentificationKeepingWhatWasLearnt) {
    struct Case {
        int unitMode;
        uint32_t exchange;
        SimFault fault;
        int32_t expected;
    };
    const Case cases[] = {
        {0, 0, SimFault::WriteFails, -2}, {0, 0, SimFault::ReadFails, -3},
        {0, 0, SimFault::NoAnswer, -3},   {0, 1, SimFault::WriteFails, -2},
        {0, 1, SimFault::ReadFails, -3},  {0, 2, SimFault::WriteFails, -2},
        {0, 2, SimFault::ReadFails, -3},  {0, 2, SimFault::Unplugged, -2},
        {1, 1, SimFault::WriteFails, -2}, {1, 1, SimFault::NoAnswer, -3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.unitMode << " exchange " << c.exchange
                                        << " fault " << static_cast<int>(c.fault));
        SetUp();
        SimInterface unit = SimReadyUnit();
        unit.unitMode = static_cast<uint8_t>(c.unitMode);
        unit.altModeBytes[0] = 0x77;
        unit.controller.statusAux = 0x55;
        const int index = SimAddInterface(unit);
        // Mode 0 asks unit, firmware and controller information; another mode
        // reads the unit's memory after the unit query.
        static const uint8_t MODE_0_COMMANDS[] = {CMD_GET_UNIT_INFO, CMD_READ_FIRMWARE_INFO,
                                                  CMD_GET_CONTROLLER_INFO};
        const uint8_t command = c.unitMode == 0   ? MODE_0_COMMANDS[c.exchange]
                                : c.exchange == 0 ? CMD_GET_UNIT_INFO
                                                  : CMD_READ_MEMORY;
        SimArmFault(index, command, 1, c.fault);
        EXPECT_EQ(OpenUnit(), c.expected);
        EXPECT_EQ(SimExchangeCount(), c.exchange + 1);
        EXPECT_TRUE(UnitIsOpen());
        EXPECT_EQ(g_unit.productId, 2);
        EXPECT_NE(g_unit.devicePath, nullptr);
        // The unit query's values are kept once its reply was read.
        const bool unitInfoRead = c.exchange > 0;
        EXPECT_EQ(g_unit.unitMode, unitInfoRead ? c.unitMode : 0);
        EXPECT_EQ(g_unit.controllerStatusAux, unitInfoRead && c.unitMode == 0 ? 0x55 : 0);
        EXPECT_EQ(g_unit.altModeByte1, unitInfoRead && c.unitMode != 0 ? 0x77 : 0);
        EXPECT_EQ(ControllerFirmwareVersion(), c.exchange == 2 ? 0x0304 : 0);
        EXPECT_EQ(ControllerTypeId(), 0u);
        TearDown();
    }
}

TEST_F(DeviceTest, UnreadableCapabilitiesOrMissingPathEndIdentificationBeforeAnyExchange) {
    SimInterface unit = SimReadyUnit();
    unit.capsReadable = false;
    SimAddInterface(unit);
    EXPECT_EQ(OpenUnit(), -1);
    EXPECT_TRUE(UnitIsOpen());
    EXPECT_EQ(g_unit.inputReportLength, 0u);
    EXPECT_EQ(g_unit.outputReportLength, 0u);
    EXPECT_EQ(SimExchangeCount(), 0u);

    TearDown();
    SetUp();
    OpenIdentified();
    const uint32_t exchanges = SimExchangeCount();
    free(g_unit.devicePath);
    g_unit.devicePath = nullptr;
    EXPECT_EQ(IdentifyUnit(), -1);
    EXPECT_EQ(SimExchangeCount(), exchanges);
}
