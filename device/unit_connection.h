// The one record of the open programming unit, and opening and closing it.
#pragma once
#include <cstdint>
#include "device/hid/hid_port.h"

constexpr uint16_t UNIT_VENDOR_ID = 0x3A5D;
constexpr uint16_t UNIT_PRODUCT_DIALPOD = 1;
constexpr uint16_t UNIT_PRODUCT_LINK_CUBE = 2;

// unitMode: the unit serves the controller (any other mode is not updatable).
constexpr uint8_t UNIT_MODE_SERVES_CONTROLLER = 0;
// controllerStatus: an updatable controller is attached.
constexpr uint16_t CONTROLLER_STATUS_UPDATABLE = 3;
// ControllerTypeId: the controller types this program updates.
constexpr uint32_t SUPPORTED_CONTROLLER_TYPES[] = {0x111F408C, 0x0A06408C};
// ControllerFirmwareVersion: the controller holds no firmware version.
constexpr uint16_t FIRMWARE_VERSION_NONE = 0xFFFF;

// The open unit, or the closed state: CloseUnit closes the handle, frees the
// path and gives every field its closed value (deviceHandle HID_INVALID_HANDLE,
// everything else zero).
struct UnitConnection {
    HidHandle deviceHandle; // HID_INVALID_HANDLE (-1) when no unit is open
    char16_t* devicePath;   // owned copy; null when closed
    uint32_t outputReportLength;
    uint32_t inputReportLength;
    uint8_t unitMode; // UNIT_MODE_SERVES_CONTROLLER or another mode
    uint32_t unitFirmwareVersion;
    uint32_t unitFirmwareAux;
    uint16_t controllerStatus; // CONTROLLER_STATUS_UPDATABLE or another status
    uint16_t controllerStatusAux;
    uint8_t altModeByte1;
    uint16_t altModeWord;
    uint32_t altModeDword1;
    uint32_t altModeDword2;
    uint8_t altModeByte2;
    uint8_t controllerFirmwareInfo[32]; // bytes 4..5: controllerFirmwareVersion
    uint8_t controllerInfo[40];         // bytes 0..3 type, 4..7 bootloader version
    uint16_t productId;
};

extern UnitConnection g_unit;

// Start-up reset: the closed state without closing anything.
void ResetUnitConnection();
// 0 found, opened and identified; -1 interface list unavailable; -4 no unit
// present; otherwise IdentifyUnit's result with the unit left open.
int32_t OpenUnit();
void CloseUnit();
bool UnitIsOpen();

// Why the last OpenUnit could not take a programming unit it saw.
enum class UnitRefusal {
    None,
    AccessDenied,      // the system denied this user access to its interface
    HeldByAnotherCopy, // another copy of the updater holds it
};
// The first unit the last OpenUnit saw but could not take, with its interface's
// path in *path (null for None). Kept until the next OpenUnit or
// ForgetRefusedUnit.
UnitRefusal RefusedUnit(const char16_t** path);
void ForgetRefusedUnit();

// Little-endian views into the identity blocks.
uint16_t ControllerFirmwareVersion();
void SetControllerFirmwareVersion(uint16_t version);
uint32_t ControllerTypeId();
uint32_t ControllerBootloaderVersion();
