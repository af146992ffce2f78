// What is attached, and what the status pane says about it.
#pragma once
#include <cstdint>

enum class DetectionOutcome {
    NoUnit,
    WrongMode,
    NoUpdatableController,
    IncompatibleController,
    Ready
};

extern const char16_t CONTROLLER_MODEL_NAME[]; // u"VESPRA 80 LV"

// Device event codes and the interface device type, with Windows' values.
constexpr uint32_t DBT_DEVICEARRIVAL_EVENT = 0x8000;
constexpr uint32_t DBT_DEVICEREMOVECOMPLETE_EVENT = 0x8004;
constexpr uint32_t DBT_DEVTYP_DEVICEINTERFACE_TYPE = 5;

// The two fields of a device broadcast the program reads.
struct DeviceBroadcast {
    uint32_t dbch_devicetype;
    const char16_t* dbcc_name; // interface path; may be null for other device types
};

// Classifies the record after OpenUnit returned 0.
DetectionOutcome ClassifyUnit();
void DetectUnit();
// 1 for arrival and removal-complete (acted on or not), 0 for other events.
int OnDeviceChange(uint32_t event, const DeviceBroadcast* broadcast);
void ShowHintWithInstructions(uint16_t headlineId);
