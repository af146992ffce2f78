// Pauses and the last system error on Windows.
//
// A plain Sleep(20) lasts one or two scheduler ticks (about 31 ms with the default
// 15.6 ms tick), which would stretch the 2,037 block pauses of an update by half a
// minute. A pause here ends at its deadline on the performance counter or after
// it, never before, and as close after it as the system lets a thread wake.
//
// The update runs on the GUI thread without a message loop. While it waits, the
// windows of this thread are repainted, so that the progress bar moves and a window
// uncovered by another is drawn again. Nothing else is let through: no input, and
// no sent message either (a device notification handled mid-update could close the
// unit or open another one under the running procedure), which is why painting is
// driven by RedrawWindow rather than by taking messages from the queue.
//
// A pause begins with the task the front-end left for it (the progress bar's new
// position, whose repaint then falls inside the pause's length), and paints what
// is waiting. Asking the system whether anything is waiting is a call into the
// window system (some 70 us under Wine), so a pause that begins within a short
// while of the last look does not ask again: a block's pause checks about every
// third block, which still repaints many times a second. A longer pause also wakes
// for paint requests until its last stretch; the last stretch, which is the whole
// of a block's 20 ms pause, is one sleep that ends a little before the deadline,
// by the lateness that wake-ups have shown so far, and the rest is waited out on
// the counter.
#include "app/windows/pause_windows.h"
#include "device/hid/clock_port.h"

#include <windows.h>
#include <mmsystem.h>

namespace {

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
constexpr DWORD CREATE_WAITABLE_TIMER_HIGH_RESOLUTION = 0x00000002;
#endif

// Times are in the 100 ns units of the waitable timers.
constexpr int64_t TICKS_PER_MS = 10000;
// The part of a pause that does not wake for paint requests.
constexpr int64_t LAST_STRETCH = 20 * TICKS_PER_MS;
// Only a pause with this much time left has room to compare the two sleeps.
constexpr int64_t CALIBRATION_ROOM = 200 * TICKS_PER_MS;
constexpr int CALIBRATION_SAMPLES = 5;
// The lead settles where about a third of the wake-ups come before the deadline
// (and wait out a few microseconds) and two thirds after it: waiting on the
// counter costs processor time, a late wake-up only wall time. One wake-up delayed
// by other work barely moves it, and it is capped so that a pause never spends
// more than that on the counter.
constexpr int64_t LEAD_STEP_UP = 10;
constexpr int64_t LEAD_STEP_DOWN = 20;
constexpr int64_t LEAD_LIMIT = 3000;
// How long a look for paint requests at the start of a pause stays fresh.
constexpr int64_t PAINT_LOOK_FRESH = 50 * TICKS_PER_MS;

typedef LONG(NTAPI* DelayExecutionFunction)(BOOLEAN alertable, PLARGE_INTEGER interval);

// Two ways to sleep for a given time. The high-resolution waitable timer wakes
// close to its due time on Windows 10 and later; where it does not (older systems,
// other implementations of the interface), the native delay may do better. Which
// one ends the last stretch is decided by measuring both once, in the first pause
// long enough for it.
enum SleepKind { SLEEP_TIMER = 0, SLEEP_DELAY = 1 };

HANDLE g_pauseTimer = nullptr;
DelayExecutionFunction g_delayExecution = nullptr;
bool g_prepared = false;
bool g_calibrated = false;
SleepKind g_lastStretchSleep = SLEEP_TIMER;
int64_t g_lead[2] = {0, 0};
void (*g_pauseStartTask)() = nullptr;
// Stale from the start, so that the first pause looks.
int64_t g_lastPaintLook = -PAINT_LOOK_FRESH;

void PreparePauses() {
    if (g_prepared) {
        return;
    }
    g_prepared = true;
    g_pauseTimer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                          TIMER_ALL_ACCESS);
    if (g_pauseTimer == nullptr) {
        // Systems before the high-resolution timer: a 1 ms scheduler period for the
        // rest of the process, which in practice begins with the first update pause.
        timeBeginPeriod(1);
        g_pauseTimer = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
    }
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll != nullptr) {
        g_delayExecution = reinterpret_cast<DelayExecutionFunction>(
            reinterpret_cast<void*>(GetProcAddress(ntdll, "NtDelayExecution")));
    }
}

int64_t Now() {
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

BOOL CALLBACK RepaintWindow(HWND window, LPARAM) {
    RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    return TRUE;
}

void RepaintThreadWindows() {
    EnumThreadWindows(GetCurrentThreadId(), RepaintWindow, 0);
}

void RepaintWhatIsWaiting() {
    if ((HIWORD(GetQueueStatus(QS_PAINT)) & QS_PAINT) != 0) {
        RepaintThreadWindows();
    }
}

void BeginPause() {
    if (void (*task)() = g_pauseStartTask) {
        g_pauseStartTask = nullptr;
        task();
    }
    const int64_t now = Now();
    if (now - g_lastPaintLook >= PAINT_LOOK_FRESH) {
        g_lastPaintLook = now;
        RepaintWhatIsWaiting();
    }
}

bool ArmTimer(int64_t ticks) {
    LARGE_INTEGER due;
    due.QuadPart = -ticks; // relative
    return g_pauseTimer != nullptr &&
           SetWaitableTimer(g_pauseTimer, &due, 0, nullptr, nullptr, FALSE) != FALSE;
}

// Sleeps until `target` or somewhat after it; neither way lets a message through.
void SleepUntil(SleepKind kind, int64_t target) {
    const int64_t ticks = target - Now();
    if (ticks <= 0) {
        return;
    }
    if (kind == SLEEP_DELAY && g_delayExecution != nullptr) {
        LARGE_INTEGER interval;
        interval.QuadPart = -ticks;
        g_delayExecution(FALSE, &interval);
    } else if (ArmTimer(ticks)) {
        WaitForSingleObject(g_pauseTimer, INFINITE);
    } else {
        Sleep(DWORD((ticks + TICKS_PER_MS - 1) / TICKS_PER_MS));
    }
}

int64_t MedianLateness(SleepKind kind) {
    int64_t late[CALIBRATION_SAMPLES];
    for (int i = 0; i < CALIBRATION_SAMPLES; ++i) {
        const int64_t target = Now() + TICKS_PER_MS;
        SleepUntil(kind, target);
        late[i] = Now() - target;
        for (int j = i; j > 0 && late[j] < late[j - 1]; --j) {
            const int64_t earlier = late[j - 1];
            late[j - 1] = late[j];
            late[j] = earlier;
        }
    }
    return late[CALIBRATION_SAMPLES / 2];
}

void ChooseLastStretchSleep() {
    g_calibrated = true;
    if (g_delayExecution == nullptr) {
        return;
    }
    const int64_t timerLate = MedianLateness(SLEEP_TIMER);
    const int64_t delayLate = MedianLateness(SLEEP_DELAY);
    g_lastStretchSleep = delayLate < timerLate ? SLEEP_DELAY : SLEEP_TIMER;
}

// Until `until`, wakes for paint requests and paints.
void WaitPaintingUntil(int64_t until, int64_t deadline) {
    for (;;) {
        const int64_t ticks = until - Now();
        if (ticks <= 0) {
            return;
        }
        if (!g_calibrated && deadline - Now() > CALIBRATION_ROOM) {
            ChooseLastStretchSleep();
            RepaintWhatIsWaiting();
            continue;
        }
        if (!ArmTimer(ticks)) {
            Sleep(DWORD(ticks / TICKS_PER_MS));
            continue;
        }
        const DWORD woken = MsgWaitForMultipleObjects(1, &g_pauseTimer, FALSE, INFINITE, QS_PAINT);
        if (woken == WAIT_OBJECT_0 + 1) {
            RepaintThreadWindows();
        }
    }
}

void WaitOutLastStretch(int64_t deadline) {
    const SleepKind kind = g_lastStretchSleep;
    int64_t& lead = g_lead[kind];
    const int64_t target = deadline - lead;
    if (Now() < target) {
        SleepUntil(kind, target);
        if (Now() - target > lead) {
            lead = lead + LEAD_STEP_UP < LEAD_LIMIT ? lead + LEAD_STEP_UP : LEAD_LIMIT;
        } else {
            lead = lead > LEAD_STEP_DOWN ? lead - LEAD_STEP_DOWN : 0;
        }
    }
    while (Now() < deadline) {
    }
}

} // namespace

void PlatformSleep(uint32_t milliseconds) {
    // A pause leaves the thread's last error as it found it.
    const DWORD savedError = GetLastError();
    const int64_t deadline = Now() + int64_t(milliseconds) * TICKS_PER_MS;
    PreparePauses();
    BeginPause();
    if (deadline - Now() > LAST_STRETCH) {
        WaitPaintingUntil(deadline - LAST_STRETCH, deadline);
        RepaintWhatIsWaiting();
    }
    WaitOutLastStretch(deadline);
    SetLastError(savedError);
}

void RunAtNextPauseStart(void (*task)()) {
    g_pauseStartTask = task;
}

uint32_t PlatformLastError() {
    return GetLastError();
}

void PlatformSetLastError(uint32_t value) {
    SetLastError(value);
}
