// The main dialog's texts, closing, command routing and logo layout; the
// front-ends wrap these in their platform's dialog.
#include "app/main_dialog.h"

#include "app/detection.h"
#include "device/unit_connection.h"
#include "device/wide_text.h"
#include "res/resource_ids.h"
#include "res/firmware_image.h"
#include "update/update_procedure.h"

UiWindow g_mainDialog = 0;

namespace {

constexpr int32_t LOGO_GAP_AFTER_GROUP = 20;
constexpr int32_t LOGO_RIGHT_MARGIN = 45;

void SetCaptionFromTable(int controlId, uint16_t stringId) {
    char16_t text[TEXT_BUFFER_CHARS];
    UiLoadString(stringId, text, TEXT_BUFFER_CHARS);
    UiSetItemText(controlId, text);
}

} // namespace

void FormatMainTitle(char16_t* buffer, int capacity) {
    if (capacity <= 0) {
        return;
    }
    // The empty last argument leaves the title ending in one blank.
    WideFormat(buffer, size_t(capacity), u"TAVELIN %s FW Updater %u.%u %s", CONTROLLER_MODEL_NAME,
               unsigned(FIRMWARE_IMAGE_VERSION >> 8), unsigned(FIRMWARE_IMAGE_VERSION & 0xFF), u"");
}

void InitMainDialogTexts() {
    char16_t title[TITLE_BUFFER_CHARS];
    FormatMainTitle(title, TITLE_BUFFER_CHARS);
    UiSetDialogTitle(title);
    SetCaptionFromTable(IDC_ROW1_CAPTION, IDS_ROW1_CAPTION);
    SetCaptionFromTable(IDC_ROW2_CAPTION, IDS_ROW2_CAPTION);
    SetCaptionFromTable(IDC_ROW3_CAPTION, IDS_ROW3_CAPTION);
}

int FinishMainDialogInit(bool notificationRegistered) {
    if (!notificationRegistered) {
        // Without device notifications the dialog could never follow the unit.
        char16_t caption[TEXT_BUFFER_CHARS];
        char16_t text[TEXT_BUFFER_CHARS];
        UiLoadString(IDS_APPLICATION_ERROR_CAPTION, caption, TEXT_BUFFER_CHARS);
        UiLoadString(IDS_NOTIFY_REGISTER_FAILED, text, TEXT_BUFFER_CHARS);
        UiMessageBox(text, caption, UI_MB_ICONERROR);
        return 1;
    }
    DetectUnit();
    return 0;
}

void CloseMainDialog() {
    CloseUnit();
}

MainDialogCommandResult MainDialogCommand(uint32_t controlId) {
    // Only the low word names the control; the notification code is not looked at.
    switch (controlId & 0xFFFF) {
    case IDC_CLOSE:
        return COMMAND_CLOSE;
    case IDC_UPDATE:
        UpdateProcedure();
        return COMMAND_HANDLED;
    default:
        return COMMAND_NOT_HANDLED;
    }
}

LogoPlacement ComputeLogoPlacement(UiRect dialog, UiRect groupBox, int32_t frameWidth,
                                   int32_t captionHeight, int32_t bitmapWidth,
                                   int32_t bitmapHeight) {
    LogoPlacement placement{};
    placement.x = groupBox.right - dialog.left - frameWidth + LOGO_GAP_AFTER_GROUP;
    placement.y = groupBox.top - dialog.top - captionHeight;
    if (bitmapWidth <= 0 || bitmapHeight <= 0) {
        return placement; // nothing to draw
    }
    int32_t width = bitmapWidth / 2;
    const int32_t room = (dialog.right - groupBox.right) - LOGO_RIGHT_MARGIN;
    if (room < width) {
        width = room;
    }
    // No room means no logo; a negative size would draw it mirrored on some platforms.
    if (width < 0) {
        width = 0;
    }
    placement.width = width;
    placement.height = int32_t(float(width) / float(bitmapWidth) * float(bitmapHeight));
    return placement;
}

bool IsRedLabel(int controlId) {
    return controlId == IDC_ROW3_CAPTION || controlId == IDC_ROW3_VALUE;
}
