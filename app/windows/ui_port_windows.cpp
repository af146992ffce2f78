// The UI port on Win32: the main dialog's controls, message boxes owned by it, the
// progress window, the string table and the firmware image of this module.
#include "update/ui_port.h"

#include <windows.h>
#include <commctrl.h>

#include "app/windows/pause_windows.h"
#include "app/windows/program_windows.h"
#include "res/firmware_image_digest.h"
#include "res/firmware_image.h"

namespace {

HWND Dialog() {
    return reinterpret_cast<HWND>(g_mainDialog);
}

HWND ToHwnd(UiWindow window) {
    return reinterpret_cast<HWND>(window);
}

const wchar_t* Wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

// The progress bar is an overlapped top-level window (no WS_CHILD, no WS_POPUP),
// so the system gives it a caption showing its title and no system menu.
constexpr DWORD PROGRESS_WINDOW_STYLE = WS_VISIBLE | PBS_SMOOTH;
static_assert(PROGRESS_WINDOW_STYLE == 0x10000001, "progress window style");

} // namespace

int UiLoadString(uint16_t id, char16_t* buffer, int capacity) {
    return LoadStringW(g_moduleInstance, id, reinterpret_cast<wchar_t*>(buffer), capacity);
}

void UiSetItemText(int controlId, const char16_t* text) {
    SetWindowTextW(GetDlgItem(Dialog(), controlId), Wide(text));
}

int UiGetItemTextLength(int controlId) {
    return GetWindowTextLengthW(GetDlgItem(Dialog(), controlId));
}

int UiGetItemText(int controlId, char16_t* buffer, int capacity) {
    return GetWindowTextW(GetDlgItem(Dialog(), controlId), reinterpret_cast<wchar_t*>(buffer),
                          capacity);
}

void UiEnableItem(int controlId, bool enable) {
    EnableWindow(GetDlgItem(Dialog(), controlId), enable ? TRUE : FALSE);
}

void UiSetDialogTitle(const char16_t* title) {
    SendMessageW(Dialog(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(title));
}

int UiMessageBox(const char16_t* text, const char16_t* caption, uint32_t style) {
    return MessageBoxW(Dialog(), Wide(text), Wide(caption), style);
}

UiRect UiGetWindowRect(UiWindow window) {
    RECT rect = {};
    GetWindowRect(ToHwnd(window), &rect);
    return UiRect{rect.left, rect.top, rect.right, rect.bottom};
}

UiWindow UiCreateProgressWindow(const char16_t* title, int32_t x, int32_t y, int32_t width,
                                int32_t height) {
    // With the dialog as parent and no WS_CHILD, the dialog owns the window and
    // keeps it above itself.
    const HWND window =
        CreateWindowExW(0, PROGRESS_CLASSW, Wide(title), PROGRESS_WINDOW_STYLE, x, y, width, height,
                        Dialog(), nullptr, g_moduleInstance, nullptr);
    return reinterpret_cast<UiWindow>(window);
}

// A new position makes the bar repaint at once, and under Wine on an X display
// that takes some 2 ms, a hundred times in an update, between the pauses. The
// position is set by the pause after the block instead, inside its length: the
// newest position, and never on a window already destroyed.
namespace {
HWND g_barAwaitingPosition = nullptr;
WPARAM g_awaitedPosition = 0;

void SetAwaitedPosition() {
    const HWND bar = g_barAwaitingPosition;
    g_barAwaitingPosition = nullptr;
    if (bar != nullptr) {
        SendMessageW(bar, PBM_SETPOS, g_awaitedPosition, 0);
    }
}
} // namespace

void UiSetProgressPosition(UiWindow progress, uint32_t position) {
    if (progress != 0) {
        g_barAwaitingPosition = ToHwnd(progress);
        g_awaitedPosition = position;
        RunAtNextPauseStart(SetAwaitedPosition);
    }
}

void UiRaiseWindow(UiWindow window) {
    if (window != 0) {
        SetWindowPos(ToHwnd(window), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    }
}

UiWindow UiGetForegroundWindow() {
    return reinterpret_cast<UiWindow>(GetForegroundWindow());
}

void UiShowWindow(UiWindow window) {
    if (window != 0) {
        ShowWindow(ToHwnd(window), SW_SHOW);
    }
}

void UiDestroyWindow(UiWindow window) {
    if (window != 0) {
        if (ToHwnd(window) == g_barAwaitingPosition) {
            g_barAwaitingPosition = nullptr;
        }
        DestroyWindow(ToHwnd(window));
    }
}

void UiMapFirmwareImage(const uint8_t** first, uint32_t* size) {
    *first = nullptr;
    *size = 0;
    const HRSRC found =
        FindResourceW(g_moduleInstance, MAKEINTRESOURCEW(FIRMWARE_IMAGE_ID), RT_RCDATA);
    if (found == nullptr) {
        return;
    }
    const HGLOBAL loaded = LoadResource(g_moduleInstance, found);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr) {
        return;
    }
    // Read in place from the module: never copied, never freed.
    *first = static_cast<const uint8_t*>(data);
    *size = SizeofResource(g_moduleInstance, found);
}

const uint8_t* UiFirmwareImageDigest() {
    return FIRMWARE_IMAGE_SHA256;
}
