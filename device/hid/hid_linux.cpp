// HID access on Linux: hidraw device nodes found through libudev. Report lengths
// come from the report descriptor, counted as the Windows HID capabilities count
// them, so the device link sees the same numbers on both platforms.
#include "device/hid/hid_port.h"
#include "device/hid/clock_port.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "device/hid/report_descriptor.h"
#include "device/wide_text.h"

struct HidInterfaceSet {
    std::vector<std::string> nodes;
    std::u16string current; // the path handed out last
};

namespace {

struct OpenInterface {
    int fd;
    // hidraw leaves the ID byte out of input reports of a device that numbers no
    // reports; the caller always gets it, as 0, in byte 0.
    bool numbered;
};

OpenInterface* FromHandle(HidHandle handle) {
    return handle == HID_INVALID_HANDLE ? nullptr : reinterpret_cast<OpenInterface*>(handle);
}

// The node whose open was last refused for want of permission, on this thread.
thread_local std::string g_deniedNode;

std::string NodeOf(const char16_t* path) {
    // Up to 3 UTF-8 bytes for every UTF-16 unit.
    std::string node(WideLength(path) * 3 + 1, '\0');
    node.resize(WideToUtf8(&node[0], node.size(), path));
    return node;
}

void KeepErrno() {
    PlatformSetLastError(static_cast<uint32_t>(errno));
}

// "/dev/hidraw2" before "/dev/hidraw10": digit runs compare by value.
bool NodeOrder(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool digitA = a[i] >= '0' && a[i] <= '9';
        const bool digitB = b[j] >= '0' && b[j] <= '9';
        if (digitA && digitB) {
            size_t endA = i, endB = j;
            while (endA < a.size() && a[endA] >= '0' && a[endA] <= '9') {
                ++endA;
            }
            while (endB < b.size() && b[endB] >= '0' && b[endB] <= '9') {
                ++endB;
            }
            size_t startA = i, startB = j;
            while (startA + 1 < endA && a[startA] == '0') {
                ++startA;
            }
            while (startB + 1 < endB && b[startB] == '0') {
                ++startB;
            }
            const size_t lengthA = endA - startA, lengthB = endB - startB;
            if (lengthA != lengthB) {
                return lengthA < lengthB;
            }
            const int order = a.compare(startA, lengthA, b, startB, lengthB);
            if (order != 0) {
                return order < 0;
            }
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j]) {
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        }
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

int ReadDescriptorSizes(int fd, ReportDescriptorSizes* sizes) {
    int descriptorSize = 0;
    if (ioctl(fd, HIDIOCGRDESCSIZE, &descriptorSize) < 0) {
        KeepErrno();
        return -1;
    }
    if (descriptorSize < 0 || descriptorSize > HID_MAX_DESCRIPTOR_SIZE) {
        return -1;
    }
    hidraw_report_descriptor descriptor;
    std::memset(&descriptor, 0, sizeof descriptor);
    descriptor.size = static_cast<uint32_t>(descriptorSize);
    if (ioctl(fd, HIDIOCGRDESC, &descriptor) < 0) {
        KeepErrno();
        return -1;
    }
    const size_t length = std::min<size_t>(descriptor.size, sizeof descriptor.value);
    return ParseReportDescriptor(descriptor.value, length, sizes);
}

int64_t MonotonicMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Waits until the node may have a report to read; false on time-out or error.
bool WaitReadable(int fd, int64_t deadline) {
    for (;;) {
        const int64_t left = deadline - MonotonicMs();
        if (left <= 0) {
            PlatformSetLastError(ETIMEDOUT);
            return false;
        }
        pollfd request = {fd, POLLIN, 0};
        const int ready = poll(&request, 1, static_cast<int>(left));
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            KeepErrno();
            return false;
        }
        if (ready == 0) {
            PlatformSetLastError(ETIMEDOUT);
            return false;
        }
        if (request.revents & POLLIN) {
            return true;
        }
        // POLLERR / POLLHUP without data: the device is gone.
        PlatformSetLastError(ENODEV);
        return false;
    }
}

// Every reply is read right after its request, so an input report already queued
// on the node is a late or repeated answer to an earlier exchange and must not be
// taken for the coming reply. The node does not block: reading stops at EAGAIN.
void DropPendingReports(int fd) {
    // The largest report hidraw hands out; a smaller buffer would work as well, as
    // hidraw drops the part of a report that does not fit.
    uint8_t discard[4096];
    for (int dropped = 0; dropped < HID_MAX_DROPPED_REPORTS;) {
        const ssize_t got = read(fd, discard, sizeof discard);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return;
        }
        ++dropped;
    }
}

} // namespace

HidInterfaceSet* HidGetInterfaceSet() {
    udev* context = udev_new();
    if (context == nullptr) {
        KeepErrno();
        return nullptr;
    }
    udev_enumerate* enumeration = udev_enumerate_new(context);
    if (enumeration == nullptr || udev_enumerate_add_match_subsystem(enumeration, "hidraw") < 0 ||
        udev_enumerate_scan_devices(enumeration) < 0) {
        KeepErrno();
        if (enumeration != nullptr) {
            udev_enumerate_unref(enumeration);
        }
        udev_unref(context);
        return nullptr;
    }
    HidInterfaceSet* set = new HidInterfaceSet;
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration)) {
        udev_device* device =
            udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
        if (device == nullptr) {
            continue;
        }
        const char* node = udev_device_get_devnode(device);
        if (node != nullptr) {
            set->nodes.emplace_back(node);
        }
        udev_device_unref(device);
    }
    udev_enumerate_unref(enumeration);
    udev_unref(context);
    std::sort(set->nodes.begin(), set->nodes.end(), NodeOrder);
    return set;
}

HidInterfaceEntry HidGetInterfacePath(HidInterfaceSet* set, uint32_t index, const char16_t** path) {
    if (set == nullptr || index >= set->nodes.size()) {
        return HID_ENTRY_END;
    }
    const std::string& node = set->nodes[index];
    // A UTF-16 text never needs more units than its UTF-8 form has bytes.
    set->current.assign(node.size() + 1, u'\0');
    const size_t written = WideFromUtf8(&set->current[0], set->current.size(), node.c_str());
    set->current.resize(written);
    if (path != nullptr) {
        *path = set->current.c_str();
    }
    return HID_ENTRY_OK;
}

void HidDestroyInterfaceSet(HidInterfaceSet* set) {
    delete set;
}

HidHandle HidOpenInterface(const char16_t* path) {
    g_deniedNode.clear();
    if (path == nullptr) {
        return HID_INVALID_HANDLE;
    }
    const std::string node = NodeOf(path);
    const int fd = open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == EACCES || errno == EPERM) {
            g_deniedNode = node;
        }
        KeepErrno();
        return HID_INVALID_HANDLE;
    }
    OpenInterface* iface = new OpenInterface{fd, true};
    ReportDescriptorSizes sizes;
    if (ReadDescriptorSizes(fd, &sizes) == 0) {
        iface->numbered = sizes.usesReportIds;
    }
    return reinterpret_cast<HidHandle>(iface);
}

// The hid device above the node names the bus, vendor and product in its
// HID_ID, as "0003:00003A5D:00000002"; sysfs can be read by every user.
int HidGetDeniedAttributes(const char16_t* path, uint16_t* vendorId, uint16_t* productId) {
    if (path == nullptr || g_deniedNode.empty() || NodeOf(path) != g_deniedNode) {
        return -1;
    }
    const size_t slash = g_deniedNode.rfind('/');
    const std::string name = g_deniedNode.substr(slash == std::string::npos ? 0 : slash + 1);
    const uint32_t lastError = PlatformLastError();
    int result = -1;
    udev* context = udev_new();
    udev_device* hidraw =
        context == nullptr
            ? nullptr
            : udev_device_new_from_subsystem_sysname(context, "hidraw", name.c_str());
    udev_device* hid = hidraw == nullptr
                           ? nullptr
                           : udev_device_get_parent_with_subsystem_devtype(hidraw, "hid", nullptr);
    const char* hidId = hid == nullptr ? nullptr : udev_device_get_property_value(hid, "HID_ID");
    unsigned bus = 0, vendor = 0, product = 0;
    if (hidId != nullptr && std::sscanf(hidId, "%x:%x:%x", &bus, &vendor, &product) == 3 &&
        vendor <= 0xFFFF && product <= 0xFFFF) {
        *vendorId = static_cast<uint16_t>(vendor);
        *productId = static_cast<uint16_t>(product);
        result = 0;
    }
    if (hidraw != nullptr) {
        udev_device_unref(hidraw);
    }
    if (context != nullptr) {
        udev_unref(context);
    }
    // The open's refusal stays the error to report.
    PlatformSetLastError(lastError);
    return result;
}

// Whoever holds the node's lock has it to itself. A node that cannot be locked at
// all is used as before.
int HidClaimInterface(HidHandle handle) {
    OpenInterface* iface = FromHandle(handle);
    if (iface == nullptr) {
        return 0;
    }
    if (flock(iface->fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        KeepErrno();
        return HID_CLAIM_HELD;
    }
    return 0;
}

int HidGetAttributes(HidHandle handle, uint16_t* vendorId, uint16_t* productId) {
    OpenInterface* iface = FromHandle(handle);
    if (iface == nullptr) {
        return -1;
    }
    hidraw_devinfo info;
    std::memset(&info, 0, sizeof info);
    if (ioctl(iface->fd, HIDIOCGRAWINFO, &info) < 0) {
        KeepErrno();
        return -1;
    }
    *vendorId = static_cast<uint16_t>(info.vendor);
    *productId = static_cast<uint16_t>(info.product);
    return 0;
}

int HidGetReportLengths(HidHandle handle, uint16_t* inputReportLength,
                        uint16_t* outputReportLength) {
    OpenInterface* iface = FromHandle(handle);
    ReportDescriptorSizes sizes;
    if (iface == nullptr || ReadDescriptorSizes(iface->fd, &sizes) != 0) {
        return -1;
    }
    *inputReportLength = sizes.inputReportLength;
    *outputReportLength = sizes.outputReportLength;
    return 0;
}

int HidWriteReport(HidHandle handle, const uint8_t* report, uint32_t length) {
    OpenInterface* iface = FromHandle(handle);
    if (iface == nullptr || report == nullptr || length == 0) {
        return -1;
    }
    DropPendingReports(iface->fd);
    const int64_t deadline = MonotonicMs() + HID_READ_TIMEOUT_MS;
    for (;;) {
        const ssize_t written = write(iface->fd, report, length);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        // A node opened without blocking may refuse for a moment; wait for room.
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const int64_t left = deadline - MonotonicMs();
            pollfd request = {iface->fd, POLLOUT, 0};
            if (left > 0 && poll(&request, 1, static_cast<int>(left)) > 0 &&
                (request.revents & POLLOUT)) {
                continue;
            }
            PlatformSetLastError(ETIMEDOUT);
            return -1;
        }
        if (written < 0) {
            KeepErrno();
            return -1;
        }
        // As on Windows, the count the system reports as sent is not judged: the
        // call succeeded, so the report went out.
        PlatformSetLastError(0);
        return 0;
    }
}

int HidReadReport(HidHandle handle, uint8_t* report, uint32_t length, uint32_t timeoutMs) {
    OpenInterface* iface = FromHandle(handle);
    if (iface == nullptr || report == nullptr || length == 0) {
        return -1;
    }
    uint8_t* target = report;
    uint32_t wanted = length;
    if (!iface->numbered) {
        report[0] = 0;
        if (length == 1) {
            return 0;
        }
        ++target;
        --wanted;
    }
    // The node does not block: a reply already there is taken at once, and only
    // otherwise does the read wait, at most until the deadline.
    const int64_t deadline = MonotonicMs() + timeoutMs;
    for (;;) {
        const ssize_t got = read(iface->fd, target, wanted);
        // A shorter report is taken as it came; the bytes it does not cover keep
        // what the caller left in the buffer.
        if (got > 0) {
            PlatformSetLastError(0);
            return 0;
        }
        if (got == 0) {
            PlatformSetLastError(ENODEV);
            return -1;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            KeepErrno();
            return -1;
        }
        if (!WaitReadable(iface->fd, deadline)) {
            return -1;
        }
    }
}

void HidCloseInterface(HidHandle handle) {
    OpenInterface* iface = FromHandle(handle);
    if (iface == nullptr) {
        return;
    }
    close(iface->fd);
    delete iface;
}
