// The dialog's taskbar button on Windows: set up once at start, usable once
// Windows says the button exists.
#pragma once
#include <windows.h>

struct ITaskbarList3;

// COM for the program's thread and the name of the message that announces the
// button; once, before the dialog opens.
void StartTaskbar();
// That message's number; 0 before StartTaskbar or when it could not be had.
UINT TaskbarButtonCreatedMessage();
// The message came for the dialog: its button takes the update's progress from
// now on, where the system has the taskbar interface (not on older systems).
void TaskbarButtonCreated(HWND dialog);
// The same with a taskbar list of the caller's (null: none), for tests.
void AttachTaskbarList(HWND dialog, ITaskbarList3* list);
