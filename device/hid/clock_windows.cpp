// Pauses and the last system error on Windows.
//
// A plain Sleep(20) lasts one or two scheduler ticks (about 31 ms with the default
// 15.6 ms tick), which would stretch the 2,037 block pauses of an update by half a
// minute. The pause here waits on a high-resolution waitable timer and checks the
// performance counter, so it lasts its stated length and not less.
//
// The update runs on the GUI thread without a message loop. While it waits, the
// windows of this thread are repainted, so that the progress bar moves and a window
// uncovered by another is drawn again. Nothing else is let through: no input, and
// no sent message either (a device notification handled mid-update could close the
// unit or open another one under the running procedure), which is why painting is
// driven by RedrawWindow rather than by taking messages from the queue.
#include "device/hid/hid_port.h"

#include <windows.h>
#include <mmsystem.h>

namespace {

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
constexpr DWORD CREATE_WAITABLE_TIMER_HIGH_RESOLUTION = 0x00000002;
#endif

HANDLE g_pauseTimer = nullptr;

HANDLE PauseTimer() {
    if (g_pauseTimer != nullptr) {
        return g_pauseTimer;
    }
    g_pauseTimer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                          TIMER_ALL_ACCESS);
    if (g_pauseTimer == nullptr) {
        // Systems before the high-resolution timer: a 1 ms scheduler period for the
        // rest of the process, which in practice begins with the first update pause.
        timeBeginPeriod(1);
        g_pauseTimer = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
    }
    return g_pauseTimer;
}

BOOL CALLBACK RepaintWindow(HWND window, LPARAM) {
    RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    return TRUE;
}

void RepaintThreadWindows() {
    EnumThreadWindows(GetCurrentThreadId(), RepaintWindow, 0);
}

int64_t Now100ns() {
    static LARGE_INTEGER frequency = {};
    if (frequency.QuadPart == 0) {
        QueryPerformanceFrequency(&frequency);
    }
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    // Split to keep the multiplication far from overflow.
    const int64_t seconds = counter.QuadPart / frequency.QuadPart;
    const int64_t rest = counter.QuadPart % frequency.QuadPart;
    return seconds * 10000000 + rest * 10000000 / frequency.QuadPart;
}

} // namespace

void PlatformSleep(uint32_t milliseconds) {
    // A pause leaves the thread's last error as it found it.
    const DWORD savedError = GetLastError();
    const int64_t deadline = Now100ns() + int64_t(milliseconds) * 10000;
    const HANDLE timer = PauseTimer();
    RepaintThreadWindows();
    for (;;) {
        const int64_t remaining = deadline - Now100ns();
        if (remaining <= 0) {
            break;
        }
        if (timer == nullptr) {
            Sleep(DWORD((remaining + 9999) / 10000));
            continue;
        }
        LARGE_INTEGER due;
        due.QuadPart = -remaining; // relative, in 100 ns units
        SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE);
        const DWORD woken = MsgWaitForMultipleObjects(1, &timer, FALSE, INFINITE, QS_PAINT);
        if (woken == WAIT_OBJECT_0 + 1) {
            RepaintThreadWindows();
        }
    }
    SetLastError(savedError);
}

uint32_t PlatformLastError() {
    return GetLastError();
}

void PlatformSetLastError(uint32_t value) {
    SetLastError(value);
}
