// HID access on Windows: SetupAPI lists the present HID interfaces, hid.dll reads
// their attributes and capabilities, and reports go through overlapped file I/O so
// that a unit that stops answering cannot hold the program forever.
#include "device/hid/hid_port.h"
#include "device/wide_text.h"

#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <hidsdi.h>
}

static_assert(sizeof(wchar_t) == sizeof(char16_t), "device paths are UTF-16 on Windows");

struct HidInterfaceSet {
    HDEVINFO info;
    GUID hidGuid;
    // Detail record of the last interface asked for; it holds the path handed out.
    SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail;
};

namespace {

HANDLE ToWin(HidHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// The claim that keeps a unit to one copy of the program (hid_port.h) is a named
// object that lives as long as a handle to it is open. Its name comes from the
// path with letters folded, as paths are compared everywhere in the program, so
// that one interface has one name. Each open interface keeps its path for it.
struct OpenInterface {
    HANDLE handle;
    std::u16string path;
    HANDLE claim; // null until claimed
};
std::vector<OpenInterface> g_open;

OpenInterface* FindOpen(HANDLE handle) {
    for (OpenInterface& open : g_open) {
        if (open.handle == handle) {
            return &open;
        }
    }
    return nullptr;
}

HANDLE ClaimInterface(const char16_t* path) {
    uint64_t hash = 14695981039346656037ull;
    for (const char16_t* unit = path; *unit != 0; ++unit) {
        hash = (hash ^ WideFoldCase(*unit)) * 1099511628211ull;
    }
    char16_t name[64];
    WideFormat(name, 64, u"Local\\VespraUpdaterInterface-%08x%08x", unsigned(hash >> 32),
               unsigned(hash & 0xFFFFFFFFu));
    SetLastError(ERROR_SUCCESS);
    const HANDLE claim = CreateMutexW(nullptr, FALSE, reinterpret_cast<const wchar_t*>(name));
    const DWORD error = GetLastError();
    if (claim != nullptr && error == ERROR_ALREADY_EXISTS) {
        CloseHandle(claim);
    }
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED) {
        SetLastError(ERROR_BUSY);
        return INVALID_HANDLE_VALUE;
    }
    // A claim that cannot be made for want of resources does not keep the unit
    // from being used.
    return claim;
}

void ForgetDetail(HidInterfaceSet* set) {
    std::free(set->detail);
    set->detail = nullptr;
}

// Waits for an overlapped transfer. On time-out the transfer is cancelled and
// waited for, so that the system no longer writes into the caller's buffer or the
// OVERLAPPED when this returns; one that the system finished while it was being
// cancelled counts as done. The count of bytes transferred is not judged: HID
// stacks differ in whether they count the report-ID byte (one reports 59 for a
// 60-byte report), so the success of the transfer alone counts. After a success
// the thread's last error is 0, so that a failure judged later from the reply's
// bytes does not show a stale value such as ERROR_IO_PENDING as its system code.
int FinishTransfer(HANDLE handle, OVERLAPPED* overlapped, BOOL started, uint32_t timeoutMs) {
    DWORD transferred = 0;
    if (!started) {
        if (GetLastError() != ERROR_IO_PENDING) {
            return -1;
        }
        if (WaitForSingleObject(overlapped->hEvent, timeoutMs) != WAIT_OBJECT_0) {
            CancelIo(handle);
            if (!GetOverlappedResult(handle, overlapped, &transferred, TRUE)) {
                SetLastError(ERROR_TIMEOUT);
                return -1;
            }
        }
    }
    if (!GetOverlappedResult(handle, overlapped, &transferred, FALSE)) {
        return -1;
    }
    SetLastError(ERROR_SUCCESS);
    return 0;
}

// A read still pending after this long is cancelled and started again. Wine's
// HID class driver looks into a handle's report queue and only then queues the
// read; a report that comes in between stays in the queue while the read waits
// for the next one, which for a reply never comes. A fresh read takes the queued
// report at once. Cancelling loses nothing: a read that the driver completed in
// the meantime still delivers its report (see FinishTransfer), and one it
// cancelled leaves the report queued. A reply normally comes within a few
// milliseconds, so the slice costs nothing then and bounds the delay when a
// reply was overlooked.
constexpr uint32_t READ_SLICE_MS = 50;

// One whole report in or out, overlapped so that it can be given up after
// timeoutMs in all; a read waits in slices of READ_SLICE_MS.
int TransferReport(HANDLE device, uint8_t* report, uint32_t length, bool write,
                   uint32_t timeoutMs) {
    OVERLAPPED overlapped;
    std::memset(&overlapped, 0, sizeof overlapped);
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) {
        return -1;
    }
    const uint32_t slice = write ? timeoutMs : READ_SLICE_MS;
    int result = -1;
    for (uint32_t waited = 0;;) {
        const uint32_t wait = std::min(slice, timeoutMs - waited);
        const BOOL started = write ? WriteFile(device, report, length, nullptr, &overlapped)
                                   : ReadFile(device, report, length, nullptr, &overlapped);
        result = FinishTransfer(device, &overlapped, started, wait);
        waited += wait;
        if (result == 0 || GetLastError() != ERROR_TIMEOUT || waited >= timeoutMs) {
            break;
        }
    }
    const DWORD error = GetLastError();
    CloseHandle(overlapped.hEvent);
    SetLastError(error);
    return result;
}

// Reads input reports that are already queued, until a read would have to wait.
// The buffer is larger than any report this program accepts; a device whose
// reports are larger still refuses the read, which ends the loop harmlessly.
void DropQueuedReports(HANDLE device) {
    static uint8_t discarded[1024];
    const DWORD error = GetLastError();
    OVERLAPPED overlapped;
    std::memset(&overlapped, 0, sizeof overlapped);
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) {
        return;
    }
    for (int i = 0; i < HID_MAX_DROPPED_REPORTS; ++i) {
        ResetEvent(overlapped.hEvent);
        DWORD transferred = 0;
        if (!ReadFile(device, discarded, sizeof discarded, nullptr, &overlapped)) {
            if (GetLastError() != ERROR_IO_PENDING) {
                break;
            }
            if (WaitForSingleObject(overlapped.hEvent, 0) != WAIT_OBJECT_0) {
                CancelIo(device);
                GetOverlappedResult(device, &overlapped, &transferred, TRUE);
                break;
            }
        }
        if (!GetOverlappedResult(device, &overlapped, &transferred, FALSE)) {
            break;
        }
    }
    CloseHandle(overlapped.hEvent);
    SetLastError(error);
}

} // namespace

HidInterfaceSet* HidGetInterfaceSet() {
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    const HDEVINFO info =
        SetupDiGetClassDevsW(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (info == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    auto* set = static_cast<HidInterfaceSet*>(std::calloc(1, sizeof(HidInterfaceSet)));
    if (set == nullptr) {
        SetupDiDestroyDeviceInfoList(info);
        return nullptr;
    }
    set->info = info;
    set->hidGuid = hidGuid;
    return set;
}

HidInterfaceEntry HidGetInterfacePath(HidInterfaceSet* set, uint32_t index, const char16_t** path) {
    *path = nullptr;
    ForgetDetail(set);

    SP_DEVICE_INTERFACE_DATA interfaceData;
    std::memset(&interfaceData, 0, sizeof interfaceData);
    interfaceData.cbSize = sizeof interfaceData;
    if (!SetupDiEnumDeviceInterfaces(set->info, nullptr, &set->hidGuid, index, &interfaceData)) {
        return HID_ENTRY_END;
    }

    // First call: only the size; its failure (insufficient buffer) is expected.
    DWORD requiredSize = 0;
    SetupDiGetDeviceInterfaceDetailW(set->info, &interfaceData, nullptr, 0, &requiredSize, nullptr);
    // The record must at least hold its size field and a terminator.
    if (requiredSize < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        return HID_ENTRY_SKIP;
    }
    auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(std::calloc(1, requiredSize));
    if (detail == nullptr) {
        return HID_ENTRY_SKIP;
    }
    // cbSize is the fixed part of the record, not the buffer's size.
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!SetupDiGetDeviceInterfaceDetailW(set->info, &interfaceData, detail, requiredSize, nullptr,
                                          nullptr)) {
        std::free(detail);
        return HID_ENTRY_SKIP;
    }
    // Keep the path terminated even if the system filled the buffer to the last byte.
    const size_t pathChars =
        (requiredSize - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(wchar_t);
    detail->DevicePath[pathChars - 1] = L'\0';
    set->detail = detail;
    *path = reinterpret_cast<const char16_t*>(detail->DevicePath);
    return HID_ENTRY_OK;
}

void HidDestroyInterfaceSet(HidInterfaceSet* set) {
    if (set == nullptr) {
        return;
    }
    ForgetDetail(set);
    SetupDiDestroyDeviceInfoList(set->info);
    std::free(set);
}

HidHandle HidOpenInterface(const char16_t* path) {
    if (path == nullptr) {
        return HID_INVALID_HANDLE;
    }
    const HANDLE handle = CreateFileW(
        reinterpret_cast<const wchar_t*>(path), GENERIC_READ | GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return HID_INVALID_HANDLE;
    }
    g_open.push_back(OpenInterface{handle, path, nullptr});
    return reinterpret_cast<HidHandle>(handle);
}

// Windows has no per-user access to grant for a HID interface: one it refuses is
// held by the system or another program, which no setting on our side changes.
int HidGetDeniedAttributes(const char16_t*, uint16_t*, uint16_t*) {
    return -1;
}

int HidClaimInterface(HidHandle handle) {
    OpenInterface* open = handle == HID_INVALID_HANDLE ? nullptr : FindOpen(ToWin(handle));
    if (open == nullptr || open->claim != nullptr) {
        return 0;
    }
    const HANDLE claim = ClaimInterface(open->path.c_str());
    if (claim == INVALID_HANDLE_VALUE) {
        return HID_CLAIM_HELD;
    }
    open->claim = claim;
    return 0;
}

int HidGetAttributes(HidHandle handle, uint16_t* vendorId, uint16_t* productId) {
    HIDD_ATTRIBUTES attributes;
    std::memset(&attributes, 0, sizeof attributes);
    attributes.Size = sizeof attributes;
    if (!HidD_GetAttributes(ToWin(handle), &attributes)) {
        return -1;
    }
    *vendorId = attributes.VendorID;
    *productId = attributes.ProductID;
    return 0;
}

int HidGetReportLengths(HidHandle handle, uint16_t* inputReportLength,
                        uint16_t* outputReportLength) {
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!HidD_GetPreparsedData(ToWin(handle), &preparsed)) {
        return -1;
    }
    HIDP_CAPS caps;
    std::memset(&caps, 0, sizeof caps);
    const NTSTATUS status = HidP_GetCaps(preparsed, &caps);
    HidD_FreePreparsedData(preparsed);
    if (status != HIDP_STATUS_SUCCESS) {
        return -1;
    }
    *inputReportLength = caps.InputReportByteLength;
    *outputReportLength = caps.OutputReportByteLength;
    return 0;
}

int HidWriteReport(HidHandle handle, const uint8_t* report, uint32_t length) {
    // Every reply is read right after its request; an input report left over from
    // an earlier, abandoned exchange must not be taken for the coming reply. Some
    // HID stacks (Wine's among them) do not implement the queue flush; there the
    // leftovers are read off and dropped instead.
    if (!HidD_FlushQueue(ToWin(handle))) {
        DropQueuedReports(ToWin(handle));
    }
    // A unit that stops taking reports would block a write as surely as a read.
    return TransferReport(ToWin(handle), const_cast<uint8_t*>(report), length, true,
                          HID_READ_TIMEOUT_MS);
}

int HidReadReport(HidHandle handle, uint8_t* report, uint32_t length, uint32_t timeoutMs) {
    return TransferReport(ToWin(handle), report, length, false, timeoutMs);
}

void HidCloseInterface(HidHandle handle) {
    if (handle == HID_INVALID_HANDLE) {
        return;
    }
    CloseHandle(ToWin(handle));
    for (size_t i = 0; i < g_open.size(); ++i) {
        if (g_open[i].handle == ToWin(handle)) {
            if (g_open[i].claim != nullptr) {
                CloseHandle(g_open[i].claim);
            }
            g_open.erase(g_open.begin() + i);
            break;
        }
    }
}
