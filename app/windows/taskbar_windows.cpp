// The taskbar port on Windows: the update's progress on the dialog's taskbar
// button (ITaskbarList3), its error state while the failure box is open, and the
// button flashing when the update ends while another program is in front.
#include "update/taskbar_port.h"

#include <windows.h>
#include <shobjidl.h>

#include "app/windows/taskbar_windows.h"
#include "update/ui_port.h"

namespace {

constexpr ULONGLONG PROGRESS_TOTAL = 100;

UINT g_buttonCreatedMessage = 0;
bool g_comReady = false;
HWND g_dialog = nullptr;
ITaskbarList3* g_taskbar = nullptr;
bool g_progressShown = false;

// Until the user brings the dialog, or a window it owns (the progress window, a
// box), to the front; the system stops it then. Also without the taskbar list.
void FlashUntilInFront() {
    const HWND dialog = reinterpret_cast<HWND>(g_mainDialog);
    const HWND foreground = GetForegroundWindow();
    if (dialog == nullptr ||
        (foreground != nullptr && GetAncestor(foreground, GA_ROOTOWNER) == dialog)) {
        return;
    }
    FLASHWINFO flash = {};
    flash.cbSize = sizeof flash;
    flash.hwnd = dialog;
    flash.dwFlags = FLASHW_ALL | FLASHW_TIMERNOFG;
    FlashWindowEx(&flash);
}

void SetState(TBPFLAG state) {
    if (g_taskbar != nullptr) {
        g_taskbar->SetProgressState(g_dialog, state);
    }
}

} // namespace

void StartTaskbar() {
    // Apartment-threaded, as the dialog's thread must be; a failure leaves the
    // button as it is.
    g_comReady = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    g_buttonCreatedMessage = RegisterWindowMessageW(L"TaskbarButtonCreated");
}

UINT TaskbarButtonCreatedMessage() {
    return g_buttonCreatedMessage;
}

void TaskbarButtonCreated(HWND dialog) {
    if (!g_comReady) {
        return;
    }
    ITaskbarList3* list = nullptr;
    if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                reinterpret_cast<void**>(&list)))) {
        return;
    }
    if (FAILED(list->HrInit())) {
        list->Release();
        return;
    }
    AttachTaskbarList(dialog, list);
    list->Release();
}

void AttachTaskbarList(HWND dialog, ITaskbarList3* list) {
    // The message comes again when Explorer restarts: the new list replaces the old.
    if (list != nullptr) {
        list->AddRef();
    }
    if (g_taskbar != nullptr) {
        g_taskbar->Release();
    }
    g_taskbar = list;
    g_dialog = dialog;
    g_progressShown = false;
}

void TaskbarShowProgress(uint32_t position) {
    if (g_taskbar == nullptr) {
        return;
    }
    if (!g_progressShown) {
        g_taskbar->SetProgressState(g_dialog, TBPF_NORMAL);
        g_progressShown = true;
    }
    g_taskbar->SetProgressValue(g_dialog, position, PROGRESS_TOTAL);
}

void TaskbarShowFailed(const char16_t*, const char16_t*) {
    SetState(TBPF_ERROR);
    FlashUntilInFront();
}

void TaskbarShowEnded(const char16_t* text) {
    SetState(TBPF_NOPROGRESS);
    g_progressShown = false;
    // After a failure the flashing began with its box.
    if (text != nullptr) {
        FlashUntilInFront();
    }
}
