// The update guard of the Linux programs. It asks logind on the system bus for a
// blocking inhibitor lock (shutdown, sleep, idle, and the power, suspend and
// hibernate keys and the lid switch), released by closing the descriptor logind
// hands out; where the desktop portal runs on the session bus, it also asks it to
// hold off logout, user switching, suspend and idle, so that the desktop names the
// reason when the user tries to log out. Terminate signals are kept meanwhile.
//
// Every bus call blocks without running the event loop (nothing may re-enter the
// update) and is bounded in time; a bus or service that is missing or refuses
// leaves the update to go on unguarded.
#include "update/update_guard_port.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QEvent>
#include <QGuiApplication>
#include <QVariantMap>
#include <QWidget>
#include <fcntl.h>
#include <unistd.h>

#include "app/linux/session_bus.h"
#include "app/linux/socket_hold.h"
#include "app/linux/termination_signals.h"
#include "update/ui_port.h"

namespace {

constexpr int BUS_CALL_TIMEOUT_MS = 3000;
const char* const LOCK_WHAT =
    "shutdown:sleep:idle:handle-power-key:handle-suspend-key:handle-hibernate-key:"
    "handle-lid-switch";
// Logout, user switch, suspend, idle.
constexpr uint PORTAL_FLAGS = 1 | 2 | 4 | 8;
const char* const PORTAL_SERVICE = "org.freedesktop.portal.Desktop";

bool g_held = false;
int g_logindLock = -1;
QString g_portalRequest;

QString Who() {
    const QString name = QCoreApplication::applicationName();
    return name.isEmpty() ? QStringLiteral("vespra-updater") : name;
}

void TakeLogindLock(const QString& reason) {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QString::fromLatin1(LOCK_WHAT) << Who() << reason << QStringLiteral("block");
    const QDBusMessage reply = bus.call(call, QDBus::Block, BUS_CALL_TIMEOUT_MS);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
        return;
    }
    const QDBusUnixFileDescriptor lock =
        qvariant_cast<QDBusUnixFileDescriptor>(reply.arguments().at(0));
    // Our own copy: the lock lasts until it is closed, whatever Qt does with its.
    if (lock.isValid()) {
        g_logindLock = fcntl(lock.fileDescriptor(), F_DUPFD_CLOEXEC, 0);
    }
}

// The portal only where the session names a bus and the portal already runs on
// it: asking would start either of them.
bool PortalRuns(QDBusConnection* bus) {
    if (!SessionBusNamed()) {
        return false;
    }
    *bus = QDBusConnection::sessionBus();
    if (!bus->isConnected() || bus->interface() == nullptr) {
        return false;
    }
    // Asked first, so that a call never starts a portal that is not running.
    const QDBusReply<bool> registered =
        bus->interface()->isServiceRegistered(QString::fromLatin1(PORTAL_SERVICE));
    return registered.isValid() && registered.value();
}

QString PortalWindow() {
    const QWidget* dialog = reinterpret_cast<const QWidget*>(g_mainDialog);
    if (dialog == nullptr || QGuiApplication::platformName() != QLatin1String("xcb")) {
        return QString();
    }
    return QStringLiteral("x11:") + QString::number(dialog->winId(), 16);
}

void TakePortalInhibit(const QString& reason) {
    QDBusConnection bus(QString{});
    if (!PortalRuns(&bus)) {
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(PORTAL_SERVICE), QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Inhibit"), QStringLiteral("Inhibit"));
    QVariantMap options;
    options.insert(QStringLiteral("reason"), reason);
    call << PortalWindow() << PORTAL_FLAGS << options;
    const QDBusMessage reply = bus.call(call, QDBus::Block, BUS_CALL_TIMEOUT_MS);
    if (reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 1) {
        g_portalRequest = qvariant_cast<QDBusObjectPath>(reply.arguments().at(0)).path();
    }
}

void ReleasePortalInhibit() {
    if (g_portalRequest.isEmpty()) {
        return;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QDBusMessage close = QDBusMessage::createMethodCall(
        QString::fromLatin1(PORTAL_SERVICE), g_portalRequest,
        QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Close"));
    bus.call(close, QDBus::Block, BUS_CALL_TIMEOUT_MS);
    g_portalRequest.clear();
}

bool IsUserInput(QEvent::Type type) {
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
        return true;
    default:
        return false;
    }
}

// Swallows what the user's devices sent; everything else passes.
class InputDrop : public QObject {
  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        return event->spontaneous() && IsUserInput(event->type());
    }
};

// The pauses kept the input given during the update waiting; handed out now it
// would reach the failure box or the dialog. It is taken from the queues and
// dropped here, with device events still held for the update's last steps.
void DropWaitingInput() {
    QCoreApplication* application = QCoreApplication::instance();
    if (application == nullptr) {
        return;
    }
    SocketHold hold;
    InputDrop drop;
    application->installEventFilter(&hold);
    application->installEventFilter(&drop);
    // A key read from the display is queued once more before it is delivered.
    for (int pass = 0; pass < 3; ++pass) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    application->removeEventFilter(&drop);
    application->removeEventFilter(&hold);
}

} // namespace

void UpdateGuardTake(const char16_t* reason) {
    if (g_held) {
        return;
    }
    g_held = true;
    HoldTerminationSignals();
    const QString why = QString::fromUtf16(reason);
    TakeLogindLock(why);
    TakePortalInhibit(why);
}

void UpdateGuardRelease() {
    if (!g_held) {
        return;
    }
    g_held = false;
    if (g_logindLock >= 0) {
        ::close(g_logindLock);
        g_logindLock = -1;
    }
    ReleasePortalInhibit();
    DropWaitingInput();
    ReleaseTerminationSignals();
}
