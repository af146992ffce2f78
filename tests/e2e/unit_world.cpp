#include "tests/e2e/unit_world.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "device/command_reports.h"
#include "device/hid/hid_port.h"

EmulatedWorld g_world;

namespace {

typedef std::vector<uint8_t> Bytes;

const char* const NODE = "/dev/hidraw0";

// Output report 1 and input report 2, 59 data bytes each, on a vendor page.
const Bytes UNIT_DESCRIPTOR = {
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x85, 0x01,
    0x95, 0x3B, 0x09, 0x01, 0x91, 0x02, 0x85, 0x02, 0x95, 0x3B, 0x09, 0x01, 0x81, 0x02, 0xC0,
};

const char* const MANUFACTURER = "VESPRA";
const char* const USB_PHYS = "usb-0000:00:14.0-1/input0";

// Enough tokens that a dead node stays readable for every reader still holding it.
constexpr int DEAD_NODE_TOKENS = 4096;
// A late reply comes this long after the reader has given up.
constexpr int64_t LATE_AFTER_TIME_OUT_MS = 500;

const char* ProductName() {
    return g_world.options.productId == 1 ? "DIALPOD" : "LINK-CUBE";
}

std::string Serial() {
    char text[16];
    std::snprintf(text, sizeof text, "VSP%04X0001", g_world.options.productId);
    return text;
}

std::string Hex(const uint8_t* bytes, size_t length) {
    std::string text;
    char byte[4];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(byte, sizeof byte, i == 0 ? "%02x" : " %02x", bytes[i]);
        text += byte;
    }
    return text;
}

uint32_t ClientGeneration(UMockdevIoctlClient* client) {
    return GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(client), "generation"));
}

// A handle opened before the last unplugging, or while the unit is away.
bool DeadHandle(UMockdevIoctlClient* client) {
    return !g_world.plugged || ClientGeneration(client) != g_world.generation;
}

void PutToken() {
    const uint8_t token = 1;
    if (write(g_world.tokenFd, &token, 1) != 1) {
        LogLine("token write failed: %s", std::strerror(errno));
    }
}

void QueueReplies(const std::vector<Bytes>& replies) {
    for (const Bytes& reply : replies) {
        g_world.replies.push_back(QueuedReply{reply, false});
        PutToken();
        LogLine("reply %s", Hex(reply.data(), reply.size()).c_str());
    }
}

// The control side waits in poll() with the next late reply's time as its
// time-out; it has to look again when that changes or an unplugging is due.
void WakeControlSide() {
    if (write(g_world.wakeFd, "w", 1) != 1) {
        LogLine("wake failed: %s", std::strerror(errno));
    }
}

void CompleteWithString(UMockdevIoctlClient* client, UMockdevIoctlData* arg, size_t asked,
                        const std::string& text) {
    UMockdevIoctlData* target = umockdev_ioctl_data_resolve(arg, 0, asked, nullptr);
    if (target == nullptr) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    // As the kernel does: the text with its end mark, cut to the caller's buffer.
    const size_t length = std::min(asked, text.size() + 1);
    std::vector<guint8> bytes(text.begin(), text.end());
    bytes.push_back(0);
    umockdev_ioctl_data_update(target, 0, bytes.data(), static_cast<gint>(length));
    g_object_unref(target);
    umockdev_ioctl_client_complete(client, static_cast<long>(length), 0);
}

gboolean HandleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer) {
    std::lock_guard<std::mutex> guard(g_world.lock);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    if (_IOC_TYPE(request) != 'H') {
        LogLine("ioctl 0x%lx refused", request);
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
        return TRUE;
    }
    if (DeadHandle(client)) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
    }
    const size_t asked = _IOC_SIZE(request);
    switch (_IOC_NR(request)) {
    case _IOC_NR(HIDIOCGRAWNAME(0)):
        CompleteWithString(client, arg, asked, std::string(MANUFACTURER) + " " + ProductName());
        return TRUE;
    case _IOC_NR(HIDIOCGRAWPHYS(0)):
        CompleteWithString(client, arg, asked, USB_PHYS);
        return TRUE;
    case _IOC_NR(HIDIOCGRAWUNIQ(0)):
        CompleteWithString(client, arg, asked, Serial());
        return TRUE;
    case _IOC_NR(HIDIOCGRDESCSIZE):
    case _IOC_NR(HIDIOCGRDESC):
    case _IOC_NR(HIDIOCGRAWINFO):
        break;
    default:
        // Feature and other report requests: the unit has no such reports.
        LogLine("ioctl 0x%lx refused", request);
        umockdev_ioctl_client_complete(client, -1, EPIPE);
        return TRUE;
    }
    UMockdevIoctlData* target = umockdev_ioctl_data_resolve(arg, 0, asked, nullptr);
    if (target == nullptr) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return TRUE;
    }
    // Written through update() so that umockdev copies it back to the caller.
    if (request == HIDIOCGRDESCSIZE) {
        int length = static_cast<int>(UNIT_DESCRIPTOR.size());
        umockdev_ioctl_data_update(target, 0, reinterpret_cast<guint8*>(&length), sizeof length);
    } else if (request == HIDIOCGRDESC) {
        uint32_t wanted = 0;
        std::memcpy(&wanted, target->data, sizeof wanted);
        Bytes value = UNIT_DESCRIPTOR;
        value.resize(std::min<size_t>(wanted, value.size()));
        umockdev_ioctl_data_update(target, offsetof(hidraw_report_descriptor, value), value.data(),
                                   static_cast<gint>(value.size()));
    } else {
        hidraw_devinfo info = {3, static_cast<__s16>(EMULATED_VENDOR_ID),
                               static_cast<__s16>(g_world.options.productId)};
        umockdev_ioctl_data_update(target, 0, reinterpret_cast<guint8*>(&info), sizeof info);
    }
    g_object_unref(target);
    umockdev_ioctl_client_complete(client, 0, 0);
    return TRUE;
}

gboolean HandleWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer) {
    std::lock_guard<std::mutex> guard(g_world.lock);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    if (DeadHandle(client)) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
    }
    const int64_t now = MonotonicMs();
    ++g_world.exchanges;
    if (g_world.firstMs < 0) {
        g_world.firstMs = now;
    }
    g_world.lastMs = now;
    const uint8_t command = arg->data_len > 1 ? arg->data[1] : 0;
    const char* name = SimCommandName(command);
    LogLine("request %s %s", name != nullptr ? name : "?", Hex(arg->data, arg->data_len).c_str());
    const long written = static_cast<long>(arg->data_len);
    if (g_world.options.noAnswer) {
        umockdev_ioctl_client_complete(client, written, 0);
        return TRUE;
    }
    SimModelOutcome outcome =
        SimModelHandleRequest(g_world.options.model, arg->data, arg->data_len, UNIT_REPORT_LENGTH);
    switch (outcome.fault) {
    case SimFault::WriteFails:
        LogLine("fault write-fails");
        umockdev_ioctl_client_complete(client, -1, EIO);
        return TRUE;
    case SimFault::Unplugged:
        LogLine("fault unplug");
        g_world.plugged = false;
        g_world.unplugWanted = true;
        WakeControlSide();
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
    case SimFault::ReadFails:
        LogLine("fault read-fails");
        g_world.replies.push_back(QueuedReply{Bytes(), true});
        PutToken();
        break;
    case SimFault::NoAnswer:
        LogLine("fault no-answer");
        break;
    default:
        if (outcome.repliesLate) {
            const int64_t waited =
                command == CMD_ERASE_FIRMWARE ? ERASE_REPLY_TIMEOUT_MS : HID_READ_TIMEOUT_MS;
            LogLine("fault late-reply");
            g_world.late.push_back(LateReplies{now + waited + LATE_AFTER_TIME_OUT_MS,
                                               g_world.generation, outcome.replies});
            WakeControlSide();
        } else {
            QueueReplies(outcome.replies);
        }
        break;
    }
    umockdev_ioctl_client_complete(client, written, 0);
    return TRUE;
}

gboolean HandleRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer) {
    std::lock_guard<std::mutex> guard(g_world.lock);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    if (DeadHandle(client)) {
        // What a hidraw node says once its device is gone.
        umockdev_ioctl_client_complete(client, -1, EIO);
        return TRUE;
    }
    if (g_world.replies.empty()) {
        umockdev_ioctl_client_complete(client, -1, EAGAIN);
        return TRUE;
    }
    QueuedReply reply = g_world.replies.front();
    g_world.replies.pop_front();
    uint8_t token;
    if (read(g_world.tokenFd, &token, 1) != 1) {
        LogLine("token read failed: %s", std::strerror(errno));
    }
    if (reply.readFails) {
        LogLine("read fails");
        umockdev_ioctl_client_complete(client, -1, EIO);
        return TRUE;
    }
    // hidraw hands out as much of the report as fits and drops the rest.
    const size_t length = std::min<size_t>(arg->data_len, reply.bytes.size());
    umockdev_ioctl_data_update(arg, 0, reply.bytes.data(), static_cast<gint>(length));
    LogLine("read %zu", length);
    umockdev_ioctl_client_complete(client, static_cast<long>(length), 0);
    return TRUE;
}

void HandleConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer) {
    std::lock_guard<std::mutex> guard(g_world.lock);
    g_object_set_data(G_OBJECT(client), "generation", GUINT_TO_POINTER(g_world.generation));
}

std::string AddDevice(const char* subsystem, const std::string& name, const std::string& parent,
                      const std::vector<std::string>& attributes,
                      const std::vector<std::string>& properties) {
    std::vector<const gchar*> attributeList, propertyList;
    for (const std::string& text : attributes) {
        attributeList.push_back(text.c_str());
    }
    attributeList.push_back(nullptr);
    for (const std::string& text : properties) {
        propertyList.push_back(text.c_str());
    }
    propertyList.push_back(nullptr);
    gchar* syspath = umockdev_testbed_add_devicev(
        g_world.testbed, subsystem, name.c_str(), parent.empty() ? nullptr : parent.c_str(),
        const_cast<gchar**>(attributeList.data()), const_cast<gchar**>(propertyList.data()));
    if (syspath == nullptr) {
        return std::string();
    }
    std::string path = syspath;
    g_free(syspath);
    return path;
}

// The chain a USB HID unit has in sysfs, parents first, each with its add uevent.
bool AddDeviceChain() {
    char product[8], productLong[16], hidId[40], hidName[64], modalias[96];
    const uint16_t productId = g_world.options.productId;
    std::snprintf(product, sizeof product, "%04x", productId);
    std::snprintf(productLong, sizeof productLong, "3a5d/%x/100", productId);
    std::snprintf(hidId, sizeof hidId, "0003:0000%04X:0000%04X", EMULATED_VENDOR_ID, productId);
    std::snprintf(hidName, sizeof hidName, "%s %s", MANUFACTURER, ProductName());
    const std::string serial = Serial();

    const std::string usb = AddDevice("usb", "pci0000:00/0000:00:14.0/usb1/1-1", "",
                                      {"idVendor",
                                       "3a5d",
                                       "idProduct",
                                       product,
                                       "bcdDevice",
                                       "0100",
                                       "manufacturer",
                                       MANUFACTURER,
                                       "product",
                                       ProductName(),
                                       "serial",
                                       serial,
                                       "busnum",
                                       "1",
                                       "devnum",
                                       "2",
                                       "bDeviceClass",
                                       "00",
                                       "bNumConfigurations",
                                       "1",
                                       "bConfigurationValue",
                                       "1",
                                       "speed",
                                       "12",
                                       "version",
                                       " 2.00"},
                                      {"DEVTYPE", "usb_device", "PRODUCT", productLong, "TYPE",
                                       "0/0/0", "BUSNUM", "001", "DEVNUM", "002"});
    if (usb.empty()) {
        return false;
    }
    std::snprintf(modalias, sizeof modalias, "usb:v3A5Dp%04Xd0100dc00dsc00dp00ic03isc00ip00in00",
                  productId);
    const std::string interface =
        AddDevice("usb", "1-1:1.0", usb,
                  {"bInterfaceClass", "03", "bInterfaceSubClass", "00", "bInterfaceProtocol", "00",
                   "bInterfaceNumber", "00", "bAlternateSetting", " 0", "bNumEndpoints", "02"},
                  {"DEVTYPE", "usb_interface", "PRODUCT", productLong, "TYPE", "0/0/0", "INTERFACE",
                   "3/0/0", "MODALIAS", modalias});
    if (interface.empty()) {
        return false;
    }
    char hidDevice[32];
    std::snprintf(hidDevice, sizeof hidDevice, "0003:%04X:%04X.0001", EMULATED_VENDOR_ID,
                  productId);
    std::snprintf(modalias, sizeof modalias, "hid:b0003g0001v0000%04Xp0000%04X", EMULATED_VENDOR_ID,
                  productId);
    const std::string hid =
        AddDevice("hid", hidDevice, interface, {},
                  {"DRIVER", "hid-generic", "HID_ID", hidId, "HID_NAME", hidName, "HID_PHYS",
                   USB_PHYS, "HID_UNIQ", serial, "MODALIAS", modalias});
    if (hid.empty()) {
        return false;
    }
    Bytes descriptor = UNIT_DESCRIPTOR;
    umockdev_testbed_set_attribute_binary(g_world.testbed, hid.c_str(), "report_descriptor",
                                          descriptor.data(),
                                          static_cast<gssize>(UNIT_DESCRIPTOR.size()));
    const std::string hidraw = AddDevice("hidraw", "hidraw/hidraw0", hid, {"dev", "241:0"},
                                         {"MAJOR", "241", "MINOR", "0", "DEVNAME", NODE});
    if (hidraw.empty()) {
        return false;
    }
    g_world.syspaths = {usb, interface, hid, hidraw};
    return true;
}

std::string NodeFile() {
    return g_world.rootDir + NODE;
}

// Takes the node and its sysfs chain away, children first, each with its remove uevent.
void RemoveNode() {
    if (g_world.syspaths.empty()) {
        return;
    }
    for (auto it = g_world.syspaths.rbegin(); it != g_world.syspaths.rend(); ++it) {
        umockdev_testbed_uevent(g_world.testbed, it->c_str(), "remove");
        umockdev_testbed_remove_device(g_world.testbed, it->c_str());
    }
    g_world.syspaths.clear();
    unlink(NodeFile().c_str());
}

} // namespace

int64_t MonotonicMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void LogLine(const char* format, ...) {
    if (g_world.log == nullptr) {
        return;
    }
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    std::fprintf(g_world.log, "%lld.%03ld ",
                 static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000,
                 (now.tv_nsec / 1000) % 1000);
    va_list args;
    va_start(args, format);
    std::vfprintf(g_world.log, format, args);
    va_end(args);
    std::fputc('\n', g_world.log);
    std::fflush(g_world.log);
}

bool CreateWorld() {
    g_world.testbed = umockdev_testbed_new();
    if (g_world.testbed == nullptr) {
        std::fprintf(stderr, "emulated_unit: no umockdev testbed\n");
        return false;
    }
    gchar* root = umockdev_testbed_get_root_dir(g_world.testbed);
    g_world.rootDir = root;
    g_free(root);
    g_world.handler = umockdev_ioctl_base_new();
    g_signal_connect(g_world.handler, "handle-ioctl", G_CALLBACK(HandleIoctl), nullptr);
    g_signal_connect(g_world.handler, "handle-read", G_CALLBACK(HandleRead), nullptr);
    g_signal_connect(g_world.handler, "handle-write", G_CALLBACK(HandleWrite), nullptr);
    g_signal_connect(g_world.handler, "client-connected", G_CALLBACK(HandleConnected), nullptr);
    // Attached once for good: detaching drops connections not yet accepted, and
    // the program holding one would end at its next call. Without the node file
    // nobody can open the node, and handles from before a plug-in are dead.
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(g_world.testbed, NODE, g_world.handler, &error)) {
        std::fprintf(stderr, "emulated_unit: attach %s: %s\n", NODE,
                     error != nullptr ? error->message : "");
        return false;
    }
    return true;
}

bool PlugUnit() {
    {
        std::lock_guard<std::mutex> guard(g_world.lock);
        if (g_world.plugged || !g_world.syspaths.empty()) {
            return false;
        }
        ++g_world.generation;
        const std::string file = NodeFile();
        const std::string dir = g_world.rootDir + "/dev";
        mkdir(dir.c_str(), 0755);
        unlink(file.c_str());
        if (mkfifo(file.c_str(), 0666) != 0) {
            std::fprintf(stderr, "emulated_unit: mkfifo %s: %s\n", file.c_str(),
                         std::strerror(errno));
            return false;
        }
        g_world.tokenFd = open(file.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (g_world.tokenFd < 0) {
            std::fprintf(stderr, "emulated_unit: open %s: %s\n", file.c_str(),
                         std::strerror(errno));
            return false;
        }
        // After our own open: a node its user may not open is the point of the mode.
        if (g_world.options.nodeMode >= 0 &&
            chmod(file.c_str(), static_cast<mode_t>(g_world.options.nodeMode)) != 0) {
            std::fprintf(stderr, "emulated_unit: chmod %s: %s\n", file.c_str(),
                         std::strerror(errno));
            return false;
        }
        SimModelPowerUp(g_world.options.model);
        g_world.replies.clear();
        g_world.late.clear();
        g_world.plugged = true;
        LogLine("plug");
    }
    if (!AddDeviceChain()) {
        std::fprintf(stderr, "emulated_unit: cannot add the unit's devices\n");
        return false;
    }
    return true;
}

void UnplugUnit() {
    {
        std::lock_guard<std::mutex> guard(g_world.lock);
        g_world.plugged = false;
        g_world.unplugWanted = false;
        g_world.replies.clear();
        g_world.late.clear();
        if (g_world.tokenFd >= 0) {
            // Handles still open on the old node poll readable and read EIO, as a
            // hidraw node of a vanished device does.
            const std::vector<uint8_t> tokens(DEAD_NODE_TOKENS, 1);
            if (write(g_world.tokenFd, tokens.data(), tokens.size()) < 0) {
                LogLine("dead-node tokens: %s", std::strerror(errno));
            }
            close(g_world.tokenFd);
            g_world.tokenFd = -1;
        }
        LogLine("unplug");
    }
    RemoveNode();
}

void QueueDueLateReplies() {
    std::lock_guard<std::mutex> guard(g_world.lock);
    const int64_t now = MonotonicMs();
    for (size_t i = 0; i < g_world.late.size();) {
        if (g_world.late[i].dueMs > now) {
            ++i;
            continue;
        }
        if (g_world.plugged && g_world.late[i].generation == g_world.generation) {
            QueueReplies(g_world.late[i].replies);
        }
        g_world.late.erase(g_world.late.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

int NextLateReplyInMs() {
    std::lock_guard<std::mutex> guard(g_world.lock);
    int64_t next = -1;
    const int64_t now = MonotonicMs();
    for (const LateReplies& late : g_world.late) {
        const int64_t in = std::max<int64_t>(0, late.dueMs - now);
        if (next < 0 || in < next) {
            next = in;
        }
    }
    return static_cast<int>(next);
}

void DestroyWorld() {
    if (g_world.testbed == nullptr) {
        return;
    }
    if (g_world.plugged || !g_world.syspaths.empty()) {
        UnplugUnit();
    }
    // The handler goes last: a connection it still serves would otherwise end
    // the program holding it.
    g_object_unref(g_world.testbed);
    g_world.testbed = nullptr;
    g_object_unref(g_world.handler);
    g_world.handler = nullptr;
}
