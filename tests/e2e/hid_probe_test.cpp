// Runs as emulated_unit's child: the real Linux HID layer and plain system calls
// against the emulated unit's hidraw node, with the emulator's control FIFOs
// (EMULATED_UNIT_CONTROL) to arm faults, plug, unplug and look at the flash.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "app/detection.h"
#include "device/command_reports.h"
#include "device/hid/hid_port.h"
#include "device/hid/clock_port.h"
#include "device/unit_connection.h"
#include "res/resource_data.h"
#include "res/resource_ids.h"
#include "tests/e2e/emulator_control.h"
#include "tests/support/recording_ui.h"
#include "tests/support/virtual_clock.h"
#include "update/update_procedure.h"

namespace {

const char* const NODE = "/dev/hidraw0";

bool Readable(int fd, int waitMs = 0) {
    pollfd request = {fd, POLLIN, 0};
    return poll(&request, 1, waitMs) == 1 && (request.revents & POLLIN);
}

std::vector<uint8_t> Request(uint8_t command) {
    std::vector<uint8_t> report(60, 0);
    report[0] = 0x01;
    report[1] = command;
    return report;
}

// Waits for one uevent of the hidraw node; its action, or "" after 3 s.
std::string NextHidrawEvent(udev_monitor* monitor) {
    pollfd request = {udev_monitor_get_fd(monitor), POLLIN, 0};
    if (poll(&request, 1, 3000) != 1) {
        return "";
    }
    udev_device* device = udev_monitor_receive_device(monitor);
    if (device == nullptr) {
        return "";
    }
    const char* node = udev_device_get_devnode(device);
    std::string action = udev_device_get_action(device);
    if (node == nullptr || std::string(node) != NODE) {
        action = "other";
    }
    udev_device_unref(device);
    return action;
}

// Runs OpenUnit in a process of its own, as another copy of the program would;
// true when it returned `expected` there.
// Refused, that copy says why in its pane, after the no-unit text and the
// instructions.
bool AnotherCopyOpens(int32_t expected) {
    const pid_t child = fork();
    if (child == 0) {
        ResetUnitConnection();
        if (OpenUnit() != expected) {
            _exit(1);
        }
        if (expected == OPEN_NO_UNIT) {
            RecordingUiReset();
            DetectUnit();
            const std::u16string pane = TableText(IDS_NO_UNIT) + u"\r\n\r\n" +
                                        TableText(IDS_INSTRUCTIONS) + u"\r\n\r\n" +
                                        TableText(IDS_UNIT_HELD_ELSEWHERE);
            _exit(RefusedUnit(nullptr) == UnitRefusal::HeldByAnotherCopy &&
                          g_ui.texts[IDC_STATUS_PANE] == pane
                      ? 0
                      : 2);
        }
        _exit(0);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

class EmulatedUnit : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(EmulatorControlDir().empty()) << "run as emulated_unit --control DIR -- this";
        RecordingUiReset();
        VirtualClockReset();
        ResetUnitConnection();
    }
    void TearDown() override { CloseUnit(); }
};

// Every reader of the node receives every reply: a second copy of the program,
// started while the first has the unit, must not talk to it.
TEST_F(EmulatedUnit, AnotherCopyFindsNoUnitWhileOneHasItOpen) {
    ASSERT_EQ(0, OpenUnit());
    EXPECT_TRUE(AnotherCopyOpens(OPEN_NO_UNIT));
    CloseUnit();
    EXPECT_TRUE(AnotherCopyOpens(0));
}

TEST_F(EmulatedUnit, IdentifiesAsAUsbHidUnitWithTheControllerGiven) {
    ASSERT_EQ(0, OpenUnit());
    EXPECT_EQ(u"/dev/hidraw0", std::u16string(g_unit.devicePath));
    EXPECT_EQ(UNIT_PRODUCT_LINK_CUBE, g_unit.productId);
    EXPECT_EQ(60u, g_unit.inputReportLength);
    EXPECT_EQ(60u, g_unit.outputReportLength);
    EXPECT_EQ(3, g_unit.controllerStatus);
    EXPECT_EQ(0x0302, ControllerFirmwareVersion()); // --unit firmware=0x0302
    EXPECT_EQ(SUPPORTED_CONTROLLER_TYPES[0], ControllerTypeId());

    // The chain other HID stacks read: hid parent, USB interface and device.
    udev* context = udev_new();
    udev_device* hidraw = udev_device_new_from_subsystem_sysname(context, "hidraw", "hidraw0");
    ASSERT_NE(nullptr, hidraw);
    udev_device* hid = udev_device_get_parent_with_subsystem_devtype(hidraw, "hid", nullptr);
    udev_device* interface =
        udev_device_get_parent_with_subsystem_devtype(hidraw, "usb", "usb_interface");
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(hidraw, "usb", "usb_device");
    ASSERT_TRUE(hid != nullptr && interface != nullptr && usb != nullptr);
    EXPECT_STREQ("0003:00003A5D:00000002", udev_device_get_property_value(hid, "HID_ID"));
    EXPECT_STREQ("03", udev_device_get_sysattr_value(interface, "bInterfaceClass"));
    EXPECT_STREQ("00", udev_device_get_sysattr_value(interface, "bInterfaceNumber"));
    EXPECT_STREQ("3a5d", udev_device_get_sysattr_value(usb, "idVendor"));
    EXPECT_STREQ("0002", udev_device_get_sysattr_value(usb, "idProduct"));
    EXPECT_STREQ("LINK-CUBE", udev_device_get_sysattr_value(usb, "product"));
    udev_device_unref(hidraw);
    udev_unref(context);

    const int fd = open(NODE, O_RDWR | O_NONBLOCK);
    ASSERT_LE(0, fd);
    char name[8] = {};
    EXPECT_EQ(8, ioctl(fd, HIDIOCGRAWNAME(sizeof name), name)); // cut to the buffer
    EXPECT_EQ(0, std::memcmp("VESPRA L", name, 8));
    char phys[64] = {};
    EXPECT_LT(0, ioctl(fd, HIDIOCGRAWPHYS(sizeof phys), phys));
    EXPECT_STREQ("usb-0000:00:14.0-1/input0", phys);
    close(fd);
}

// The node polls readable exactly while a reply waits, one token per reply; each
// fault kind shows on the node as a real unit's failure would.
TEST_F(EmulatedUnit, NodeIsReadableExactlyWhileARepliesWait) {
    struct Case {
        const char* fault;      // armed for the next CMD_GET_UNIT_INFO; "" none
        int writeErrno;         // 0: the write succeeds
        std::vector<int> reads; // byte counts, or -errno
    };
    const Case cases[] = {
        {"", 0, {60}},
        {"double-reply", 0, {60, 60}},
        {"short-reply", 0, {4}},
        {"error-reply 0x55", 0, {60}},
        {"read-fails", 0, {-EIO}},
        {"no-answer", 0, {}},
        {"write-fails", EIO, {}},
    };
    const int fd = open(NODE, O_RDWR | O_NONBLOCK);
    ASSERT_LE(0, fd);
    EXPECT_FALSE(Readable(fd));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        if (c.fault[0] != '\0') {
            ASSERT_EQ("ok", AskEmulatedUnit(std::string("fault CMD_GET_UNIT_INFO 1 ") + c.fault));
        }
        const std::vector<uint8_t> request = Request(CMD_GET_UNIT_INFO);
        const ssize_t written = write(fd, request.data(), request.size());
        if (c.writeErrno != 0) {
            EXPECT_EQ(-1, written);
            EXPECT_EQ(c.writeErrno, errno);
        } else {
            EXPECT_EQ(60, written);
        }
        for (int expected : c.reads) {
            ASSERT_TRUE(Readable(fd, 1000));
            uint8_t reply[64] = {};
            const ssize_t got = read(fd, reply, sizeof reply);
            EXPECT_EQ(expected, got < 0 ? -errno : int(got));
            if (got == 60 && std::strstr(c.fault, "error-reply") != nullptr) {
                EXPECT_EQ(0xFF, reply[1]);
                EXPECT_EQ(0x55, reply[4]);
            } else if (got > 1) {
                EXPECT_EQ(0x02, reply[0]);
                EXPECT_NE(0xFF, reply[1]);
            }
        }
        EXPECT_FALSE(Readable(fd, c.reads.empty() ? 200 : 0));
        uint8_t none[64];
        EXPECT_EQ(-1, read(fd, none, sizeof none));
        EXPECT_EQ(EAGAIN, errno);
    }
    close(fd);
}

// A late reply waits until the reader has given up (HID_READ_TIMEOUT_MS) and
// then stays on the node for whoever reads next.
TEST_F(EmulatedUnit, LateReplyArrivesAfterTheReadTimeOut) {
    const int fd = open(NODE, O_RDWR | O_NONBLOCK);
    ASSERT_LE(0, fd);
    ASSERT_EQ("ok", AskEmulatedUnit("fault CMD_GET_CONTROLLER_INFO 1 late-reply"));
    const std::vector<uint8_t> request = Request(CMD_GET_CONTROLLER_INFO);
    ASSERT_EQ(60, write(fd, request.data(), request.size()));
    EXPECT_FALSE(Readable(fd, int(HID_READ_TIMEOUT_MS) - 500));
    ASSERT_TRUE(Readable(fd, 3000));
    uint8_t reply[64] = {};
    EXPECT_EQ(60, read(fd, reply, sizeof reply));
    EXPECT_EQ(CMD_GET_CONTROLLER_INFO, reply[1]);
    EXPECT_FALSE(Readable(fd));
    close(fd);
}

// Unplugging sends a real remove uevent and kills handles opened before, as a
// vanished hidraw device does; plugging in again adds a fresh node.
TEST_F(EmulatedUnit, PluggingIsSeenThroughUeventsAndKillsOldHandles) {
    udev* context = udev_new();
    udev_monitor* monitor = udev_monitor_new_from_netlink(context, "udev");
    ASSERT_NE(nullptr, monitor);
    udev_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr);
    ASSERT_EQ(0, udev_monitor_enable_receiving(monitor));

    const int old = open(NODE, O_RDWR | O_NONBLOCK);
    ASSERT_LE(0, old);
    ASSERT_EQ("ok", AskEmulatedUnit("unplug"));
    EXPECT_EQ("remove", NextHidrawEvent(monitor));
    EXPECT_EQ("error not plugged", AskEmulatedUnit("unplug"));
    EXPECT_EQ(0, AskEmulatedUnit("state").find("ok plugged=0 "));
    HidInterfaceSet* set = HidGetInterfaceSet();
    EXPECT_EQ(HID_ENTRY_END, HidGetInterfacePath(set, 0, nullptr));
    HidDestroyInterfaceSet(set);

    ASSERT_EQ("ok", AskEmulatedUnit("plug"));
    EXPECT_EQ("add", NextHidrawEvent(monitor));
    EXPECT_EQ(0, OpenUnit());
    // The old handle stays dead: readable, and every call fails.
    const std::vector<uint8_t> request = Request(CMD_GET_UNIT_INFO);
    EXPECT_EQ(-1, write(old, request.data(), request.size()));
    EXPECT_EQ(ENODEV, errno);
    EXPECT_TRUE(Readable(old));
    uint8_t reply[64];
    EXPECT_EQ(-1, read(old, reply, sizeof reply));
    EXPECT_EQ(EIO, errno);
    close(old);

    // A fault can take the unit away in the middle of an exchange.
    ASSERT_EQ("ok", AskEmulatedUnit("fault CMD_READ_FIRMWARE_INFO 1 unplug"));
    CloseUnit();
    EXPECT_NE(0, OpenUnit());
    EXPECT_EQ(uint32_t(ENODEV), PlatformLastError());
    EXPECT_EQ("remove", NextHidrawEvent(monitor));
    CloseUnit();
    ASSERT_EQ("ok", AskEmulatedUnit("plug"));
    EXPECT_EQ("add", NextHidrawEvent(monitor));
    EXPECT_EQ(0, OpenUnit());

    udev_monitor_unref(monitor);
    udev_unref(context);
}

TEST_F(EmulatedUnit, WholeUpdateLeavesTheImageInTheFlash) {
    ASSERT_EQ(0, OpenUnit());
    const std::string image = testing::TempDir() + "e2e_probe_image.bin";
    FILE* file = std::fopen(image.c_str(), "wb");
    ASSERT_NE(nullptr, file);
    std::fwrite(ResFirmwareImageData(), 1, ResFirmwareImageSize(), file);
    std::fclose(file);
    EXPECT_EQ(0, AskEmulatedUnit("flash-matches " + image).find("ok differs "));
    ASSERT_EQ("ok", AskEmulatedUnit("stats-reset"));

    UpdateProcedure();

    EXPECT_EQ(TableText(IDS_UPDATE_SUCCESSFUL), g_ui.texts[IDC_STATUS_PANE]);
    EXPECT_EQ("ok match", AskEmulatedUnit("flash-matches " + image));
    EXPECT_EQ("ok plugged=1 lock=0 protect=1 erased=0 blocks=2037", AskEmulatedUnit("state"));
    long long exchanges = 0, first = 0, last = 0;
    ASSERT_EQ(3, std::sscanf(AskEmulatedUnit("stats").c_str(),
                             "ok exchanges=%lld first_ms=%lld last_ms=%lld", &exchanges, &first,
                             &last));
    EXPECT_LT(2037, exchanges);
    EXPECT_LE(first, last);
    std::remove(image.c_str());
}

// Runs with --unit absent --unit product=1.
TEST_F(EmulatedUnit, AbsentUnitIsFoundOncePlugged) {
    EXPECT_EQ(OPEN_NO_UNIT, OpenUnit());
    EXPECT_EQ(0, AskEmulatedUnit("state").find("ok plugged=0 "));
    ASSERT_EQ("ok", AskEmulatedUnit("plug"));
    ASSERT_EQ(0, OpenUnit());
    EXPECT_EQ(UNIT_PRODUCT_DIALPOD, g_unit.productId);
    EXPECT_EQ("error unknown fault sideways", AskEmulatedUnit("fault CMD_WRITE_BLOCK 1 sideways"));
    EXPECT_EQ("error unknown command CMD_NONE", AskEmulatedUnit("fault CMD_NONE 1 no-answer"));
}

} // namespace
