#include "device/unit_connection.h"

#include <cstdlib>

#include "device/command_reports.h"
#include "device/identify_unit.h"
#include "device/little_endian.h"
#include "device/wide_text.h"

// Everything after deviceHandle goes to zero; the record holds only plain values
// and one owned pointer, which the callers free first.
static void ClearFieldsAfterHandle() {
    const HidHandle handle = g_unit.deviceHandle;
    g_unit = UnitConnection{};
    g_unit.deviceHandle = handle;
}

// Constant-initialised, so that the record is closed before any other start-up code runs.
static constexpr UnitConnection ClosedRecord() {
    UnitConnection record{};
    record.deviceHandle = HID_INVALID_HANDLE;
    return record;
}

UnitConnection g_unit = ClosedRecord();

// Not part of the record: it describes a unit that was not opened, and it must
// outlive the CloseUnit that every outcome but Ready performs.
static UnitRefusal s_refusal = UnitRefusal::None;
static char16_t* s_refusedPath = nullptr;

UnitRefusal RefusedUnit(const char16_t** path) {
    if (path != nullptr) {
        *path = s_refusedPath;
    }
    return s_refusal;
}

void ForgetRefusedUnit() {
    free(s_refusedPath);
    s_refusedPath = nullptr;
    s_refusal = UnitRefusal::None;
}

void ResetUnitConnection() {
    ClearFieldsAfterHandle();
    g_unit.deviceHandle = HID_INVALID_HANDLE;
    ForgetRefusedUnit();
}

void CloseUnit() {
    if (g_unit.deviceHandle != HID_INVALID_HANDLE) {
        HidCloseInterface(g_unit.deviceHandle);
    }
    free(g_unit.devicePath);
    ClearFieldsAfterHandle();
    g_unit.deviceHandle = HID_INVALID_HANDLE;
}

bool UnitIsOpen() {
    return g_unit.deviceHandle != HID_INVALID_HANDLE;
}

static void NoteRefusal(UnitRefusal refusal, const char16_t* path) {
    if (s_refusal != UnitRefusal::None) {
        return;
    }
    s_refusedPath = WideDuplicate(path);
    // Out of memory: no path to name, so nothing to say.
    s_refusal = s_refusedPath != nullptr ? refusal : UnitRefusal::None;
}

static bool IsUnitId(uint16_t vendorId, uint16_t productId) {
    return vendorId == UNIT_VENDOR_ID &&
           (productId == UNIT_PRODUCT_DIALPOD || productId == UNIT_PRODUCT_LINK_CUBE);
}

static bool IsProgrammingUnit(HidHandle handle, uint16_t* productId) {
    uint16_t vendorId = 0;
    if (HidGetAttributes(handle, &vendorId, productId) != 0) {
        return false;
    }
    return IsUnitId(vendorId, *productId);
}

int32_t OpenUnit() {
    CloseUnit();
    ForgetRefusedUnit();
    HidInterfaceSet* set = HidGetInterfaceSet();
    if (set == nullptr) {
        return -1;
    }
    for (uint32_t index = 0;; ++index) {
        const char16_t* path = nullptr;
        HidInterfaceEntry entry = HidGetInterfacePath(set, index, &path);
        if (entry == HID_ENTRY_END) {
            break;
        }
        if (entry != HID_ENTRY_OK || path == nullptr) {
            continue;
        }
        HidHandle handle = HidOpenInterface(path);
        if (handle == HID_INVALID_HANDLE) {
            uint16_t vendorId = 0, productId = 0;
            if (HidGetDeniedAttributes(path, &vendorId, &productId) == 0 &&
                IsUnitId(vendorId, productId)) {
                NoteRefusal(UnitRefusal::AccessDenied, path);
            }
            continue;
        }
        uint16_t productId = 0;
        if (!IsProgrammingUnit(handle, &productId)) {
            HidCloseInterface(handle);
            continue;
        }
        if (HidClaimInterface(handle) != 0) {
            NoteRefusal(UnitRefusal::HeldByAnotherCopy, path);
            HidCloseInterface(handle);
            continue;
        }
        // A unit was taken: one refused before it no longer matters.
        ForgetRefusedUnit();
        g_unit.productId = productId;
        g_unit.deviceHandle = handle;
        // Out of memory leaves the path null, which IdentifyUnit answers with -1.
        g_unit.devicePath = WideDuplicate(path);
        HidDestroyInterfaceSet(set);
        return IdentifyUnit();
    }
    HidDestroyInterfaceSet(set);
    return OPEN_NO_UNIT;
}

uint16_t ControllerFirmwareVersion() {
    return GetLe16(g_unit.controllerFirmwareInfo + 4);
}

void SetControllerFirmwareVersion(uint16_t version) {
    PutLe16(g_unit.controllerFirmwareInfo + 4, version);
}

uint32_t ControllerTypeId() {
    return GetLe32(g_unit.controllerInfo);
}

uint32_t ControllerBootloaderVersion() {
    return GetLe32(g_unit.controllerInfo + 4);
}
