// The emulated world around one programming unit: a umockdev testbed holding the
// sysfs chain a real USB HID unit has (usb_device, usb_interface, hid, hidraw)
// and a /dev/hidraw0 node whose ioctl, read and write calls are answered by the
// unit's protocol model. Programs started with this process's environment
// (LD_PRELOAD of the umockdev library, UMOCKDEV_DIR) see the unit as real.
//
// umockdev answers read and write but not poll(), so the node is a FIFO that
// holds one token byte for every reply waiting: it polls readable exactly while
// a reply waits, as a hidraw node does, and each emulated read takes one token.
//
// The handlers run on umockdev's own thread; everything they share with the
// control side is guarded by g_world.lock.
#pragma once
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <umockdev.h>
#include <vector>

#include "device/hid/sim_unit_model.h"

// Options given with --unit.
struct UnitOptions {
    bool absent = false;    // not plugged in at start
    uint16_t productId = 2; // 2 LINK-CUBE, 1 DIALPOD
    bool noAnswer = false;  // never answers anything
    int nodeMode = -1;      // the node file's mode after each plug-in; -1 as made (0666)
    SimUnitModel model = SimReadyUnitModel();
};

struct QueuedReply {
    std::vector<uint8_t> bytes;
    bool readFails = false; // the read that takes it fails
};

struct LateReplies {
    int64_t dueMs = 0;
    uint32_t generation = 0;
    std::vector<std::vector<uint8_t>> replies;
};

struct EmulatedWorld {
    std::mutex lock;
    UnitOptions options;
    UMockdevTestbed* testbed = nullptr;
    UMockdevIoctlBase* handler = nullptr;
    std::string rootDir;
    std::vector<std::string> syspaths; // usb_device, usb_interface, hid, hidraw
    bool plugged = false;
    uint32_t generation = 0; // counts plug-ins; a handle opened before the last one is dead
    int tokenFd = -1;        // this side of the node's FIFO
    std::deque<QueuedReply> replies;
    std::vector<LateReplies> late;
    bool unplugWanted = false; // a fault unplugged the unit; the control side does it
    int wakeFd = -1;           // written to when unplugWanted is set

    // Exchanges since the last stats-reset, and the times of the first and last request.
    uint64_t exchanges = 0;
    int64_t firstMs = -1;
    int64_t lastMs = -1;
    FILE* log = nullptr;
};

extern EmulatedWorld g_world;

constexpr uint16_t EMULATED_VENDOR_ID = 0x3A5D;
constexpr uint16_t UNIT_REPORT_LENGTH = 60; // report ID included, both ways

int64_t MonotonicMs();
// A line in the --log file, with the monotonic time in front (caller holds lock).
void LogLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Creates the testbed and the node's handler; false with a message on stderr.
bool CreateWorld();
// Plugging with real add / remove uevents; both hold the lock themselves.
bool PlugUnit();
void UnplugUnit();
// Queues late replies that are due (called from the control loop).
void QueueDueLateReplies();
// Milliseconds until the next late reply is due, or -1.
int NextLateReplyInMs();
void DestroyWorld();
