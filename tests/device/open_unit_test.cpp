// Finding, opening and closing the unit: the first match wins, everything else is
// skipped and left closed, and the record is either fully closed or open.
#include "tests/device/device_fixture.h"
#include "device/wide_text.h"

namespace {

void ExpectClosed() {
    EXPECT_EQ(g_unit.deviceHandle, HID_INVALID_HANDLE);
    EXPECT_EQ(g_unit.devicePath, nullptr);
    EXPECT_EQ(g_unit.outputReportLength, 0u);
    EXPECT_EQ(g_unit.inputReportLength, 0u);
    EXPECT_EQ(g_unit.unitMode, 0);
    EXPECT_EQ(g_unit.unitFirmwareVersion, 0u);
    EXPECT_EQ(g_unit.unitFirmwareAux, 0u);
    EXPECT_EQ(g_unit.controllerStatus, 0);
    EXPECT_EQ(g_unit.controllerStatusAux, 0);
    EXPECT_EQ(g_unit.altModeByte1, 0);
    EXPECT_EQ(g_unit.altModeWord, 0);
    EXPECT_EQ(g_unit.altModeDword1, 0u);
    EXPECT_EQ(g_unit.altModeDword2, 0u);
    EXPECT_EQ(g_unit.altModeByte2, 0);
    EXPECT_EQ(Bytes(g_unit.controllerFirmwareInfo, g_unit.controllerFirmwareInfo + 32),
              Bytes(32, 0));
    EXPECT_EQ(Bytes(g_unit.controllerInfo, g_unit.controllerInfo + 40), Bytes(40, 0));
    EXPECT_EQ(g_unit.productId, 0);
    EXPECT_FALSE(UnitIsOpen());
}

SimInterface Device(uint16_t vendorId, uint16_t productId) {
    SimInterface device = SimReadyUnit();
    device.vendorId = vendorId;
    device.productId = productId;
    return device;
}

} // namespace

TEST_F(DeviceTest, StartUpResetLeavesTheRecordClosed) {
    ExpectClosed();
}

TEST_F(DeviceTest, NoInterfacesOrNoListLeaveTheRecordClosed) {
    EXPECT_EQ(OpenUnit(), -4);
    ExpectClosed();
    SimAddInterface(SimReadyUnit());
    SimSetInterfaceListFails(true);
    EXPECT_EQ(OpenUnit(), -1);
    ExpectClosed();
    EXPECT_EQ(SimOpenCount(0), 0);
}

// Which interface the search takes: the first programming unit in enumeration
// order. Every interface before it is closed again (or never opened), every
// interface after it is never touched.
TEST_F(DeviceTest, SearchTakesTheFirstProgrammingUnitAndSkipsTheRest) {
    SimInterface unopenable = Device(0x3A5D, 2);
    unopenable.openable = false;
    SimInterface pathless = Device(0x3A5D, 2);
    pathless.pathReadable = false;
    SimInterface noAttributes = Device(0x3A5D, 1);
    noAttributes.attributesReadable = false;

    struct Case {
        const char* name;
        std::vector<SimInterface> present;
        int32_t result;
        int taken;                   // index of the opened interface, -1 for none
        std::vector<int> openCounts; // per interface, after the search
    };
    const Case cases[] = {
        {"other product of the vendor", {Device(0x3A5D, 3)}, -4, -1, {1}},
        {"product 0 of the vendor", {Device(0x3A5D, 0)}, -4, -1, {1}},
        {"other vendors", {Device(0x1234, 1), Device(0x3A5C, 2)}, -4, -1, {1, 1}},
        {"product 1", {Device(0x3A5D, 1)}, 0, 0, {1}},
        {"two units, first wins", {Device(0x3A5D, 1), Device(0x3A5D, 2)}, 0, 0, {1, 0}},
        {"after non-units",
         {Device(0x3A5D, 3), Device(0x1234, 2), Device(0x3A5D, 2)},
         0,
         2,
         {1, 1, 1}},
        {"held elsewhere", {unopenable, Device(0x3A5D, 1)}, 0, 1, {0, 1}},
        {"path unreadable", {pathless, Device(0x3A5D, 1)}, 0, 1, {0, 1}},
        {"attributes unreadable", {noAttributes, Device(0x3A5D, 2)}, 0, 1, {1, 1}},
        {"only unusable units", {unopenable, pathless, noAttributes}, -4, -1, {0, 0, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        for (const SimInterface& device : c.present) {
            SimAddInterface(device);
        }
        EXPECT_EQ(OpenUnit(), c.result);
        std::vector<int> openCounts;
        for (int i = 0; i < SimInterfaceCount(); ++i) {
            openCounts.push_back(SimOpenCount(i));
        }
        EXPECT_EQ(openCounts, c.openCounts);
        EXPECT_EQ(SimInterfaceSetCount(), 0);
        if (c.taken < 0) {
            ExpectClosed();
            EXPECT_EQ(SimOpenHandleCount(), 0);
        } else {
            const SimInterface& taken = SimGetInterface(c.taken);
            EXPECT_EQ(SimOpenHandleCount(), 1);
            EXPECT_EQ(g_unit.productId, taken.productId);
            EXPECT_EQ(std::u16string(g_unit.devicePath), taken.path);
            // Only the taken interface was talked to.
            for (const SimWireRecord& record : SimWireLog()) {
                EXPECT_EQ(record.interfaceIndex, c.taken);
            }
        }
        TearDown();
    }
}

TEST_F(DeviceTest, UnpluggedInterfacesAreNotFound) {
    SimAddInterface(Device(0x3A5D, 1));
    SimAddInterface(Device(0x3A5D, 2));
    SimUnplug(0);
    EXPECT_EQ(OpenUnit(), 0);
    EXPECT_EQ(g_unit.productId, 2);
}

// Opening again closes the open unit first, and closing twice closes once.
TEST_F(DeviceTest, OpenOnAnOpenRecordClosesTheOldHandleAndPathFirst) {
    const int first = OpenIdentified();
    const HidHandle oldHandle = g_unit.deviceHandle;
    SimUnplug(first);
    const int second = SimAddInterface(Device(0x3A5D, 1));
    const uint32_t closesBefore = SimCloseCount();

    EXPECT_EQ(OpenUnit(), 0);
    EXPECT_EQ(SimCloseCount(), closesBefore + 1);
    EXPECT_NE(g_unit.deviceHandle, oldHandle);
    EXPECT_EQ(SimOpenHandleCount(), 1);
    EXPECT_EQ(std::u16string(g_unit.devicePath), SimGetInterface(second).path);
    EXPECT_EQ(g_unit.productId, 1);

    CloseUnit();
    ExpectClosed();
    const uint32_t closesAfter = SimCloseCount();
    CloseUnit();
    ExpectClosed();
    EXPECT_EQ(SimCloseCount(), closesAfter);
}

// The record owns its copy of the path: it outlives the interface list it came
// from, whatever the list's memory holds afterwards.
TEST_F(DeviceTest, DevicePathIsAnOwnedCopy) {
    OpenIdentified();
    HidInterfaceSet* set = HidGetInterfaceSet();
    const char16_t* listed = nullptr;
    ASSERT_EQ(HidGetInterfacePath(set, 0, &listed), HID_ENTRY_OK);
    EXPECT_NE(listed, g_unit.devicePath);
    EXPECT_TRUE(WideEqualNoCase(listed, g_unit.devicePath));
    HidDestroyInterfaceSet(set);
    EXPECT_EQ(std::u16string(g_unit.devicePath), SimGetInterface(0).path);
}

// A unit the search sees but cannot take is remembered, with its path and why,
// for the pane to explain; anything else that is refused is not.
TEST_F(DeviceTest, AUnitSeenButNotTakenIsRememberedWithItsPathAndWhy) {
    SimInterface denied = Device(0x3A5D, 1);
    denied.path = u"/dev/hidraw3";
    denied.accessDenied = true;
    SimInterface held = Device(0x3A5D, 2);
    held.path = u"/dev/hidraw5";
    held.claimedElsewhere = true;
    SimInterface deniedOther = Device(0x046D, 2);
    deniedOther.accessDenied = true;
    SimInterface deniedOtherProduct = Device(0x3A5D, 3);
    deniedOtherProduct.accessDenied = true;
    SimInterface unopenable = Device(0x3A5D, 2);
    unopenable.openable = false;

    struct Case {
        const char* name;
        std::vector<SimInterface> present;
        int32_t result;
        UnitRefusal refusal;
        const char16_t* path;
    };
    const Case cases[] = {
        {"access denied", {deniedOther, denied}, -4, UnitRefusal::AccessDenied, u"/dev/hidraw3"},
        {"held by another copy", {held}, -4, UnitRefusal::HeldByAnotherCopy, u"/dev/hidraw5"},
        {"the first of two is kept",
         {held, denied},
         -4,
         UnitRefusal::HeldByAnotherCopy,
         u"/dev/hidraw5"},
        {"other devices denied", {deniedOther, deniedOtherProduct}, -4, UnitRefusal::None, nullptr},
        {"held exclusively, not for want of permission",
         {unopenable},
         -4,
         UnitRefusal::None,
         nullptr},
        {"a unit taken after a refused one",
         {denied, Device(0x3A5D, 2)},
         0,
         UnitRefusal::None,
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        for (const SimInterface& device : c.present) {
            SimAddInterface(device);
        }
        EXPECT_EQ(OpenUnit(), c.result);
        const char16_t* path = u"untouched";
        EXPECT_EQ(RefusedUnit(&path), c.refusal);
        if (c.path == nullptr) {
            EXPECT_EQ(path, nullptr);
        } else {
            ASSERT_NE(path, nullptr);
            EXPECT_EQ(std::u16string(path), c.path);
        }
        if (c.result != 0) {
            // A held unit was opened to be recognised, then let go untouched.
            EXPECT_EQ(SimOpenHandleCount(), 0);
            EXPECT_TRUE(SimWireLog().empty());
        }
        TearDown();
    }
}

TEST_F(DeviceTest, TheNextSearchForgetsARefusedUnit) {
    SimInterface held = Device(0x3A5D, 2);
    held.claimedElsewhere = true;
    const int index = SimAddInterface(held);
    EXPECT_EQ(OpenUnit(), -4);
    EXPECT_EQ(RefusedUnit(nullptr), UnitRefusal::HeldByAnotherCopy);
    SimGetInterface(index).claimedElsewhere = false;
    EXPECT_EQ(OpenUnit(), 0);
    EXPECT_EQ(RefusedUnit(nullptr), UnitRefusal::None);
    CloseUnit();
    SimUnplug(index);
    EXPECT_EQ(OpenUnit(), -4);
    EXPECT_EQ(RefusedUnit(nullptr), UnitRefusal::None);
}
