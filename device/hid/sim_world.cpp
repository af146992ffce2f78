#include "device/hid/sim_world.h"

#include <cstdio>
#include <cstring>
#include <deque>
#include <map>

#include "device/hid/sim_world_port.h"

namespace {

struct Slot {
    SimInterface unit;
    bool plugged = true;
    uint32_t plugGeneration = 0;
    int openCount = 0;
};

// The simulated world. A deque keeps SimGetInterface's references stable.
std::deque<Slot> g_slots;
std::map<HidHandle, SimOpenHandle> g_handles;
HidHandle g_nextHandle = 0x100;
uint32_t g_exchangeCount = 0;
std::vector<SimWireRecord> g_wireLog;
uint32_t g_closeCount = 0;
int g_liveSets = 0;
bool g_listFails = false;

std::u16string DefaultPath(const SimInterface& unit, int index) {
    char text[64];
    snprintf(text, sizeof text, "\\\\?\\hid#vid_%04x&pid_%04x#sim%d#{hid}", unit.vendorId,
             unit.productId, index);
    return std::u16string(text, text + strlen(text));
}

} // namespace

// --- Setting up the world ------------------------------------------------------

void SimReset() {
    g_slots.clear();
    g_handles.clear();
    g_exchangeCount = 0;
    g_wireLog.clear();
    g_closeCount = 0;
    g_liveSets = 0;
    g_listFails = false;
}

int SimAddInterface(const SimInterface& interface) {
    const int index = static_cast<int>(g_slots.size());
    Slot slot;
    slot.unit = interface;
    if (slot.unit.path.empty()) {
        slot.unit.path = DefaultPath(interface, index);
    }
    SimModelFillEmptyFlash(slot.unit);
    g_slots.push_back(std::move(slot));
    return index;
}

SimInterface& SimGetInterface(int index) {
    return g_slots[index].unit;
}

int SimInterfaceCount() {
    return static_cast<int>(g_slots.size());
}

void SimUnplug(int index) {
    g_slots[index].plugged = false;
    ++g_slots[index].plugGeneration;
}

void SimReplug(int index) {
    if (g_slots[index].plugged) {
        return;
    }
    g_slots[index].plugged = true;
    ++g_slots[index].plugGeneration;
    SimModelPowerUp(g_slots[index].unit);
}

bool SimIsPlugged(int index) {
    return g_slots[index].plugged;
}

SimInterface SimReadyUnit() {
    // The flash is left to SimAddInterface, so that a caller's own costs nothing.
    SimInterface unit;
    SimModelMakeReady(unit);
    unit.vendorId = 0x3A5D;
    unit.productId = 2;
    return unit;
}

void SimSetInterfaceListFails(bool fails) {
    g_listFails = fails;
}

// --- Faults --------------------------------------------------------------------

void SimArmFault(int index, uint8_t command, uint32_t occurrence, SimFault fault,
                 uint32_t errorCode, uint32_t lastError) {
    SimModelArmFault(g_slots[index].unit, command, occurrence, fault, errorCode, lastError);
}

void SimArmReply(int index, uint8_t command, uint32_t occurrence,
                 const std::vector<uint8_t>& reply) {
    SimModelArmReply(g_slots[index].unit, command, occurrence, reply);
}

void SimClearFaults() {
    for (Slot& slot : g_slots) {
        SimModelClearFaults(slot.unit);
    }
}

uint32_t SimExchangeCount() {
    return g_exchangeCount;
}

// --- Observation ---------------------------------------------------------------

const std::vector<SimWireRecord>& SimWireLog() {
    return g_wireLog;
}

std::vector<std::vector<uint8_t>> SimSentRequests() {
    std::vector<std::vector<uint8_t>> requests;
    for (const SimWireRecord& record : g_wireLog) {
        if (record.isWrite && !record.failed) {
            requests.push_back(record.bytes);
        }
    }
    return requests;
}

void SimClearWireLog() {
    g_wireLog.clear();
}

int SimOpenHandleCount() {
    return static_cast<int>(g_handles.size());
}

int SimOpenCount(int index) {
    return g_slots[index].openCount;
}

uint32_t SimCloseCount() {
    return g_closeCount;
}

int SimInterfaceSetCount() {
    return g_liveSets;
}

// --- What the port keeps here ----------------------------------------------------

HidHandle SimAddHandle(int index) {
    const HidHandle handle = g_nextHandle++;
    SimOpenHandle open;
    open.interfaceIndex = index;
    open.plugGeneration = g_slots[index].plugGeneration;
    g_handles[handle] = open;
    ++g_slots[index].openCount;
    return handle;
}

SimOpenHandle* SimFindHandle(HidHandle handle) {
    auto it = g_handles.find(handle);
    return it == g_handles.end() ? nullptr : &it->second;
}

void SimRemoveHandle(HidHandle handle) {
    ++g_closeCount;
    g_handles.erase(handle);
}

bool SimHandleIsLive(const SimOpenHandle& handle) {
    const Slot& slot = g_slots[handle.interfaceIndex];
    return slot.plugged && slot.plugGeneration == handle.plugGeneration;
}

void SimLogWire(int index, bool isWrite, const uint8_t* bytes, uint32_t length, bool failed,
                uint32_t timeoutMs) {
    SimWireRecord record{index, isWrite, {}, failed, timeoutMs};
    if (bytes != nullptr) {
        record.bytes.assign(bytes, bytes + length);
    }
    g_wireLog.push_back(std::move(record));
}

void SimCountExchange() {
    ++g_exchangeCount;
}

bool SimInterfaceListRefused() {
    return g_listFails;
}

void SimCountInterfaceSet(int change) {
    g_liveSets += change;
}
