// The handler only writes a byte into a pipe: a socket notifier on its other end
// acts on it outside an update, and the update guard's release reads it directly,
// since an update's pauses hold socket notifiers back.
#include "app/linux/termination_signals.h"

#include <QPointer>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "app/linux/main_dialog_window.h"

namespace {

int g_signalPipe[2] = {-1, -1};
QPointer<MainDialogWindow> g_dialog;
bool g_held = false;
bool g_kept = false;

void NoteSignal(int) {
    const int saved = errno;
    const char byte = 1;
    // A full pipe already says that a signal came.
    (void)!write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

bool TakeArrivedSignals() {
    bool arrived = false;
    char bytes[64];
    while (read(g_signalPipe[0], bytes, sizeof bytes) > 0) {
        arrived = true;
    }
    return arrived;
}

void OnSignalNoticed() {
    if (!TakeArrivedSignals()) {
        return;
    }
    if (g_held) {
        g_kept = true;
    } else if (g_dialog != nullptr) {
        g_dialog->closeAtOnce();
    }
}

} // namespace

bool InstallTerminationSignals(MainDialogWindow* dialog) {
    g_dialog = dialog;
    if (g_signalPipe[0] < 0 && pipe2(g_signalPipe, O_NONBLOCK | O_CLOEXEC) != 0) {
        g_signalPipe[0] = g_signalPipe[1] = -1;
        return false;
    }
    QSocketNotifier* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, dialog);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] { OnSignalNoticed(); });
    struct sigaction action = {};
    action.sa_handler = NoteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
    return true;
}

void HoldTerminationSignals() {
    g_held = true;
}

void ReleaseTerminationSignals() {
    if (!g_held) {
        return;
    }
    g_held = false;
    const bool arrived = g_signalPipe[0] >= 0 && TakeArrivedSignals();
    if ((arrived || g_kept) && g_dialog != nullptr) {
        g_dialog->closeAfterCommand();
    }
    g_kept = false;
}
