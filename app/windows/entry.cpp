// Program entry: one modal dialog, template 110. The command line is not read.
#include <windows.h>
#include <commctrl.h>

#include "app/windows/program_windows.h"
#include "app/windows/taskbar_windows.h"
#include "device/unit_connection.h"
#include "res/resource_ids.h"

HINSTANCE g_moduleInstance = nullptr;

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // The update keeps the GUI thread busy for about 46 s without a message loop;
    // its windows are repainted meanwhile and must not be swapped for a frozen ghost.
    DisableProcessWindowsGhosting();
    InitCommonControls();
    StartTaskbar();
    g_moduleInstance = instance;
    PrepareDeviceBackend();
    ResetUnitConnection();
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN_DIALOG), nullptr, MainDialogProc, 0);
    return 0;
}
