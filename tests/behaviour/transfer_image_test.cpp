// The block transfer, driven through whole updates of small images: block
// sizes and the tail, progress positions, the progress window's placement and
// life, and the foreground rule.
#include <gtest/gtest.h>

#include <algorithm>

#include "device/unit_connection.h"
#include "res/resource_ids.h"
#include "tests/behaviour/behaviour_fixture.h"
#include "tests/behaviour/update_test_support.h"
#include "update/transfer_image.h"
#include "update/update_procedure.h"

namespace {

using TransferTest = BehaviourTest;

struct SizeCase {
    uint32_t size;
    std::vector<int> words;
    std::vector<uint32_t> positions;
};

class ImageSizeTest : public BehaviourTest, public ::testing::WithParamInterface<SizeCase> {};

// Every image byte reaches the flash, whatever the size; the tail's missing
// bytes go out as erased flash (0xFF).
TEST_P(ImageSizeTest, EveryByteArrivesInOrder) {
    const SizeCase& c = GetParam();
    const int unit = StartWithUnit();
    const std::vector<uint8_t> image = PatternImage(c.size);
    RecordingUiSetImage(image.data(), c.size);

    UpdateProcedure();

    ASSERT_EQ(Pane(), TableText(IDS_UPDATE_SUCCESSFUL));
    EXPECT_EQ(BlockWordCounts(), c.words);
    EXPECT_EQ(ProgressPositions(), c.positions);
    const std::vector<uint8_t>& flash = SimGetInterface(unit).controller.flash;
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
    EXPECT_TRUE(
        std::all_of(flash.begin() + c.size, flash.end(), [](uint8_t b) { return b == 0xFF; }));
    // The tail block carries the image bytes first, then 0xFF.
    const auto blocks = RequestsOf(CMD_WRITE_BLOCK);
    const std::vector<uint8_t>& last = blocks.back();
    const uint32_t tailBytes = c.size % BLOCK_BYTES == 0 ? BLOCK_BYTES : c.size % BLOCK_BYTES;
    EXPECT_TRUE(std::equal(image.end() - tailBytes, image.end(), last.begin() + 4));
    EXPECT_TRUE(std::all_of(last.begin() + 4 + tailBytes, last.begin() + 4 + last[2],
                            [](uint8_t b) { return b == 0xFF; }));
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ImageSizeTest,
    ::testing::Values(SizeCase{96, {12, 12}, {0, 50, 100}},        // whole blocks only
                      SizeCase{98, {12, 12, 1}, {0, 48, 97, 100}}, // 2 bytes over: one word
                      SizeCase{146, {12, 12, 12, 1}, {0, 32, 65, 98, 100}}, // 48 x 2 + 50
                      SizeCase{47, {12}, {0, 100}},                         // one short block
                      SizeCase{1, {1}, {0, 100}}, SizeCase{52, {12, 1}, {0, 92, 100}}));

TEST_F(TransferTest, RealImageProgressPositions) {
    StartWithUnit();
    UpdateProcedure();
    const std::vector<uint32_t> positions = ProgressPositions();
    ASSERT_EQ(positions.size(), 2038u);
    EXPECT_EQ(positions[0], 0u);
    EXPECT_EQ(positions[20], 0u); // 960 bytes
    EXPECT_EQ(positions[21], 1u); // 1,008 bytes after the 21st block
    EXPECT_EQ(positions.back(), 100u);
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
}

TEST(ProgressPositionTest, ExactForEveryThirtyTwoBitSize) {
    const struct {
        uint32_t sent, size, position;
    } cases[] = {
        {1008, 97760, 1},
        {97760, 97760, 100},
        {42949673, 42949673, 100}, // the first size where sent x 100 overflows 32 bits
        {0xFFFFFFFFu, 0xFFFFFFFFu, 100},
        {0x7FFFFFFEu, 0xFFFFFFFEu, 49},
        {0xFFFFFFF0u, 0xFFFFFFFFu, 99},
        {0, 0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProgressPosition(c.sent, c.size), c.position) << c.sent << "/" << c.size;
    }
}

TEST_F(TransferTest, ProgressWindowIsCentredOverTheDialog) {
    const struct {
        UiRect dialog;
        int x, y;
    } cases[] = {
        {{100, 100, 401, 300}, 50, 175}, // the half width is floored
        {{-500, -400, -99, -199}, -500 + 200 - 200, -400 + 100 - 25},
        {{0, 0, -3, -3}, -202, -27}, // inverted: floored too, not truncated
    };
    for (const auto& c : cases) {
        SimReset();
        RecordingUiReset();
        StartWithUnit();
        g_ui.dialogRect = c.dialog;
        const std::vector<uint8_t> image = PatternImage(48);
        RecordingUiSetImage(image.data(), 48);

        UpdateProcedure();

        const std::vector<std::string> trace = UiTrace({UiCall::CreateProgress});
        ASSERT_EQ(trace.size(), 1u);
        EXPECT_EQ(trace[0], "create " + std::to_string(c.x) + "," + std::to_string(c.y) +
                                " 400x50 " + TableTextUtf8(IDS_PROGRESS_TITLE) + " -> 0x2000");
    }
}

TEST_F(TransferTest, SetupOrderAndTheWindowGoneBeforeTheResult) {
    StartWithUnit();
    const std::vector<uint8_t> image = PatternImage(96);
    RecordingUiSetImage(image.data(), 96);
    g_ui.foreground = RECORDING_OTHER_APP_WINDOW;

    UpdateProcedure();

    const std::vector<std::string> trace = UiTrace(
        {UiCall::GetWindowRect, UiCall::CreateProgress, UiCall::SetProgress, UiCall::Raise,
         UiCall::GetForeground, UiCall::Show, UiCall::Destroy, UiCall::Sleep, UiCall::SetText});
    const std::string title = TableTextUtf8(IDS_PROGRESS_TITLE);
    const std::vector<std::string> expected{
        "sleep 20",
        "sleep 20",
        "sleep 1000",
        "sleep 4000",
        "sleep 20",
        "sleep 20",
        "rect 0x1000",
        "create 150,275 400x50 " + title + " -> 0x2000",
        "position 0x2000 0",
        "raise 0x1000",
        "raise 0x2000",
        "position 0x2000 50",
        "foreground -> 0x3000",
        "sleep 20",
        "position 0x2000 100",
        "foreground -> 0x3000",
        "sleep 20",
        "destroy 0x2000",
    };
    ASSERT_GE(trace.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(trace.begin(), trace.begin() + expected.size()), expected);
}

struct ForegroundCase {
    const char* name;
    UiWindow progressWindow;             // 0: the window could not be created
    std::vector<UiWindow> foregroundSeq; // answers in order, then `foreground`
    UiWindow foreground;
    int askedTimes;
    int actsAfterBlock; // 0: never
};

class ForegroundTest : public BehaviourTest,
                       public ::testing::WithParamInterface<ForegroundCase> {};

TEST_P(ForegroundTest, ActsAtMostOnceAndOnlyForTheUpdatersWindows) {
    const ForegroundCase& c = GetParam();
    StartWithUnit();
    const std::vector<uint8_t> image = PatternImage(48 * 4);
    RecordingUiSetImage(image.data(), 48 * 4);
    g_ui.progressToCreate = c.progressWindow;
    g_ui.foregroundAnswers.assign(c.foregroundSeq.begin(), c.foregroundSeq.end());
    g_ui.foreground = c.foreground;

    UpdateProcedure();

    EXPECT_EQ(Pane(), TableText(IDS_UPDATE_SUCCESSFUL));
    EXPECT_EQ(int(CountUiCalls(UiCall::GetForeground)), c.askedTimes);
    const std::vector<std::string> trace =
        UiTrace({UiCall::SetProgress, UiCall::Raise, UiCall::Show, UiCall::GetForeground});
    // Setup raises both windows once; the rule raises and shows both once more.
    if (c.actsAfterBlock == 0) {
        EXPECT_EQ(CountUiCalls(UiCall::Show), 0u);
        EXPECT_EQ(CountUiCalls(UiCall::Raise), 2u);
        return;
    }
    const std::string progress = c.progressWindow == 0 ? "0x0" : "0x2000";
    size_t at = 0;
    int positionsSeen = 0;
    while (positionsSeen <= c.actsAfterBlock) {
        positionsSeen += trace[at++].rfind("position", 0) == 0;
    }
    // Right after the acting block's position and its question:
    const std::vector<std::string> acting(trace.begin() + long(at), trace.begin() + long(at) + 5);
    EXPECT_EQ(acting[1], "raise 0x1000");
    EXPECT_EQ(acting[2], "raise " + progress);
    EXPECT_EQ(acting[3], "show 0x1000");
    EXPECT_EQ(acting[4], "show " + progress);
    EXPECT_EQ(CountUiCalls(UiCall::Show), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Rule, ForegroundTest,
    ::testing::Values(
        ForegroundCase{
            "DialogInFront", RECORDING_PROGRESS_WINDOW, {}, RECORDING_DIALOG_WINDOW, 1, 1},
        ForegroundCase{"ProgressInFrontLater",
                       RECORDING_PROGRESS_WINDOW,
                       {RECORDING_OTHER_APP_WINDOW, RECORDING_OTHER_APP_WINDOW},
                       RECORDING_PROGRESS_WINDOW,
                       3,
                       3},
        ForegroundCase{"OtherApplicationThroughout",
                       RECORDING_PROGRESS_WINDOW,
                       {},
                       RECORDING_OTHER_APP_WINDOW,
                       4,
                       0},
        ForegroundCase{"NoForegroundWindow", RECORDING_PROGRESS_WINDOW, {}, 0, 4, 0},
        ForegroundCase{"NoProgressWindow", 0, {}, RECORDING_DIALOG_WINDOW, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TransferTest, FirstBlockFailingLeavesOnlyPositionZero) {
    const int unit = StartWithUnit();
    SimArmFault(unit, CMD_WRITE_BLOCK, 1, SimFault::ReadFails, 0, 0x57);

    UpdateProcedure();

    EXPECT_EQ(ProgressPositions(), std::vector<uint32_t>{0});
    EXPECT_LT(LastIndexOf(UiCall::Destroy), LastIndexOf(UiCall::MessageBox));
    EXPECT_EQ(Boxes().back()->text, FailureText(IDS_BLOCK_WRITE_FAILED, true, uint32_t(-3), 0x57));
    EXPECT_EQ(RequestsOf(CMD_WRITE_BLOCK).size(), 1u);
}

} // namespace
