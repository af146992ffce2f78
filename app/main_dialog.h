// The platform-neutral part of the main dialog: its texts, its closing, its
// command routing and the logo's layout. The front-ends do the platform part
// (icon, device-notification registration, painting) around these.
#pragma once
#include <cstdint>
#include "update/ui_port.h"

// "TAVELIN VESPRA 80 LV FW Updater 3.5 " into a buffer of 256 units.
constexpr int TITLE_BUFFER_CHARS = 256;
void FormatMainTitle(char16_t* buffer, int capacity);

// Title and the three row captions (initialisation steps after the icon).
void InitMainDialogTexts();
// After the notification registration: on failure shows the error box and returns
// 1 (the dialog closes with that result); otherwise runs the detection, returns 0.
int FinishMainDialogInit(bool notificationRegistered);
// The core part of the closing sequence (after unregistering): closes the unit.
void CloseMainDialog();
// What the front-end does after MainDialogCommand.
enum MainDialogCommandResult : int {
    COMMAND_NOT_HANDLED = 0, // not one of the dialog's commands
    COMMAND_HANDLED = 1,     // the update ran
    COMMAND_CLOSE = 2,       // end the dialog after unregistering and CloseMainDialog
};
// WM_COMMAND routing by the low word: 2 (Close) -> COMMAND_CLOSE, 1002 (Update)
// -> runs the update, COMMAND_HANDLED; anything else -> COMMAND_NOT_HANDLED.
MainDialogCommandResult MainDialogCommand(uint32_t controlId);

constexpr uint32_t LOGO_KEY_COLOR_RGB = 0x00FF00; // pure green, drawn transparent
constexpr uint32_t LABEL_RED_RGB = 0xFF0000;
// Where the logo goes, in the dialog's painting coordinates.
struct LogoPlacement {
    int32_t x, y, width, height;
};
LogoPlacement ComputeLogoPlacement(UiRect dialog, UiRect groupBox, int32_t frameWidth,
                                   int32_t captionHeight, int32_t bitmapWidth,
                                   int32_t bitmapHeight);
// True for the controls drawn in red (row 3's caption and value).
bool IsRedLabel(int controlId);
