// Pauses and the last system error for the Qt programs. A pause lasts its full
// length; meanwhile windows are repainted and timers run, but no user input and
// no device event is handled, so that nothing re-enters the update underway.
//
// Long pauses run the event loop until their last stretch. That stretch, and the
// whole of a short pause such as the 20 ms after each block, first hands out what
// is waiting (the progress bar's repaint among it) and then waits on the monotonic
// clock, which ends far closer to the deadline than an event loop timed in whole
// milliseconds. Windows are thus repainted at least at every block.
#include "device/hid/clock_port.h"
#include "device/hid/wait_until_posix.h"

#include "app/linux/socket_hold.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>
#include <chrono>

namespace {

thread_local uint32_t g_lastError = 0;

constexpr int64_t NS_PER_MS = 1000000;
// The part of a pause that is not spent in the event loop.
constexpr int64_t LAST_STRETCH_MS = 20;

constexpr QEventLoop::ProcessEventsFlags PAUSE_EVENTS =
    QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers;

// Runs the event loop for `milliseconds`.
void RunEventLoopFor(int64_t milliseconds) {
    QEventLoop loop;
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    QObject::connect(&wake, &QTimer::timeout, &loop, &QEventLoop::quit);
    wake.start(std::chrono::milliseconds(milliseconds));
    loop.exec(PAUSE_EVENTS);
}

// Runs the event loop until the pause's last stretch and then hands out what is
// waiting. The hold ends here, before the waiting on the clock, in which no event
// is handled, so that undoing it does not lengthen the pause.
void HandOutEventsBefore(QCoreApplication* application, int64_t deadline) {
    SocketHold hold;
    application->installEventFilter(&hold);
    for (;;) {
        const int64_t leftMs = (deadline - MonotonicNowNs()) / NS_PER_MS;
        if (leftMs <= LAST_STRETCH_MS) {
            break;
        }
        RunEventLoopFor(leftMs - LAST_STRETCH_MS);
    }
    QCoreApplication::processEvents(PAUSE_EVENTS);
    application->removeEventFilter(&hold);
}

} // namespace

void PlatformSleep(uint32_t milliseconds) {
    const int64_t deadline = MonotonicNowNs() + static_cast<int64_t>(milliseconds) * NS_PER_MS;
    if (QCoreApplication* application = QCoreApplication::instance()) {
        HandOutEventsBefore(application, deadline);
    }
    WaitUntilNs(deadline);
}

uint32_t PlatformLastError() {
    return g_lastError;
}

void PlatformSetLastError(uint32_t value) {
    g_lastError = value;
}
