// Entry of the Linux programs: one dialog, exit code 0 however it ends.
#include <QApplication>

#include "app/linux/main_dialog_window.h"
#include "app/linux/taskbar_qt.h"
#include "app/linux/termination_signals.h"
#include "app/linux/ui_port_qt.h"
#include "device/unit_connection.h"
#include "res/resource_data.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const uint16_t language = ResLanguageFromEnvironment();
    InstallPlatformTranslations(language);
    ResetUnitConnection();
    ConnectTaskbar();

    MainDialogWindow dialog(language);
    // As on Windows the dialog is set up before it is first shown; a failed set-up
    // ends it without ever showing it.
    dialog.initialise();
    if (dialog.result() == 1) {
        return 0;
    }
    QObject::connect(&dialog, &QDialog::finished, &application, [] { QCoreApplication::exit(0); });
    InstallTerminationSignals(&dialog);
    dialog.show();
    application.exec();
    return 0;
}
