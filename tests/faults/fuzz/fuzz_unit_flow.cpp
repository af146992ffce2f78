// The program's flow under arbitrary replies: the start-up detection, Update,
// arrivals and removals (also while a message box is open), with any reply bytes
// or link failure at any exchange, any report lengths, any answers to the
// questions and images of any small size. Whatever happens, the Update button
// never stands enabled without an open unit, nothing is left open, a failure is
// reported with the unit closed and without the closing steps, and a reported
// success means that the image went out on the wire whole and in order.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <deque>
#include <vector>

#include "app/detection.h"
#include "device/command_reports.h"
#include "device/unit_connection.h"
#include "res/resource_ids.h"
#include "tests/faults/fuzz/fuzz_support.h"
#include "tests/support/recording_ui.h"
#include "update/transfer_image.h"
#include "update/update_procedure.h"

namespace {

const SimFault LINK_FAULTS[] = {SimFault::WriteFails, SimFault::ReadFails, SimFault::NoAnswer,
                                SimFault::ErrorReply, SimFault::Unplugged};

int g_unitIndex = 0;

// The request a clean start-up detection and update of `blocks` blocks sends as
// its exchange number n (0-based). Past its end the flow counts again, as after
// plugging in anew, every command's occurrence one round higher.
void CleanFlowRequest(uint32_t n, uint32_t blocks, uint8_t* command, uint32_t* occurrence) {
    std::vector<uint8_t> flow = {
        CMD_GET_UNIT_INFO, CMD_READ_FIRMWARE_INFO, CMD_GET_CONTROLLER_INFO, CMD_SYSTEM_LOCK,
        CMD_WRITE_PROTECT, CMD_ERASE_FIRMWARE,     CMD_SET_WRITE_ADDRESS};
    flow.insert(flow.end(), blocks, CMD_WRITE_BLOCK);
    flow.push_back(CMD_WRITE_PROTECT);
    flow.push_back(CMD_SYSTEM_LOCK);
    const uint32_t round = n / uint32_t(flow.size());
    const auto at = flow.begin() + n % flow.size();
    *command = *at;
    *occurrence = uint32_t(std::count(flow.begin(), at + 1, *command)) +
                  round * uint32_t(std::count(flow.begin(), flow.end(), *command));
}

void Arrival() {
    const DeviceBroadcast broadcast{DBT_DEVTYP_DEVICEINTERFACE_TYPE, nullptr};
    Require(OnDeviceChange(DBT_DEVICEARRIVAL_EVENT, &broadcast) == 1, "arrival answered 1");
}

void Unplug() {
    if (!SimIsPlugged(g_unitIndex)) {
        return;
    }
    SimUnplug(g_unitIndex);
    const std::u16string path = SimGetInterface(g_unitIndex).path;
    const DeviceBroadcast broadcast{DBT_DEVTYP_DEVICEINTERFACE_TYPE, path.c_str()};
    Require(OnDeviceChange(DBT_DEVICEREMOVECOMPLETE_EVENT, &broadcast) == 1, "removal answered 1");
}

void PlugIn() {
    SimReplug(g_unitIndex);
    Arrival();
}

// What the user and the system do, one step at a time.
void DeviceEvent(int event) {
    switch (event) {
    case 0:
        Unplug();
        break;
    case 1:
        PlugIn();
        break;
    default:
        Arrival(); // some other HID device
        break;
    }
}

void CheckSteadyState() {
    Require(!g_ui.enabled[IDC_UPDATE] || UnitIsOpen(), "Update enabled only with a unit open");
    Require(SimOpenHandleCount() == (UnitIsOpen() ? 1 : 0), "no handle left open");
    Require(SimInterfaceSetCount() == 0, "no interface set left");
    Require(!g_ui.progressAlive, "no progress window left");
}

// The image as the unit must have received it: every byte, in order, the last
// word filled with 0xFF.
void CheckImageOnWire(size_t since, const std::vector<uint8_t>& image) {
    std::vector<uint8_t> sent;
    const std::vector<SimWireRecord>& log = SimWireLog();
    for (size_t i = since; i < log.size(); ++i) {
        const SimWireRecord& record = log[i];
        if (record.isWrite && !record.failed && record.bytes[1] == CMD_WRITE_BLOCK) {
            sent.insert(sent.end(), record.bytes.begin() + 4,
                        record.bytes.begin() + 4 + record.bytes[2]);
        }
    }
    std::vector<uint8_t> expected = image;
    expected.resize((image.size() + 3) / 4 * 4, 0xFF);
    Require(sent == expected, "a reported success sent the whole image in order");
}

void CheckNoClosingStep(size_t since) {
    const std::vector<SimWireRecord>& log = SimWireLog();
    for (size_t i = since; i < log.size(); ++i) {
        const SimWireRecord& record = log[i];
        if (!record.isWrite || record.failed) {
            continue;
        }
        const bool closing = (record.bytes[1] == CMD_WRITE_PROTECT && record.bytes[3] == 1) ||
                             (record.bytes[1] == CMD_SYSTEM_LOCK && record.bytes[3] == 0);
        Require(!closing, "no closing step after a failure");
    }
}

void ClickUpdate(const std::vector<uint8_t>& image) {
    const size_t wireSince = SimWireLog().size();
    const size_t uiSince = g_ui.log.size();
    UpdateProcedure();
    bool failed = false;
    bool succeeded = false;
    const std::u16string success = TableText(IDS_UPDATE_SUCCESSFUL);
    for (size_t i = uiSince; i < g_ui.log.size(); ++i) {
        const UiRecord& record = g_ui.log[i];
        failed = failed || (record.call == UiCall::MessageBox && record.first == UI_MB_ICONERROR);
        succeeded = succeeded || (record.call == UiCall::SetText && record.text == success);
    }
    const std::u16string pane = g_ui.texts[IDC_STATUS_PANE];
    if (failed) {
        Require(pane == TableText(IDS_TRY_AGAIN), "a failure ends with the try-again text");
        CheckNoClosingStep(wireSince);
        Require(!succeeded, "never both failure and success");
    } else if (succeeded) {
        Require(!g_ui.enabled[IDC_UPDATE], "Update disabled after success");
        CheckImageOnWire(wireSince, image);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    SimInterface unit = FreshWorldWithReadyUnit();
    RecordingUiReset();
    if (in.ConsumeBool()) {
        unit.inputReportLength = in.ConsumeIntegral<uint16_t>();
        unit.outputReportLength = in.ConsumeIntegral<uint16_t>();
    }
    if (in.ConsumeBool()) {
        unit.controller.firmwareVersion = in.ConsumeIntegral<uint16_t>();
    }
    g_unitIndex = SimAddInterface(unit);

    // An image of a few blocks in a buffer of exactly its size.
    const size_t imageSize = in.ConsumeIntegralInRange<size_t>(0, 5 * BLOCK_BYTES + 7);
    std::vector<uint8_t> image(imageSize);
    for (size_t i = 0; i < imageSize; ++i) {
        image[i] = uint8_t(i * 29 + 7);
    }
    RecordingUiSetImage(image.data(), uint32_t(imageSize));

    for (int i = in.ConsumeIntegralInRange<int>(0, 4); i > 0; --i) {
        g_ui.answers.push_back(in.PickValueInArray({UI_IDOK, UI_IDCANCEL, UI_IDYES, UI_IDNO}));
    }
    for (int i = in.ConsumeIntegralInRange<int>(0, 3); i > 0; --i) {
        const int event = in.ConsumeIntegralInRange<int>(0, 3);
        g_ui.whileBoxOpen.push_back([event] {
            if (event < 3) {
                DeviceEvent(event);
            }
        });
    }
    for (int i = in.ConsumeIntegralInRange<int>(0, 8); i > 0; --i) {
        const uint32_t exchange = in.ConsumeIntegralInRange<uint32_t>(0, 24);
        uint8_t command = 0;
        uint32_t occurrence = 0;
        CleanFlowRequest(exchange, BlockCount(uint32_t(imageSize)), &command, &occurrence);
        if (in.ConsumeBool()) {
            const size_t length = in.ConsumeIntegralInRange<size_t>(0, 64);
            SimArmReply(g_unitIndex, command, occurrence, in.ConsumeBytes<uint8_t>(length));
        } else {
            SimArmFault(g_unitIndex, command, occurrence, in.PickValueInArray(LINK_FAULTS),
                        in.ConsumeIntegral<uint32_t>(), 0x1F0D);
        }
    }

    DetectUnit();
    CheckSteadyState();
    for (int steps = 0; steps < 8 && in.remaining_bytes() > 0; ++steps) {
        const int action = in.ConsumeIntegralInRange<int>(0, 3);
        if (action == 0) {
            if (g_ui.enabled[IDC_UPDATE]) { // the button can be clicked only then
                ClickUpdate(image);
            }
        } else {
            DeviceEvent(action - 1);
        }
        CheckSteadyState();
    }
    CloseUnit();
    Require(SimOpenHandleCount() == 0, "nothing left open");
    return 0;
}
