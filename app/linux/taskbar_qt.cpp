// The taskbar port for Linux desktops: the update's progress on the launcher
// entry of the program's desktop file (docks and task managers that follow the
// launcher-entry interface show it on the program's icon), and its outcome as
// one desktop notification when the user is looking at another window. Both go
// over the session bus; without one, or with nobody listening, nothing changes.
#include "update/taskbar_port.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QMetaObject>
#include <QVariantMap>

#include "app/linux/main_dialog_window.h"
#include "app/linux/session_bus.h"
#include "app/linux/taskbar_qt.h"

namespace {

const QString LAUNCHER_APP_URI = QStringLiteral("application://vespra-updater.desktop");
const QString LAUNCHER_PATH = QStringLiteral("/io/github/vespra/Updater/LauncherEntry");
const QString LAUNCHER_INTERFACE = QStringLiteral("com.canonical.Unity.LauncherEntry");
const QString NOTIFICATIONS_SERVICE = QStringLiteral("org.freedesktop.Notifications");
const QString NOTIFICATIONS_PATH = QStringLiteral("/org/freedesktop/Notifications");
const QString ICON_NAME = QStringLiteral("vespra-updater");
// The server's own time-out for a notification.
constexpr int NOTIFICATION_EXPIRY_DEFAULT = -1;

// The notification this program showed last: a new one takes its place rather
// than piling up beside it.
uint g_lastNotification = 0;

bool BusReady() {
    static const bool named = SessionBusNamed();
    return named && QDBusConnection::sessionBus().isConnected();
}

// What the launcher entry is to show next, newest values first.
QVariantMap g_entryToSend;
bool g_entryPosted = false;

// Even a signal that is only queued on the bus connection takes a fraction of a
// millisecond to marshal and queue; posted, it goes out from the event handling
// at the start of the pause after the block, inside the pause's length, as the
// progress bar's value does. One post at a time is on its way; it sends the
// newest values.
void UpdateLauncherEntry(const QVariantMap& properties) {
    if (!BusReady()) {
        return;
    }
    for (auto property = properties.begin(); property != properties.end(); ++property) {
        g_entryToSend.insert(property.key(), property.value());
    }
    if (g_entryPosted) {
        return;
    }
    g_entryPosted = true;
    QMetaObject::invokeMethod(
        qApp,
        [] {
            g_entryPosted = false;
            QDBusMessage signal = QDBusMessage::createSignal(LAUNCHER_PATH, LAUNCHER_INTERFACE,
                                                             QStringLiteral("Update"));
            signal << LAUNCHER_APP_URI << g_entryToSend;
            g_entryToSend.clear();
            QDBusConnection::sessionBus().send(signal);
        },
        Qt::QueuedConnection);
}

// The program's windows are in front when one of them (the dialog, the progress
// window, a box) is the active window.
bool ProgramInFront() {
    return QApplication::activeWindow() != nullptr;
}

QString ScreenText(const char16_t* text) {
    QString shown = QString::fromUtf16(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

// One notification with the outcome, and the dialog asking for attention on the
// taskbar, until the user comes back to it.
void Announce(const QString& summary, const char16_t* text) {
    QWidget* dialog = CurrentMainDialog();
    if (dialog != nullptr) {
        QApplication::alert(dialog);
    }
    if (!BusReady()) {
        return;
    }
    const QString name = dialog != nullptr ? dialog->windowTitle().trimmed() : QString();
    QDBusMessage call = QDBusMessage::createMethodCall(
        NOTIFICATIONS_SERVICE, NOTIFICATIONS_PATH, NOTIFICATIONS_SERVICE, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), ICON_NAME);
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(1)));
    call << name << g_lastNotification << ICON_NAME << summary << ScreenText(text) << QStringList()
         << hints << NOTIFICATION_EXPIRY_DEFAULT;
    QDBusPendingCallWatcher* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), qApp);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [](QDBusPendingCallWatcher* finished) {
                         const QDBusPendingReply<uint> reply = *finished;
                         if (!reply.isError()) {
                             g_lastNotification = reply.value();
                         }
                         finished->deleteLater();
                     });
}

} // namespace

void ConnectTaskbar() {
    BusReady();
}

void TaskbarShowProgress(uint32_t position) {
    UpdateLauncherEntry({{QStringLiteral("progress"), double(position) / 100.0},
                         {QStringLiteral("progress-visible"), true},
                         {QStringLiteral("urgent"), false}});
}

void TaskbarShowFailed(const char16_t* caption, const char16_t* text) {
    // The progress stays where the update stopped, marked as needing the user.
    UpdateLauncherEntry({{QStringLiteral("urgent"), true}});
    if (!ProgramInFront() && text != nullptr) {
        Announce(caption != nullptr ? QString::fromUtf16(caption) : QString(), text);
    }
}

void TaskbarShowEnded(const char16_t* text) {
    UpdateLauncherEntry(
        {{QStringLiteral("progress-visible"), false}, {QStringLiteral("urgent"), false}});
    if (!ProgramInFront() && text != nullptr) {
        QWidget* dialog = CurrentMainDialog();
        Announce(dialog != nullptr ? dialog->windowTitle().trimmed() : QString(), text);
    }
}
