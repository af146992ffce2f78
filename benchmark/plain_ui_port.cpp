// A UI port without windows for measuring the update: texts go into a table, every
// question is answered OK or Yes, and no window exists (the progress window is
// "not created", which the transfer handles as it must).
#include <cstdio>
#include <map>
#include <string>

#include "update/ui_port.h"
#include "device/wide_text.h"
#include "res/firmware_image_digest.h"
#include "res/resource_data.h"

std::map<int, std::u16string> g_controlTexts;
int g_errorBoxes = 0;

int UiLoadString(uint16_t id, char16_t* buffer, int capacity) {
    return ResLoadString(id, RES_LANG_ENGLISH, buffer, capacity);
}

void UiSetItemText(int controlId, const char16_t* text) {
    g_controlTexts[controlId] = text;
}

int UiGetItemTextLength(int controlId) {
    return int(g_controlTexts[controlId].size());
}

int UiGetItemText(int controlId, char16_t* buffer, int capacity) {
    if (capacity <= 0) {
        return 0;
    }
    return int(WideCopy(buffer, size_t(capacity), g_controlTexts[controlId].c_str()));
}

void UiEnableItem(int, bool) {}
void UiSetDialogTitle(const char16_t*) {}

int UiMessageBox(const char16_t* text, const char16_t*, uint32_t style) {
    constexpr uint32_t ICON_BITS = 0xF0;
    if ((style & ICON_BITS) == UI_MB_ICONERROR) {
        char line[TEXT_BUFFER_CHARS * 3];
        WideToUtf8(line, sizeof line, text);
        std::fprintf(stderr, "error box: %s\n", line);
        ++g_errorBoxes;
    }
    return (style & 0x0F) == UI_MB_YESNO ? UI_IDYES : UI_IDOK;
}

UiRect UiGetWindowRect(UiWindow) {
    return UiRect{0, 0, 0, 0};
}

UiWindow UiCreateProgressWindow(const char16_t*, int32_t, int32_t, int32_t, int32_t) {
    return 0;
}

void UiSetProgressPosition(UiWindow, uint32_t) {}
void UiRaiseWindow(UiWindow) {}
UiWindow UiGetForegroundWindow() {
    return 0;
}
void UiShowWindow(UiWindow) {}
void UiDestroyWindow(UiWindow) {}

void UiMapFirmwareImage(const uint8_t** first, uint32_t* size) {
    *first = ResFirmwareImageData();
    *size = ResFirmwareImageSize();
}

const uint8_t* UiFirmwareImageDigest() {
    return FIRMWARE_IMAGE_SHA256;
}
