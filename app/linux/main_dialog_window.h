// The main dialog as a Qt window: the controls of template 110 at the template's
// geometry, the logo, the red controller row, and the routing of its buttons and
// closing to the core.
#pragma once
#include <QDialog>
#include <QImage>
#include <map>
#include <string>

class QPaintEvent;

class MainDialogWindow : public QDialog {
    Q_OBJECT

  public:
    explicit MainDialogWindow(uint16_t language);

    // The dialog's initialisation, run once it is on screen: icon, title and
    // captions, device events, first detection. Ends the dialog at once (result 1)
    // when device events cannot be had.
    void initialise();

    QWidget* control(int controlId) const;
    // The text of a control as the core set it, line breaks and all; the screen
    // shows it with the platform's line breaks.
    void setControlText(int controlId, const char16_t* text);
    const std::u16string& controlText(int controlId) const;
    bool commandRunning() const { return m_commandDepth > 0; }

    // Ends the dialog as Close does, for a terminate signal: at once, answering
    // an open message box as its Escape would, and otherwise when the running
    // command is over.
    void closeAtOnce();
    // The same once the running command is over (after a whole update, its
    // success text or failure box), without touching a box it still shows.
    void closeAfterCommand();

  protected:
    void paintEvent(QPaintEvent* event) override;
    // Escape and the close box: the same road as the Close button.
    void reject() override;

  private:
    void buildControls(uint16_t language);
    void runCommand(int controlId);
    void closeWithResult(int result);
    void closeIfWanted();
    const QImage& logoAtSize(int width, int height);

    std::map<int, QWidget*> m_controls;
    std::map<int, std::u16string> m_texts;
    QImage m_logo; // pure green already made transparent
    QImage m_scaledLogo;
    bool m_eventsRegistered = false;
    bool m_closed = false;
    bool m_closeWanted = false;
    int m_commandDepth = 0;
};

// The dialog the UI port works on: the one g_mainDialog names.
MainDialogWindow* CurrentMainDialog();
