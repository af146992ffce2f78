// The control window of the simulated program: plugs and unplugs the simulated
// programming unit, chooses what it reports and where an update fails, and
// hands the dialog the device events a real unit would cause.
#pragma once
#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;

class SimPanel : public QWidget {
    Q_OBJECT

  public:
    SimPanel();

    void plugIn();
    void unplug();
    // Arms the chosen failure for the next update.
    void armFailure();

  private:
    void applySituation();
    void showState();

    QLabel* m_state;
    QPushButton* m_plugButton;
    QPushButton* m_unplugButton;
    QComboBox* m_product;
    QComboBox* m_access;
    QSpinBox* m_mode;
    QSpinBox* m_status;
    QComboBox* m_type;
    QComboBox* m_firmware;
    QComboBox* m_failureStep;
    QComboBox* m_failureKind;
    QLabel* m_flash;
};

// The panel of the simulated program, made (with its unit plugged in and ready)
// on first use.
SimPanel* SimPanelInstance();
