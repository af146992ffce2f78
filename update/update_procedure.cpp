// The Update button's run: confirmation, version guard, then lock, unprotect,
// erase, write address, block transfer and the closing steps. Every failure ends
// the run through ReportUpdateFailure; nothing is retried. From the lock request
// to the last exchange the update guard holds off whatever would end the program.
#include "update/update_procedure.h"

#include "device/hid/clock_port.h"

#include "update/sha256.h"
#include "update/taskbar_port.h"

#include "update/ui_port.h"
#include "app/version_panel.h"
#include "device/command_reports.h"
#include "device/unit_connection.h"
#include "device/wide_text.h"
#include "res/resource_ids.h"
#include "res/firmware_image.h"
#include "update/transfer_image.h"
#include "update/update_guard_port.h"

namespace {

constexpr int32_t NO_CODE_LINE = -1;

void Fail(uint16_t messageId, int32_t firstCode, uint32_t lastError) {
    char16_t caption[TEXT_BUFFER_CHARS];
    char16_t message[TEXT_BUFFER_CHARS];
    UiLoadString(IDS_UPDATE_FAILED_CAPTION, caption, TEXT_BUFFER_CHARS);
    UiLoadString(messageId, message, TEXT_BUFFER_CHARS);
    ReportUpdateFailure(message, caption, firstCode, lastError);
}

// The last error is read before the strings are loaded: loading may touch it.
void FailStep(uint16_t messageId, int32_t firstCode) {
    Fail(messageId, firstCode, PlatformLastError());
}

bool Ask(uint16_t captionId, uint16_t messageId, uint32_t style, int yes) {
    char16_t caption[TEXT_BUFFER_CHARS];
    char16_t message[TEXT_BUFFER_CHARS];
    UiLoadString(captionId, caption, TEXT_BUFFER_CHARS);
    UiLoadString(messageId, message, TEXT_BUFFER_CHARS);
    return UiMessageBox(message, caption, style) == yes;
}

// The image's version or a newer one is already on the controller; 0xFFFF means
// the controller holds no firmware version at all.
bool ControllerHasImageVersion() {
    const uint16_t version = ControllerFirmwareVersion();
    return version >= FIRMWARE_IMAGE_VERSION && version != FIRMWARE_VERSION_NONE;
}

// Lock, unprotect, erase and write address; false after a reported failure.
bool PrepareController() {
    bool confirmed = false;
    ExchangeResult result = SystemLockSet(&confirmed);
    if (result != EXCHANGE_OK || !confirmed) {
        FailStep(IDS_LOCK_NOT_SET, result != EXCHANGE_OK ? result : STEP_NOT_CONFIRMED);
        return false;
    }
    PlatformSleep(STEP_PAUSE_MS);

    result = WriteProtectClear(&confirmed);
    if (result != EXCHANGE_OK || !confirmed) {
        FailStep(IDS_FLASH_NOT_WRITABLE, result != EXCHANGE_OK ? result : STEP_NOT_CONFIRMED);
        return false;
    }
    PlatformSleep(STEP_PAUSE_MS);

    // The controller needs the settle time after an erase request whatever the
    // reply said, so it is taken before a failure is reported too.
    result = EraseFirmware();
    PlatformSleep(ERASE_SETTLE_MS);
    if (result != EXCHANGE_OK) {
        FailStep(IDS_ERASE_FAILED, result);
        return false;
    }
    PlatformSleep(STEP_PAUSE_MS);

    result = SetWriteAddress();
    if (result != EXCHANGE_OK) {
        FailStep(IDS_ADDRESS_NOT_SET, result);
        return false;
    }
    PlatformSleep(STEP_PAUSE_MS);
    return true;
}

void ReportSuccess() {
    SetControllerFirmwareVersion(FIRMWARE_IMAGE_VERSION);
    UiEnableItem(IDC_UPDATE, false);
    RefreshVersionPanel();
    char16_t text[TEXT_BUFFER_CHARS];
    UiLoadString(IDS_UPDATE_SUCCESSFUL, text, TEXT_BUFFER_CHARS);
    UiSetItemText(IDC_STATUS_PANE, text);
    TaskbarShowEnded(text);
}

} // namespace

void UpdateProcedure() {
    if (!UnitIsOpen()) {
        char16_t caption[TEXT_BUFFER_CHARS];
        char16_t message[TEXT_BUFFER_CHARS];
        UiLoadString(IDS_UPDATE_FAILED_CAPTION, caption, TEXT_BUFFER_CHARS);
        UiLoadString(IDS_UNIT_NOT_DETECTED, message, TEXT_BUFFER_CHARS);
        ReportUpdateFailure(message, caption, NO_CODE_LINE, PlatformLastError());
        return;
    }
    if (!Ask(IDS_IMPORTANT_NOTE_CAPTION, IDS_DO_NOT_INTERRUPT, UI_MB_ICONWARNING | UI_MB_OKCANCEL,
             UI_IDOK)) {
        return;
    }
    // Read after the confirmation: its modal loop may have changed the connection.
    if (ControllerHasImageVersion() && !Ask(IDS_NEWER_FIRMWARE_CAPTION, IDS_OLDER_OR_SAME_VERSION,
                                            UI_MB_ICONWARNING | UI_MB_YESNO, UI_IDYES)) {
        return;
    }

    // Without an image, or with one that is not the image the build recorded, the
    // erase would leave the controller empty or wrongly programmed: refuse before
    // anything is sent.
    const uint8_t* image = nullptr;
    uint32_t imageSize = 0;
    UiMapFirmwareImage(&image, &imageSize);
    if (image == nullptr || imageSize == 0 ||
        !Sha256Matches(image, imageSize, UiFirmwareImageDigest())) {
        FailStep(IDS_BLOCK_WRITE_FAILED, NO_CODE_LINE);
        return;
    }

    char16_t reason[TEXT_BUFFER_CHARS];
    UiLoadString(IDS_UPDATE_GUARD_REASON, reason, TEXT_BUFFER_CHARS);
    UpdateGuardTake(reason);
    if (!PrepareController()) {
        return;
    }
    const TransferOutcome transfer = TransferImage(image, imageSize);
    if (transfer.result != EXCHANGE_OK) {
        Fail(IDS_BLOCK_WRITE_FAILED, transfer.result, transfer.lastError);
        return;
    }

    // Re-protect and unlock; the flash already holds the image, so whatever
    // these answer cannot change the outcome.
    WriteProtectSet();
    SystemLockReset();
    UpdateGuardRelease();
    ReportSuccess();
}

void ReportUpdateFailure(const char16_t* message, const char16_t* caption, int32_t firstCode,
                         uint32_t secondCode) {
    // A box left open for an hour must not keep the machine awake.
    UpdateGuardRelease();
    CloseUnit();
    UiEnableItem(IDC_UPDATE, false);
    RefreshVersionPanel();

    char16_t text[TEXT_BUFFER_CHARS];
    WideCopy(text, TEXT_BUFFER_CHARS, message);
    if (firstCode != NO_CODE_LINE) {
        char16_t format[TEXT_BUFFER_CHARS];
        char16_t codeLine[TEXT_BUFFER_CHARS];
        UiLoadString(IDS_ERROR_CODE_LINE, format, TEXT_BUFFER_CHARS);
        WideFormat(codeLine, TEXT_BUFFER_CHARS, format, unsigned(uint32_t(firstCode)),
                   unsigned(secondCode));
        WideAppend(text, TEXT_BUFFER_CHARS, u"\r\n");
        WideAppend(text, TEXT_BUFFER_CHARS, codeLine);
    }
    // The box waits for the user, who may be looking elsewhere: the taskbar or
    // dock shows the failure for as long as it is open.
    TaskbarShowFailed(caption, text);
    UiMessageBox(text, caption, UI_MB_ICONERROR);
    TaskbarShowEnded(nullptr);

    // Set after the box: a detection that ran while it was open must not have the
    // last word in the pane.
    char16_t tryAgain[TEXT_BUFFER_CHARS];
    UiLoadString(IDS_TRY_AGAIN, tryAgain, TEXT_BUFFER_CHARS);
    UiSetItemText(IDC_STATUS_PANE, tryAgain);
}
