// The Linux dialog driven in-process over the simulated unit, on the offscreen
// platform: what the user sees at start, on plugging and unplugging, through a
// whole update with its progress window, in English and German.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <csignal>
#include <functional>
#include <unistd.h>
#include <vector>

#include "app/linux/dialog_units.h"
#include "app/linux/main_dialog_window.h"
#include "app/linux/ui_port_qt.h"
#include "app/linux/sim_panel.h"
#include "app/linux/termination_signals.h"
#include "app/main_dialog.h"
#include "device/hid/clock_port.h"
#include "device/command_reports.h"
#include "device/hid/sim_world.h"
#include "device/unit_connection.h"
#include "res/resource_data.h"
#include "res/resource_ids.h"
#include "update/sha256.h"

// The image the update writes, linked here in place of the program's carried one
// (app/linux/carried_image.cpp): the carried image unless a test puts a short one
// in, to keep a whole update brief.
namespace {
const uint8_t* g_image = nullptr;
uint32_t g_imageSize = 0;
uint8_t g_imageDigest[SHA256_DIGEST_BYTES] = {};

void SetFirmwareImageForUpdate(const uint8_t* image, uint32_t size) {
    g_image = image;
    g_imageSize = size;
    // A stand-in image is the image of this run, so it stands for its own digest.
    Sha256(image, size, g_imageDigest);
}
} // namespace

void UiMapFirmwareImage(const uint8_t** first, uint32_t* size) {
    *first = g_image;
    *size = g_imageSize;
}

const uint8_t* UiFirmwareImageDigest() {
    return g_imageDigest;
}

namespace {

QString Table(uint16_t id) {
    char16_t text[TEXT_BUFFER_CHARS];
    UiLoadString(id, text, TEXT_BUFFER_CHARS);
    return QString::fromUtf16(text);
}

QString WithInstructions(uint16_t id) {
    return Table(id) + QStringLiteral("\r\n\r\n") + Table(IDS_INSTRUCTIONS);
}

void SetLanguage(const char* locale) {
    qputenv("LC_ALL", locale);
    qunsetenv("LANGUAGE");
    InstallPlatformTranslations(ResLanguageFromEnvironment());
}

struct BoxSeen {
    QString caption, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
};

// Waits for the next message box, notes what it shows, runs `meanwhile` (with the
// box still open) and then presses the button `answer`.
void AnswerNextBox(QMessageBox::StandardButton answer, std::vector<BoxSeen>* seen,
                   std::function<void()> meanwhile = {}) {
    QTimer* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, answer, seen, meanwhile] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            QMessageBox* box = qobject_cast<QMessageBox*>(widget);
            if (box == nullptr || !box->isVisible()) {
                continue;
            }
            poll->stop();
            poll->deleteLater();
            BoxSeen noted;
            noted.caption = box->windowTitle();
            noted.text = box->text();
            noted.icon = box->icon();
            for (QAbstractButton* button : box->buttons()) {
                noted.buttons << button->text().remove(QLatin1Char('&'));
            }
            seen->push_back(noted);
            if (meanwhile) {
                meanwhile();
            }
            box->button(answer)->click();
            return;
        }
    });
    poll->start(20);
}

// A run on another platform keeps its shots apart from the default run's.
QString ScreenshotDir() {
    const QString dir = qEnvironmentVariableIsEmpty("VESPRA_SCREENSHOT_DIR")
                            ? QStringLiteral(VESPRA_SCREENSHOT_DIR)
                            : qEnvironmentVariable("VESPRA_SCREENSHOT_DIR");
    QDir().mkpath(dir);
    return dir;
}

class PaintCounter : public QWidget {
  public:
    int paints = 0;

  protected:
    void paintEvent(QPaintEvent*) override { ++paints; }
};

} // namespace

class DialogTest : public QObject {
    Q_OBJECT

  private:
    MainDialogWindow* dialog = nullptr;

    // The program's own start: the closed record, the dialog, its set-up, shown.
    void Start(bool unitPlugged) {
        ResetUnitConnection();
        SimPanelInstance(); // a fresh simulated world with the unit plugged in
        if (!unitPlugged) {
            SimUnplug(0);
        }
        dialog = new MainDialogWindow(ResLanguageFromEnvironment());
        dialog->initialise();
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
    }

    QString Text(int id) const { return QString::fromStdU16String(dialog->controlText(id)); }
    bool Enabled(int id) const { return dialog->control(id)->isEnabled(); }
    QString Shown(int id) const {
        QWidget* widget = dialog->control(id);
        if (QLabel* label = qobject_cast<QLabel*>(widget)) {
            return label->text();
        }
        if (QPlainTextEdit* edit = qobject_cast<QPlainTextEdit*>(widget)) {
            return edit->toPlainText();
        }
        if (QGroupBox* group = qobject_cast<QGroupBox*>(widget)) {
            return group->title();
        }
        return qobject_cast<QPushButton*>(widget)->text();
    }
    void Save(const QString& name) {
        QVERIFY(dialog->grab().save(ScreenshotDir() + QLatin1Char('/') + name));
    }

  private slots:
    void init() {
        SetLanguage("en_US.UTF-8");
        SetFirmwareImageForUpdate(ResFirmwareImageData(), ResFirmwareImageSize());
    }

    void cleanup() {
        if (dialog != nullptr) {
            dialog->close();
            delete dialog;
            dialog = nullptr;
        }
        g_mainDialog = 0;
    }

    // Template 110 in pixels through the dialog font, the template's texts, and
    // the texts set at start: no unit, the instructions, an empty panel.
    void startsWithNoUnit() {
        Start(false);
        const ResDialogTemplate* layout = ResFindDialog(IDD_MAIN_DIALOG, RES_LANG_ENGLISH);
        QVERIFY(layout != nullptr);
        const DialogBaseUnits base = DialogBaseUnitsOf(dialog->font());
        QCOMPARE(dialog->size(), DialogUnitsToPixels(0, 0, layout->cx, layout->cy, base).size());
        for (int i = 0; i < layout->controlCount; ++i) {
            const ResDialogControl& item = layout->controls[i];
            if (item.id == -1) {
                continue;
            }
            QCOMPARE(dialog->control(item.id)->geometry(),
                     DialogUnitsToPixels(item.x, item.y, item.cx, item.cy, base));
        }

        char16_t title[TITLE_BUFFER_CHARS];
        FormatMainTitle(title, TITLE_BUFFER_CHARS);
        QCOMPARE(dialog->windowTitle(), QString::fromUtf16(title));
        QVERIFY(dialog->windowTitle().endsWith(QStringLiteral("3.5 ")));
        QVERIFY(!dialog->windowIcon().isNull());

        QCOMPARE(Text(IDC_STATUS_PANE), WithInstructions(IDS_NO_UNIT));
        QCOMPARE(Shown(IDC_STATUS_PANE), WithInstructions(IDS_NO_UNIT).replace("\r\n", "\n"));
        QCOMPARE(Shown(IDC_CLOSE), QStringLiteral("Close"));
        QCOMPARE(Shown(IDC_UPDATE), QStringLiteral("Update"));
        QCOMPARE(Shown(IDC_VERSION_GROUP), QStringLiteral("Installed firmware version"));
        QCOMPARE(Shown(IDC_ROW1_CAPTION), Table(IDS_ROW1_CAPTION));
        QCOMPARE(Shown(IDC_ROW2_CAPTION), Table(IDS_ROW2_CAPTION));
        QCOMPARE(Shown(IDC_ROW3_CAPTION), Table(IDS_ROW3_CAPTION));
        for (int id : {IDC_ROW1_VALUE, IDC_ROW2_VALUE, IDC_ROW3_VALUE}) {
            QCOMPARE(Shown(id), QStringLiteral("0.0.0"));
            QVERIFY(!Enabled(id));
        }
        QVERIFY(!Enabled(IDC_UPDATE));
        QVERIFY(qobject_cast<QPushButton*>(dialog->control(IDC_CLOSE))->isDefault());
        Save(QStringLiteral("dialog_en_no_unit.png"));
    }

    // Only the controller row is red, the logo never paints its key colour, and
    // the read-only pane is no white field.
    void redRowAndKeyedLogo() {
        Start(true);
        for (int id : {IDC_ROW1_CAPTION, IDC_ROW2_CAPTION, IDC_ROW3_CAPTION, IDC_ROW1_VALUE,
                       IDC_ROW2_VALUE, IDC_ROW3_VALUE}) {
            const QColor text =
                dialog->control(id)->palette().color(QPalette::Active, QPalette::WindowText);
            QCOMPARE(text == QColor(255, 0, 0), IsRedLabel(id));
        }
        const QImage shot = dialog->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QWidget* group = dialog->control(IDC_VERSION_GROUP);
        const QRect logo(group->geometry().right() + 21, group->y(), 60, 20);
        int green = 0, painted = 0;
        const QRgb face = shot.pixel(dialog->width() - 2, dialog->height() - 2);
        for (int y = 0; y < shot.height(); ++y) {
            for (int x = 0; x < shot.width(); ++x) {
                green += shot.pixel(x, y) == qRgb(0, 255, 0);
                painted += logo.contains(x, y) && shot.pixel(x, y) != face;
            }
        }
        QCOMPARE(green, 0);
        QVERIFY2(painted > 100, "no logo right of the group box");
        // As on Windows, the logo's top is the group box's, lowered by the side
        // frame: only the caption's height is taken off the top decoration. The
        // bitmap's own top rows are key colour: up to two rows at this size.
        int logoTop = -1;
        for (int y = 0; y < shot.height() && logoTop < 0; ++y) {
            for (int x = logo.left(); x <= logo.right(); ++x) {
                if (shot.pixel(x, y) != face) {
                    logoTop = y;
                    break;
                }
            }
        }
        const WindowDecoration decoration =
            DecorationOf(dialog->frameGeometry(), dialog->geometry());
        const int belowFrame = logoTop - (group->y() + decoration.frameWidth);
        QVERIFY2(belowFrame >= 0 && belowFrame <= 2, qPrintable(QString::number(belowFrame)));
        // The read-only hint pane shows on the dialog's face, below its text.
        const QWidget* pane = dialog->control(IDC_STATUS_PANE);
        QCOMPARE(shot.pixel(pane->x() + 6, pane->geometry().bottom() - 6), face);
    }

    void arrivalOfReadyUnitThenRemoval() {
        Start(false);
        SimPanelInstance()->plugIn();
        QCOMPARE(Text(IDC_STATUS_PANE), Table(IDS_READY));
        QVERIFY(Enabled(IDC_UPDATE));
        QCOMPARE(Shown(IDC_ROW1_CAPTION), QStringLiteral("LINK-CUBE"));
        QCOMPARE(Shown(IDC_ROW1_VALUE), QStringLiteral("2.3"));
        QCOMPARE(Shown(IDC_ROW2_VALUE), QStringLiteral("1.2"));
        QCOMPARE(Shown(IDC_ROW3_VALUE), QStringLiteral("3.4"));
        QVERIFY(Enabled(IDC_ROW3_VALUE));
        Save(QStringLiteral("dialog_en_ready.png"));

        SimPanelInstance()->unplug();
        QCOMPARE(Text(IDC_STATUS_PANE), WithInstructions(IDS_CONNECTION_LOST));
        QVERIFY(!Enabled(IDC_UPDATE));
        QCOMPARE(Shown(IDC_ROW1_VALUE), QStringLiteral("0.0.0"));
        QVERIFY(!UnitIsOpen());
    }

    // A short image keeps the real pauses (about 6 s) bearable; the order of steps
    // and the image's bytes are checked in full by the core tests.
    void wholeUpdateWithProgressWindow() {
        std::vector<uint8_t> image(48 * 30 + 32);
        for (size_t i = 0; i < image.size(); ++i) {
            image[i] = static_cast<uint8_t>(i * 13 + 7);
        }
        SetFirmwareImageForUpdate(image.data(), static_cast<uint32_t>(image.size()));
        Start(true);

        struct ProgressSeen {
            QString title;
            QRect frame;
            bool topLevel = false;
            bool ownedByDialog = false;
            bool transientForDialog = false;
            int value = -1;
        };
        std::vector<ProgressSeen> progress;
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                QProgressBar* bar = qobject_cast<QProgressBar*>(widget);
                if (bar == nullptr || !bar->isVisible()) {
                    continue;
                }
                if (progress.empty()) {
                    QVERIFY(bar->grab().save(ScreenshotDir() + "/progress_en.png"));
                }
                const QWindow* window = bar->windowHandle();
                progress.push_back(
                    {bar->windowTitle(), bar->frameGeometry(), bar->isWindow(),
                     bar->parentWidget() == dialog,
                     window != nullptr && window->transientParent() == dialog->windowHandle(),
                     bar->value()});
            }
        });
        watch.start(10);

        std::vector<BoxSeen> boxes;
        AnswerNextBox(QMessageBox::Ok, &boxes);
        QTest::mouseClick(dialog->control(IDC_UPDATE), Qt::LeftButton);
        watch.stop();

        QCOMPARE(boxes.size(), size_t(1));
        QCOMPARE(boxes[0].caption, Table(IDS_IMPORTANT_NOTE_CAPTION));
        QCOMPARE(boxes[0].text, Table(IDS_DO_NOT_INTERRUPT));
        QCOMPARE(boxes[0].icon, QMessageBox::Warning);
        QCOMPARE(boxes[0].buttons.size(), 2);

        QVERIFY(!progress.empty());
        const QRect frame = dialog->frameGeometry();
        const QPoint centre(frame.left() + frame.width() / 2, frame.top() + frame.height() / 2);
        QCOMPARE(progress.front().title, Table(IDS_PROGRESS_TITLE));
        QVERIFY(progress.front().topLevel && progress.front().ownedByDialog);
        QVERIFY(progress.front().transientForDialog);
        if (QGuiApplication::platformName() == QLatin1String("wayland")) {
            // The compositor places windows; the size is still the program's.
            QCOMPARE(progress.front().frame.size(), QSize(400, 50));
        } else {
            QCOMPARE(progress.front().frame, QRect(centre.x() - 200, centre.y() - 25, 400, 50));
        }
        QVERIFY(progress.back().value >= progress.front().value);
        // Gone before the success text is set.
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            QVERIFY(qobject_cast<QProgressBar*>(widget) == nullptr);
        }

        QCOMPARE(Text(IDC_STATUS_PANE), Table(IDS_UPDATE_SUCCESSFUL));
        QCOMPARE(Shown(IDC_ROW3_VALUE), QStringLiteral("3.5"));
        QVERIFY(!Enabled(IDC_UPDATE));
        QVERIFY(UnitIsOpen());
        const std::vector<uint8_t>& flash = SimGetInterface(0).controller.flash;
        QVERIFY(std::equal(image.begin(), image.end(), flash.begin()));
        Save(QStringLiteral("dialog_en_updated.png"));
    }

    // The bar takes its value in the pause after the block: the newest of those
    // set meanwhile, still clamped to 100, and never on a window already gone.
    void progressValueIsShownByTheNextPause() {
        Start(true);
        const auto create = [] { return UiCreateProgressWindow(u"progress", 0, 0, 400, 50); };
        const auto bar = [](UiWindow window) {
            return qobject_cast<QProgressBar*>(reinterpret_cast<QWidget*>(window));
        };
        UiWindow first = create();
        UiSetProgressPosition(first, 30);
        UiSetProgressPosition(first, 60);
        PlatformSleep(1);
        QCOMPARE(bar(first)->value(), 60);
        UiSetProgressPosition(first, 250);
        PlatformSleep(1);
        QCOMPARE(bar(first)->value(), 100);

        UiSetProgressPosition(first, 10);
        UiDestroyWindow(first);
        UiWindow second = create();
        QCOMPARE(bar(second)->value(), 0);
        UiSetProgressPosition(second, 10);
        PlatformSleep(1);
        QCOMPARE(bar(second)->value(), 10);
        UiSetProgressPosition(second, 20);
        UiSetProgressPosition(second, 10);
        PlatformSleep(1);
        QCOMPARE(bar(second)->value(), 10);
        UiDestroyWindow(second);
    }

    // A failure chosen in the panel waits for its request: the last block of the
    // next update, and once more of the update after plugging in again.
    void failureChosenInThePanelFailsTheNextUpdates() {
        std::vector<uint8_t> image(48 * 3);
        for (size_t i = 0; i < image.size(); ++i) {
            image[i] = static_cast<uint8_t>(i * 7 + 1);
        }
        SetFirmwareImageForUpdate(image.data(), static_cast<uint32_t>(image.size()));
        Start(true);
        QComboBox* step = SimPanelInstance()->findChild<QComboBox*>(QStringLiteral("failureStep"));
        QVERIFY(step != nullptr);
        step->setCurrentIndex(step->findText(QStringLiteral("last block")));

        for (int round = 0; round < 2; ++round) {
            std::vector<BoxSeen> boxes;
            AnswerNextBox(QMessageBox::Ok, &boxes,
                          [&boxes] { AnswerNextBox(QMessageBox::Ok, &boxes); });
            QTest::mouseClick(dialog->control(IDC_UPDATE), Qt::LeftButton);
            QCOMPARE(boxes.size(), size_t(2));
            QCOMPARE(boxes[1].caption, Table(IDS_UPDATE_FAILED_CAPTION));
            QVERIFY2(boxes[1].text.startsWith(Table(IDS_BLOCK_WRITE_FAILED)) &&
                         boxes[1].text.contains(QStringLiteral("0x0000002a")),
                     qPrintable(boxes[1].text));
            QCOMPARE(SimGetInterface(0).blockWrites, 2u);
            SimPanelInstance()->unplug();
            SimPanelInstance()->plugIn();
            QVERIFY(Enabled(IDC_UPDATE));
        }
    }

    // A message box's own event loop hands device events to the dialog: the unit
    // pulled out while the confirmation is open makes the lock step fail.
    void removalDuringConfirmationReachesTheDialog() {
        Start(true);
        std::vector<BoxSeen> boxes;
        AnswerNextBox(QMessageBox::Ok, &boxes, [&boxes] {
            SimPanelInstance()->unplug();
            AnswerNextBox(QMessageBox::Ok, &boxes);
        });
        QTest::mouseClick(dialog->control(IDC_UPDATE), Qt::LeftButton);

        QCOMPARE(boxes.size(), size_t(2));
        QCOMPARE(boxes[1].caption, Table(IDS_UPDATE_FAILED_CAPTION));
        QCOMPARE(boxes[1].text, Table(IDS_LOCK_NOT_SET)); // first code -1: no code line
        QCOMPARE(boxes[1].icon, QMessageBox::Critical);
        QCOMPARE(boxes[1].buttons, QStringList{QStringLiteral("OK")});
        QCOMPARE(Text(IDC_STATUS_PANE), Table(IDS_TRY_AGAIN));
        QVERIFY(!Enabled(IDC_UPDATE));
    }

    void germanTextsAndButtons() {
        SetLanguage("de_DE.UTF-8");
        Start(false);
        QCOMPARE(Shown(IDC_CLOSE), QStringLiteral("Beenden"));
        QCOMPARE(Shown(IDC_VERSION_GROUP), QStringLiteral("Installierte Firmware Versionen"));
        const QLabel* heading = nullptr;
        for (QLabel* label : dialog->findChildren<QLabel*>()) {
            if (label->text() == QStringLiteral("Hinweisfenster:")) {
                heading = label;
            }
        }
        QVERIFY(heading != nullptr);
        QCOMPARE(Text(IDC_STATUS_PANE), WithInstructions(IDS_NO_UNIT));
        QVERIFY(Text(IDC_STATUS_PANE).startsWith(QStringLiteral("Es wurde keine")));
        QCOMPARE(Shown(IDC_ROW2_CAPTION), QStringLiteral("Regler-Bootloader"));
        // The longest caption is one word that cannot wrap: it must show whole.
        const QWidget* row1 = dialog->control(IDC_ROW1_CAPTION);
        QCOMPARE(Shown(IDC_ROW1_CAPTION), QStringLiteral("Programmiereinheit"));
        QVERIFY2(row1->fontMetrics().horizontalAdvance(Shown(IDC_ROW1_CAPTION)) <= row1->width(),
                 qPrintable(QString::number(row1->width())));
        Save(QStringLiteral("dialog_de_no_unit.png"));

        // Qt's own button texts follow the language.
        SimPanelInstance()->plugIn();
        std::vector<BoxSeen> boxes;
        AnswerNextBox(QMessageBox::Cancel, &boxes);
        QTest::mouseClick(dialog->control(IDC_UPDATE), Qt::LeftButton);
        QCOMPARE(boxes.size(), size_t(1));
        QCOMPARE(boxes[0].caption, QStringLiteral("Wichtiger Hinweis"));
        QVERIFY2(boxes[0].buttons.contains(QStringLiteral("Abbrechen")),
                 qPrintable(boxes[0].buttons.join(',')));
        QVERIFY(Enabled(IDC_UPDATE)); // declined: nothing changed
    }

    // Close button, Escape and the close box: the same end, result 2, unit closed.
    void everyWayOfClosingEndsAlike_data() {
        QTest::addColumn<int>("way");
        QTest::newRow("Close button") << 0;
        QTest::newRow("Escape") << 1;
        QTest::newRow("close box") << 2;
    }
    void everyWayOfClosingEndsAlike() {
        QFETCH(int, way);
        Start(true);
        QVERIFY(UnitIsOpen());
        QSignalSpy finished(dialog, &QDialog::finished);
        if (way == 0) {
            QTest::mouseClick(dialog->control(IDC_CLOSE), Qt::LeftButton);
        } else if (way == 1) {
            QTest::keyClick(dialog, Qt::Key_Escape);
        } else {
            dialog->close();
        }
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toInt(), 2);
        QVERIFY(!dialog->isVisible());
        QVERIFY(!UnitIsOpen());
    }

    // SIGTERM in the middle of an update is kept until the update is over; the
    // dialog then ends as Close ends it, after the success text, or after the
    // failure box has been answered.
    void terminateSignalWaitsForTheUpdate_data() {
        QTest::addColumn<bool>("fails");
        QTest::newRow("success") << false;
        QTest::newRow("failure") << true;
    }
    void terminateSignalWaitsForTheUpdate() {
        QFETCH(bool, fails);
        std::vector<uint8_t> image(48 * 4);
        for (size_t i = 0; i < image.size(); ++i) {
            image[i] = static_cast<uint8_t>(i * 5 + 3);
        }
        SetFirmwareImageForUpdate(image.data(), static_cast<uint32_t>(image.size()));
        Start(true);
        QVERIFY(InstallTerminationSignals(dialog));
        if (fails) {
            SimArmFault(0, CMD_WRITE_BLOCK, 3, SimFault::WriteFails);
        }
        QSignalSpy finished(dialog, &QDialog::finished);
        QString paneAtTheEnd;
        connect(dialog, &QDialog::finished, [&] { paneAtTheEnd = Text(IDC_STATUS_PANE); });
        int finishedWhileFailureShown = -1;
        std::vector<BoxSeen> boxes;
        AnswerNextBox(QMessageBox::Ok, &boxes, [&] {
            if (fails) {
                AnswerNextBox(QMessageBox::Ok, &boxes,
                              [&] { finishedWhileFailureShown = int(finished.count()); });
            }
        });
        // Timers run in the update's pauses: this one in the erase's.
        bool raisedInTheUpdate = false;
        QTimer::singleShot(1500, dialog, [&] {
            raisedInTheUpdate = dialog->commandRunning();
            std::raise(SIGTERM);
        });
        QTest::mouseClick(dialog->control(IDC_UPDATE), Qt::LeftButton);

        QVERIFY(raisedInTheUpdate);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toInt(), 2);
        QVERIFY(!UnitIsOpen());
        if (fails) {
            QCOMPARE(boxes.size(), size_t(2));
            QCOMPARE(boxes[1].caption, Table(IDS_UPDATE_FAILED_CAPTION));
            QCOMPARE(finishedWhileFailureShown, 0);
            QCOMPARE(paneAtTheEnd, Table(IDS_TRY_AGAIN));
        } else {
            QCOMPARE(boxes.size(), size_t(1));
            QCOMPARE(paneAtTheEnd, Table(IDS_UPDATE_SUCCESSFUL));
            const std::vector<uint8_t>& flash = SimGetInterface(0).controller.flash;
            QVERIFY(std::equal(image.begin(), image.end(), flash.begin()));
        }
    }

    // Outside an update a terminate signal ends the dialog at once, as Close does,
    // also while a question is open (answered as its Escape would be).
    void terminateSignalOutsideAnUpdateEndsAtOnce_data() {
        QTest::addColumn<bool>("questionOpen");
        QTest::newRow("idle") << false;
        QTest::newRow("confirmation open") << true;
    }
    void terminateSignalOutsideAnUpdateEndsAtOnce() {
        QFETCH(bool, questionOpen);
        Start(true);
        QVERIFY(InstallTerminationSignals(dialog));
        QSignalSpy finished(dialog, &QDialog::finished);
        if (questionOpen) {
            QTimer::singleShot(200, dialog, [] { std::raise(SIGTERM); });
            QTest::mouseClick(dialog->control(IDC_UPDATE), Qt::LeftButton);
        } else {
            std::raise(SIGTERM);
        }
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toInt(), 2);
        QVERIFY(!UnitIsOpen());
        QCOMPARE(SimGetInterface(0).controller.firmwareVersion, uint16_t(0x0304));
    }

    // A pause lasts its full length and keeps windows painted, but hands out no
    // device event (a socket notifier, as the udev monitor is) until it is over.
    void pauseRepaintsButHoldsDeviceEvents() {
        PaintCounter window;
        window.resize(100, 100);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        int fds[2];
        QCOMPARE(pipe(fds), 0);
        QSocketNotifier notifier(fds[0], QSocketNotifier::Read);
        int socketEvents = 0;
        connect(&notifier, &QSocketNotifier::activated, [&] { ++socketEvents; });
        QCOMPARE(write(fds[1], "x", 1), ssize_t(1));

        const int paintsBefore = window.paints;
        window.update();
        QElapsedTimer clock;
        clock.start();
        PlatformSleep(300);
        QVERIFY(clock.elapsed() >= 300);
        QVERIFY(window.paints > paintsBefore);
        QCOMPARE(socketEvents, 0);

        QCoreApplication::processEvents();
        QVERIFY(socketEvents > 0);
        ::close(fds[0]);
        ::close(fds[1]);
    }
};

QTEST_MAIN(DialogTest)
#include "dialog_test.moc"
