// The version panel follows the connection record: empty while no unit is open,
// the unit's model and three versions while one is.
#include "app/version_panel.h"

#include "update/ui_port.h"
#include "device/unit_connection.h"
#include "device/wide_text.h"
#include "res/resource_ids.h"
#include "res/firmware_image.h"

namespace {

constexpr size_t VERSION_TEXT_CHARS = 32;

// Values first, then captions: the order the labels change in on every platform.
constexpr int PANEL_LABELS[] = {IDC_ROW1_VALUE,   IDC_ROW2_VALUE,   IDC_ROW3_VALUE,
                                IDC_ROW1_CAPTION, IDC_ROW2_CAPTION, IDC_ROW3_CAPTION};

void EnablePanelLabels(bool enable) {
    for (int id : PANEL_LABELS) {
        UiEnableItem(id, enable);
    }
}

void ShowEmptyPanel() {
    // "0.0.0" is reserved for "no unit": an open unit never shows it.
    UiSetItemText(IDC_ROW1_VALUE, u"0.0.0");
    UiSetItemText(IDC_ROW2_VALUE, u"0.0.0");
    UiSetItemText(IDC_ROW3_VALUE, u"0.0.0");
    // The row-1 caption keeps the last unit's model name, greyed.
    EnablePanelLabels(false);
}

void ShowOpenUnit() {
    EnablePanelLabels(true);
    char16_t text[VERSION_TEXT_CHARS];

    // Units keep their version with a zero low byte in some firmware builds; the
    // shift brings major and minor into place for those.
    uint32_t unitVersion = g_unit.unitFirmwareVersion;
    if ((unitVersion & 0xFF) == 0) {
        unitVersion >>= 8;
    }
    FormatVersion32(unitVersion, text, VERSION_TEXT_CHARS);
    UiSetItemText(IDC_ROW1_VALUE, text);

    FormatVersion32(ControllerBootloaderVersion(), text, VERSION_TEXT_CHARS);
    UiSetItemText(IDC_ROW2_VALUE, text);

    const uint16_t controllerVersion = ControllerFirmwareVersion();
    if (controllerVersion == FIRMWARE_VERSION_NONE) {
        UiSetItemText(IDC_ROW3_VALUE, u"----------");
    } else {
        WideFormat(text, VERSION_TEXT_CHARS, u"%u.%u", unsigned(controllerVersion >> 8),
                   unsigned(controllerVersion & 0xFF));
        UiSetItemText(IDC_ROW3_VALUE, text);
    }

    UiSetItemText(IDC_ROW1_CAPTION,
                  g_unit.productId == UNIT_PRODUCT_DIALPOD ? u"DIALPOD" : u"LINK-CUBE");
}

} // namespace

void FormatVersion32(uint32_t value, char16_t* buffer, size_t capacity) {
    if (capacity == 0) {
        return;
    }
    size_t length = 0;
    buffer[0] = 0;
    const unsigned top = value >> 24;
    if (top != 0) {
        length = WideFormat(buffer, capacity, u"%u.", top);
    }
    WideFormat(buffer + length, capacity - length, u"%u.%u", unsigned((value >> 8) & 0xFF),
               unsigned(value & 0xFF));
}

void RefreshVersionPanel() {
    if (UnitIsOpen()) {
        ShowOpenUnit();
    } else {
        ShowEmptyPanel();
    }
}
