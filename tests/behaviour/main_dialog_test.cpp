// The platform-neutral part of the main dialog: title, captions, the failed
// registration, command routing, logo layout and the red labels.
#include <gtest/gtest.h>

#include "app/main_dialog.h"
#include "device/unit_connection.h"
#include "res/resource_ids.h"
#include "tests/behaviour/behaviour_fixture.h"

namespace {

using MainDialogTest = BehaviourTest;

TEST_F(MainDialogTest, TitleEndsInOneBlank) {
    char16_t title[TITLE_BUFFER_CHARS];
    FormatMainTitle(title, TITLE_BUFFER_CHARS);
    EXPECT_EQ(std::u16string(title), u"TAVELIN VESPRA 80 LV FW Updater 3.5 ");
}

TEST_F(MainDialogTest, InitialisationSetsTitleAndRowCaptionsInTheChosenLanguage) {
    for (uint16_t language : {RES_LANG_ENGLISH, RES_LANG_GERMAN}) {
        RecordingUiReset();
        g_ui.language = language;
        InitMainDialogTexts();
        EXPECT_EQ(g_ui.title, u"TAVELIN VESPRA 80 LV FW Updater 3.5 ");
        EXPECT_EQ(g_ui.texts[IDC_ROW1_CAPTION], TableText(IDS_ROW1_CAPTION));
        EXPECT_EQ(g_ui.texts[IDC_ROW2_CAPTION], TableText(IDS_ROW2_CAPTION));
        EXPECT_EQ(g_ui.texts[IDC_ROW3_CAPTION], TableText(IDS_ROW3_CAPTION));
    }
    EXPECT_EQ(Utf8(g_ui.texts[IDC_ROW3_CAPTION]), "Regler");
}

TEST_F(MainDialogTest, FailedRegistrationShowsTheErrorBoxAndRunsNoDetection) {
    SimAddInterface(SimReadyUnit());
    EXPECT_EQ(FinishMainDialogInit(false), 1);

    ASSERT_EQ(g_ui.log.size(), 3u); // two loads and the box, nothing else
    const UiRecord& box = g_ui.log.back();
    EXPECT_EQ(box.call, UiCall::MessageBox);
    EXPECT_EQ(box.first, UI_MB_ICONERROR);
    EXPECT_EQ(box.caption, TableText(IDS_APPLICATION_ERROR_CAPTION));
    EXPECT_EQ(box.text, TableText(IDS_NOTIFY_REGISTER_FAILED));
    EXPECT_EQ(SimExchangeCount(), 0u);
    EXPECT_FALSE(UnitIsOpen());
}

TEST_F(MainDialogTest, RegisteredInitialisationDetectsAndCloseClosesTheUnit) {
    SimAddInterface(SimReadyUnit());
    EXPECT_EQ(FinishMainDialogInit(true), 0);
    EXPECT_TRUE(UnitIsOpen());
    EXPECT_EQ(g_ui.texts[IDC_STATUS_PANE], TableText(IDS_READY));

    CloseMainDialog();
    EXPECT_FALSE(UnitIsOpen());
    EXPECT_EQ(SimOpenHandleCount(), 0);
}

TEST_F(MainDialogTest, CommandsAreRoutedByTheLowWordOnly) {
    struct {
        uint32_t wParam;
        MainDialogCommandResult result;
        bool runsUpdate;
    } const cases[] = {
        {2, COMMAND_CLOSE, false},
        {0x00010002, COMMAND_CLOSE, false},
        {1002, COMMAND_HANDLED, true},
        {0x030003EA, COMMAND_HANDLED, true},
        {1, COMMAND_NOT_HANDLED, false},
        {40004, COMMAND_NOT_HANDLED, false},
        {0x000203EB, COMMAND_NOT_HANDLED, false},
    };
    for (const auto& c : cases) {
        RecordingUiReset();
        g_ui.answers = {UI_IDCANCEL};
        EXPECT_EQ(MainDialogCommand(c.wParam), c.result) << std::hex << c.wParam;
        EXPECT_EQ(CountUiCalls(UiCall::MessageBox), c.runsUpdate ? 1u : 0u) << std::hex << c.wParam;
    }
}

TEST(LogoPlacementTest, ScalesIntoTheRoomRightOfTheGroupBox) {
    struct {
        UiRect dialog, group;
        LogoPlacement expected;
    } const cases[] = {
        // Narrow room: 700 - 400 - 45 = 255 wide, 255 / 1772 * 263 = 37.8 -> 37.
        {{100, 50, 700, 450}, {110, 90, 400, 300}, {400 - 100 - 3 + 20, 90 - 50 - 22, 255, 37}},
        // Wide dialog: at most half the bitmap's width.
        {{0, 0, 3000, 800}, {10, 40, 300, 300}, {300 - 0 - 3 + 20, 40 - 0 - 22, 886, 131}},
        // No room left: nothing is drawn.
        {{0, 0, 320, 200}, {10, 40, 300, 150}, {317, 18, 0, 0}},
    };
    for (const auto& c : cases) {
        const LogoPlacement p = ComputeLogoPlacement(c.dialog, c.group, 3, 22, 1772, 263);
        EXPECT_EQ(p.x, c.expected.x);
        EXPECT_EQ(p.y, c.expected.y);
        EXPECT_EQ(p.width, c.expected.width);
        EXPECT_EQ(p.height, c.expected.height);
    }
}

TEST(RedLabelTest, OnlyTheControllerRowIsRed) {
    for (int id : {IDC_CLOSE, IDC_UPDATE, IDC_ROW2_CAPTION, IDC_STATUS_PANE, IDC_VERSION_GROUP,
                   IDC_ROW1_CAPTION, IDC_ROW1_VALUE, IDC_ROW2_VALUE}) {
        EXPECT_FALSE(IsRedLabel(id)) << id;
    }
    EXPECT_TRUE(IsRedLabel(IDC_ROW3_CAPTION));
    EXPECT_TRUE(IsRedLabel(IDC_ROW3_VALUE));
}

} // namespace
