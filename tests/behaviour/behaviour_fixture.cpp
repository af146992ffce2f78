#include "tests/behaviour/behaviour_fixture.h"

#include "app/detection.h"
#include "device/unit_connection.h"
#include "res/resource_ids.h"
#include "tests/support/virtual_clock.h"

void BehaviourTest::SetUp() {
    SimReset();
    VirtualClockReset();
    RecordingUiReset();
    g_ui.wireRecords = [] { return int64_t(SimWireLog().size()); };
    ResetUnitConnection();
}

void BehaviourTest::TearDown() {
    CloseUnit();
    EXPECT_EQ(SimOpenHandleCount(), 0);
}

int BehaviourTest::StartWithUnit(const SimInterface& unit) {
    const int index = SimAddInterface(unit);
    DetectUnit();
    ClearLogs();
    return index;
}

void BehaviourTest::ClearLogs() {
    g_ui.log.clear();
    SimClearWireLog();
    VirtualClockReset();
}

std::vector<uint8_t> BehaviourTest::CommandsSent() {
    std::vector<uint8_t> commands;
    for (const std::vector<uint8_t>& request : SimSentRequests()) {
        commands.push_back(request[1]);
    }
    return commands;
}

std::vector<std::vector<uint8_t>> BehaviourTest::RequestsOf(uint8_t command) {
    std::vector<std::vector<uint8_t>> requests;
    for (const std::vector<uint8_t>& request : SimSentRequests()) {
        if (request[1] == command) {
            requests.push_back(request);
        }
    }
    return requests;
}

std::u16string BehaviourTest::HintText(uint16_t headlineId) {
    return TableText(headlineId) + u"\r\n\r\n" + TableText(IDS_INSTRUCTIONS);
}

std::u16string BehaviourTest::Pane() {
    return g_ui.texts[IDC_STATUS_PANE];
}

bool BehaviourTest::UpdateEnabled() {
    return g_ui.enabled[IDC_UPDATE];
}

bool BehaviourTest::PanelIsEmpty() {
    bool empty = true;
    for (int id : {IDC_ROW1_VALUE, IDC_ROW2_VALUE, IDC_ROW3_VALUE}) {
        empty = empty && g_ui.texts[id] == u"0.0.0" && !g_ui.enabled[id];
    }
    for (int id : {IDC_ROW1_CAPTION, IDC_ROW2_CAPTION, IDC_ROW3_CAPTION}) {
        empty = empty && !g_ui.enabled[id];
    }
    return empty;
}

int Arrive(uint32_t deviceType) {
    const DeviceBroadcast broadcast{deviceType, nullptr};
    return OnDeviceChange(DBT_DEVICEARRIVAL_EVENT, &broadcast);
}

int Remove(const std::u16string& path, uint32_t deviceType) {
    const DeviceBroadcast broadcast{deviceType, path.c_str()};
    return OnDeviceChange(DBT_DEVICEREMOVECOMPLETE_EVENT, &broadcast);
}
