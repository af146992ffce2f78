// Device events of the real program: a udev monitor on the hidraw subsystem,
// read in the Qt event loop. An added or changed node is an arrival, a removed
// one a removal carrying the node's path, both as HID interface broadcasts.
#include "app/linux/device_events_port.h"

#include <QSocketNotifier>
#include <libudev.h>
#include <string>

#include "app/detection.h"
#include "device/wide_text.h"

namespace {

udev* g_udev = nullptr;
udev_monitor* g_monitor = nullptr;
QSocketNotifier* g_notifier = nullptr;

void Deliver(uint32_t event, const char* node) {
    // A UTF-16 text never needs more units than its UTF-8 form has bytes.
    std::u16string path(std::char_traits<char>::length(node) + 1, u'\0');
    path.resize(WideFromUtf8(&path[0], path.size(), node));
    const DeviceBroadcast broadcast = {DBT_DEVTYP_DEVICEINTERFACE_TYPE, path.c_str()};
    OnDeviceChange(event, &broadcast);
}

void ReadMonitor() {
    // The socket does not block: take every event that is waiting.
    while (g_monitor != nullptr) {
        udev_device* device = udev_monitor_receive_device(g_monitor);
        if (device == nullptr) {
            return;
        }
        const char* action = udev_device_get_action(device);
        const char* node = udev_device_get_devnode(device);
        if (action != nullptr && node != nullptr) {
            const std::string what(action);
            // "change" comes when udev applies rules again (udevadm trigger, as
            // the package's postinst runs): a unit that could not be opened
            // before may be open to us now. While a unit is open it changes nothing.
            if (what == "add" || what == "change") {
                Deliver(DBT_DEVICEARRIVAL_EVENT, node);
            } else if (what == "remove") {
                Deliver(DBT_DEVICEREMOVECOMPLETE_EVENT, node);
            }
        }
        udev_device_unref(device);
    }
}

} // namespace

bool RegisterDeviceEvents(QWidget*) {
    UnregisterDeviceEvents();
    g_udev = udev_new();
    if (g_udev == nullptr) {
        return false;
    }
    // The "udev" source reports a node after its rules ran, so its access rights
    // are in place when the dialog opens it.
    g_monitor = udev_monitor_new_from_netlink(g_udev, "udev");
    if (g_monitor == nullptr ||
        udev_monitor_filter_add_match_subsystem_devtype(g_monitor, "hidraw", nullptr) < 0 ||
        udev_monitor_enable_receiving(g_monitor) < 0 || udev_monitor_get_fd(g_monitor) < 0) {
        UnregisterDeviceEvents();
        return false;
    }
    g_notifier = new QSocketNotifier(udev_monitor_get_fd(g_monitor), QSocketNotifier::Read);
    QObject::connect(g_notifier, &QSocketNotifier::activated, g_notifier, [] { ReadMonitor(); });
    return true;
}

void UnregisterDeviceEvents() {
    delete g_notifier;
    g_notifier = nullptr;
    if (g_monitor != nullptr) {
        udev_monitor_unref(g_monitor);
        g_monitor = nullptr;
    }
    if (g_udev != nullptr) {
        udev_unref(g_udev);
        g_udev = nullptr;
    }
}
