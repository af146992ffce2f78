// The update guard of the Windows programs. While it is held the system is kept
// from sleeping (the display may still turn off), and the main dialog gives the
// reason Windows shows on its "apps are preventing shutdown" screen: a shutdown,
// restart or logout then waits for the user there, since the dialog services no
// message until the update is over (see clock_windows.cpp). Windows lets no
// program hold off closing the lid or a forced restart.
//
// Each call may fail (Wine's ShutdownBlockReasonCreate is a stub that fails); the
// update goes on without what it could not have. Input given during the update is
// dropped when it is read after the release.
#include "update/update_guard_port.h"

#include <windows.h>

#include "update/ui_port.h"

namespace {

bool g_held = false;
HWND g_reasonWindow = nullptr;
HHOOK g_inputHook = nullptr;
bool g_dropping = false;
DWORD g_releasedAt = 0;
// Input older than the release is read within moments of it, by the loop that
// runs once the update is over; after this long there is none left to drop.
constexpr DWORD DROP_FOR_MS = 60000;

bool IsInput(UINT message) {
    return (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
           (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
           (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK);
}

// Keyboard and mouse messages, those of the caption and frame too, that reached
// the thread's windows before the release: when a message loop takes one (the
// failure box's, the dialog's), it becomes a message that does nothing, so that a
// key cannot answer the box that follows nor a click close the dialog. They are
// not taken from the queue at the release itself: taking messages there would
// also handle a device notification sent meanwhile, before the update has shown
// its result.
LRESULT CALLBACK DropEarlierInput(int code, WPARAM removal, LPARAM lParam) {
    MSG* message = reinterpret_cast<MSG*>(lParam);
    if (code == HC_ACTION && g_dropping) {
        if (GetTickCount() - g_releasedAt > DROP_FOR_MS) {
            g_dropping = false;
        } else if (IsInput(message->message) && LONG(message->time - g_releasedAt) <= 0) {
            message->message = WM_NULL;
        }
    }
    return CallNextHookEx(nullptr, code, removal, lParam);
}

} // namespace

void UpdateGuardTake(const char16_t* reason) {
    if (g_held) {
        return;
    }
    g_held = true;
    g_dropping = false;
    if (g_inputHook == nullptr) {
        g_inputHook =
            SetWindowsHookExW(WH_GETMESSAGE, DropEarlierInput, nullptr, GetCurrentThreadId());
    }
    SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    const HWND dialog = reinterpret_cast<HWND>(g_mainDialog);
    if (dialog != nullptr &&
        ShutdownBlockReasonCreate(dialog, reinterpret_cast<const wchar_t*>(reason))) {
        g_reasonWindow = dialog;
    }
}

void UpdateGuardRelease() {
    if (!g_held) {
        return;
    }
    g_held = false;
    SetThreadExecutionState(ES_CONTINUOUS);
    if (g_reasonWindow != nullptr) {
        ShutdownBlockReasonDestroy(g_reasonWindow);
        g_reasonWindow = nullptr;
    }
    g_releasedAt = GetTickCount();
    g_dropping = true;
}
