// The HID port over the simulated world: enumeration of the plugged interfaces,
// handles that die with an unplug, and report transfers served by each unit's
// protocol model, with the faults it fires.
#include <cstring>

#include "device/command_reports.h"
#include "device/hid/hid_port.h"
#include "device/hid/clock_port.h"
#include "device/hid/sim_world.h"
#include "device/hid/sim_world_port.h"

struct HidInterfaceSet {
    std::vector<std::u16string> paths;
    std::vector<bool> pathReadable;
};

namespace {

int Fail(uint32_t lastError) {
    PlatformSetLastError(lastError);
    return -1;
}

// A report transfer that went through leaves the last error 0 (hid_port.h).
int TransferDone() {
    PlatformSetLastError(0);
    return 0;
}

// The interface behind a live handle; null with the last error set otherwise.
const SimInterface* InterfaceBehind(HidHandle handle) {
    const SimOpenHandle* open = SimFindHandle(handle);
    if (open == nullptr || !SimHandleIsLive(*open)) {
        PlatformSetLastError(open == nullptr ? SIM_LAST_ERROR_INVALID_HANDLE
                                             : SIM_LAST_ERROR_NOT_CONNECTED);
        return nullptr;
    }
    return &SimGetInterface(open->interfaceIndex);
}

} // namespace

HidInterfaceSet* HidGetInterfaceSet() {
    if (SimInterfaceListRefused()) {
        PlatformSetLastError(SIM_LAST_ERROR_GEN_FAILURE);
        return nullptr;
    }
    HidInterfaceSet* set = new HidInterfaceSet;
    for (int i = 0; i < SimInterfaceCount(); ++i) {
        if (!SimIsPlugged(i)) {
            continue;
        }
        set->paths.push_back(SimGetInterface(i).path);
        set->pathReadable.push_back(SimGetInterface(i).pathReadable);
    }
    SimCountInterfaceSet(1);
    return set;
}

HidInterfaceEntry HidGetInterfacePath(HidInterfaceSet* set, uint32_t index, const char16_t** path) {
    *path = nullptr;
    if (set == nullptr || index >= set->paths.size()) {
        return HID_ENTRY_END;
    }
    if (!set->pathReadable[index]) {
        return HID_ENTRY_SKIP;
    }
    *path = set->paths[index].c_str();
    return HID_ENTRY_OK;
}

void HidDestroyInterfaceSet(HidInterfaceSet* set) {
    if (set == nullptr) {
        return;
    }
    delete set;
    SimCountInterfaceSet(-1);
}

HidHandle HidOpenInterface(const char16_t* path) {
    for (int i = 0; i < SimInterfaceCount(); ++i) {
        const SimInterface& interface = SimGetInterface(i);
        if (!SimIsPlugged(i) || interface.path != path) {
            continue;
        }
        if (interface.accessDenied) {
            PlatformSetLastError(SIM_LAST_ERROR_ACCESS_DENIED);
            return HID_INVALID_HANDLE;
        }
        if (!interface.openable) {
            PlatformSetLastError(SIM_LAST_ERROR_SHARING_VIOLATION);
            return HID_INVALID_HANDLE;
        }
        return SimAddHandle(i);
    }
    PlatformSetLastError(SIM_LAST_ERROR_FILE_NOT_FOUND);
    return HID_INVALID_HANDLE;
}

int HidGetDeniedAttributes(const char16_t* path, uint16_t* vendorId, uint16_t* productId) {
    for (int i = 0; i < SimInterfaceCount(); ++i) {
        const SimInterface& interface = SimGetInterface(i);
        if (SimIsPlugged(i) && interface.path == path && interface.accessDenied) {
            *vendorId = interface.vendorId;
            *productId = interface.productId;
            return 0;
        }
    }
    return -1;
}

int HidClaimInterface(HidHandle handle) {
    const SimInterface* interface = InterfaceBehind(handle);
    if (interface != nullptr && interface->claimedElsewhere) {
        PlatformSetLastError(SIM_LAST_ERROR_BUSY);
        return HID_CLAIM_HELD;
    }
    return 0;
}

int HidGetAttributes(HidHandle handle, uint16_t* vendorId, uint16_t* productId) {
    const SimInterface* interface = InterfaceBehind(handle);
    if (interface == nullptr) {
        return -1;
    }
    if (!interface->attributesReadable) {
        return Fail(SIM_LAST_ERROR_GEN_FAILURE);
    }
    *vendorId = interface->vendorId;
    *productId = interface->productId;
    return 0;
}

int HidGetReportLengths(HidHandle handle, uint16_t* inputReportLength,
                        uint16_t* outputReportLength) {
    const SimInterface* interface = InterfaceBehind(handle);
    if (interface == nullptr) {
        return -1;
    }
    if (!interface->capsReadable) {
        return Fail(SIM_LAST_ERROR_GEN_FAILURE);
    }
    *inputReportLength = interface->inputReportLength;
    *outputReportLength = interface->outputReportLength;
    return 0;
}

int HidWriteReport(HidHandle handle, const uint8_t* report, uint32_t length) {
    SimOpenHandle* open = SimFindHandle(handle);
    if (open == nullptr) {
        return Fail(SIM_LAST_ERROR_INVALID_HANDLE);
    }
    const int index = open->interfaceIndex;
    SimCountExchange();
    open->queued.clear();
    open->lateReplies.clear();
    open->readFailure = 0;
    open->readTimeoutError = 0;
    if (!SimHandleIsLive(*open)) {
        SimLogWire(index, true, nullptr, 0, true);
        return Fail(SIM_LAST_ERROR_NOT_CONNECTED);
    }
    SimInterface& interface = SimGetInterface(index);
    // A HID write carries exactly one whole output report.
    if (report == nullptr || length != interface.outputReportLength ||
        report[0] != COMMAND_REPORT_ID) {
        SimLogWire(index, true, nullptr, 0, true);
        return Fail(SIM_LAST_ERROR_INVALID_PARAMETER);
    }
    if (!interface.speaksProtocol) {
        SimLogWire(index, true, report, length, false);
        open->readTimeoutError = SIM_LAST_ERROR_TIMEOUT;
        return TransferDone();
    }
    SimModelOutcome outcome =
        SimModelHandleRequest(interface, report, length, interface.inputReportLength);
    switch (outcome.fault) {
    case SimFault::Unplugged:
        SimUnplug(index);
        SimLogWire(index, true, nullptr, 0, true);
        return Fail(SIM_LAST_ERROR_NOT_CONNECTED);
    case SimFault::WriteFails:
        SimLogWire(index, true, nullptr, 0, true);
        return Fail(outcome.lastError);
    case SimFault::NoAnswer:
    case SimFault::LateReply:
        open->readTimeoutError = outcome.lastError;
        break;
    case SimFault::ReadFails:
        open->readFailure = outcome.lastError;
        break;
    default:
        break;
    }
    SimLogWire(index, true, report, length, false);
    for (std::vector<uint8_t>& reply : outcome.replies) {
        if (outcome.repliesLate) {
            open->lateReplies.push_back(std::move(reply));
        } else {
            open->queued.push_back(std::move(reply));
        }
    }
    return TransferDone();
}

int HidReadReport(HidHandle handle, uint8_t* report, uint32_t length, uint32_t timeoutMs) {
    SimOpenHandle* open = SimFindHandle(handle);
    if (open == nullptr) {
        return Fail(SIM_LAST_ERROR_INVALID_HANDLE);
    }
    const int index = open->interfaceIndex;
    const SimInterface& interface = SimGetInterface(index);
    if (!SimHandleIsLive(*open)) {
        SimLogWire(index, false, nullptr, 0, true);
        return Fail(SIM_LAST_ERROR_NOT_CONNECTED);
    }
    if (report == nullptr || length != interface.inputReportLength) {
        SimLogWire(index, false, nullptr, 0, true);
        return Fail(SIM_LAST_ERROR_INVALID_PARAMETER);
    }
    if (open->readFailure != 0) {
        const uint32_t error = open->readFailure;
        open->readFailure = 0;
        open->queued.clear();
        SimLogWire(index, false, nullptr, 0, true, timeoutMs);
        return Fail(error);
    }
    if (open->queued.empty()) {
        // Nothing to answer: the read waits out its time-out. A late reply comes
        // just after and waits for the next read.
        const uint32_t error =
            open->readTimeoutError != 0 ? open->readTimeoutError : SIM_LAST_ERROR_TIMEOUT;
        PlatformSleep(timeoutMs);
        SimLogWire(index, false, nullptr, 0, true, timeoutMs);
        for (std::vector<uint8_t>& late : open->lateReplies) {
            open->queued.push_back(std::move(late));
        }
        open->lateReplies.clear();
        return Fail(error);
    }
    // A shorter report fills only its own bytes; the rest keeps what the caller
    // left there.
    const std::vector<uint8_t> answer = open->queued.front();
    open->queued.pop_front();
    if (!answer.empty()) {
        memcpy(report, answer.data(), answer.size());
    }
    SimLogWire(index, false, answer.data(), uint32_t(answer.size()), false, timeoutMs);
    return TransferDone();
}

void HidCloseInterface(HidHandle handle) {
    SimRemoveHandle(handle);
}
