// What the core needs from a dialog platform. Each front-end (Win32, Qt, the
// recording port of the tests) implements these; the vocabulary follows Win32,
// so the Windows front-end maps one to one.
#pragma once
#include <cstdint>

// Opaque top-level window handle; 0 means none.
typedef intptr_t UiWindow;

// The main dialog, kept program-wide: owner of every message box, parent of
// every control.
extern UiWindow g_mainDialog;

// Message-box styles and answers, with Win32's values.
constexpr uint32_t UI_MB_OK = 0x00;
constexpr uint32_t UI_MB_OKCANCEL = 0x01;
constexpr uint32_t UI_MB_YESNO = 0x04;
constexpr uint32_t UI_MB_ICONERROR = 0x10;
constexpr uint32_t UI_MB_ICONWARNING = 0x30;
constexpr uint32_t UI_MB_ICONINFORMATION = 0x40;
constexpr int UI_IDOK = 1;
constexpr int UI_IDCANCEL = 2;
constexpr int UI_IDYES = 6;
constexpr int UI_IDNO = 7;

// Every text is loaded into a buffer of this many units.
constexpr int TEXT_BUFFER_CHARS = 2048;

// Loads a string-table entry in the platform's language (LoadStringW semantics).
int UiLoadString(uint16_t id, char16_t* buffer, int capacity);

// Controls of the main dialog, by control ID.
void UiSetItemText(int controlId, const char16_t* text);
int UiGetItemTextLength(int controlId);
int UiGetItemText(int controlId, char16_t* buffer, int capacity);
void UiEnableItem(int controlId, bool enable);
// The main dialog's own title.
void UiSetDialogTitle(const char16_t* title);

// Modal message box owned by the main dialog; its modal loop may deliver device
// events to the dialog before it returns the answer (UI_IDOK, ...).
int UiMessageBox(const char16_t* text, const char16_t* caption, uint32_t style);

struct UiRect {
    int32_t left, top, right, bottom;
};
// Outer frame of a top-level window in screen coordinates.
UiRect UiGetWindowRect(UiWindow window);
// The top-level progress window (smooth bar, range 0..100, a caption with the
// title, no close box), owned by the main dialog. 0 when it cannot be created;
// the calls below then still come with window 0 and must have no effect.
UiWindow UiCreateProgressWindow(const char16_t* title, int32_t x, int32_t y, int32_t width,
                                int32_t height);
void UiSetProgressPosition(UiWindow progress, uint32_t position);
// To the top of the z-order, neither moved, sized nor made topmost.
void UiRaiseWindow(UiWindow window);
UiWindow UiGetForegroundWindow();
void UiShowWindow(UiWindow window);
void UiDestroyWindow(UiWindow window);

// The firmware image carried by the program: first byte and size. Size 0 (or a
// null pointer) when it is missing.
void UiMapFirmwareImage(const uint8_t** first, uint32_t* size);
// The SHA-256 (32 bytes) the build recorded for that image; the update writes
// nothing unless the mapped image still hashes to it.
const uint8_t* UiFirmwareImageDigest();
