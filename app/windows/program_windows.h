// Program-wide state and entry points of the Win32 front-end.
#pragma once
#include <windows.h>

// The module whose resources (strings, dialog, icon, logo, firmware image) the
// program loads, stored at entry.
extern HINSTANCE g_moduleInstance;

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Whatever the HID layer linked into this program needs before the dialog opens:
// nothing for real hardware, the simulated unit for the demonstration program.
void PrepareDeviceBackend();
