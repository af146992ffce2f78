// The update procedure against the simulated unit on virtual time: a whole
// update, the questions, every failure point with its box, and the cases where a
// device event arrives while one of its boxes is open.
#include <gtest/gtest.h>

#include <algorithm>

#include "device/hid/clock_port.h"
#include "app/detection.h"
#include "device/command_reports.h"
#include "device/unit_connection.h"
#include "res/firmware_image.h"
#include "res/resource_ids.h"
#include "tests/behaviour/behaviour_fixture.h"
#include "tests/behaviour/update_test_support.h"
#include "tests/support/virtual_clock.h"
#include "update/update_procedure.h"

namespace {

using UpdateTest = BehaviourTest;

constexpr uint32_t IMAGE_BLOCKS = 2037;

// The update guard is held exactly while the controller is at risk: taken once,
// with its reason, after the last question and before the first request; released
// once, after the last exchange and before the failure box or the success text.
void ExpectGuardHeldAroundTheExchanges() {
    ASSERT_EQ(CountUiCalls(UiCall::GuardTake), 1u);
    ASSERT_EQ(CountUiCalls(UiCall::GuardRelease), 1u);
    EXPECT_FALSE(g_ui.guardHeld);
    const size_t take = FirstIndexOf(UiCall::GuardTake);
    const size_t release = FirstIndexOf(UiCall::GuardRelease);
    const UiRecord& taken = g_ui.log[take];
    EXPECT_EQ(taken.text, TableText(IDS_UPDATE_GUARD_REASON));
    EXPECT_EQ(taken.first, 0) << "taken after a request was sent";
    EXPECT_EQ(g_ui.log[release].first, int64_t(SimWireLog().size()))
        << "released before the last exchange";
    for (size_t i = 0; i < g_ui.log.size(); ++i) {
        const UiRecord& record = g_ui.log[i];
        const bool shown = record.call == UiCall::MessageBox ||
                           (record.call == UiCall::SetText && record.first == IDC_STATUS_PANE);
        if (shown) {
            EXPECT_TRUE(i < take || i > release) << DescribeUiRecord(record) << " while held";
        }
    }
    const size_t lastBox = LastIndexOf(UiCall::MessageBox);
    if (lastBox < g_ui.log.size() && g_ui.log[lastBox].first == UI_MB_ICONERROR) {
        EXPECT_LT(release, lastBox);
    } else {
        EXPECT_EQ(g_ui.texts[IDC_STATUS_PANE], TableText(IDS_UPDATE_SUCCESSFUL));
    }
}

void ExpectGuardNeverTaken() {
    EXPECT_EQ(CountUiCalls(UiCall::GuardTake), 0u);
    EXPECT_EQ(CountUiCalls(UiCall::GuardRelease), 0u);
}

TEST_F(UpdateTest, WholeUpdateWritesTheImageAndLeavesTheUnitOpen) {
    const int unit = StartWithUnit();
    const uint8_t* image = ResFirmwareImageData();
    const uint32_t size = ResFirmwareImageSize();
    ASSERT_EQ(size, 97760u);

    UpdateProcedure();

    // The controller holds the image, the rest of its flash erased.
    const std::vector<uint8_t>& flash = SimGetInterface(unit).controller.flash;
    ASSERT_GE(flash.size(), size);
    EXPECT_TRUE(std::equal(image, image + size, flash.begin()));
    EXPECT_TRUE(
        std::all_of(flash.begin() + size, flash.end(), [](uint8_t b) { return b == 0xFF; }));

    // Lock, unprotect, erase, address, 2,037 blocks (the last of 8 words), then
    // protect and unlock.
    const std::vector<uint8_t> commands = CommandsSent();
    ASSERT_EQ(commands.size(), 4 + IMAGE_BLOCKS + 2);
    EXPECT_EQ(std::vector<uint8_t>(commands.begin(), commands.begin() + 4),
              (std::vector<uint8_t>{CMD_SYSTEM_LOCK, CMD_WRITE_PROTECT, CMD_ERASE_FIRMWARE,
                                    CMD_SET_WRITE_ADDRESS}));
    EXPECT_EQ(std::vector<uint8_t>(commands.end() - 2, commands.end()),
              (std::vector<uint8_t>{CMD_WRITE_PROTECT, CMD_SYSTEM_LOCK}));
    const std::vector<int> words = BlockWordCounts();
    ASSERT_EQ(words.size(), IMAGE_BLOCKS);
    EXPECT_EQ(std::count(words.begin(), words.end(), 12), 2036);
    EXPECT_EQ(words.back(), 8);
    const auto locks = RequestsOf(CMD_SYSTEM_LOCK);
    const auto protects = RequestsOf(CMD_WRITE_PROTECT);
    EXPECT_EQ(locks.front()[3], 1);
    EXPECT_EQ(locks.back()[3], 0);
    EXPECT_EQ(protects.front()[3], 0);
    EXPECT_EQ(protects.back()[3], 1);

    // The pauses: 20 ms after lock and unprotect, 1000 ms inside the erase
    // exchange and 4000 ms after it, 20 ms before the address and before the
    // transfer, 20 ms after every block.
    std::vector<uint32_t> expected{20, 20, 1000, 4000, 20, 20};
    expected.insert(expected.end(), IMAGE_BLOCKS, 20);
    EXPECT_EQ(VirtualPauses(), expected);
    EXPECT_EQ(VirtualNowMs(), 45820u);
    RecordProperty("virtual_update_ms", std::to_string(VirtualNowMs()));

    // One question, the success text, the new version, Update disabled, unit open.
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0]->first, UI_MB_ICONWARNING | UI_MB_OKCANCEL);
    EXPECT_EQ(Boxes()[0]->caption, TableText(IDS_IMPORTANT_NOTE_CAPTION));
    EXPECT_EQ(Boxes()[0]->text, TableText(IDS_DO_NOT_INTERRUPT));
    EXPECT_EQ(Pane(), TableText(IDS_UPDATE_SUCCESSFUL));
    EXPECT_EQ(Utf8(g_ui.texts[IDC_ROW3_VALUE]), "3.5");
    EXPECT_EQ(Utf8(g_ui.texts[IDC_ROW1_VALUE]), "2.3");
    EXPECT_EQ(Utf8(g_ui.texts[IDC_ROW2_VALUE]), "1.2");
    EXPECT_FALSE(UpdateEnabled());
    EXPECT_TRUE(UnitIsOpen());
    EXPECT_EQ(ControllerFirmwareVersion(), FIRMWARE_IMAGE_VERSION);

    // The progress window is gone before the success is shown, which comes
    // after the button and the panel.
    const std::vector<std::string> tail =
        UiTrace({UiCall::Destroy, UiCall::SetText, UiCall::Enable});
    EXPECT_EQ(tail[0], "destroy 0x2000");
    EXPECT_EQ(tail[1], "enable 1002 0");
    EXPECT_EQ(tail.back(), "text 40004 " + TableTextUtf8(IDS_UPDATE_SUCCESSFUL));
    ExpectGuardHeldAroundTheExchanges();
}

struct VersionGuardCase {
    uint16_t version;
    bool asks;
};

class VersionGuardTest : public BehaviourTest,
                         public ::testing::WithParamInterface<VersionGuardCase> {};

TEST_P(VersionGuardTest, AsksForTheSameOrANewerVersionAndNoStopsEverything) {
    SimInterface unit = SimReadyUnit();
    unit.controller.firmwareVersion = GetParam().version;
    StartWithUnit(unit);
    const std::vector<uint8_t> image = PatternImage(96);
    RecordingUiSetImage(image.data(), uint32_t(image.size()));
    const auto textsBefore = g_ui.texts;
    g_ui.answers = {UI_IDOK, UI_IDNO};

    UpdateProcedure();

    const auto boxes = Boxes();
    if (GetParam().asks) {
        ASSERT_EQ(boxes.size(), 2u);
        EXPECT_EQ(boxes[1]->first, UI_MB_ICONWARNING | UI_MB_YESNO);
        EXPECT_EQ(boxes[1]->caption, TableText(IDS_NEWER_FIRMWARE_CAPTION));
        EXPECT_EQ(boxes[1]->text, TableText(IDS_OLDER_OR_SAME_VERSION));
        EXPECT_TRUE(CommandsSent().empty());
        EXPECT_EQ(g_ui.texts, textsBefore);
        EXPECT_TRUE(UpdateEnabled());
        EXPECT_TRUE(UnitIsOpen());
        ExpectGuardNeverTaken();
    } else {
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(Pane(), TableText(IDS_UPDATE_SUCCESSFUL));
        ExpectGuardHeldAroundTheExchanges();
    }
}

INSTANTIATE_TEST_SUITE_P(Versions, VersionGuardTest,
                         ::testing::Values(VersionGuardCase{0x0304, false},
                                           VersionGuardCase{FIRMWARE_IMAGE_VERSION, true},
                                           VersionGuardCase{0x0400, true},
                                           VersionGuardCase{FIRMWARE_VERSION_NONE, false},
                                           VersionGuardCase{0xFFFE, true},
                                           VersionGuardCase{0x0000, false}));

TEST_F(UpdateTest, CancelOnTheConfirmationChangesNothing) {
    StartWithUnit();
    const auto textsBefore = g_ui.texts;
    const auto enabledBefore = g_ui.enabled;
    g_ui.answers = {UI_IDCANCEL};

    UpdateProcedure();

    EXPECT_EQ(Boxes().size(), 1u);
    EXPECT_TRUE(SimWireLog().empty());
    EXPECT_TRUE(VirtualPauses().empty());
    EXPECT_EQ(g_ui.texts, textsBefore);
    EXPECT_EQ(g_ui.enabled, enabledBefore);
    EXPECT_TRUE(UnitIsOpen());
    ExpectGuardNeverTaken();
}

// After every failure: the unit closed, Update disabled, the panel empty, the
// box with its text and caption, then the try-again text; nothing after the
// failing step went to the unit, in particular no closing step.
void ExpectFailureReported(const std::u16string& boxText) {
    const auto boxes = Boxes();
    ASSERT_FALSE(boxes.empty());
    const UiRecord& box = *boxes.back();
    EXPECT_EQ(box.first, UI_MB_ICONERROR);
    EXPECT_EQ(box.caption, TableText(IDS_UPDATE_FAILED_CAPTION));
    EXPECT_EQ(Utf8(box.text), Utf8(boxText));
    EXPECT_FALSE(UnitIsOpen());
    EXPECT_EQ(SimOpenHandleCount(), 0);
    EXPECT_FALSE(g_ui.enabled[IDC_UPDATE]);
    const std::vector<std::string> trace =
        UiTrace({UiCall::SetText, UiCall::MessageBox, UiCall::Destroy, UiCall::Enable});
    ASSERT_GE(trace.size(), 2u);
    EXPECT_EQ(trace[trace.size() - 2].rfind("box 0x10", 0), 0u);
    EXPECT_EQ(trace.back(), "text 40004 " + TableTextUtf8(IDS_TRY_AGAIN));
    EXPECT_EQ(trace[trace.size() - 3], "enable 40011 0"); // panel emptied before the box
    EXPECT_EQ(g_ui.texts[IDC_ROW1_VALUE], u"0.0.0");
    for (const auto& request : SimSentRequests()) {
        const bool closing = (request[1] == CMD_WRITE_PROTECT && request[3] == 1) ||
                             (request[1] == CMD_SYSTEM_LOCK && request[3] == 0);
        EXPECT_FALSE(closing);
    }
    // A progress window never outlives the transfer.
    if (CountUiCalls(UiCall::CreateProgress) != 0) {
        EXPECT_LT(LastIndexOf(UiCall::Destroy), LastIndexOf(UiCall::MessageBox));
    }
}

// The n-th request with a command code; occurrence 0: none.
struct FaultPoint {
    uint8_t command;
    uint32_t occurrence;
};
constexpr FaultPoint NO_FAULT = {0, 0};

struct FailureCase {
    const char* name;
    FaultPoint faultAt; // the request that fails, counted from the update's start
    SimFault fault;
    uint32_t errorCode;
    int closeAtPause; // the unit is closed during this pause (1-based), 0: not
    void (*tamper)(SimInterface&, uint32_t pause); // changes the unit during pauses
    uint16_t message;
    int32_t firstCode; // -1: the message alone
    uint32_t secondCode;
    std::vector<uint32_t> pauses; // up to the failure box
};

constexpr uint32_t LAST_ERROR = 0x4D2;

void NoTamper(SimInterface&, uint32_t) {}

const FailureCase FAILURES[] = {
    {"LockWriteFails",
     {CMD_SYSTEM_LOCK, 1},
     SimFault::WriteFails,
     0,
     0,
     NoTamper,
     IDS_LOCK_NOT_SET,
     -2,
     LAST_ERROR,
     {}},
    {"LockReadFails",
     {CMD_SYSTEM_LOCK, 1},
     SimFault::ReadFails,
     0,
     0,
     NoTamper,
     IDS_LOCK_NOT_SET,
     -3,
     LAST_ERROR,
     {}},
    {"LockNoAnswer",
     {CMD_SYSTEM_LOCK, 1},
     SimFault::NoAnswer,
     0,
     0,
     NoTamper,
     IDS_LOCK_NOT_SET,
     -3,
     LAST_ERROR,
     {HID_READ_TIMEOUT_MS}},
    {"LockNotTaken",
     NO_FAULT,
     SimFault::None,
     0,
     0,
     [](SimInterface& u, uint32_t) { u.controller.status = 0; },
     IDS_LOCK_NOT_SET,
     STEP_NOT_CONFIRMED,
     0,
     {}},
    {"LockErrorReply",
     {CMD_SYSTEM_LOCK, 1},
     SimFault::ErrorReply,
     0x2A,
     0,
     NoTamper,
     IDS_LOCK_NOT_SET,
     STEP_NOT_CONFIRMED,
     0,
     {}},
    {"UnprotectNoUnit",
     NO_FAULT,
     SimFault::None,
     0,
     1,
     NoTamper,
     IDS_FLASH_NOT_WRITABLE,
     -1,
     0,
     {20}},
    {"UnprotectWriteFails",
     {CMD_WRITE_PROTECT, 1},
     SimFault::WriteFails,
     0,
     0,
     NoTamper,
     IDS_FLASH_NOT_WRITABLE,
     -2,
     LAST_ERROR,
     {20}},
    {"UnprotectReadFails",
     {CMD_WRITE_PROTECT, 1},
     SimFault::ReadFails,
     0,
     0,
     NoTamper,
     IDS_FLASH_NOT_WRITABLE,
     -3,
     LAST_ERROR,
     {20}},
    {"UnprotectErrorCode",
     {CMD_WRITE_PROTECT, 1},
     SimFault::ErrorReply,
     0x2A,
     0,
     NoTamper,
     IDS_FLASH_NOT_WRITABLE,
     0x2A,
     0,
     {20}},
    {"UnprotectStillProtected",
     NO_FAULT,
     SimFault::None,
     0,
     0,
     [](SimInterface& u, uint32_t pause) {
         if (pause == 1) {
             u.lockState = 0; // the unit lost its lock: protection stays on
         }
     },
     IDS_FLASH_NOT_WRITABLE,
     STEP_NOT_CONFIRMED,
     0,
     {20}},
    // An error reply with code 0 passes; the unit did not act, so the erase fails.
    {"UnprotectErrorReplyZeroPasses",
     {CMD_WRITE_PROTECT, 1},
     SimFault::ErrorReply,
     0,
     0,
     NoTamper,
     IDS_ERASE_FAILED,
     SIM_ERROR_NOT_READY,
     0,
     {20, 20, 1000, 4000}},
    {"EraseNoUnit",
     NO_FAULT,
     SimFault::None,
     0,
     2,
     NoTamper,
     IDS_ERASE_FAILED,
     -1,
     0,
     {20, 20, 4000}},
    {"EraseWriteFails",
     {CMD_ERASE_FIRMWARE, 1},
     SimFault::WriteFails,
     0,
     0,
     NoTamper,
     IDS_ERASE_FAILED,
     -2,
     LAST_ERROR,
     {20, 20, 4000}},
    {"EraseReadFails",
     {CMD_ERASE_FIRMWARE, 1},
     SimFault::ReadFails,
     0,
     0,
     NoTamper,
     IDS_ERASE_FAILED,
     -3,
     LAST_ERROR,
     {20, 20, 1000, 4000}},
    {"EraseErrorCode",
     {CMD_ERASE_FIRMWARE, 1},
     SimFault::ErrorReply,
     0x80000001,
     0,
     NoTamper,
     IDS_ERASE_FAILED,
     int32_t(0x80000001),
     0,
     {20, 20, 1000, 4000}},
    {"AddressNoUnit",
     NO_FAULT,
     SimFault::None,
     0,
     5,
     NoTamper,
     IDS_ADDRESS_NOT_SET,
     -1,
     0,
     {20, 20, 1000, 4000, 20}},
    {"AddressWriteFails",
     {CMD_SET_WRITE_ADDRESS, 1},
     SimFault::WriteFails,
     0,
     0,
     NoTamper,
     IDS_ADDRESS_NOT_SET,
     -2,
     LAST_ERROR,
     {20, 20, 1000, 4000, 20}},
    {"AddressReadFails",
     {CMD_SET_WRITE_ADDRESS, 1},
     SimFault::ReadFails,
     0,
     0,
     NoTamper,
     IDS_ADDRESS_NOT_SET,
     -3,
     LAST_ERROR,
     {20, 20, 1000, 4000, 20}},
    {"AddressErrorCode",
     {CMD_SET_WRITE_ADDRESS, 1},
     SimFault::ErrorReply,
     7,
     0,
     NoTamper,
     IDS_ADDRESS_NOT_SET,
     7,
     0,
     {20, 20, 1000, 4000, 20}},
    {"FirstBlockRefused",
     {CMD_WRITE_BLOCK, 1},
     SimFault::ErrorReply,
     0x10,
     0,
     NoTamper,
     IDS_BLOCK_WRITE_FAILED,
     0x10,
     0,
     {20, 20, 1000, 4000, 20, 20}},
    {"ThirdBlockNotWritten",
     {CMD_WRITE_BLOCK, 3},
     SimFault::WriteFails,
     0,
     0,
     NoTamper,
     IDS_BLOCK_WRITE_FAILED,
     -2,
     LAST_ERROR,
     {20, 20, 1000, 4000, 20, 20, 20, 20}},
    {"UnitUnpluggedDuringTransfer",
     {CMD_WRITE_BLOCK, 2},
     SimFault::Unplugged,
     0,
     0,
     NoTamper,
     IDS_BLOCK_WRITE_FAILED,
     -2,
     SIM_LAST_ERROR_NOT_CONNECTED,
     {20, 20, 1000, 4000, 20, 20, 20}},
    {"BlockUnitClosed",
     NO_FAULT,
     SimFault::None,
     0,
     7,
     NoTamper,
     IDS_BLOCK_WRITE_FAILED,
     -1,
     0,
     {20, 20, 1000, 4000, 20, 20, 20}},
};

class FailureTest : public BehaviourTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailureTest, ReportsTheStepWithItsCodes) {
    const FailureCase& c = GetParam();
    const int unit = StartWithUnit();
    const std::vector<uint8_t> image = PatternImage(48 * 5);
    RecordingUiSetImage(image.data(), uint32_t(image.size()));
    if (c.faultAt.occurrence != 0) {
        SimArmFault(unit, c.faultAt.command, c.faultAt.occurrence, c.fault, c.errorCode,
                    LAST_ERROR);
    }
    uint32_t pauseCount = 0;
    g_ui.onSleep = [&](uint32_t) {
        ++pauseCount;
        c.tamper(SimGetInterface(unit), pauseCount);
        if (int(pauseCount) == c.closeAtPause) {
            CloseUnit();
        }
    };
    if (c.faultAt.occurrence == 0 && c.tamper != NoTamper) {
        c.tamper(SimGetInterface(unit), 0);
    }
    // An earlier failed call (another interface that refused to open, say) must not
    // show as the system code of a failure that a reply's bytes decide.
    PlatformSetLastError(0xBEEF);

    UpdateProcedure();

    ExpectFailureReported(
        FailureText(c.message, c.firstCode != -1, uint32_t(c.firstCode), c.secondCode));
    EXPECT_EQ(VirtualPauses(), c.pauses);
    ExpectGuardHeldAroundTheExchanges();
}

INSTANTIATE_TEST_SUITE_P(Steps, FailureTest, ::testing::ValuesIn(FAILURES),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateTest, LastErrorOfAFailedEraseIsReadAfterTheSettlePause) {
    const int unit = StartWithUnit();
    SimArmFault(unit, CMD_ERASE_FIRMWARE, 1, SimFault::ErrorReply, 0x33);
    g_ui.onSleep = [](uint32_t ms) {
        if (ms == ERASE_SETTLE_MS) {
            PlatformSetLastError(0xBEEF);
        }
    };
    UpdateProcedure();
    ExpectFailureReported(FailureText(IDS_ERASE_FAILED, true, 0x33, 0xBEEF));
}

TEST_F(UpdateTest, NoUnitAtTheStartShowsTheMessageAlone) {
    UpdateProcedure();
    ASSERT_EQ(Boxes().size(), 1u);
    ExpectFailureReported(TableText(IDS_UNIT_NOT_DETECTED));
    EXPECT_TRUE(SimWireLog().empty());
    ExpectGuardNeverTaken();
}

TEST_F(UpdateTest, MissingOrEmptyImageIsRefusedBeforeAnythingIsSent) {
    const uint8_t oneByte = 0;
    const struct {
        const uint8_t* data;
        uint32_t size;
    } cases[] = {{nullptr, 0}, {&oneByte, 0}, {nullptr, 100}};
    for (const auto& c : cases) {
        SimReset();
        RecordingUiReset();
        const int unit = StartWithUnit();
        RecordingUiSetImage(c.data, c.size);

        UpdateProcedure();

        ExpectFailureReported(TableText(IDS_BLOCK_WRITE_FAILED));
        EXPECT_TRUE(SimWireLog().empty());
        EXPECT_EQ(SimGetInterface(unit).controller.firmwareVersion, 0x0304); // not erased
        ExpectGuardNeverTaken();
    }
}

// An image that differs from the one the build recorded (a flipped bit, a lost
// tail byte) is refused like a missing one: nothing sent, nothing erased.
TEST_F(UpdateTest, ImageThatIsNotTheRecordedOneIsRefusedBeforeAnythingIsSent) {
    const std::vector<uint8_t> real(ResFirmwareImageData(),
                                    ResFirmwareImageData() + ResFirmwareImageSize());
    std::vector<uint8_t> flipped = real;
    flipped[flipped.size() / 2] ^= 0x10;
    const struct {
        const uint8_t* data;
        uint32_t size;
    } cases[] = {{flipped.data(), uint32_t(flipped.size())},
                 {real.data(), uint32_t(real.size() - 1)}};
    for (const auto& c : cases) {
        SimReset();
        RecordingUiReset();
        const int unit = StartWithUnit();
        g_ui.image = c.data; // the recorded digest stays the real image's
        g_ui.imageSize = c.size;

        UpdateProcedure();

        ExpectFailureReported(TableText(IDS_BLOCK_WRITE_FAILED));
        EXPECT_TRUE(SimWireLog().empty());
        EXPECT_EQ(SimGetInterface(unit).controller.firmwareVersion, 0x0304); // not erased
        ExpectGuardNeverTaken();
    }
}

TEST_F(UpdateTest, FailingClosingStepsStillEndInSuccess) {
    const struct {
        SimFault first, second;
    } cases[] = {{SimFault::WriteFails, SimFault::WriteFails},
                 {SimFault::ReadFails, SimFault::NoAnswer},
                 {SimFault::ErrorReply, SimFault::ErrorReply}};
    const std::vector<uint8_t> image = PatternImage(48 * 2);
    for (const auto& c : cases) {
        SimReset();
        RecordingUiReset();
        RecordingUiSetImage(image.data(), uint32_t(image.size()));
        const int unit = StartWithUnit();
        // After lock and unprotect: protection set again, then the lock released.
        SimArmFault(unit, CMD_WRITE_PROTECT, 2, c.first);
        SimArmFault(unit, CMD_SYSTEM_LOCK, 2, c.second);

        UpdateProcedure();

        EXPECT_EQ(Boxes().size(), 1u);
        EXPECT_EQ(Pane(), TableText(IDS_UPDATE_SUCCESSFUL));
        EXPECT_TRUE(UnitIsOpen());
        EXPECT_EQ(Utf8(g_ui.texts[IDC_ROW3_VALUE]), "3.5");
        EXPECT_TRUE(
            std::equal(image.begin(), image.end(), SimGetInterface(unit).controller.flash.begin()));
        ExpectGuardHeldAroundTheExchanges();
    }
}

TEST_F(UpdateTest, RemovalDuringTheConfirmationFailsTheLockWithoutCodes) {
    const int unit = StartWithUnit();
    g_ui.whileBoxOpen.push_back([unit] {
        SimUnplug(unit);
        EXPECT_EQ(Remove(SimGetInterface(unit).path), 1);
    });

    UpdateProcedure();

    ASSERT_EQ(Boxes().size(), 2u); // confirmation, failure; no version question
    ExpectFailureReported(TableText(IDS_LOCK_NOT_SET));
    EXPECT_TRUE(SimSentRequests().empty());
}

TEST_F(UpdateTest, ArrivalDuringTheFailureBoxIsOverwrittenByTheTryAgainText) {
    const int unit = StartWithUnit();
    SimArmFault(unit, CMD_SYSTEM_LOCK, 1, SimFault::ReadFails);
    g_ui.whileBoxOpen.push_back(nullptr); // the confirmation
    g_ui.whileBoxOpen.push_back([] {
        // The unit was closed by the failure; it is still plugged in and the
        // arrival finds it ready again.
        EXPECT_EQ(Arrive(), 1);
        EXPECT_EQ(Pane(), TableText(IDS_READY));
    });

    UpdateProcedure();

    EXPECT_EQ(Pane(), TableText(IDS_TRY_AGAIN));
    EXPECT_TRUE(UnitIsOpen());
    EXPECT_TRUE(UpdateEnabled());
    EXPECT_EQ(Utf8(g_ui.texts[IDC_ROW3_VALUE]), "3.4");
}

TEST_F(UpdateTest, ErrorCodeLineInGerman) {
    g_ui.language = RES_LANG_GERMAN;
    const int unit = StartWithUnit();
    SimArmFault(unit, CMD_SYSTEM_LOCK, 1, SimFault::WriteFails, 0, 0);
    UpdateProcedure();
    const std::string text = Utf8(Boxes().back()->text);
    EXPECT_NE(text.find("\r\nDas System meldet Fehlercode 0xfffffffe-0x00000000"),
              std::string::npos)
        << text;
    EXPECT_EQ(Pane(), TableText(IDS_TRY_AGAIN));
}

} // namespace
