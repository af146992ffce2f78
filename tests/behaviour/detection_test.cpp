// Detection at start and on device events, against the simulated unit: the
// outcomes, the pane texts, the two roads' orders, removal by path and the
// incompatibility box, also with a device event delivered while it is open.
#include <gtest/gtest.h>

#include "app/detection.h"
#include "device/command_reports.h"
#include "device/unit_connection.h"
#include "res/resource_ids.h"
#include "tests/behaviour/behaviour_fixture.h"

namespace {

using DetectionTest = BehaviourTest;

SimInterface UnitWith(void (*change)(SimInterface&)) {
    SimInterface unit = SimReadyUnit();
    change(unit);
    return unit;
}

SimInterface OtherHidDevice() {
    SimInterface device = SimReadyUnit();
    device.path = u"\\\\?\\hid#vid_046d&pid_c52b#mouse";
    device.vendorId = 0x046D;
    device.productId = 0xC52B;
    device.speaksProtocol = false;
    return device;
}

struct OutcomeCase {
    const char* name;
    bool unitPresent;
    void (*change)(SimInterface&);
    DetectionOutcome outcome;
    uint16_t headline; // 0: Ready
};

const OutcomeCase OUTCOMES[] = {
    {"NoUnit", false, [](SimInterface&) {}, DetectionOutcome::NoUnit, IDS_NO_UNIT},
    {"WrongMode", true, [](SimInterface& u) { u.unitMode = 1; }, DetectionOutcome::WrongMode,
     IDS_WRONG_MODE},
    {"NoController", true, [](SimInterface& u) { u.controller.status = 0; },
     DetectionOutcome::NoUpdatableController, IDS_NO_UPDATABLE_CONTROLLER},
    {"StatusHighByte", true, [](SimInterface& u) { u.controller.status = 0x0103; },
     DetectionOutcome::NoUpdatableController, IDS_NO_UPDATABLE_CONTROLLER},
    {"Incompatible", true, [](SimInterface& u) { u.controller.typeId = 0x111F408D; },
     DetectionOutcome::IncompatibleController, IDS_INCOMPATIBLE_CONTROLLER},
    {"IncompatibleHighBits", true, [](SimInterface& u) { u.controller.typeId = 0x811F408C; },
     DetectionOutcome::IncompatibleController, IDS_INCOMPATIBLE_CONTROLLER},
    {"ReadyFirstType", true, [](SimInterface&) {}, DetectionOutcome::Ready, 0},
    {"ReadySecondType", true,
     [](SimInterface& u) { u.controller.typeId = SUPPORTED_CONTROLLER_TYPES[1]; },
     DetectionOutcome::Ready, 0},
    {"ReadyDialpod", true, [](SimInterface& u) { u.productId = 1; }, DetectionOutcome::Ready, 0},
};

class OutcomeTest : public BehaviourTest, public ::testing::WithParamInterface<OutcomeCase> {
  protected:
    void Plug() {
        SimAddInterface(OtherHidDevice());
        if (GetParam().unitPresent) {
            SimAddInterface(UnitWith(GetParam().change));
        }
    }
    void ExpectIncompatibleBoxIfAny() {
        const bool incompatible = GetParam().outcome == DetectionOutcome::IncompatibleController;
        ASSERT_EQ(CountUiCalls(UiCall::MessageBox), incompatible ? 1u : 0u);
        if (incompatible) {
            const UiRecord& box = *std::find_if(g_ui.log.begin(), g_ui.log.end(), [](auto& r) {
                return r.call == UiCall::MessageBox;
            });
            EXPECT_EQ(box.first, UI_MB_ICONINFORMATION);
            EXPECT_EQ(box.caption, TableText(IDS_INCOMPATIBLE_CAPTION));
            std::u16string text = TableText(IDS_INCOMPATIBLE_TEXT);
            text.replace(text.find(u"%s"), 2, u"VESPRA 80 LV");
            EXPECT_EQ(box.text, text);
        }
    }
    // Ready: the pane says so, alone; otherwise the headline with instructions.
    void ExpectScreenAndConnection() {
        const OutcomeCase& c = GetParam();
        const bool ready = c.outcome == DetectionOutcome::Ready;
        EXPECT_EQ(Pane(), ready ? TableText(IDS_READY) : HintText(c.headline));
        EXPECT_EQ(UpdateEnabled(), ready);
        EXPECT_EQ(UnitIsOpen(), ready);
        EXPECT_EQ(SimOpenHandleCount(), ready ? 1 : 0);
    }
};

TEST_P(OutcomeTest, AtStart) {
    Plug();
    DetectUnit();
    ExpectIncompatibleBoxIfAny();
    ExpectScreenAndConnection();
    const bool ready = GetParam().outcome == DetectionOutcome::Ready;
    EXPECT_EQ(PanelIsEmpty(), !ready);
    // Pane before the panel, whatever the outcome; the button before the pane
    // except when ready.
    const std::vector<std::string> trace = UiTrace({UiCall::SetText, UiCall::Enable});
    ASSERT_GE(trace.size(), 3u);
    if (ready) {
        EXPECT_EQ(trace[0].rfind("text 40004 ", 0), 0u);
        EXPECT_EQ(trace[1], "enable 1002 1");
        EXPECT_EQ(trace[2], "enable 40013 1");
    } else {
        EXPECT_EQ(trace[0], "enable 1002 0");
        EXPECT_EQ(trace[trace.size() - 10].rfind("text 40004 ", 0), 0u) << trace.size();
        EXPECT_EQ(trace[trace.size() - 9], "text 40013 0.0.0");
    }
}

TEST_P(OutcomeTest, OnArrival) {
    Plug();
    EXPECT_EQ(Arrive(), 1);
    const OutcomeCase& c = GetParam();
    if (c.outcome == DetectionOutcome::NoUnit) {
        // An unrelated HID device arrived: nothing on screen changes.
        EXPECT_EQ(UiTrace({UiCall::SetText, UiCall::Enable, UiCall::MessageBox}),
                  std::vector<std::string>{});
        EXPECT_FALSE(UnitIsOpen());
        return;
    }
    ExpectIncompatibleBoxIfAny();
    ExpectScreenAndConnection();
    const std::vector<std::string> trace = UiTrace({UiCall::SetText, UiCall::Enable});
    if (c.outcome == DetectionOutcome::Ready) {
        // Pane, then the panel, then the button.
        EXPECT_EQ(trace.front().rfind("text 40004 ", 0), 0u);
        EXPECT_EQ(trace[1], "enable 40013 1");
        EXPECT_EQ(trace.back(), "enable 1002 1");
    } else {
        // No panel refresh: the pane's two writes and the button only.
        ASSERT_EQ(trace.size(), 3u);
        EXPECT_EQ(trace[0], "enable 1002 0");
    }
}

INSTANTIATE_TEST_SUITE_P(Outcomes, OutcomeTest, ::testing::ValuesIn(OUTCOMES),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DetectionTest, GermanPaneText) {
    g_ui.language = RES_LANG_GERMAN;
    DetectUnit();
    EXPECT_EQ(Pane(), HintText(IDS_NO_UNIT));
    EXPECT_NE(Utf8(Pane()).find("Gehen Sie folgendermaßen vor"), std::string::npos);
}

TEST_F(DetectionTest, ArrivalIsIgnoredWhileAUnitIsOpenOrForOtherDeviceTypes) {
    StartWithUnit();
    SimAddInterface(UnitWith([](SimInterface& u) {
        u.path = u"\\\\?\\hid#vid_3a5d&pid_0001#second";
        u.productId = 1;
    }));
    EXPECT_EQ(Arrive(), 1);
    CloseUnit();
    EXPECT_EQ(Arrive(2 /* volume */), 1);
    EXPECT_EQ(Arrive(3 /* port */), 1);
    EXPECT_TRUE(CommandsSent().empty());
    EXPECT_EQ(UiTrace({UiCall::SetText, UiCall::Enable}), std::vector<std::string>{});
}

TEST_F(DetectionTest, HalfIdentifiedUnitOnArrivalIsLetGoAndTheScreenStays) {
    DetectUnit();
    const std::u16string paneBefore = Pane();
    const int unit = SimAddInterface(SimReadyUnit());
    SimArmFault(unit, CMD_GET_UNIT_INFO, 1, SimFault::ReadFails);
    ClearLogs();

    EXPECT_EQ(Arrive(), 1);
    EXPECT_FALSE(UnitIsOpen());
    EXPECT_EQ(SimOpenHandleCount(), 0);
    EXPECT_EQ(UiTrace({UiCall::SetText, UiCall::Enable, UiCall::MessageBox}),
              std::vector<std::string>{});
    EXPECT_EQ(Pane(), paneBefore);

    // The next arrival looks again and finds the unit ready.
    SimClearFaults();
    EXPECT_EQ(Arrive(), 1);
    EXPECT_TRUE(UnitIsOpen());
    EXPECT_EQ(Pane(), TableText(IDS_READY));
}

TEST_F(DetectionTest, ARejectedUnitStillPluggedIsFoundAgainOnAnyArrival) {
    StartWithUnit(UnitWith([](SimInterface& u) { u.controller.typeId = 1; }));
    SimAddInterface(OtherHidDevice());
    EXPECT_EQ(Arrive(), 1);
    EXPECT_EQ(CountUiCalls(UiCall::MessageBox), 1u);
    EXPECT_EQ(Pane(), HintText(IDS_INCOMPATIBLE_CONTROLLER));
    EXPECT_FALSE(UnitIsOpen());
}

TEST_F(DetectionTest, RemovalClosesOnlyTheOpenPathWithoutRegardToCase) {
    const int index = StartWithUnit();
    const std::u16string path = SimGetInterface(index).path;
    std::u16string upper = path;
    for (char16_t& ch : upper) {
        if (ch >= u'a' && ch <= u'z') {
            ch = char16_t(ch - u'a' + u'A');
        }
    }
    ASSERT_NE(upper, path);

    EXPECT_EQ(Remove(u"\\\\?\\hid#vid_046d&pid_c52b#mouse"), 1);
    EXPECT_EQ(Remove(path + u"x"), 1);
    EXPECT_EQ(Remove(path, 2), 1);
    EXPECT_TRUE(UnitIsOpen());
    EXPECT_EQ(g_ui.log.size(), 0u);

    SimUnplug(index);
    EXPECT_EQ(Remove(upper), 1);
    EXPECT_FALSE(UnitIsOpen());
    EXPECT_FALSE(UpdateEnabled());
    EXPECT_TRUE(PanelIsEmpty());
    EXPECT_EQ(Pane(), HintText(IDS_CONNECTION_LOST));
    // Closed first, then the button, the panel and the pane.
    const std::vector<std::string> trace = UiTrace({UiCall::SetText, UiCall::Enable});
    EXPECT_EQ(trace.front(), "enable 1002 0");
    EXPECT_EQ(trace[1], "text 40013 0.0.0");

    // With nothing open a removal is answered and changes nothing.
    g_ui.log.clear();
    EXPECT_EQ(Remove(path), 1);
    EXPECT_EQ(g_ui.log.size(), 0u);
}

TEST_F(DetectionTest, OtherEventCodesAreNotHandled) {
    const int index = StartWithUnit();
    const DeviceBroadcast broadcast{INTERFACE_DEVICE_TYPE, SimGetInterface(index).path.c_str()};
    for (uint32_t event : {0x0007u, 0x8001u, 0x8002u, 0x8003u, 0x8005u, 0x8006u, 0x0018u}) {
        EXPECT_EQ(OnDeviceChange(event, &broadcast), 0) << std::hex << event;
    }
    EXPECT_EQ(OnDeviceChange(DBT_DEVICEARRIVAL_EVENT, nullptr), 1);
    EXPECT_EQ(OnDeviceChange(DBT_DEVICEREMOVECOMPLETE_EVENT, nullptr), 1);
    EXPECT_TRUE(UnitIsOpen());
    EXPECT_EQ(g_ui.log.size(), 0u);
}

TEST_F(DetectionTest, ArrivalDuringTheIncompatibilityBoxIsHandledInside) {
    SimAddInterface(UnitWith([](SimInterface& u) { u.controller.typeId = 1; }));
    // While the box is open the incompatible unit goes and a ready one arrives.
    g_ui.whileBoxOpen.push_back([] {
        SimUnplug(0);
        SimAddInterface(UnitWith([](SimInterface& u) { u.path = u"\\\\?\\hid#ready"; }));
        EXPECT_EQ(Arrive(), 1);
        EXPECT_EQ(Pane(), TableText(IDS_READY));
    });

    DetectUnit();

    // The nested detection opened the ready unit and enabled Update; the outer
    // run then writes its own headline and shows the open unit's versions.
    EXPECT_TRUE(UnitIsOpen());
    EXPECT_TRUE(UpdateEnabled());
    EXPECT_EQ(Pane(), HintText(IDS_INCOMPATIBLE_CONTROLLER));
    EXPECT_EQ(Utf8(g_ui.texts[IDC_ROW3_VALUE]), "3.4");
}

// A unit that is there but cannot be taken: the no-unit text and the
// instructions as ever, then one paragraph that says why, at start and on its
// arrival alike, in the pane's language.
TEST_F(DetectionTest, AUnitSeenButRefusedIsExplainedAfterTheInstructions) {
    struct Case {
        const char* name;
        bool denied; // else held by another copy
        bool onArrival;
        uint16_t language;
    };
    const Case cases[] = {
        {"denied at start", true, false, RES_LANG_ENGLISH},
        {"denied on arrival", true, true, RES_LANG_GERMAN},
        {"held at start", false, false, RES_LANG_GERMAN},
        {"held on arrival", false, true, RES_LANG_ENGLISH},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        g_ui.language = c.language;
        SimAddInterface(OtherHidDevice());
        if (c.onArrival) {
            DetectUnit();
            ClearLogs();
        }
        const int unit =
            SimAddInterface(UnitWith([](SimInterface& u) { u.path = u"/dev/hidraw4"; }));
        SimGetInterface(unit).accessDenied = c.denied;
        SimGetInterface(unit).claimedElsewhere = !c.denied;
        if (c.onArrival) {
            EXPECT_EQ(Arrive(), 1);
        } else {
            DetectUnit();
        }
        std::u16string paragraph =
            TableText(c.denied ? IDS_NODE_ACCESS_DENIED : IDS_UNIT_HELD_ELSEWHERE);
        if (c.denied) {
            paragraph.replace(paragraph.find(u"%s"), 2, u"/dev/hidraw4");
        }
        EXPECT_EQ(Pane(), HintText(IDS_NO_UNIT) + u"\r\n\r\n" + paragraph);
        EXPECT_FALSE(UpdateEnabled());
        EXPECT_FALSE(UnitIsOpen());
        EXPECT_EQ(SimOpenHandleCount(), 0);
        EXPECT_TRUE(CommandsSent().empty());
        EXPECT_EQ(CountUiCalls(UiCall::MessageBox), 0u);
        TearDown();
    }
}

// Once the refused unit is let go (the other copy closed, the rule applied) its
// next arrival, or any other, finds it ready; its removal takes the paragraph
// away; removals of anything else change nothing.
TEST_F(DetectionTest, ARefusedUnitIsTakenOnceFreeAndItsRemovalEndsTheExplanation) {
    const int unit = SimAddInterface(UnitWith([](SimInterface& u) { u.path = u"/dev/hidraw4"; }));
    SimGetInterface(unit).claimedElsewhere = true;
    DetectUnit();
    const std::u16string explained = Pane();
    ASSERT_NE(explained, HintText(IDS_NO_UNIT));

    ClearLogs();
    EXPECT_EQ(Remove(u"/dev/hidraw9"), 1);
    EXPECT_EQ(Pane(), explained);
    EXPECT_EQ(g_ui.log.size(), 0u);
    SimUnplug(unit);
    EXPECT_EQ(Remove(u"/DEV/HIDRAW4"), 1);
    EXPECT_EQ(Pane(), HintText(IDS_NO_UNIT));
    EXPECT_FALSE(UpdateEnabled());
    // Said once: a second removal notice changes nothing.
    ClearLogs();
    EXPECT_EQ(Remove(u"/dev/hidraw4"), 1);
    EXPECT_EQ(g_ui.log.size(), 0u);

    SimGetInterface(unit).claimedElsewhere = false;
    SimReplug(unit);
    EXPECT_EQ(Arrive(), 1);
    EXPECT_TRUE(UnitIsOpen());
    EXPECT_EQ(Pane(), TableText(IDS_READY));
}

TEST_F(DetectionTest, ReadyUnitShowsItsVersions) {
    StartWithUnit();
    EXPECT_EQ(Utf8(g_ui.texts[IDC_ROW1_CAPTION]), "LINK-CUBE");
    EXPECT_EQ(Utf8(g_ui.texts[IDC_ROW1_VALUE]), "2.3");
    EXPECT_EQ(Utf8(g_ui.texts[IDC_ROW2_VALUE]), "1.2");
    EXPECT_EQ(Utf8(g_ui.texts[IDC_ROW3_VALUE]), "3.4");
}

} // namespace
