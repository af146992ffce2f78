// What is attached, decided at start and on every HID arrival, and what the
// status pane says about it. Only a ready unit stays open with Update enabled.
#include "app/detection.h"

#include <cstdlib>

#include "update/ui_port.h"
#include "app/version_panel.h"
#include "device/unit_connection.h"
#include "device/wide_text.h"
#include "res/resource_ids.h"

extern const char16_t CONTROLLER_MODEL_NAME[] = u"VESPRA 80 LV";

namespace {

uint16_t HeadlineOf(DetectionOutcome outcome) {
    switch (outcome) {
    case DetectionOutcome::WrongMode:
        return IDS_WRONG_MODE;
    case DetectionOutcome::NoUpdatableController:
        return IDS_NO_UPDATABLE_CONTROLLER;
    case DetectionOutcome::IncompatibleController:
        return IDS_INCOMPATIBLE_CONTROLLER;
    case DetectionOutcome::NoUnit:
    case DetectionOutcome::Ready:
        break;
    }
    return IDS_NO_UNIT;
}

bool IsSupportedController(uint32_t typeId) {
    for (uint32_t supported : SUPPORTED_CONTROLLER_TYPES) {
        if (typeId == supported) {
            return true;
        }
    }
    return false;
}

void ShowReadyText() {
    char16_t text[TEXT_BUFFER_CHARS];
    UiLoadString(IDS_READY, text, TEXT_BUFFER_CHARS);
    UiSetItemText(IDC_STATUS_PANE, text);
}

void ShowIncompatibleBox() {
    char16_t format[TEXT_BUFFER_CHARS];
    char16_t text[TEXT_BUFFER_CHARS];
    char16_t caption[TEXT_BUFFER_CHARS];
    UiLoadString(IDS_INCOMPATIBLE_TEXT, format, TEXT_BUFFER_CHARS);
    WideFormat(text, TEXT_BUFFER_CHARS, format, CONTROLLER_MODEL_NAME);
    UiLoadString(IDS_INCOMPATIBLE_CAPTION, caption, TEXT_BUFFER_CHARS);
    UiMessageBox(text, caption, UI_MB_ICONINFORMATION | UI_MB_OK);
}

// Adds `text` to what the pane holds, after a blank line, reading the pane back
// as the instructions are added.
void AppendParagraph(const char16_t* text) {
    const int paneLength = UiGetItemTextLength(IDC_STATUS_PANE);
    const size_t count = size_t(paneLength > 0 ? paneLength : 0) + 4 + WideLength(text) + 1;
    char16_t* combined = static_cast<char16_t*>(std::malloc(count * sizeof(char16_t)));
    if (combined == nullptr) {
        return;
    }
    combined[0] = 0;
    UiGetItemText(IDC_STATUS_PANE, combined, int(count));
    WideAppend(combined, count, u"\r\n\r\n");
    WideAppend(combined, count, text);
    UiSetItemText(IDC_STATUS_PANE, combined);
    std::free(combined);
}

// A unit that OpenUnit saw but could not take: the user is told why, since the
// no-unit text alone would contradict what they see plugged in.
void ExplainRefusedUnit() {
    const char16_t* path = nullptr;
    const UnitRefusal refusal = RefusedUnit(&path);
    if (refusal == UnitRefusal::None) {
        return;
    }
    char16_t text[TEXT_BUFFER_CHARS];
    if (refusal == UnitRefusal::AccessDenied) {
        char16_t format[TEXT_BUFFER_CHARS];
        UiLoadString(IDS_NODE_ACCESS_DENIED, format, TEXT_BUFFER_CHARS);
        WideFormat(text, TEXT_BUFFER_CHARS, format, path);
    } else {
        UiLoadString(IDS_UNIT_HELD_ELSEWHERE, text, TEXT_BUFFER_CHARS);
    }
    AppendParagraph(text);
}

// Every outcome but Ready: the connection is given up and the pane explains why.
// The box of an incompatible controller runs a modal loop, so the button and the
// connection are settled before it opens.
void RejectUnit(DetectionOutcome outcome) {
    UiEnableItem(IDC_UPDATE, false);
    CloseUnit();
    if (outcome == DetectionOutcome::IncompatibleController) {
        ShowIncompatibleBox();
    }
    ShowHintWithInstructions(HeadlineOf(outcome));
    if (outcome == DetectionOutcome::NoUnit) {
        ExplainRefusedUnit();
    }
}

bool IsInterfaceBroadcast(const DeviceBroadcast* broadcast) {
    return broadcast != nullptr && broadcast->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE_TYPE;
}

void OnArrival() {
    // One unit at a time: while one is open, other interfaces are not looked at.
    if (UnitIsOpen()) {
        return;
    }
    if (OpenUnit() != 0) {
        // Most arrivals are unrelated HID devices: the screen stays as it is. A
        // unit that opened but could not be identified is let go, so that the
        // next arrival looks again instead of being ignored behind it. A unit
        // that was seen but refused is the exception: plugged in after the
        // program started, it would otherwise never be explained.
        if (RefusedUnit(nullptr) != UnitRefusal::None) {
            RejectUnit(DetectionOutcome::NoUnit);
        } else {
            CloseUnit();
        }
        return;
    }
    const DetectionOutcome outcome = ClassifyUnit();
    if (outcome == DetectionOutcome::Ready) {
        ShowReadyText();
        RefreshVersionPanel();
        UiEnableItem(IDC_UPDATE, true);
        return;
    }
    // The panel still shows the empty state of the last close.
    RejectUnit(outcome);
}

void OnRemoval(const char16_t* path) {
    const char16_t* refusedPath = nullptr;
    if (!UnitIsOpen() && path != nullptr && RefusedUnit(&refusedPath) != UnitRefusal::None &&
        WideEqualNoCase(refusedPath, path)) {
        // The refused unit is gone, and with it what the paragraph names.
        ForgetRefusedUnit();
        ShowHintWithInstructions(IDS_NO_UNIT);
        return;
    }
    if (!UnitIsOpen() || path == nullptr || g_unit.devicePath == nullptr ||
        !WideEqualNoCase(g_unit.devicePath, path)) {
        return;
    }
    CloseUnit();
    UiEnableItem(IDC_UPDATE, false);
    RefreshVersionPanel();
    ShowHintWithInstructions(IDS_CONNECTION_LOST);
}

} // namespace

DetectionOutcome ClassifyUnit() {
    if (g_unit.unitMode != UNIT_MODE_SERVES_CONTROLLER) {
        return DetectionOutcome::WrongMode;
    }
    if (g_unit.controllerStatus != CONTROLLER_STATUS_UPDATABLE) {
        return DetectionOutcome::NoUpdatableController;
    }
    if (IsSupportedController(ControllerTypeId())) {
        return DetectionOutcome::Ready;
    }
    return DetectionOutcome::IncompatibleController;
}

void DetectUnit() {
    const DetectionOutcome outcome = OpenUnit() != 0 ? DetectionOutcome::NoUnit : ClassifyUnit();
    if (outcome == DetectionOutcome::Ready) {
        ShowReadyText();
        UiEnableItem(IDC_UPDATE, true);
    } else {
        RejectUnit(outcome);
    }
    RefreshVersionPanel();
}

int OnDeviceChange(uint32_t event, const DeviceBroadcast* broadcast) {
    if (event != DBT_DEVICEARRIVAL_EVENT && event != DBT_DEVICEREMOVECOMPLETE_EVENT) {
        return 0;
    }
    if (IsInterfaceBroadcast(broadcast)) {
        if (event == DBT_DEVICEARRIVAL_EVENT) {
            OnArrival();
        } else {
            OnRemoval(broadcast->dbcc_name);
        }
    }
    return 1;
}

void ShowHintWithInstructions(uint16_t headlineId) {
    char16_t text[TEXT_BUFFER_CHARS];
    UiLoadString(headlineId, text, TEXT_BUFFER_CHARS);
    WideAppend(text, TEXT_BUFFER_CHARS, u"\r\n\r\n");
    UiSetItemText(IDC_STATUS_PANE, text);

    // The instructions are added to what the pane holds, read back from it.
    UiLoadString(IDS_INSTRUCTIONS, text, TEXT_BUFFER_CHARS);
    const int paneLength = UiGetItemTextLength(IDC_STATUS_PANE);
    const size_t count = size_t(paneLength > 0 ? paneLength : 0) + WideLength(text) + 1;
    char16_t* combined = static_cast<char16_t*>(std::malloc(count * sizeof(char16_t)));
    if (combined == nullptr) {
        // Out of memory: the headline stays on its own rather than nothing at all.
        return;
    }
    combined[0] = 0;
    UiGetItemText(IDC_STATUS_PANE, combined, int(count));
    WideAppend(combined, count, text);
    UiSetItemText(IDC_STATUS_PANE, combined);
    std::free(combined);
}
