// The real Linux HID layer and the udev hotplug monitor against emulated hidraw
// devices: an emulated sysfs and /dev whose ioctl, read and write calls this
// test answers the way a programming unit would. Runs under umockdev-wrapper.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <linux/hidraw.h>
#include <mutex>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <umockdev.h>
#include <unistd.h>
#include <vector>

#include "app/detection.h"
#include "app/linux/device_events_port.h"
#include "device/command_reports.h"
#include "device/hid/hid_port.h"
#include "device/hid/clock_port.h"
#include "device/unit_connection.h"
#include "res/resource_data.h"
#include "res/resource_ids.h"
#include "tests/support/recording_ui.h"
#include "tests/support/virtual_clock.h"
#include "update/update_procedure.h"

namespace {

typedef std::vector<uint8_t> Bytes;

const Bytes UNIT_DESCRIPTOR = {
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF,
    0x00, 0x75, 0x08, 0x85, 0x01, 0x95, 0x3B, 0x09, 0x01, 0x91, 0x02, // output report 1, 59 bytes
    0x85, 0x02, 0x95, 0x3B, 0x09, 0x01, 0x81, 0x02,                   // input report 2, 59 bytes
    0xC0,
};

// A boot keyboard: 8-byte input and 1-byte output reports, no report IDs.
const Bytes KEYBOARD_DESCRIPTOR = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15, 0x00, 0x25, 0x01,
    0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x95, 0x01, 0x75, 0x08, 0x81, 0x01, 0x95, 0x05, 0x75, 0x01,
    0x05, 0x08, 0x19, 0x01, 0x29, 0x05, 0x91, 0x02, 0x95, 0x01, 0x75, 0x03, 0x91, 0x01, 0x95, 0x06,
    0x75, 0x08, 0x15, 0x00, 0x25, 0x65, 0x05, 0x07, 0x19, 0x00, 0x29, 0x65, 0x81, 0x00, 0xC0,
};

constexpr uint32_t CONTROLLER_TYPE = SUPPORTED_CONTROLLER_TYPES[0];

void PutLe32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

uint32_t GetLe32(const uint8_t* at) {
    return at[0] | (at[1] << 8) | (at[2] << 16) | (uint32_t(at[3]) << 24);
}

// One emulated hidraw node. The ioctl handler runs on umockdev's own thread, so
// everything the test reads back goes through the mutex.
struct EmulatedDevice {
    std::string name; // "hidraw2"
    uint16_t vendor = 0x3A5D;
    uint16_t product = 2;
    Bytes descriptor = UNIT_DESCRIPTOR;
    bool speaksProtocol = true; // a unit; otherwise it never answers
    bool writesFail = false;
    size_t writeCount = 0;  // nonzero: a write reports this many bytes as sent
    size_t replyBytes = 60; // the unit answers with only the first so many bytes

    std::mutex lock;
    std::vector<Bytes> requests;
    std::deque<Bytes> replies; // input reports queued on the node
    bool lockSet = false, protectCleared = false, erased = false, addressSet = false;
    Bytes flash;
    int blocks = 0;

    std::string syspath;
    UMockdevIoctlBase* handler = nullptr;
    // Set: when asked for its identity, the device tries to lock this file (the
    // node's file in the testbed) as its own client would, and keeps the result:
    // 0, or the errno of the refusal.
    std::string lockProbeFile;
    std::vector<int> lockProbeResults;

    std::string node() const { return "/dev/" + name; }

    Bytes Answer(const Bytes& request) {
        Bytes reply(60, 0);
        reply[0] = 0x02;
        auto errorReply = [&reply](uint32_t code) {
            reply[1] = 0xFF;
            PutLe32(&reply[4], code);
        };
        switch (request.size() > 1 ? request[1] : 0) {
        case CMD_GET_UNIT_INFO:
            reply[3] = 0; // serves the controller
            reply[4] = 3; // an updatable controller is attached
            PutLe32(&reply[8], 0x00000203);
            break;
        case CMD_READ_FIRMWARE_INFO:
            reply[8] = 0x04; // controller firmware 3.4
            reply[9] = 0x03;
            break;
        case CMD_GET_CONTROLLER_INFO:
            PutLe32(&reply[4], CONTROLLER_TYPE);
            PutLe32(&reply[8], 0x00000102);
            break;
        case CMD_SYSTEM_LOCK:
            lockSet = request[3] == 1;
            reply[3] = lockSet ? 1 : 0;
            break;
        case CMD_WRITE_PROTECT:
            protectCleared = request[3] == 0;
            reply[3] = protectCleared ? 0 : 1;
            break;
        case CMD_ERASE_FIRMWARE:
            if (!lockSet || !protectCleared || GetLe32(&request[4]) != GUARD_WORD) {
                errorReply(4);
                break;
            }
            erased = true;
            flash.clear();
            break;
        case CMD_SET_WRITE_ADDRESS:
            if (!erased || GetLe32(&request[8]) != GUARD_WORD || GetLe32(&request[4]) != 0) {
                errorReply(4);
                break;
            }
            addressSet = true;
            break;
        case CMD_WRITE_BLOCK:
            if (!addressSet || request[2] > 56 || request.size() < 4u + request[2]) {
                errorReply(4);
                break;
            }
            flash.insert(flash.end(), request.begin() + 4, request.begin() + 4 + request[2]);
            ++blocks;
            break;
        default:
            errorReply(1);
            break;
        }
        return reply;
    }
};

gboolean HandleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    EmulatedDevice* device = static_cast<EmulatedDevice*>(data);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    size_t size = 0;
    if (request == HIDIOCGRDESCSIZE) {
        size = sizeof(int);
    } else if (request == HIDIOCGRDESC) {
        size = sizeof(hidraw_report_descriptor);
    } else if (request == HIDIOCGRAWINFO) {
        size = sizeof(hidraw_devinfo);
    } else {
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
        return TRUE;
    }
    UMockdevIoctlData* target = umockdev_ioctl_data_resolve(arg, 0, size, nullptr);
    if (target == nullptr) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return TRUE;
    }
    // Written through update() so that umockdev copies it back to the caller.
    if (request == HIDIOCGRDESCSIZE) {
        int length = static_cast<int>(device->descriptor.size());
        umockdev_ioctl_data_update(target, 0, reinterpret_cast<guint8*>(&length), sizeof length);
    } else if (request == HIDIOCGRDESC) {
        uint32_t asked = 0;
        std::memcpy(&asked, target->data, sizeof asked);
        Bytes value = device->descriptor;
        value.resize(std::min<size_t>(asked, value.size()));
        umockdev_ioctl_data_update(target, offsetof(hidraw_report_descriptor, value), value.data(),
                                   static_cast<gint>(value.size()));
    } else {
        if (!device->lockProbeFile.empty()) {
            const int fd = open(device->lockProbeFile.c_str(), O_RDONLY | O_CLOEXEC);
            int result = fd < 0 ? errno : 0;
            if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0) {
                result = errno;
            }
            if (fd >= 0) {
                close(fd);
            }
            std::lock_guard<std::mutex> guard(device->lock);
            device->lockProbeResults.push_back(result);
        }
        hidraw_devinfo info = {3, static_cast<__s16>(device->vendor),
                               static_cast<__s16>(device->product)};
        umockdev_ioctl_data_update(target, 0, reinterpret_cast<guint8*>(&info), sizeof info);
    }
    umockdev_ioctl_client_complete(client, 0, 0);
    g_object_unref(target);
    return TRUE;
}

gboolean HandleWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    EmulatedDevice* device = static_cast<EmulatedDevice*>(data);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard<std::mutex> guard(device->lock);
    if (device->writesFail) {
        umockdev_ioctl_client_complete(client, -1, EIO);
        return TRUE;
    }
    const Bytes request(arg->data, arg->data + arg->data_len);
    device->requests.push_back(request);
    if (device->speaksProtocol) {
        Bytes reply = device->Answer(request);
        reply.resize(std::min(reply.size(), device->replyBytes));
        device->replies.push_back(reply);
    }
    const long sent = device->writeCount != 0 ? long(device->writeCount) : long(arg->data_len);
    umockdev_ioctl_client_complete(client, sent, 0);
    return TRUE;
}

gboolean HandleRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    EmulatedDevice* device = static_cast<EmulatedDevice*>(data);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard<std::mutex> guard(device->lock);
    if (device->replies.empty()) {
        // Nothing to report yet: what a hidraw node opened without blocking says.
        umockdev_ioctl_client_complete(client, -1, EAGAIN);
        return TRUE;
    }
    Bytes reply = device->replies.front();
    device->replies.pop_front();
    const size_t length = std::min<size_t>(arg->data_len, reply.size());
    umockdev_ioctl_data_update(arg, 0, reply.data(), static_cast<gint>(length));
    umockdev_ioctl_client_complete(client, static_cast<long>(length), 0);
    return TRUE;
}

// Without the preloaded library every call would reach the real /sys and /dev.
bool PreloadActive() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr;
}

class EmulatedHidraw : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(PreloadActive()) << "run under umockdev-wrapper";
        testbed = umockdev_testbed_new();
        RecordingUiReset();
        VirtualClockReset();
        ResetUnitConnection();
    }

    void TearDown() override {
        CloseUnit();
        if (testbed == nullptr) {
            return;
        }
        for (EmulatedDevice* device : devices) {
            Remove(device);
            delete device;
        }
        g_object_unref(testbed);
    }

    EmulatedDevice* Add(const std::string& name, std::function<void(EmulatedDevice*)> adjust = {}) {
        EmulatedDevice* device = new EmulatedDevice;
        device->name = name;
        if (adjust) {
            adjust(device);
        }
        devices.push_back(device);
        Plug(device);
        return device;
    }

    void Plug(EmulatedDevice* device) {
        const std::string minor = device->name.substr(6);
        gchar* syspath = umockdev_testbed_add_device(
            testbed, "hidraw", device->name.c_str(), nullptr, "dev", ("241:" + minor).c_str(),
            nullptr, "DEVNAME", device->node().c_str(), nullptr);
        device->syspath = syspath;
        g_free(syspath);
        // The testbed records the node but leaves the file to open to us.
        gchar* root = umockdev_testbed_get_root_dir(testbed);
        const std::string file = std::string(root) + device->node();
        g_free(root);
        FILE* node = std::fopen(file.c_str(), "w");
        ASSERT_NE(nullptr, node) << file;
        std::fclose(node);
        device->handler = umockdev_ioctl_base_new();
        g_signal_connect(device->handler, "handle-ioctl", G_CALLBACK(HandleIoctl), device);
        g_signal_connect(device->handler, "handle-read", G_CALLBACK(HandleRead), device);
        g_signal_connect(device->handler, "handle-write", G_CALLBACK(HandleWrite), device);
        GError* error = nullptr;
        ASSERT_TRUE(
            umockdev_testbed_attach_ioctl(testbed, device->node().c_str(), device->handler, &error))
            << (error != nullptr ? error->message : "");
    }

    void Remove(EmulatedDevice* device) {
        if (device->handler == nullptr) {
            return;
        }
        umockdev_testbed_detach_ioctl(testbed, device->node().c_str(), nullptr);
        g_object_unref(device->handler);
        device->handler = nullptr;
        umockdev_testbed_uevent(testbed, device->syspath.c_str(), "remove");
        umockdev_testbed_remove_device(testbed, device->syspath.c_str());
    }

    UMockdevTestbed* testbed = nullptr;
    std::vector<EmulatedDevice*> devices;
};

std::u16string Path(const std::string& node) {
    return std::u16string(node.begin(), node.end());
}

TEST_F(EmulatedHidraw, ListsNodesInNumericOrderWithTheirIdentityAndReportLengths) {
    Add("hidraw10");
    Add("hidraw2", [](EmulatedDevice* d) {
        d->vendor = 0x046D;
        d->product = 0xC31C;
        d->descriptor = KEYBOARD_DESCRIPTOR;
    });
    Add("hidraw1", [](EmulatedDevice* d) { d->product = 1; });

    struct Expected {
        const char* node;
        uint16_t vendor, product, input, output;
    };
    const Expected expected[] = {
        {"/dev/hidraw1", 0x3A5D, 1, 60, 60},
        {"/dev/hidraw2", 0x046D, 0xC31C, 9, 2}, // no report IDs: the ID byte counts all the same
        {"/dev/hidraw10", 0x3A5D, 2, 60, 60},
    };
    HidInterfaceSet* set = HidGetInterfaceSet();
    ASSERT_NE(nullptr, set);
    for (uint32_t i = 0; i < 3; ++i) {
        const char16_t* path = nullptr;
        ASSERT_EQ(HID_ENTRY_OK, HidGetInterfacePath(set, i, &path));
        EXPECT_EQ(Path(expected[i].node), path);
        const HidHandle handle = HidOpenInterface(path);
        ASSERT_NE(HID_INVALID_HANDLE, handle)
            << expected[i].node << " " << strerror(PlatformLastError());
        uint16_t vendor = 0, product = 0, input = 0, output = 0;
        EXPECT_EQ(0, HidGetAttributes(handle, &vendor, &product));
        EXPECT_EQ(0, HidGetReportLengths(handle, &input, &output));
        EXPECT_EQ(expected[i].vendor, vendor);
        EXPECT_EQ(expected[i].product, product);
        EXPECT_EQ(expected[i].input, input);
        EXPECT_EQ(expected[i].output, output);
        HidCloseInterface(handle);
    }
    EXPECT_EQ(HID_ENTRY_END, HidGetInterfacePath(set, 3, nullptr));
    HidDestroyInterfaceSet(set);
}

TEST_F(EmulatedHidraw, OpenUnitSkipsOtherDevicesAndIdentifiesTheUnit) {
    Add("hidraw0", [](EmulatedDevice* d) {
        d->vendor = 0x3A5D;
        d->product = 3; // the maker's, but no programming unit
        d->speaksProtocol = false;
    });
    EmulatedDevice* unit = Add("hidraw1");

    ASSERT_EQ(0, OpenUnit());
    EXPECT_EQ(u"/dev/hidraw1", std::u16string(g_unit.devicePath));
    EXPECT_EQ(2, g_unit.productId);
    EXPECT_EQ(60u, g_unit.outputReportLength);
    EXPECT_EQ(60u, g_unit.inputReportLength);
    EXPECT_EQ(0, g_unit.unitMode);
    EXPECT_EQ(3, g_unit.controllerStatus);
    EXPECT_EQ(0x00000203u, g_unit.unitFirmwareVersion);
    EXPECT_EQ(0x0304, ControllerFirmwareVersion());
    EXPECT_EQ(CONTROLLER_TYPE, ControllerTypeId());
    EXPECT_EQ(0x102u, ControllerBootloaderVersion());

    // Whole reports on the wire: 60 bytes each, report ID first.
    std::lock_guard<std::mutex> guard(unit->lock);
    ASSERT_EQ(3u, unit->requests.size());
    const uint8_t commands[] = {CMD_GET_UNIT_INFO, CMD_READ_FIRMWARE_INFO, CMD_GET_CONTROLLER_INFO};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(60u, unit->requests[i].size());
        EXPECT_EQ(0x01, unit->requests[i][0]);
        EXPECT_EQ(commands[i], unit->requests[i][1]);
    }
}

TEST_F(EmulatedHidraw, WholeUpdateThroughHidraw) {
    EmulatedDevice* unit = Add("hidraw0");
    ASSERT_EQ(0, OpenUnit());

    UpdateProcedure();

    std::lock_guard<std::mutex> guard(unit->lock);
    EXPECT_EQ(2037, unit->blocks);
    const Bytes image(ResFirmwareImageData(), ResFirmwareImageData() + ResFirmwareImageSize());
    EXPECT_TRUE(unit->flash == image) << "flash holds " << unit->flash.size() << " bytes";
    EXPECT_FALSE(unit->lockSet);        // released by the closing steps
    EXPECT_FALSE(unit->protectCleared); // and protected again
    EXPECT_EQ(TableText(IDS_UPDATE_SUCCESSFUL), g_ui.texts[IDC_STATUS_PANE]);
    EXPECT_TRUE(UnitIsOpen());
}

TEST_F(EmulatedHidraw, ReadWithoutReplyTimesOut) {
    Add("hidraw0", [](EmulatedDevice* d) { d->speaksProtocol = false; });
    const HidHandle handle = HidOpenInterface(u"/dev/hidraw0");
    ASSERT_NE(HID_INVALID_HANDLE, handle);
    uint8_t report[60] = {0x01, CMD_GET_UNIT_INFO};
    ASSERT_EQ(0, HidWriteReport(handle, report, sizeof report));

    QElapsedTimer clock;
    clock.start();
    EXPECT_NE(0, HidReadReport(handle, report, sizeof report, 200));
    EXPECT_GE(clock.elapsed(), 190);
    EXPECT_EQ(uint32_t(ETIMEDOUT), PlatformLastError());
    HidCloseInterface(handle);
}

TEST_F(EmulatedHidraw, FailedWriteReportsTheSystemError) {
    Add("hidraw0", [](EmulatedDevice* d) { d->writesFail = true; });
    ASSERT_EQ(EXCHANGE_WRITE_FAILED, OpenUnit()); // identification's first request
    EXPECT_EQ(uint32_t(EIO), PlatformLastError());
    EXPECT_TRUE(UnitIsOpen());
}

// Whatever the system reports as transferred, a call that succeeded counts as the
// whole report sent or read; the bytes a short reply leaves out keep what the
// buffer held before.
TEST_F(EmulatedHidraw, ShortTransfersCountAsDone) {
    Add("hidraw0", [](EmulatedDevice* d) {
        d->writeCount = 20;
        d->replyBytes = 10;
    });
    const HidHandle handle = HidOpenInterface(u"/dev/hidraw0");
    ASSERT_NE(HID_INVALID_HANDLE, handle);
    uint8_t report[60] = {0x01, CMD_GET_UNIT_INFO};
    ASSERT_EQ(0, HidWriteReport(handle, report, sizeof report));
    uint8_t reply[60];
    std::memset(reply, 0xEE, sizeof reply);
    ASSERT_EQ(0, HidReadReport(handle, reply, sizeof reply, 1000));
    EXPECT_EQ(0x02, reply[0]);
    EXPECT_EQ(3, reply[4]); // the controller status, inside the ten bytes
    EXPECT_EQ(0x03, reply[8]);
    EXPECT_EQ(0xEE, reply[10]);
    EXPECT_EQ(0xEE, reply[59]);
    HidCloseInterface(handle);
}

// The error of an earlier call, such as another node that refused to open, does
// not outlive a transfer that went through: a failure that the reply's bytes
// decide then shows 0 as its system code.
TEST_F(EmulatedHidraw, ASuccessfulTransferLeavesTheLastErrorZero) {
    Add("hidraw0");
    const HidHandle handle = HidOpenInterface(u"/dev/hidraw0");
    ASSERT_NE(HID_INVALID_HANDLE, handle);
    uint8_t report[60] = {0x01, CMD_GET_UNIT_INFO};
    PlatformSetLastError(EACCES);
    ASSERT_EQ(0, HidWriteReport(handle, report, sizeof report));
    EXPECT_EQ(0u, PlatformLastError());
    PlatformSetLastError(EACCES);
    ASSERT_EQ(0, HidReadReport(handle, report, sizeof report, 1000));
    EXPECT_EQ(0u, PlatformLastError());
    HidCloseInterface(handle);
}

// A reply that came after its exchange had given up, and a second copy of a
// reply, wait on the node; the next exchange must read its own reply.
TEST_F(EmulatedHidraw, RepliesLeftOnTheNodeAreDroppedBeforeTheNextRequest) {
    EmulatedDevice* unit = Add("hidraw0");
    const HidHandle handle = HidOpenInterface(u"/dev/hidraw0");
    ASSERT_NE(HID_INVALID_HANDLE, handle);
    {
        std::lock_guard<std::mutex> guard(unit->lock);
        Bytes stale(60, 0);
        stale[0] = 0x02;
        stale[1] = 0xFF;
        PutLe32(&stale[4], 0x77);
        unit->replies.push_back(stale);
        unit->replies.push_back(stale);
    }
    uint8_t request[60] = {0x01, CMD_GET_CONTROLLER_INFO};
    ASSERT_EQ(0, HidWriteReport(handle, request, sizeof request));
    uint8_t reply[60] = {0x02};
    ASSERT_EQ(0, HidReadReport(handle, reply, sizeof reply, 1000));
    EXPECT_EQ(0x00, reply[1]);
    EXPECT_EQ(CONTROLLER_TYPE, GetLe32(&reply[4]));
    std::lock_guard<std::mutex> guard(unit->lock);
    EXPECT_TRUE(unit->replies.empty());
    HidCloseInterface(handle);
}

// Every reader of a node gets every reply: while one copy of the program has the
// unit claimed, another one must not talk to it, not even to identify it.
TEST_F(EmulatedHidraw, AUnitClaimedElsewhereIsNotTakenUntilItIsClosed) {
    EmulatedDevice* unit = Add("hidraw0");
    const HidHandle elsewhere = HidOpenInterface(u"/dev/hidraw0");
    ASSERT_NE(HID_INVALID_HANDLE, elsewhere);
    ASSERT_EQ(0, HidClaimInterface(elsewhere));

    const HidHandle second = HidOpenInterface(u"/dev/hidraw0");
    ASSERT_NE(HID_INVALID_HANDLE, second);
    EXPECT_EQ(HID_CLAIM_HELD, HidClaimInterface(second));
    EXPECT_EQ(uint32_t(EWOULDBLOCK), PlatformLastError());
    HidCloseInterface(second);
    EXPECT_EQ(OPEN_NO_UNIT, OpenUnit());
    const char16_t* path = nullptr;
    EXPECT_EQ(UnitRefusal::HeldByAnotherCopy, RefusedUnit(&path));
    EXPECT_EQ(u"/dev/hidraw0", std::u16string(path));
    {
        std::lock_guard<std::mutex> guard(unit->lock);
        EXPECT_TRUE(unit->requests.empty());
    }

    HidCloseInterface(elsewhere);
    EXPECT_EQ(0, OpenUnit());
    EXPECT_TRUE(UnitIsOpen());
}

// Other programs lock their own devices' nodes the same way (a security key's
// client does): a scan must not hold such a node locked, not even while it reads
// the node's identity. The unit, once recognised, is locked.
TEST_F(EmulatedHidraw, AScanLocksNoNodeOfAnotherDevice) {
    gchar* root = umockdev_testbed_get_root_dir(testbed);
    const std::string testbedRoot = root;
    g_free(root);
    Add("hidraw0", [&](EmulatedDevice* d) {
        d->vendor = 0x1050; // another maker's device
        d->product = 0x0407;
        d->speaksProtocol = false;
        d->lockProbeFile = testbedRoot + "/dev/hidraw0";
    });
    Add("hidraw1", [&](EmulatedDevice* d) {
        d->vendor = 0x3A5D;
        d->product = 3; // the maker's, but no programming unit
        d->speaksProtocol = false;
        d->lockProbeFile = testbedRoot + "/dev/hidraw1";
    });
    Add("hidraw2");

    ASSERT_EQ(0, OpenUnit());
    EXPECT_EQ(u"/dev/hidraw2", std::u16string(g_unit.devicePath));
    for (EmulatedDevice* other : {devices[0], devices[1]}) {
        std::lock_guard<std::mutex> guard(other->lock);
        EXPECT_EQ(std::vector<int>{0}, other->lockProbeResults) << other->name;
    }
    // The probe sees the program's locks: the open unit's node is held.
    const int fd = open((testbedRoot + "/dev/hidraw2").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_LE(0, fd);
    EXPECT_NE(0, flock(fd, LOCK_EX | LOCK_NB));
    EXPECT_EQ(EWOULDBLOCK, errno);
    close(fd);
}

TEST_F(EmulatedHidraw, NodesThatCannotBeOpenedOrAreAbsentAreRefused) {
    EXPECT_EQ(HID_INVALID_HANDLE, HidOpenInterface(u"/dev/hidraw7"));
    EXPECT_EQ(uint32_t(ENOENT), PlatformLastError());
    EXPECT_EQ(OPEN_NO_UNIT, OpenUnit());
}

// The udev monitor in the Qt event loop: a removed node reaches the dialog's
// handler as a removal carrying its path, an added or changed one as an arrival.
TEST_F(EmulatedHidraw, HotplugReachesTheDialogWithTheNodePath) {
    static int argc = 1;
    static char name[] = "hid_linux_umockdev_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);

    EmulatedDevice* unit = Add("hidraw3");
    ASSERT_EQ(0, OpenUnit());
    ASSERT_TRUE(RegisterDeviceEvents(nullptr));
    auto waitFor = [](std::function<bool()> done) {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < 3000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        return done();
    };

    Remove(unit);
    EXPECT_TRUE(waitFor([] { return !UnitIsOpen(); }));
    const std::u16string lost = TableText(IDS_CONNECTION_LOST);
    EXPECT_EQ(lost, g_ui.texts[IDC_STATUS_PANE].substr(0, lost.size()));

    Plug(unit);
    EXPECT_TRUE(waitFor([] { return UnitIsOpen(); }));
    EXPECT_EQ(u"/dev/hidraw3", std::u16string(g_unit.devicePath ? g_unit.devicePath : u""));
    EXPECT_EQ(TableText(IDS_READY), g_ui.texts[IDC_STATUS_PANE]);
    EXPECT_TRUE(g_ui.enabled[IDC_UPDATE]);

    // A unit that was not opened when it came (its access rule not yet in place)
    // is found when udev applies the rules again and announces a change.
    CloseUnit();
    g_ui.texts[IDC_STATUS_PANE].clear();
    g_ui.enabled[IDC_UPDATE] = false;
    umockdev_testbed_uevent(testbed, unit->syspath.c_str(), "change");
    EXPECT_TRUE(waitFor([] { return UnitIsOpen(); }));
    EXPECT_EQ(TableText(IDS_READY), g_ui.texts[IDC_STATUS_PANE]);
    EXPECT_TRUE(g_ui.enabled[IDC_UPDATE]);
    UnregisterDeviceEvents();
}

} // namespace
