// Every exchange of a detection and of a whole update, failed in each way the link
// to the unit can fail. For each exchange and fault the program's flow runs on the
// simulated unit and must end in the one outcome that failure calls for, with
// nothing sent after the failing exchange and no pause taken that does not belong
// there. Then the user plugs the unit in again, and a fresh detection and update
// must leave the controller holding exactly the image: no failure may strand it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "app/detection.h"
#include "device/command_reports.h"
#include "device/unit_connection.h"
#include "res/resource_data.h"
#include "res/resource_ids.h"
#include "tests/behaviour/behaviour_fixture.h"
#include "tests/behaviour/update_test_support.h"
#include "tests/support/virtual_clock.h"
#include "update/update_procedure.h"

namespace {

// The unit's error code has a low word (what the short-code rule reads) other than
// the whole word (what the standard rule reads, negative here). The last error is
// one that nothing else in the program or the simulated port ever sets.
constexpr uint32_t UNIT_ERROR_CODE = 0x8001002A;
constexpr uint32_t FAULT_LAST_ERROR = 0x1F0D;

const SimFault FAULT_KINDS[] = {SimFault::WriteFails,  SimFault::ReadFails, SimFault::NoAnswer,
                                SimFault::ErrorReply,  SimFault::Unplugged, SimFault::LateReply,
                                SimFault::DoubleReply, SimFault::ShortReply};

// Identification's exchanges: unit, firmware and controller information.
constexpr uint32_t DETECTION_EXCHANGES = 3;

const char* KindName(SimFault kind) {
    switch (kind) {
    case SimFault::WriteFails:
        return "WriteFails";
    case SimFault::ReadFails:
        return "ReadFails";
    case SimFault::NoAnswer:
        return "NoAnswer";
    case SimFault::ErrorReply:
        return "ErrorReply";
    case SimFault::Unplugged:
        return "Unplugged";
    case SimFault::LateReply:
        return "LateReply";
    case SimFault::DoubleReply:
        return "DoubleReply";
    case SimFault::ShortReply:
        return "ShortReply";
    default:
        return "?";
    }
}

enum class Step {
    UnitInfo,
    FirmwareInfo,
    ControllerInfo,
    Lock,
    Unprotect,
    Erase,
    Address,
    Block,
    ProtectSet,
    LockReset
};

const char* StepName(Step step) {
    static const char* const names[] = {"unit info", "firmware info", "controller info", "lock",
                                        "unprotect", "erase",         "address",         "block",
                                        "protect",   "lock reset"};
    return names[int(step)];
}

// The step a request belongs to, from its command code and parameter byte.
Step StepOf(const std::vector<uint8_t>& request) {
    switch (request[1]) {
    case CMD_GET_UNIT_INFO:
        return Step::UnitInfo;
    case CMD_READ_FIRMWARE_INFO:
        return Step::FirmwareInfo;
    case CMD_GET_CONTROLLER_INFO:
        return Step::ControllerInfo;
    case CMD_SYSTEM_LOCK:
        return request[3] == 1 ? Step::Lock : Step::LockReset;
    case CMD_WRITE_PROTECT:
        return request[3] == 0 ? Step::Unprotect : Step::ProtectSet;
    case CMD_ERASE_FIRMWARE:
        return Step::Erase;
    case CMD_SET_WRITE_ADDRESS:
        return Step::Address;
    default:
        return Step::Block;
    }
}

// The clean flow, recorded once: every request and, per exchange, which request
// of its command it is (1-based), how many pauses came before its request and the
// time-out its read was given.
struct Baseline {
    std::vector<std::vector<uint8_t>> requests;
    std::vector<uint32_t> occurrences;
    std::vector<uint32_t> pausesBefore;
    std::vector<uint32_t> pauses;
    std::vector<uint32_t> readTimeouts;
};

enum class End {
    Hint,         // a detection outcome other than Ready: headline and instructions
    Unchanged,    // an arrival whose identification failed: the screen stays
    Failure,      // the update's failure report
    Success,      // the update's success (the closing steps cannot fail it)
    Ready,        // a detection on arrival that finds the unit ready
    Incompatible, // the incompatible-controller box, then its headline and instructions
};

struct Expected {
    End end;
    uint16_t message; // headline or failure message
    int32_t firstCode;
    uint32_t secondCode;
    bool lastRequestArrives; // the failing exchange's request reached the unit
};

bool RequestArrives(SimFault kind) {
    return kind != SimFault::WriteFails && kind != SimFault::Unplugged;
}

// The read waits out its time-out: nothing comes in time.
bool TimesOut(SimFault kind) {
    return kind == SimFault::NoAnswer || kind == SimFault::LateReply;
}

int32_t StepCode(SimFault kind) {
    switch (kind) {
    case SimFault::WriteFails:
    case SimFault::Unplugged:
        return EXCHANGE_WRITE_FAILED;
    case SimFault::ReadFails:
    case SimFault::NoAnswer:
    case SimFault::LateReply:
        return EXCHANGE_READ_FAILED;
    default:
        return int32_t(UNIT_ERROR_CODE);
    }
}

uint32_t LastErrorAfter(SimFault kind) {
    switch (kind) {
    case SimFault::Unplugged:
        return SIM_LAST_ERROR_NOT_CONNECTED;
    case SimFault::ErrorReply:
        return 0; // an error reply is a successful read, which leaves the last error 0
    default:
        return FAULT_LAST_ERROR;
    }
}

// A short reply is a successful read; the bytes it leaves out are the zeros the
// exchange cleared the reply buffer to, and the reply is judged as it then reads.
Expected ShortReplyOutcome(Step step, bool onArrival) {
    const Expected clean{onArrival ? End::Ready : End::Success, IDS_UPDATE_SUCCESSFUL, 0, 0, true};
    switch (step) {
    case Step::UnitInfo:
        // Mode 0 stays, the controller status reads 0: no updatable controller.
        return {End::Hint, IDS_NO_UPDATABLE_CONTROLLER, 0, 0, true};
    case Step::ControllerInfo:
        // The data block is taken, and a controller type of 0 is no supported one.
        return {End::Incompatible, IDS_INCOMPATIBLE_CONTROLLER, 0, 0, true};
    default:
        // The firmware information is taken as zeros, which detection does not
        // judge. The update's steps judge bytes 1 and 3 only, both there, or a
        // code in bytes 4 to 7, which counts only after an error mark.
        return clean;
    }
}

// The failure tables, as the user must meet them.
Expected ExpectedOutcome(Step step, SimFault kind, bool onArrival) {
    const bool arrives = RequestArrives(kind);
    if (kind == SimFault::DoubleReply) {
        // The second copy is dropped before the next request: as if nothing failed.
        return {onArrival ? End::Ready : End::Success, IDS_UPDATE_SUCCESSFUL, 0, 0, true};
    }
    if (kind == SimFault::ShortReply) {
        return ShortReplyOutcome(step, onArrival);
    }
    Expected e{End::Failure, 0, StepCode(kind), LastErrorAfter(kind), arrives};
    switch (step) {
    case Step::UnitInfo:
        // The reply is taken as data: an error reply reads as mode 0 with
        // controller status 0x002A, a unit without an updatable controller.
        if (kind == SimFault::ErrorReply) {
            return {End::Hint, IDS_NO_UPDATABLE_CONTROLLER, 0, 0, arrives};
        }
        [[fallthrough]];
    case Step::FirmwareInfo:
    case Step::ControllerInfo:
        return {onArrival ? End::Unchanged : End::Hint, IDS_NO_UNIT, 0, 0, arrives};
    case Step::Lock:
        // Only the lock's state byte counts, and an error reply carries state 0.
        e.message = IDS_LOCK_NOT_SET;
        if (kind == SimFault::ErrorReply) {
            e.firstCode = STEP_NOT_CONFIRMED;
        }
        return e;
    case Step::Unprotect:
        e.message = IDS_FLASH_NOT_WRITABLE;
        return e;
    case Step::Erase:
        e.message = IDS_ERASE_FAILED;
        return e;
    case Step::Address:
        e.message = IDS_ADDRESS_NOT_SET;
        return e;
    case Step::Block:
        e.message = IDS_BLOCK_WRITE_FAILED;
        return e;
    case Step::ProtectSet:
    case Step::LockReset:
        return {End::Success, IDS_UPDATE_SUCCESSFUL, 0, 0, arrives};
    }
    return e;
}

// The pauses of a run that fails at exchange `point`: the clean flow's up to that
// request, the erase's reply delay when its request arrived, the time-out of a
// read that gets no reply in time (the one that exchange's read is given), and
// the erase's settle pause whatever happened. A run that succeeds pauses as the
// clean flow does, plus the time-out of a closing step that got no reply.
std::vector<uint32_t> ExpectedPauses(const Baseline& clean, uint32_t point, Step step,
                                     SimFault kind, End end) {
    std::vector<uint32_t> pauses = clean.pauses;
    if (end == End::Ready) {
        pauses.resize(clean.pausesBefore[DETECTION_EXCHANGES]);
        return pauses;
    }
    if (end == End::Success) {
        if (TimesOut(kind)) {
            pauses.push_back(clean.readTimeouts[point]);
        }
        return pauses;
    }
    pauses.resize(clean.pausesBefore[point]);
    if (step == Step::Erase && RequestArrives(kind)) {
        pauses.push_back(ERASE_REPLY_DELAY_MS);
    }
    if (TimesOut(kind)) {
        pauses.push_back(clean.readTimeouts[point]);
    }
    if (step == Step::Erase) {
        pauses.push_back(ERASE_SETTLE_MS);
    }
    return pauses;
}

// FAULT_SWEEP_BLOCK_STRIDE=n fails only every n-th block (and the last) of the
// transfer, every other exchange still; for the slower sanitizer and Wine runs.
uint32_t BlockStride() {
    const char* text = std::getenv("FAULT_SWEEP_BLOCK_STRIDE");
    const long stride = text != nullptr ? std::strtol(text, nullptr, 10) : 1;
    return stride > 1 ? uint32_t(stride) : 1;
}

struct Totals {
    uint32_t stride = 1;
    uint32_t points = 0;
    uint32_t runs = 0;
    uint32_t outcomesMatched = 0;
    uint32_t recovered = 0;
};
Totals g_totals;

// Printed once all kinds have run.
class SweepReport : public ::testing::Environment {
  public:
    void TearDown() override {
        std::printf("fault sweep: %u exchange points", g_totals.points);
        if (g_totals.stride > 1) {
            std::printf(" (one block in %u)", g_totals.stride);
        }
        std::printf(", %zu fault kinds, %u faults, %u outcomes as expected, %u recovered\n",
                    std::size(FAULT_KINDS), g_totals.runs, g_totals.outcomesMatched,
                    g_totals.recovered);
    }
};
::testing::Environment* const g_report = ::testing::AddGlobalTestEnvironment(new SweepReport);

class FaultSweep : public BehaviourTest, public ::testing::WithParamInterface<SimFault> {
  protected:
    static void SetUpTestSuite() {
        s_unit = SimReadyUnit();
        // An old program in the flash, not erased-looking, so that a block written
        // without an erase before it shows.
        s_unit.controller.flash.assign(SIM_FLASH_BYTES, 0x5A);
        s_image.assign(ResFirmwareImageData(), ResFirmwareImageData() + ResFirmwareImageSize());
    }

    // A fresh world with the unit plugged in.
    int Restart() {
        CloseUnit();
        BehaviourTest::SetUp();
        return SimAddInterface(s_unit);
    }

    // The clean flow: start-up detection, then Update.
    static void RunFlow() {
        DetectUnit();
        if (UpdateEnabled()) {
            UpdateProcedure();
        }
    }

    const Baseline& Clean() {
        if (s_clean.requests.empty()) {
            Restart();
            g_ui.onSleep = [](uint32_t) {};
            VirtualClockSetObserver([](uint32_t) {
                const uint32_t exchanges = SimExchangeCount();
                const uint32_t pauses = uint32_t(VirtualPauses().size());
                while (s_clean.pausesBefore.size() < exchanges) {
                    s_clean.pausesBefore.push_back(pauses - 1);
                }
            });
            RunFlow();
            s_clean.requests = SimSentRequests();
            uint32_t seen[256] = {};
            for (const std::vector<uint8_t>& request : s_clean.requests) {
                s_clean.occurrences.push_back(++seen[request[1]]);
            }
            s_clean.pauses = VirtualPauses();
            for (const SimWireRecord& record : SimWireLog()) {
                if (record.isWrite) {
                    s_clean.readTimeouts.push_back(0);
                } else if (!s_clean.readTimeouts.empty()) {
                    s_clean.readTimeouts.back() = record.timeoutMs;
                }
            }
            while (s_clean.pausesBefore.size() < s_clean.requests.size()) {
                s_clean.pausesBefore.push_back(uint32_t(s_clean.pauses.size()));
            }
            RecordingUiReset();
        }
        return s_clean;
    }

    static bool FlashHoldsTheImage(int unit) {
        const std::vector<uint8_t>& flash = SimGetInterface(unit).controller.flash;
        return flash.size() >= s_image.size() &&
               std::equal(s_image.begin(), s_image.end(), flash.begin()) &&
               std::all_of(flash.begin() + s_image.size(), flash.end(),
                           [](uint8_t b) { return b == 0xFF; });
    }

    // What differs from the expected outcome; empty when nothing does.
    static std::string CheckOutcome(const Expected& e, const std::u16string& paneBefore, int unit) {
        std::string why;
        const auto check = [&why](bool ok, const char* what) {
            if (!ok && why.empty()) {
                why = what;
            }
        };
        const std::vector<const UiRecord*> boxes = Boxes();
        switch (e.end) {
        case End::Hint:
        case End::Unchanged:
            check(boxes.empty(), "a message box was shown");
            check(Pane() == (e.end == End::Hint ? HintText(e.message) : paneBefore), "pane text");
            check(e.end == End::Hint || CountUiCalls(UiCall::SetText) == 0,
                  "the screen changed on arrival");
            check(PanelIsEmpty(), "version panel not empty");
            break;
        case End::Failure:
            check(boxes.size() == 2, "not exactly the confirmation and the failure box");
            if (!boxes.empty()) {
                const UiRecord& box = *boxes.back();
                check(box.first == UI_MB_ICONERROR, "failure box style");
                check(box.caption == TableText(IDS_UPDATE_FAILED_CAPTION), "failure box caption");
                check(box.text == FailureText(e.message, e.firstCode != -1, uint32_t(e.firstCode),
                                              e.secondCode),
                      "failure box text (message or codes)");
            }
            check(Pane() == TableText(IDS_TRY_AGAIN), "pane text");
            check(PanelIsEmpty(), "version panel not empty");
            check(!g_ui.progressAlive, "progress window left open");
            break;
        case End::Success:
            check(boxes.size() == 1, "a box beside the confirmation");
            check(Pane() == TableText(IDS_UPDATE_SUCCESSFUL), "pane text");
            check(g_ui.texts[IDC_ROW3_VALUE] == u"3.5", "controller version not 3.5");
            check(FlashHoldsTheImage(unit), "flash does not hold the image");
            break;
        case End::Ready:
            check(boxes.empty(), "a message box was shown");
            check(Pane() == TableText(IDS_READY), "pane text");
            break;
        case End::Incompatible:
            check(boxes.size() == 1 && boxes[0]->caption == TableText(IDS_INCOMPATIBLE_CAPTION),
                  "not exactly the incompatible-controller box");
            check(Pane() == HintText(e.message), "pane text");
            check(PanelIsEmpty(), "version panel not empty");
            break;
        }
        const bool open = e.end == End::Success || e.end == End::Ready;
        check(UpdateEnabled() == (e.end == End::Ready), "Update enabled or disabled wrongly");
        check(UnitIsOpen() == open, "unit open or closed wrongly");
        check(SimOpenHandleCount() == (open ? 1 : 0), "handles left open");
        check(SimInterfaceSetCount() == 0, "interface set not destroyed");
        return why;
    }

    // Every request attempt up to the failing one, each exactly the clean flow's,
    // and nothing on the wire after the failing exchange's reply. On success the
    // closing steps run to the end regardless.
    static std::string CheckWire(const Baseline& clean, uint32_t first, uint32_t point,
                                 const Expected& e) {
        const std::vector<SimWireRecord>& log = SimWireLog();
        uint32_t attempts = 0;
        size_t lastWrite = 0;
        for (size_t i = 0; i < log.size(); ++i) {
            if (!log[i].isWrite) {
                continue;
            }
            const uint32_t exchange = first + attempts++;
            lastWrite = i;
            if (exchange >= clean.requests.size() ||
                (!log[i].failed && log[i].bytes != clean.requests[exchange])) {
                return "a request that the clean flow does not send";
            }
            if (log[i].failed && exchange < point) {
                return "a request before the fault failed";
            }
            if (exchange == point && log[i].failed == e.lastRequestArrives) {
                return "the failing request arrived or not against the fault";
            }
        }
        const bool runsOn = e.end == End::Success || e.end == End::Ready;
        const uint32_t expectedAttempts = e.end == End::Success
                                              ? uint32_t(clean.requests.size()) - first
                                          : e.end == End::Ready ? DETECTION_EXCHANGES - first
                                                                : point - first + 1;
        if (attempts != expectedAttempts) {
            return "requests after the failing exchange";
        }
        if (!runsOn && log.size() - lastWrite > 2) {
            return "more than one read for the failing exchange";
        }
        return "";
    }

    // The user plugs the unit in again: the arrival finds it ready, and Update
    // writes the image.
    static std::string Recover(int unit) {
        if (SimIsPlugged(unit)) {
            SimUnplug(unit);
        }
        Remove(SimGetInterface(unit).path);
        if (UnitIsOpen()) {
            return "unit still open after its removal";
        }
        SimReplug(unit);
        g_ui.answers.clear();
        Arrive();
        if (!UnitIsOpen() || !UpdateEnabled() || Pane() != TableText(IDS_READY)) {
            return "not ready after plugging in again";
        }
        UpdateProcedure();
        if (Pane() != TableText(IDS_UPDATE_SUCCESSFUL) || !FlashHoldsTheImage(unit)) {
            return "the update after plugging in again did not restore the image";
        }
        return "";
    }

    // Checks one faulted run against the failure tables, the wire and the pauses,
    // then plugs the unit in again and checks that a new update restores it.
    void Conclude(const Baseline& clean, SimFault kind, uint32_t point, Step step,
                  const Expected& expected, const std::u16string& paneBefore, int unit,
                  bool onArrival) {
        std::string why = CheckOutcome(expected, paneBefore, unit);
        if (why.empty()) {
            why = CheckWire(clean, 0, point, expected);
        }
        if (why.empty() &&
            VirtualPauses() != ExpectedPauses(clean, point, step, kind, expected.end)) {
            why = "pauses";
        }
        g_totals.outcomesMatched += why.empty() ? 1 : 0;
        if (why.empty()) {
            why = Recover(unit);
            g_totals.recovered += why.empty() ? 1 : 0;
        }
        if (!why.empty()) {
            Report(kind, point, step, onArrival, why);
        }
        ++g_totals.runs;
    }

    void Report(SimFault kind, uint32_t point, Step step, bool onArrival, const std::string& why) {
        if (++m_reported <= MAX_REPORTED) {
            const uint8_t command = s_clean.requests[point][1];
            ADD_FAILURE() << why << ": SimArmFault(" << SimCommandName(command) << ", "
                          << s_clean.occurrences[point] << ", SimFault::" << KindName(kind)
                          << ") at the " << StepName(step) << " exchange (number " << point
                          << ") of "
                          << (onArrival ? "the detection on arrival"
                                        : "the start-up detection and update");
        }
    }

    // Arms the fault for the request the clean flow sends as exchange `point`.
    static void ArmAt(int unit, const Baseline& clean, uint32_t point, SimFault kind) {
        SimArmFault(unit, clean.requests[point][1], clean.occurrences[point], kind, UNIT_ERROR_CODE,
                    FAULT_LAST_ERROR);
    }

    static constexpr int MAX_REPORTED = 10;
    int m_reported = 0;
    static SimInterface s_unit;
    static std::vector<uint8_t> s_image;
    static Baseline s_clean;
};

SimInterface FaultSweep::s_unit;
std::vector<uint8_t> FaultSweep::s_image;
Baseline FaultSweep::s_clean;

TEST_P(FaultSweep, EveryExchangeFailsCleanlyAndTheUnitRecovers) {
    const SimFault kind = GetParam();
    const Baseline& clean = Clean();
    // Start-up detection with three exchanges, then the whole update.
    ASSERT_EQ(clean.requests.size(), DETECTION_EXCHANGES + 4u + 2037u + 2u);
    ASSERT_EQ(clean.readTimeouts.size(), clean.requests.size());
    ASSERT_EQ(clean.occurrences.size(), clean.requests.size());
    ASSERT_EQ(clean.pauses.size(), 6u + 2037u);

    // The start-up road: a fault at every exchange of detection and update.
    const uint32_t stride = BlockStride();
    const uint32_t lastPoint = uint32_t(clean.requests.size()) - 1;
    uint32_t points = 0;
    uint32_t block = 0;
    for (uint32_t point = 0; point <= lastPoint; ++point) {
        const Step step = StepOf(clean.requests[point]);
        if (step == Step::Block && block++ % stride != 0 &&
            StepOf(clean.requests[point + 1]) == Step::Block) {
            continue;
        }
        ++points;
        const int unit = Restart();
        const Expected expected = ExpectedOutcome(step, kind, false);
        ArmAt(unit, clean, point, kind);

        RunFlow();

        Conclude(clean, kind, point, step, expected, u"", unit, false);
    }

    // The arrival road: the unit is plugged in while the dialog shows no unit.
    for (uint32_t point = 0; point < DETECTION_EXCHANGES; ++point) {
        const int unit = Restart();
        SimUnplug(unit);
        DetectUnit();
        SimReplug(unit);
        const std::u16string paneBefore = Pane();
        ClearLogs();
        const Step step = StepOf(clean.requests[point]);
        const Expected expected = ExpectedOutcome(step, kind, true);
        ArmAt(unit, clean, point, kind);

        Arrive();

        Conclude(clean, kind, point, step, expected, paneBefore, unit, true);
    }

    g_totals.stride = stride;
    g_totals.points = points + DETECTION_EXCHANGES;
    EXPECT_EQ(m_reported, 0) << "runs that did not end as expected or did not recover";
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultSweep, ::testing::ValuesIn(FAULT_KINDS),
                         [](const auto& info) { return std::string(KindName(info.param)); });

} // namespace
