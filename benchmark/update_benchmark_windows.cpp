// The Windows program's whole update with its windows: the main dialog over the
// simulated unit, the confirmation answered as a user would, the progress window
// shown and repainted through every pause. Times the update from the
// confirmation's answer to its end against the pauses it must take. Prints its
// figures and asserts nothing about them; exits 1 only when the update did not
// write the image.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>

#include "app/windows/program_windows.h"
#include "device/hid/sim_world.h"
#include "device/unit_connection.h"
#include "res/resource_data.h"
#include "res/resource_ids.h"
#include "benchmark/clocks.h"
#include "benchmark/pause_log.h"
#include "benchmark/pauses_alone.h"
#include "benchmark/update_figures.h"

HINSTANCE g_moduleInstance = nullptr;

namespace {

HWND g_dialog = nullptr;
ClockReading g_start;

BOOL CALLBACK FindMessageBox(HWND window, LPARAM found) {
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    if (window != g_dialog && IsWindowVisible(window) && lstrcmpW(className, L"#32770") == 0) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

// Runs inside the confirmation's modal loop.
void CALLBACK AnswerConfirmation(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND box = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindMessageBox, reinterpret_cast<LPARAM>(&box));
    if (box == nullptr) {
        return;
    }
    KillTimer(nullptr, timer);
    StartPauseLog();
    g_start = ReadClocks();
    PostMessageW(box, WM_COMMAND, IDOK, 0);
}

void PumpFor(double milliseconds) {
    const double end = WallClockMs() + milliseconds;
    while (WallClockMs() < end) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (!IsDialogMessageW(g_dialog, &message)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

} // namespace

int main() {
    DisableProcessWindowsGhosting();
    InitCommonControls();
    g_moduleInstance = GetModuleHandleW(nullptr);
    SimReset();
    SimAddInterface(SimReadyUnit());
    ResetUnitConnection();
    g_dialog = CreateDialogParamW(g_moduleInstance, MAKEINTRESOURCEW(IDD_MAIN_DIALOG), nullptr,
                                  MainDialogProc, 0);
    if (g_dialog == nullptr) {
        std::fprintf(stderr, "the main dialog could not be created\n");
        return 1;
    }
    ShowWindow(g_dialog, SW_SHOW);
    PumpFor(500);
    if (!UnitIsOpen()) {
        std::fprintf(stderr, "the simulated unit was not detected as ready\n");
        return 1;
    }

    SetTimer(nullptr, 0, 5, AnswerConfirmation);
    SendMessageW(g_dialog, WM_COMMAND, MAKEWPARAM(IDC_UPDATE, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(g_dialog, IDC_UPDATE)));
    const ClockReading elapsed = ElapsedSince(g_start);
    const PauseLog pauses = StopPauseLog();

    const uint32_t imageSize = ResFirmwareImageSize();
    const uint8_t* image = ResFirmwareImageData();
    const std::vector<uint8_t>& flash = SimGetInterface(0).controller.flash;
    wchar_t shown[2048] = {};
    wchar_t success[2048] = {};
    GetDlgItemTextW(g_dialog, IDC_STATUS_PANE, shown, 2048);
    LoadStringW(g_moduleInstance, IDS_UPDATE_SUCCESSFUL, success, 2048);
    const bool written = g_start.wallMs > 0 && lstrcmpW(shown, success) == 0 &&
                         flash.size() >= imageSize &&
                         std::equal(image, image + imageSize, flash.begin());
    PrintUpdateFigures("whole update in the dialog", imageSize, written, elapsed);
    PrintUpdatePauses(imageSize, elapsed, pauses);
    PrintPausesAloneFigures(imageSize, elapsed, TimePausesAlone(imageSize));
    DestroyWindow(g_dialog);
    return written ? 0 : 1;
}
