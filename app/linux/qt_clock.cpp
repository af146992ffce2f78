// Pauses and the last system error for the Qt programs. A pause lasts its full
// length; meanwhile windows are repainted and timers run, but no user input and
// no device event is handled, so that nothing re-enters the update underway.
#include "device/hid/hid_port.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <thread>

namespace {

thread_local uint32_t g_lastError = 0;

} // namespace

void PlatformSleep(uint32_t milliseconds) {
    typedef std::chrono::steady_clock Clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        const Clock::duration left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) {
            return;
        }
        const long long leftMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(left).count();
        if (QCoreApplication::instance() == nullptr || leftMs < 1) {
            std::this_thread::sleep_for(left);
            continue;
        }
        QEventLoop loop;
        QTimer wake;
        wake.setSingleShot(true);
        wake.setTimerType(Qt::PreciseTimer);
        QObject::connect(&wake, &QTimer::timeout, &loop, &QEventLoop::quit);
        wake.start(static_cast<int>(leftMs));
        loop.exec(QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers);
    }
}

uint32_t PlatformLastError() {
    return g_lastError;
}

void PlatformSetLastError(uint32_t value) {
    g_lastError = value;
}
