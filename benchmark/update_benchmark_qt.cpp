// The Linux program's whole update with its windows: the dialog over the simulated
// unit on the platform Qt is given (xcb under Xvfb, say), the confirmation answered
// as a user would, the progress window shown and repainted through every pause.
// Device events come from the program's own udev monitor, not from the simulated
// program's control window, whose refreshes would be timed along with the update.
// Times the update from the confirmation's answer to the success text against the
// pauses it must take. Prints its figures and asserts nothing about them; exits 1
// only when the update did not write the image.
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "app/linux/main_dialog_window.h"
#include "app/linux/taskbar_qt.h"
#include "update/ui_port.h"
#include "app/linux/ui_port_qt.h"
#include "device/hid/sim_world.h"
#include "device/unit_connection.h"
#include "res/resource_data.h"
#include "res/resource_ids.h"
#include "benchmark/clocks.h"
#include "benchmark/pause_log.h"
#include "benchmark/pauses_alone.h"
#include "benchmark/update_figures.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    InstallPlatformTranslations(RES_LANG_ENGLISH);
    ResetUnitConnection();
    // As the program does: the launcher entry's updates go out during the
    // update when a session bus is named (dbus-run-session).
    ConnectTaskbar();
    SimReset();
    SimAddInterface(SimReadyUnit());
    MainDialogWindow dialog(RES_LANG_ENGLISH);
    dialog.initialise();
    dialog.show();
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 500) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    if (!UnitIsOpen()) {
        std::fprintf(stderr, "the simulated unit was not detected as ready\n");
        return 1;
    }

    // The update starts when the confirmation is answered.
    ClockReading start;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            QMessageBox* box = qobject_cast<QMessageBox*>(widget);
            if (box != nullptr && box->isVisible()) {
                answer.stop();
                StartPauseLog();
                start = ReadClocks();
                box->button(QMessageBox::Ok)->click();
                return;
            }
        }
    });
    answer.start(5);
    qobject_cast<QPushButton*>(dialog.control(IDC_UPDATE))->click();
    const ClockReading elapsed = ElapsedSince(start);
    const PauseLog pauses = StopPauseLog();

    const uint32_t imageSize = ResFirmwareImageSize();
    const uint8_t* image = ResFirmwareImageData();
    const std::vector<uint8_t>& flash = SimGetInterface(0).controller.flash;
    char16_t success[TEXT_BUFFER_CHARS];
    ResLoadString(IDS_UPDATE_SUCCESSFUL, RES_LANG_ENGLISH, success, TEXT_BUFFER_CHARS);
    const bool written = start.wallMs > 0 && dialog.controlText(IDC_STATUS_PANE) == success &&
                         flash.size() >= imageSize &&
                         std::equal(image, image + imageSize, flash.begin());
    PrintUpdateFigures("whole update in the dialog, on " +
                           QGuiApplication::platformName().toStdString(),
                       imageSize, written, elapsed);
    PrintUpdatePauses(imageSize, elapsed, pauses);
    PrintPausesAloneFigures(imageSize, elapsed, TimePausesAlone(imageSize));
    dialog.close();
    return written ? 0 : 1;
}
