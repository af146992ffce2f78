// The UI port over Qt Widgets: controls of the main dialog, message boxes with
// the Windows styles' icons and buttons, the progress window and the strings.
#include "update/ui_port.h"

#include <algorithm>

#include <QApplication>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTranslator>

#include "app/linux/main_dialog_window.h"
#include "app/linux/ui_port_qt.h"
#include "res/resource_data.h"

namespace {

QWidget* WidgetOf(UiWindow window) {
    return reinterpret_cast<QWidget*>(window);
}

constexpr uint32_t MB_TYPE_MASK = 0x0F;
constexpr uint32_t MB_ICON_MASK = 0xF0;

QMessageBox::Icon IconOfStyle(uint32_t style) {
    switch (style & MB_ICON_MASK) {
    case UI_MB_ICONERROR:
        return QMessageBox::Critical;
    case UI_MB_ICONWARNING:
        return QMessageBox::Warning;
    case UI_MB_ICONINFORMATION:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

} // namespace

void InstallPlatformTranslations(uint16_t language) {
    static QTranslator* installed = nullptr;
    if (installed != nullptr) {
        QCoreApplication::removeTranslator(installed);
        delete installed;
        installed = nullptr;
    }
    if (language != RES_LANG_GERMAN) {
        return;
    }
    QTranslator* translator = new QTranslator;
    if (translator->load(QStringLiteral("qtbase_de"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
        QCoreApplication::installTranslator(translator)) {
        installed = translator;
    } else {
        delete translator;
    }
}

int UiLoadString(uint16_t id, char16_t* buffer, int capacity) {
    return ResLoadString(id, ResLanguageFromEnvironment(), buffer, capacity);
}

void UiSetItemText(int controlId, const char16_t* text) {
    if (MainDialogWindow* dialog = CurrentMainDialog()) {
        dialog->setControlText(controlId, text);
    }
}

int UiGetItemTextLength(int controlId) {
    MainDialogWindow* dialog = CurrentMainDialog();
    return dialog != nullptr ? static_cast<int>(dialog->controlText(controlId).size()) : 0;
}

int UiGetItemText(int controlId, char16_t* buffer, int capacity) {
    MainDialogWindow* dialog = CurrentMainDialog();
    if (buffer == nullptr || capacity <= 0) {
        return 0;
    }
    buffer[0] = u'\0';
    if (dialog == nullptr) {
        return 0;
    }
    const std::u16string& text = dialog->controlText(controlId);
    const size_t count = std::min(text.size(), static_cast<size_t>(capacity - 1));
    text.copy(buffer, count);
    buffer[count] = u'\0';
    return static_cast<int>(count);
}

void UiEnableItem(int controlId, bool enable) {
    MainDialogWindow* dialog = CurrentMainDialog();
    if (dialog == nullptr) {
        return;
    }
    if (QWidget* widget = dialog->control(controlId)) {
        widget->setEnabled(enable);
    }
}

void UiSetDialogTitle(const char16_t* title) {
    if (MainDialogWindow* dialog = CurrentMainDialog()) {
        dialog->setWindowTitle(QString::fromUtf16(title));
    }
}

int UiMessageBox(const char16_t* text, const char16_t* caption, uint32_t style) {
    QMessageBox box(IconOfStyle(style), QString::fromUtf16(caption), QString(),
                    QMessageBox::NoButton, CurrentMainDialog());
    box.setTextFormat(Qt::PlainText);
    QString shown = QString::fromUtf16(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    box.setText(shown);
    // Only the dialog is blocked: the desktop and, in the simulated program, its
    // control window stay usable, and device events reach the dialog meanwhile.
    box.setWindowModality(Qt::WindowModal);
    switch (style & MB_TYPE_MASK) {
    case UI_MB_OKCANCEL:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    case UI_MB_YESNO:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        break;
    default:
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Ok:
        return UI_IDOK;
    case QMessageBox::Yes:
        return UI_IDYES;
    case QMessageBox::No:
        return UI_IDNO;
    default:
        return UI_IDCANCEL;
    }
}

UiRect UiGetWindowRect(UiWindow window) {
    QWidget* widget = WidgetOf(window);
    if (widget == nullptr) {
        return UiRect{0, 0, 0, 0};
    }
    const QRect frame = widget->frameGeometry();
    return UiRect{frame.left(), frame.top(), frame.left() + frame.width(),
                  frame.top() + frame.height()};
}

UiWindow UiCreateProgressWindow(const char16_t* title, int32_t x, int32_t y, int32_t width,
                                int32_t height) {
    MainDialogWindow* dialog = CurrentMainDialog();
    // A window of its own, owned by the dialog so that it stays above it, with a
    // caption but no close box.
    QProgressBar* bar = new QProgressBar(dialog);
    bar->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    bar->setWindowTitle(QString::fromUtf16(title));
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    // The size is the outer frame's; the dialog's frame tells how much of it the
    // window manager takes.
    int frameWidth = 0, frameHeight = 0;
    if (dialog != nullptr) {
        frameWidth = dialog->frameGeometry().width() - dialog->geometry().width();
        frameHeight = dialog->frameGeometry().height() - dialog->geometry().height();
    }
    bar->resize(std::max(1, width - frameWidth), std::max(1, height - frameHeight));
    // Wayland leaves placement to the compositor; there the window is only
    // transient for the dialog, which the parent above already makes it.
    if (QGuiApplication::platformName() != QLatin1String("wayland")) {
        bar->move(x, y);
    }
    bar->show();
    return reinterpret_cast<UiWindow>(bar);
}

// The bar repaints at once when its value changes, and on an X display that waits
// for the server: about a millisecond outside the pause after the block. Posted,
// the new value is set and painted by the event handling at the start of that
// pause, inside its length. One call at a time is on its way; it sets the newest.
namespace {
QPointer<QProgressBar> g_postedBar;
int g_postedValue = 0;
} // namespace

void UiSetProgressPosition(UiWindow progress, uint32_t position) {
    QProgressBar* bar = qobject_cast<QProgressBar*>(WidgetOf(progress));
    if (bar == nullptr) {
        return;
    }
    const int value = static_cast<int>(std::min<uint32_t>(position, 100));
    const bool onItsWay = g_postedBar == bar;
    if ((onItsWay ? g_postedValue : bar->value()) == value) {
        return;
    }
    g_postedValue = value;
    if (onItsWay) {
        return;
    }
    g_postedBar = bar;
    QMetaObject::invokeMethod(
        bar,
        [bar] {
            if (g_postedBar == bar) {
                g_postedBar = nullptr;
                bar->setValue(g_postedValue);
            }
        },
        Qt::QueuedConnection);
}

void UiRaiseWindow(UiWindow window) {
    if (QWidget* widget = WidgetOf(window)) {
        widget->raise();
    }
}

UiWindow UiGetForegroundWindow() {
    return reinterpret_cast<UiWindow>(QApplication::activeWindow());
}

void UiShowWindow(UiWindow window) {
    if (QWidget* widget = WidgetOf(window)) {
        widget->show();
    }
}

void UiDestroyWindow(UiWindow window) {
    // Only the windows the core created go this way, never the dialog itself.
    if (window != g_mainDialog) {
        delete WidgetOf(window);
    }
}
