// Pauses and the last system error for the Qt programs. A pause lasts its full
// length; meanwhile windows are repainted and timers run, but no user input and
// no device event is handled, so that nothing re-enters the update underway.
#include "device/hid/hid_port.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <chrono>
#include <thread>
#include <vector>

namespace {

thread_local uint32_t g_lastError = 0;

// Not every event dispatcher honours ExcludeSocketNotifiers (the GLib one, which
// Qt uses on Linux, does not). A notifier that fires during the pause is switched
// off instead and on again afterwards, when it fires anew for what is waiting.
class SocketHold : public QObject {
  public:
    ~SocketHold() override {
        for (const QPointer<QSocketNotifier>& notifier : m_held) {
            if (notifier != nullptr) {
                notifier->setEnabled(true);
            }
        }
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::SockAct) {
            return false;
        }
        QSocketNotifier* notifier = qobject_cast<QSocketNotifier*>(watched);
        if (notifier == nullptr) {
            return false;
        }
        notifier->setEnabled(false);
        m_held.push_back(notifier);
        return true;
    }

  private:
    std::vector<QPointer<QSocketNotifier>> m_held;
};

} // namespace

void PlatformSleep(uint32_t milliseconds) {
    typedef std::chrono::steady_clock Clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    QCoreApplication* application = QCoreApplication::instance();
    SocketHold hold;
    if (application != nullptr) {
        application->installEventFilter(&hold);
    }
    for (;;) {
        const Clock::duration left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) {
            break;
        }
        const long long leftMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(left).count();
        if (application == nullptr || leftMs < 1) {
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
    if (application != nullptr) {
        application->removeEventFilter(&hold);
    }
}

uint32_t PlatformLastError() {
    return g_lastError;
}

void PlatformSetLastError(uint32_t value) {
    g_lastError = value;
}
