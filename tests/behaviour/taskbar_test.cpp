// What the update tells the taskbar or dock: the transfer's position only when
// it changes, then one outcome, for a whole update and for a failure at each step.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/command_reports.h"
#include "device/unit_connection.h"
#include "res/resource_ids.h"
#include "tests/behaviour/behaviour_fixture.h"
#include "tests/behaviour/update_test_support.h"
#include "update/transfer_image.h"
#include "update/update_procedure.h"

namespace {

// 250 blocks: the position changes every two or three blocks, so most blocks
// leave it where it was.
constexpr uint32_t IMAGE_BLOCKS = 250;

struct TaskbarCase {
    const char* name;
    uint8_t command; // the request that fails; 0: none
    uint32_t occurrence;
    SimFault fault;
    bool unitClosed;     // no unit open when Update is clicked
    uint32_t blocksDone; // blocks accepted before the outcome
    uint16_t message;    // the failure box's message; 0: the update succeeds
};

const TaskbarCase CASES[] = {
    {"WholeUpdate", 0, 0, SimFault::None, false, IMAGE_BLOCKS, 0},
    {"ClosingStepsFail", CMD_SYSTEM_LOCK, 2, SimFault::ErrorReply, false, IMAGE_BLOCKS, 0},
    {"NoUnit", 0, 0, SimFault::None, true, 0, IDS_UNIT_NOT_DETECTED},
    {"Lock", CMD_SYSTEM_LOCK, 1, SimFault::ErrorReply, false, 0, IDS_LOCK_NOT_SET},
    {"Unprotect", CMD_WRITE_PROTECT, 1, SimFault::NoAnswer, false, 0, IDS_FLASH_NOT_WRITABLE},
    {"Erase", CMD_ERASE_FIRMWARE, 1, SimFault::ReadFails, false, 0, IDS_ERASE_FAILED},
    {"Address", CMD_SET_WRITE_ADDRESS, 1, SimFault::WriteFails, false, 0, IDS_ADDRESS_NOT_SET},
    {"FirstBlock", CMD_WRITE_BLOCK, 1, SimFault::ErrorReply, false, 0, IDS_BLOCK_WRITE_FAILED},
    {"BlockMidway", CMD_WRITE_BLOCK, 101, SimFault::Unplugged, false, 100, IDS_BLOCK_WRITE_FAILED},
    {"LastBlock", CMD_WRITE_BLOCK, IMAGE_BLOCKS, SimFault::NoAnswer, false, IMAGE_BLOCKS - 1,
     IDS_BLOCK_WRITE_FAILED},
};

class TaskbarTest : public BehaviourTest, public ::testing::WithParamInterface<TaskbarCase> {};

TEST_P(TaskbarTest, SeesEachPositionOnceThenOneOutcome) {
    const TaskbarCase& c = GetParam();
    const int unit = StartWithUnit();
    const std::vector<uint8_t> image = PatternImage(BLOCK_BYTES * IMAGE_BLOCKS);
    RecordingUiSetImage(image.data(), uint32_t(image.size()));
    if (c.command != 0) {
        SimArmFault(unit, c.command, c.occurrence, c.fault);
    }
    if (c.unitClosed) {
        CloseUnit();
    }

    UpdateProcedure();

    // Every position the bar passes, each once and in order, from the
    // transfer's start; none when the transfer never started.
    std::vector<std::string> expected;
    const bool transferStarted = c.blocksDone > 0 || c.message == IDS_BLOCK_WRITE_FAILED;
    const uint32_t last = ProgressPosition(c.blocksDone * BLOCK_BYTES, uint32_t(image.size()));
    for (uint32_t position = 0; transferStarted && position <= last; ++position) {
        expected.push_back("taskbar progress " + std::to_string(position));
    }
    if (c.message == 0) {
        expected.push_back("taskbar ended " + TableTextUtf8(IDS_UPDATE_SUCCESSFUL));
    } else {
        ASSERT_EQ(Boxes().size(), c.unitClosed ? 1u : 2u);
        const UiRecord& box = *Boxes().back();
        expected.push_back("taskbar failed " + TableTextUtf8(IDS_UPDATE_FAILED_CAPTION) + " " +
                           Utf8(box.text));
        expected.push_back("taskbar ended ");
        // The failed state lasts exactly as long as the failure box is open.
        const size_t failed = FirstIndexOf(UiCall::TaskbarFailed);
        EXPECT_EQ(FirstIndexOf(UiCall::MessageBox, failed), failed + 1);
        EXPECT_EQ(FirstIndexOf(UiCall::TaskbarEnded), failed + 2);
        EXPECT_EQ(box.text.rfind(TableText(c.message), 0), 0u);
    }
    EXPECT_EQ(UiTrace({UiCall::TaskbarProgress, UiCall::TaskbarFailed, UiCall::TaskbarEnded}),
              expected);
}

INSTANTIATE_TEST_SUITE_P(Outcomes, TaskbarTest, ::testing::ValuesIn(CASES),
                         [](const auto& info) { return std::string(info.param.name); });

// Declined at the confirmation: no update, nothing on the taskbar.
TEST_F(BehaviourTest, CancelledUpdateShowsNothingOnTheTaskbar) {
    StartWithUnit();
    g_ui.answers.push_back(UI_IDCANCEL);
    UpdateProcedure();
    EXPECT_TRUE(
        UiTrace({UiCall::TaskbarProgress, UiCall::TaskbarFailed, UiCall::TaskbarEnded}).empty());
}

} // namespace
