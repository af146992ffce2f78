// The simulated program's device events come from this window instead of udev.
// It keeps one simulated unit (interface 0), starting plugged in and ready.
#include "app/linux/sim_panel.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>

#include "app/detection.h"
#include "app/linux/device_events_port.h"
#include "update/ui_port.h"
#include "device/command_reports.h"
#include "device/hid/sim_world.h"
#include "device/unit_connection.h"
#include "res/firmware_image.h"
#include "update/transfer_image.h"

namespace {

constexpr int UNIT = 0;
SimPanel* g_panel = nullptr;

// The requests of an update that a failure can be chosen for.
enum FailureStep {
    STEP_NONE,
    STEP_LOCK,
    STEP_UNPROTECT,
    STEP_ERASE,
    STEP_ADDRESS,
    STEP_FIRST_BLOCK,
    STEP_LAST_BLOCK
};

void Deliver(uint32_t event) {
    const std::u16string path = SimGetInterface(UNIT).path;
    const DeviceBroadcast broadcast = {DBT_DEVTYP_DEVICEINTERFACE_TYPE, path.c_str()};
    OnDeviceChange(event, &broadcast);
}

uint32_t ImageBlockCount() {
    const uint8_t* image = nullptr;
    uint32_t size = 0;
    UiMapFirmwareImage(&image, &size);
    return BlockCount(size);
}

} // namespace

SimPanel* SimPanelInstance() {
    if (g_panel == nullptr) {
        g_panel = new SimPanel;
    }
    return g_panel;
}

SimPanel::SimPanel() : QWidget(nullptr) {
    setWindowTitle(QStringLiteral("Simulated programming unit"));
    setObjectName(QStringLiteral("simPanel"));

    m_state = new QLabel(this);
    m_plugButton = new QPushButton(QStringLiteral("Plug in"), this);
    m_plugButton->setObjectName(QStringLiteral("plugIn"));
    m_unplugButton = new QPushButton(QStringLiteral("Unplug"), this);
    m_unplugButton->setObjectName(QStringLiteral("unplug"));
    connect(m_plugButton, &QPushButton::clicked, this, &SimPanel::plugIn);
    connect(m_unplugButton, &QPushButton::clicked, this, &SimPanel::unplug);

    m_product = new QComboBox(this);
    m_product->setObjectName(QStringLiteral("product"));
    m_product->addItem(QStringLiteral("1 (DIALPOD)"), UNIT_PRODUCT_DIALPOD);
    m_product->addItem(QStringLiteral("2 (LINK-CUBE)"), UNIT_PRODUCT_LINK_CUBE);
    m_product->addItem(QStringLiteral("3 (not a programming unit)"), 3);
    m_product->setCurrentIndex(1);

    // How the program's open of the unit fares, to show what the pane says when
    // a unit is there but cannot be used.
    m_access = new QComboBox(this);
    m_access->setObjectName(QStringLiteral("access"));
    m_access->addItem(QStringLiteral("opens"), 0);
    m_access->addItem(QStringLiteral("refused: no permission"), 1);
    m_access->addItem(QStringLiteral("refused: another copy has it"), 2);

    m_mode = new QSpinBox(this);
    m_mode->setObjectName(QStringLiteral("mode"));
    m_mode->setRange(0, 255);
    m_mode->setSpecialValueText(QStringLiteral("0 (serves the controller)"));

    m_status = new QSpinBox(this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setRange(0, 65535);
    m_status->setValue(CONTROLLER_STATUS_UPDATABLE);
    m_status->setToolTip(QStringLiteral("3: an updatable controller is attached"));

    m_type = new QComboBox(this);
    m_type->setObjectName(QStringLiteral("type"));
    for (uint32_t type : SUPPORTED_CONTROLLER_TYPES) {
        m_type->addItem(
            QStringLiteral("0x%1 (VESPRA 80 LV)")
                .arg(QString::number(type, 16).toUpper().rightJustified(8, QLatin1Char('0'))),
            type);
    }
    m_type->addItem(QStringLiteral("0x2210408C (another type)"), 0x2210408Cu);
    m_type->addItem(QStringLiteral("0x00000000 (no identity)"), 0u);

    m_firmware = new QComboBox(this);
    m_firmware->setObjectName(QStringLiteral("firmware"));
    m_firmware->addItem(QStringLiteral("3.4"), 0x0304);
    m_firmware->addItem(QStringLiteral("3.5"), FIRMWARE_IMAGE_VERSION);
    m_firmware->addItem(QStringLiteral("4.0"), 0x0400);
    m_firmware->addItem(QStringLiteral("none"), FIRMWARE_VERSION_NONE);

    m_failureStep = new QComboBox(this);
    m_failureStep->setObjectName(QStringLiteral("failureStep"));
    m_failureStep->addItem(QStringLiteral("none"), STEP_NONE);
    m_failureStep->addItem(QStringLiteral("system lock"), STEP_LOCK);
    m_failureStep->addItem(QStringLiteral("write protection off"), STEP_UNPROTECT);
    m_failureStep->addItem(QStringLiteral("erase"), STEP_ERASE);
    m_failureStep->addItem(QStringLiteral("write address"), STEP_ADDRESS);
    m_failureStep->addItem(QStringLiteral("first block"), STEP_FIRST_BLOCK);
    m_failureStep->addItem(QStringLiteral("last block"), STEP_LAST_BLOCK);

    m_failureKind = new QComboBox(this);
    m_failureKind->setObjectName(QStringLiteral("failureKind"));
    m_failureKind->addItem(QStringLiteral("error reply (code 0x2A)"), int(SimFault::ErrorReply));
    m_failureKind->addItem(QStringLiteral("request not written"), int(SimFault::WriteFails));
    m_failureKind->addItem(QStringLiteral("reply not read"), int(SimFault::ReadFails));
    m_failureKind->addItem(QStringLiteral("no answer (time-out)"), int(SimFault::NoAnswer));
    m_failureKind->addItem(QStringLiteral("unit pulled out"), int(SimFault::Unplugged));
    connect(m_failureStep, &QComboBox::currentIndexChanged, this, &SimPanel::armFailure);
    connect(m_failureKind, &QComboBox::currentIndexChanged, this, &SimPanel::armFailure);

    m_flash = new QLabel(this);
    m_flash->setObjectName(QStringLiteral("flash"));

    QHBoxLayout* plugging = new QHBoxLayout;
    plugging->addWidget(m_state, 1);
    plugging->addWidget(m_plugButton);
    plugging->addWidget(m_unplugButton);

    QFormLayout* form = new QFormLayout;
    form->addRow(QStringLiteral("Product ID:"), m_product);
    form->addRow(QStringLiteral("Program's access:"), m_access);
    form->addRow(QStringLiteral("Unit mode:"), m_mode);
    form->addRow(QStringLiteral("Controller status:"), m_status);
    form->addRow(QStringLiteral("Controller type:"), m_type);
    form->addRow(QStringLiteral("Controller firmware:"), m_firmware);
    form->addRow(QStringLiteral("Update fails at:"), m_failureStep);
    form->addRow(QStringLiteral("Failure:"), m_failureKind);

    QLabel* note = new QLabel(QStringLiteral("The unit reports these settings from the next time "
                                             "it is plugged in."),
                              this);
    note->setWordWrap(true);

    QVBoxLayout* layout = new QVBoxLayout(this);
    layout->addLayout(plugging);
    layout->addLayout(form);
    layout->addWidget(note);
    layout->addWidget(m_flash);

    // The flash line follows updates, which run while this window takes no input.
    QTimer* refresh = new QTimer(this);
    connect(refresh, &QTimer::timeout, this, &SimPanel::showState);
    refresh->start(500);

    SimReset();
    SimAddInterface(SimReadyUnit());
    showState();
}

void SimPanel::applySituation() {
    SimInterface& unit = SimGetInterface(UNIT);
    unit.productId = static_cast<uint16_t>(m_product->currentData().toUInt());
    unit.accessDenied = m_access->currentData().toInt() == 1;
    unit.claimedElsewhere = m_access->currentData().toInt() == 2;
    unit.unitMode = static_cast<uint8_t>(m_mode->value());
    unit.controller.status = static_cast<uint16_t>(m_status->value());
    unit.controller.typeId = m_type->currentData().toUInt();
    unit.controller.firmwareVersion = static_cast<uint16_t>(m_firmware->currentData().toUInt());
}

void SimPanel::plugIn() {
    if (SimIsPlugged(UNIT)) {
        return;
    }
    applySituation();
    SimReplug(UNIT);
    showState();
    Deliver(DBT_DEVICEARRIVAL_EVENT);
}

void SimPanel::unplug() {
    if (!SimIsPlugged(UNIT)) {
        return;
    }
    SimUnplug(UNIT);
    showState();
    Deliver(DBT_DEVICEREMOVECOMPLETE_EVENT);
}

// The failure waits in the unit for its request: the first lock, unprotect, erase
// or address request from now on, or the first or last block of the image. No
// detection sends these, so it is the next update's.
void SimPanel::armFailure() {
    SimClearFaults();
    uint8_t command = 0;
    uint32_t occurrence = 1;
    switch (m_failureStep->currentData().toInt()) {
    case STEP_NONE:
        return;
    case STEP_LOCK:
        command = CMD_SYSTEM_LOCK;
        break;
    case STEP_UNPROTECT:
        command = CMD_WRITE_PROTECT;
        break;
    case STEP_ERASE:
        command = CMD_ERASE_FIRMWARE;
        break;
    case STEP_ADDRESS:
        command = CMD_SET_WRITE_ADDRESS;
        break;
    case STEP_FIRST_BLOCK:
        command = CMD_WRITE_BLOCK;
        break;
    default:
        command = CMD_WRITE_BLOCK;
        occurrence = std::max<uint32_t>(ImageBlockCount(), 1);
        break;
    }
    SimArmFault(UNIT, command, occurrence,
                static_cast<SimFault>(m_failureKind->currentData().toInt()));
}

void SimPanel::showState() {
    // A failure that fired is armed again for the update after.
    if (SimGetInterface(UNIT).faults.empty()) {
        armFailure();
    }
    const bool plugged = SimIsPlugged(UNIT);
    m_state->setText(plugged ? QStringLiteral("Plugged in") : QStringLiteral("Unplugged"));
    m_plugButton->setEnabled(!plugged);
    m_unplugButton->setEnabled(plugged);

    const SimInterface& unit = SimGetInterface(UNIT);
    const uint8_t* image = nullptr;
    uint32_t size = 0;
    UiMapFirmwareImage(&image, &size);
    const std::vector<uint8_t>& flash = unit.controller.flash;
    QString text;
    if (image != nullptr && size > 0 && flash.size() >= size &&
        std::memcmp(flash.data(), image, size) == 0) {
        text = QStringLiteral("Controller flash: holds the image (%1 bytes)").arg(size);
    } else if (unit.erased) {
        text = QStringLiteral("Controller flash: erased, %1 blocks written").arg(unit.blockWrites);
    } else {
        text = QStringLiteral("Controller flash: old program");
    }
    m_flash->setText(text);
}

bool RegisterDeviceEvents(QWidget*) {
    SimPanelInstance()->show();
    return true;
}

void UnregisterDeviceEvents() {
    delete g_panel;
    g_panel = nullptr;
}
