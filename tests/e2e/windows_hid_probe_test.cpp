// Runs under Wine as emulated_unit's child (see run_windows_hid_probe.sh): the
// Windows HID layer (SetupAPI, hid.dll) finds the emulated unit through Wine's
// own HID stack, and a whole update on virtual time goes over it. The flash is
// checked afterwards by the runner through the emulator's control FIFOs.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <thread>
#include <windows.h>

#include "app/detection.h"
#include "device/command_reports.h"
#include "device/hid/hid_port.h"
#include "device/little_endian.h"
#include "device/unit_connection.h"
#include "res/resource_data.h"
#include "res/firmware_image.h"
#include "res/resource_ids.h"
#include "tests/support/recording_ui.h"
#include "tests/support/virtual_clock.h"
#include "update/update_procedure.h"

namespace {

// Wine's device host may still be announcing the unit when the probe starts.
int32_t OpenUnitOnceAnnounced() {
    int32_t result = OpenUnit();
    for (int tries = 0; result == OPEN_NO_UNIT && tries < 100; ++tries) {
        Sleep(100);
        result = OpenUnit();
    }
    return result;
}

const wchar_t* const EXPECTED_OPEN_VARIABLE = L"VESPRA_PROBE_EXPECTED_OPEN";

// Runs OpenUnit in a process of its own, as another copy of the program would;
// true when it returned `expected` there.
bool AnotherCopyOpens(int32_t expected) {
    wchar_t program[MAX_PATH];
    if (GetModuleFileNameW(nullptr, program, MAX_PATH) == 0) {
        return false;
    }
    std::wstring command =
        L"\"" + std::wstring(program) + L"\" --gtest_filter=WineHidStack.OpenUnitAsAnotherCopy";
    SetEnvironmentVariableW(EXPECTED_OPEN_VARIABLE, std::to_wstring(expected).c_str());
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    const BOOL started = CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                        nullptr, &startup, &process);
    SetEnvironmentVariableW(EXPECTED_OPEN_VARIABLE, nullptr);
    if (!started) {
        return false;
    }
    DWORD code = 1;
    if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process.hProcess, &code)) {
        TerminateProcess(process.hProcess, 1);
        code = 1;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code == 0;
}

class WineHidStack : public ::testing::Test {
  protected:
    void SetUp() override {
        RecordingUiReset();
        VirtualClockReset();
        ResetUnitConnection();
    }
    void TearDown() override { CloseUnit(); }
};

TEST_F(WineHidStack, FindsAndIdentifiesTheEmulatedUnit) {
    ASSERT_EQ(0, OpenUnitOnceAnnounced());
    std::u16string path(g_unit.devicePath);
    for (char16_t& c : path) {
        c = c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c;
    }
    EXPECT_NE(std::u16string::npos, path.find(u"vid_3a5d&pid_0002"));
    EXPECT_EQ(UNIT_PRODUCT_LINK_CUBE, g_unit.productId);
    EXPECT_EQ(60u, g_unit.inputReportLength);
    EXPECT_EQ(60u, g_unit.outputReportLength);
    EXPECT_EQ(3, g_unit.controllerStatus);
    EXPECT_EQ(0x0302, ControllerFirmwareVersion()); // --unit firmware=0x0302
}

TEST_F(WineHidStack, WholeUpdateGoesThroughHidDll) {
    ASSERT_EQ(0, OpenUnitOnceAnnounced());
    UpdateProcedure();
    EXPECT_EQ(TableText(IDS_UPDATE_SUCCESSFUL), g_ui.texts[IDC_STATUS_PANE]);
    EXPECT_EQ(FIRMWARE_IMAGE_VERSION, ControllerFirmwareVersion());
}

// Wine's HID stack does not flush the input queue; a reply that nobody read must
// still not be taken for the next exchange's.
TEST_F(WineHidStack, AReplyLeftInTheQueueIsNotReadAsTheNextOne) {
    ASSERT_EQ(0, OpenUnitOnceAnnounced());
    uint8_t request[REPORT_BUFFER_BYTES] = {COMMAND_REPORT_ID, CMD_GET_UNIT_INFO};
    ASSERT_EQ(0, HidWriteReport(g_unit.deviceHandle, request, g_unit.outputReportLength));
    Sleep(300); // the unit's reply reaches the queue and stays there

    uint8_t reply[REPORT_BUFFER_BYTES] = {};
    bool dataTaken = false;
    ASSERT_EQ(0, ExchangeGetControllerInfo(reply, &dataTaken));
    EXPECT_TRUE(dataTaken);
    EXPECT_EQ(SUPPORTED_CONTROLLER_TYPES[0], GetLe32(reply + 4))
        << "the unit information reply was read instead";
}

// A read that waits longer than a moment is cancelled and started again on the
// way (Wine's class driver can leave a queued report beside a waiting read);
// through the stack's own cancellation, the reply still reaches the read once.
TEST_F(WineHidStack, AReplyReachesAReadThatWasStartedAgainOnTheWay) {
    ASSERT_EQ(0, OpenUnitOnceAnnounced());
    uint8_t reply[REPORT_BUFFER_BYTES] = {};
    int readResult = -1;
    std::thread reader([&readResult, &reply] {
        readResult = HidReadReport(g_unit.deviceHandle, reply, g_unit.inputReportLength, 3000);
    });
    Sleep(180); // the read has been started again a few times

    uint8_t request[REPORT_BUFFER_BYTES] = {COMMAND_REPORT_ID, CMD_GET_UNIT_INFO};
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HANDLE device = reinterpret_cast<HANDLE>(g_unit.deviceHandle);
    DWORD written = 0;
    const bool sent = WriteFile(device, request, g_unit.outputReportLength, nullptr, &overlapped) ||
                      GetLastError() == ERROR_IO_PENDING;
    EXPECT_TRUE(sent && GetOverlappedResult(device, &overlapped, &written, TRUE));
    CloseHandle(overlapped.hEvent);
    reader.join();
    EXPECT_EQ(0, readResult);
    EXPECT_EQ(REPLY_REPORT_ID, reply[0]);
    EXPECT_EQ(CMD_GET_UNIT_INFO, reply[1]);

    uint8_t nothing[REPORT_BUFFER_BYTES] = {};
    EXPECT_NE(0, HidReadReport(g_unit.deviceHandle, nothing, g_unit.inputReportLength, 300))
        << "the reply was read twice";
}

// Every handle of the unit receives every reply: a second copy of the program,
// started while the first has the unit, must not talk to it, through Wine's
// stack as through any other.
TEST_F(WineHidStack, AnotherCopyFindsNoUnitWhileOneHasItOpen) {
    ASSERT_EQ(0, OpenUnitOnceAnnounced());
    EXPECT_TRUE(AnotherCopyOpens(OPEN_NO_UNIT));
    CloseUnit();
    EXPECT_TRUE(AnotherCopyOpens(0));
}

// The other copy of the test above; skipped when run on its own. Refused, it
// says why in its pane, after the no-unit text and the instructions.
TEST_F(WineHidStack, OpenUnitAsAnotherCopy) {
    wchar_t expected[16];
    if (GetEnvironmentVariableW(EXPECTED_OPEN_VARIABLE, expected, 16) == 0) {
        GTEST_SKIP() << "run by AnotherCopyFindsNoUnitWhileOneHasItOpen";
    }
    const int32_t result = std::wcstol(expected, nullptr, 10);
    EXPECT_EQ(result, OpenUnit());
    if (result == OPEN_NO_UNIT) {
        EXPECT_EQ(UnitRefusal::HeldByAnotherCopy, RefusedUnit(nullptr));
        DetectUnit();
        EXPECT_EQ(TableText(IDS_NO_UNIT) + u"\r\n\r\n" + TableText(IDS_INSTRUCTIONS) + u"\r\n\r\n" +
                      TableText(IDS_UNIT_HELD_ELSEWHERE),
                  g_ui.texts[IDC_STATUS_PANE]);
    }
}

} // namespace
