#include "app/linux/main_dialog_window.h"

#include <algorithm>

#include <QFontMetrics>
#include <QApplication>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

#include "app/linux/device_events_port.h"
#include "app/linux/dialog_units.h"
#include "app/main_dialog.h"
#include "res/resource_data.h"
#include "res/resource_ids.h"

namespace {

// Window and control style bits of the template, with Windows' values.
constexpr uint32_t WS_VISIBLE_BIT = 0x10000000;
constexpr uint32_t WS_DISABLED_BIT = 0x08000000;
constexpr uint32_t WS_VSCROLL_BIT = 0x00200000;
constexpr uint32_t WS_TABSTOP_BIT = 0x00010000;
constexpr uint32_t WS_EX_RIGHT_BIT = 0x00001000;
constexpr uint32_t BS_TYPE_MASK = 0x0F;
constexpr uint32_t BS_DEFPUSHBUTTON_TYPE = 0x01;
constexpr uint32_t BS_GROUPBOX_TYPE = 0x07;
constexpr uint32_t SS_TYPE_MASK = 0x1F;
constexpr uint32_t SS_CENTER_TYPE = 0x01;
constexpr uint32_t SS_RIGHT_TYPE = 0x02;

constexpr QRgb LOGO_KEY = 0xFF000000u | LOGO_KEY_COLOR_RGB;

// The screen shows "\r\n" as one line break, as a Windows control does.
QString ScreenText(const std::u16string& text) {
    QString shown = QString::fromStdU16String(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

QImage KeyedLogo() {
    QImage logo(QStringLiteral(":/vespra/logo.bmp"));
    if (logo.isNull()) {
        return logo;
    }
    logo = logo.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < logo.height(); ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(logo.scanLine(y));
        for (int x = 0; x < logo.width(); ++x) {
            if (row[x] == LOGO_KEY) {
                row[x] = 0;
            }
        }
    }
    // Premultiplied, the keyed pixels add nothing when the logo is scaled down.
    return logo.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// A left-aligned one-line label whose text is wider than its template box (a
// wider font than the template was laid out for; "Programmiereinheit") grows to
// the right rather than cutting off its last letters. It never shrinks below the
// template's width, and labels of several lines wrap as before.
void FitOneLineLabel(QLabel* label) {
    const int templateWidth = label->property("templateWidth").toInt();
    if (templateWidth <= 0 || (label->alignment() & Qt::AlignLeft) == 0) {
        return;
    }
    const QFontMetrics metrics(label->font());
    if (label->height() >= 2 * metrics.height() || label->text().contains(QLatin1Char('\n'))) {
        return;
    }
    const int needed = metrics.horizontalAdvance(label->text()) + 2;
    label->resize(std::max(templateWidth, needed), label->height());
}

UiRect ToUiRect(const QRect& rect) {
    return UiRect{rect.left(), rect.top(), rect.left() + rect.width(), rect.top() + rect.height()};
}

} // namespace

MainDialogWindow* CurrentMainDialog() {
    return reinterpret_cast<MainDialogWindow*>(g_mainDialog);
}

MainDialogWindow::MainDialogWindow(uint16_t language) : QDialog(nullptr) {
    buildControls(language);
    m_logo = KeyedLogo();
}

void MainDialogWindow::buildControls(uint16_t language) {
    const ResDialogTemplate* dialog = ResFindDialog(IDD_MAIN_DIALOG, language);
    if (dialog == nullptr) {
        dialog = ResFindDialog(IDD_MAIN_DIALOG, RES_LANG_ENGLISH);
    }
    if (dialog == nullptr) {
        return;
    }
    const QFont font =
        DialogFont(dialog->fontName, dialog->pointSize, dialog->weight, dialog->italic != 0);
    setFont(font);
    const DialogBaseUnits base = DialogBaseUnitsOf(font);
    const QRect client = DialogUnitsToPixels(0, 0, dialog->cx, dialog->cy, base);
    setFixedSize(client.size());
    setWindowTitle(QString::fromUtf16(dialog->title));
    // No help or context button, no minimise or maximise box.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);

    QWidget* previous = nullptr;
    QGroupBox* groupBox = nullptr;
    for (int i = 0; i < dialog->controlCount; ++i) {
        const ResDialogControl& item = dialog->controls[i];
        const std::u16string text = item.text != nullptr ? item.text : u"";
        const QString className = QString::fromLatin1(item.className).toLower();
        QWidget* widget = nullptr;
        if (className == QLatin1String("button") &&
            (item.style & BS_TYPE_MASK) == BS_GROUPBOX_TYPE) {
            groupBox = new QGroupBox(ScreenText(text), this);
            // As the dialog's Windows twin draws it: a thin frame whose top line
            // runs through the middle of the caption.
            const int half = QFontMetrics(font).height() / 2;
            groupBox->setStyleSheet(
                QStringLiteral("QGroupBox { border: 1px solid palette(mid); margin-top: %1px; }"
                               "QGroupBox::title { subcontrol-origin: margin;"
                               " subcontrol-position: top left; left: 6px; padding: 0 2px;"
                               " background-color: palette(window); }")
                    .arg(half));
            widget = groupBox;
        } else if (className == QLatin1String("button")) {
            QPushButton* button = new QPushButton(ScreenText(text), this);
            button->setDefault((item.style & BS_TYPE_MASK) == BS_DEFPUSHBUTTON_TYPE);
            const int id = item.id;
            connect(button, &QPushButton::clicked, this, [this, id] { runCommand(id); });
            widget = button;
        } else if (className == QLatin1String("edit")) {
            QPlainTextEdit* edit = new QPlainTextEdit(this);
            edit->setReadOnly(true);
            // A read-only edit shows on the dialog's face, as on Windows.
            QPalette face = edit->palette();
            face.setColor(QPalette::Base, face.color(QPalette::Window));
            edit->setPalette(face);
            edit->setPlainText(ScreenText(text));
            edit->setVerticalScrollBarPolicy(
                (item.style & WS_VSCROLL_BIT) ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
            edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
            widget = edit;
        } else {
            QLabel* label = new QLabel(this);
            // Texts such as "PC<=>unit" must never be read as markup.
            label->setTextFormat(Qt::PlainText);
            label->setText(ScreenText(text));
            Qt::Alignment horizontal = Qt::AlignLeft;
            if ((item.exStyle & WS_EX_RIGHT_BIT) || (item.style & SS_TYPE_MASK) == SS_RIGHT_TYPE) {
                horizontal = Qt::AlignRight;
            } else if ((item.style & SS_TYPE_MASK) == SS_CENTER_TYPE) {
                horizontal = Qt::AlignHCenter;
            }
            label->setAlignment(horizontal | Qt::AlignTop);
            label->setWordWrap(true);
            if (IsRedLabel(item.id)) {
                QPalette palette = label->palette();
                palette.setColor(QPalette::Active, QPalette::WindowText, QColor(0xFF, 0, 0));
                palette.setColor(QPalette::Inactive, QPalette::WindowText, QColor(0xFF, 0, 0));
                label->setPalette(palette);
            }
            widget = label;
        }
        widget->setGeometry(DialogUnitsToPixels(item.x, item.y, item.cx, item.cy, base));
        if (QLabel* label = qobject_cast<QLabel*>(widget)) {
            label->setProperty("templateWidth", label->width());
            FitOneLineLabel(label);
        }
        widget->setEnabled((item.style & WS_DISABLED_BIT) == 0);
        widget->setVisible((item.style & WS_VISIBLE_BIT) != 0);
        if (qobject_cast<QPushButton*>(widget) != nullptr ||
            qobject_cast<QPlainTextEdit*>(widget) != nullptr) {
            widget->setFocusPolicy((item.style & WS_TABSTOP_BIT) ? Qt::StrongFocus
                                                                 : Qt::ClickFocus);
            if (previous != nullptr && (item.style & WS_TABSTOP_BIT)) {
                setTabOrder(previous, widget);
            }
            if (item.style & WS_TABSTOP_BIT) {
                previous = widget;
            }
        }
        if (item.id != -1) {
            // Accessibility tools tell the controls apart by their template IDs,
            // as UI automation on Windows does by the control ID.
            widget->setAccessibleDescription(QString::number(item.id));
            m_controls[item.id] = widget;
            m_texts[item.id] = text;
        }
    }
    // The group box frames the rows it was listed after; it must not cover them.
    if (groupBox != nullptr) {
        groupBox->lower();
    }
}

void MainDialogWindow::initialise() {
    g_mainDialog = reinterpret_cast<UiWindow>(this);
    setWindowIcon(QIcon(QStringLiteral(":/vespra/app.ico")));
    InitMainDialogTexts();
    m_eventsRegistered = RegisterDeviceEvents(this);
    if (FinishMainDialogInit(m_eventsRegistered) != 0) {
        closeWithResult(1);
    }
}

QWidget* MainDialogWindow::control(int controlId) const {
    const auto found = m_controls.find(controlId);
    return found == m_controls.end() ? nullptr : found->second;
}

void MainDialogWindow::setControlText(int controlId, const char16_t* text) {
    QWidget* widget = control(controlId);
    if (widget == nullptr) {
        return;
    }
    std::u16string& stored = m_texts[controlId];
    stored = text != nullptr ? text : u"";
    const QString shown = ScreenText(stored);
    if (QLabel* label = qobject_cast<QLabel*>(widget)) {
        label->setText(shown);
        FitOneLineLabel(label);
    } else if (QPlainTextEdit* edit = qobject_cast<QPlainTextEdit*>(widget)) {
        edit->setPlainText(shown);
    } else if (QGroupBox* group = qobject_cast<QGroupBox*>(widget)) {
        group->setTitle(shown);
    } else if (QPushButton* button = qobject_cast<QPushButton*>(widget)) {
        button->setText(shown);
    }
}

const std::u16string& MainDialogWindow::controlText(int controlId) const {
    static const std::u16string none;
    const auto found = m_texts.find(controlId);
    return found == m_texts.end() ? none : found->second;
}

void MainDialogWindow::runCommand(int controlId) {
    if (m_closed) {
        return;
    }
    ++m_commandDepth;
    const MainDialogCommandResult result = MainDialogCommand(static_cast<uint32_t>(controlId));
    --m_commandDepth;
    if (result == COMMAND_CLOSE && m_commandDepth == 0) {
        closeWithResult(IDC_CLOSE);
    }
    closeIfWanted();
}

void MainDialogWindow::closeAtOnce() {
    m_closeWanted = true;
    if (QWidget* box = QApplication::activeModalWidget()) {
        box->close();
    }
    // Whatever opened the box finishes first, then the dialog ends from the loop.
    QTimer::singleShot(0, this, [this] { closeIfWanted(); });
}

void MainDialogWindow::closeAfterCommand() {
    m_closeWanted = true;
    if (m_commandDepth == 0) {
        QTimer::singleShot(0, this, [this] { closeIfWanted(); });
    }
}

void MainDialogWindow::closeIfWanted() {
    if (!m_closeWanted || m_closed || m_commandDepth > 0 ||
        QApplication::activeModalWidget() != nullptr) {
        return;
    }
    m_closeWanted = false;
    runCommand(IDC_CLOSE);
}

void MainDialogWindow::reject() {
    // While the update runs the dialog takes no commands, as its Windows twin
    // does; a close request then is dropped rather than tearing the unit away.
    if (m_commandDepth > 0) {
        return;
    }
    runCommand(IDC_CLOSE);
}

void MainDialogWindow::closeWithResult(int result) {
    if (m_closed) {
        return;
    }
    m_closed = true;
    if (m_eventsRegistered) {
        UnregisterDeviceEvents();
        m_eventsRegistered = false;
    }
    CloseMainDialog();
    done(result);
}

const QImage& MainDialogWindow::logoAtSize(int width, int height) {
    if (m_scaledLogo.width() != width || m_scaledLogo.height() != height) {
        m_scaledLogo =
            m_logo.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    return m_scaledLogo;
}

void MainDialogWindow::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    QWidget* groupBox = control(IDC_VERSION_GROUP);
    if (m_logo.isNull() || groupBox == nullptr) {
        return;
    }
    const QRect frame = frameGeometry();
    const QRect inner = geometry();
    // From the dialog's own geometry, not mapToGlobal: Wayland tells a client
    // where its window is only as far as its own frame goes.
    const QRect group(inner.topLeft() + groupBox->pos(), groupBox->size());
    const WindowDecoration decoration = DecorationOf(frame, inner);
    const LogoPlacement place =
        ComputeLogoPlacement(ToUiRect(frame), ToUiRect(group), decoration.frameWidth,
                             decoration.captionHeight, m_logo.width(), m_logo.height());
    if (place.width <= 0 || place.height <= 0) {
        return;
    }
    QPainter painter(this);
    painter.drawImage(QPoint(place.x, place.y), logoAtSize(place.width, place.height));
}
