// The Windows platform layer under Wine: pauses that keep windows painted but let
// nothing else through and set the progress bar's position, the update guard,
// report I/O that is whole and gives up in time, and the reading of device
// broadcasts.
#include <windows.h>
#include <commctrl.h>
#include <dbt.h>

#include <shobjidl.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/windows/device_broadcast.h"
#include "app/windows/taskbar_windows.h"
#include "device/hid/hid_port.h"
#include "device/hid/clock_port.h"
#include "update/taskbar_port.h"
#include "update/ui_port.h"
#include "update/update_guard_port.h"

// What the UI port reads of the program: no module of resources and no main
// dialog here, so a progress window has no owner.
HINSTANCE g_moduleInstance = nullptr;
UiWindow g_mainDialog = 0;

namespace {

// ---------------------------------------------------------------------------
// Pauses

struct WindowLog {
    int paints = 0;
    int keys = 0;
    int clicks = 0;
    int userMessages = 0;
    int sentMessages = 0;
};
WindowLog g_log;

constexpr UINT SENT_FROM_OTHER_THREAD = WM_APP + 1;

LRESULT CALLBACK LoggingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        ++g_log.paints;
        return 0;
    }
    case WM_KEYDOWN:
    case WM_CHAR:
        ++g_log.keys;
        return 0;
    case WM_LBUTTONDOWN:
    case WM_NCLBUTTONDOWN:
        ++g_log.clicks;
        return 0;
    case WM_USER:
        ++g_log.userMessages;
        return 0;
    case SENT_FROM_OTHER_THREAD:
        ++g_log.sentMessages;
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

class PauseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_log = WindowLog{};
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = LoggingWindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"PauseTestWindow";
        RegisterClassW(&windowClass);
        window_ =
            CreateWindowExW(0, L"PauseTestWindow", L"pause", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10,
                            10, 200, 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        if (window_ == nullptr) {
            GTEST_SKIP() << "no display for windows";
        }
        DrainQueue();
        g_log = WindowLog{};
    }
    void TearDown() override {
        if (window_ != nullptr) {
            DestroyWindow(window_);
        }
    }
    void DrainQueue() {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
    }
    HWND window_ = nullptr;
};

TEST_F(PauseTest, RepaintsButHoldsBackInputPostedAndSentMessages) {
    InvalidateRect(window_, nullptr, TRUE);
    PostMessageW(window_, WM_KEYDOWN, 'A', 0);
    PostMessageW(window_, WM_USER, 0, 0);
    // A message sent from another thread, as device notifications are, must wait
    // for the message loop too.
    std::thread sender([this] { SendMessageW(window_, SENT_FROM_OTHER_THREAD, 0, 0); });
    Sleep(50); // let the sender block on this thread

    PlatformSleep(100);
    EXPECT_GE(g_log.paints, 1);
    EXPECT_EQ(g_log.keys, 0);
    EXPECT_EQ(g_log.userMessages, 0);
    EXPECT_EQ(g_log.sentMessages, 0);

    DrainQueue();
    sender.join();
    EXPECT_EQ(g_log.keys, 1);
    EXPECT_EQ(g_log.userMessages, 1);
    EXPECT_EQ(g_log.sentMessages, 1);
}

// The update guard keeps the system from sleeping while it is held, and no longer
// after its release. Input posted meanwhile is dropped when the message loop reads
// it, input given after the release is not, and other posted and sent messages
// wait for the loop; the release itself handles none. Wine refuses the shutdown
// reason (and has no way to ask for it); that fails nothing.
TEST_F(PauseTest, UpdateGuardKeepsTheSystemAwakeAndDropsTheInputGivenMeanwhile) {
    const char16_t reason[] = u"Firmware update of the ESC in progress";
    g_mainDialog = reinterpret_cast<UiWindow>(window_);
    SetThreadExecutionState(ES_CONTINUOUS);

    UpdateGuardTake(reason);
    EXPECT_EQ(SetThreadExecutionState(ES_CONTINUOUS), ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    UpdateGuardRelease();

    UpdateGuardTake(reason);
    PostMessageW(window_, WM_KEYDOWN, VK_RETURN, 0);
    PostMessageW(window_, WM_CHAR, VK_ESCAPE, 0);
    PostMessageW(window_, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    PostMessageW(window_, WM_NCLBUTTONDOWN, HTNOWHERE, 0);
    PostMessageW(window_, WM_USER, 0, 0);
    std::thread sender([this] { SendMessageW(window_, SENT_FROM_OTHER_THREAD, 0, 0); });
    Sleep(50);
    UpdateGuardRelease();
    EXPECT_EQ(g_log.sentMessages, 0);
    EXPECT_EQ(SetThreadExecutionState(ES_CONTINUOUS), ES_CONTINUOUS);
    UpdateGuardRelease(); // nothing held: nothing happens

    Sleep(50);
    PostMessageW(window_, WM_KEYDOWN, 'B', 0); // given after the update: delivered

    DrainQueue();
    sender.join();
    EXPECT_EQ(g_log.keys, 1);
    EXPECT_EQ(g_log.clicks, 0);
    EXPECT_EQ(g_log.userMessages, 1);
    EXPECT_EQ(g_log.sentMessages, 1);
    g_mainDialog = 0;
}

TEST_F(PauseTest, PaintsWhatIsUncoveredWhileItWaits) {
    std::thread invalidator([this] {
        Sleep(100);
        InvalidateRect(window_, nullptr, TRUE);
    });
    PlatformSleep(400);
    invalidator.join();
    EXPECT_GE(g_log.paints, 1);
}

TEST(Pause, LastsAtLeastItsLengthAndKeepsTheLastError) {
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    for (uint32_t milliseconds : {0u, 1u, 20u, 35u}) {
        SetLastError(0x1234);
        QueryPerformanceCounter(&start);
        PlatformSleep(milliseconds);
        QueryPerformanceCounter(&end);
        const double elapsedMs =
            double(end.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart);
        EXPECT_GE(elapsedMs, double(milliseconds)) << milliseconds << " ms";
        EXPECT_EQ(PlatformLastError(), 0x1234u);
    }
}

// After a long pause, as the erase's, the short ones that follow sleep by what
// earlier wake-ups taught, and still none may end early.
TEST(Pause, NoShortPauseAfterALongOneEndsEarly) {
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    PlatformSleep(300);
    for (int round = 0; round < 30; ++round) {
        for (uint32_t milliseconds : {0u, 1u, 2u, 20u}) {
            QueryPerformanceCounter(&start);
            PlatformSleep(milliseconds);
            QueryPerformanceCounter(&end);
            ASSERT_GE(double(end.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart),
                      double(milliseconds))
                << milliseconds << " ms, round " << round;
        }
    }
}

// The progress bar takes its position in the pause after the block: the newest
// of those set meanwhile, and never on a window already gone.
TEST(ProgressPosition, IsSetByTheNextPause) {
    InitCommonControls();
    const auto create = [] { return UiCreateProgressWindow(u"progress", 0, 0, 400, 50); };
    const auto shown = [](UiWindow window) {
        return SendMessageW(reinterpret_cast<HWND>(window), PBM_GETPOS, 0, 0);
    };
    const UiWindow first = create();
    if (first == 0) {
        GTEST_SKIP() << "no display for windows";
    }
    UiSetProgressPosition(first, 30);
    UiSetProgressPosition(first, 60);
    EXPECT_EQ(shown(first), 0);
    PlatformSleep(1);
    EXPECT_EQ(shown(first), 60);

    UiSetProgressPosition(first, 10);
    UiDestroyWindow(first);
    const UiWindow second = create();
    PlatformSleep(1);
    EXPECT_EQ(shown(second), 0);
    UiSetProgressPosition(second, 20);
    PlatformSleep(1);
    EXPECT_EQ(shown(second), 20);
    UiDestroyWindow(second);
}

// ---------------------------------------------------------------------------
// The taskbar button

// A taskbar list that writes down the calls the button would get.
struct RecordingTaskbarList : ITaskbarList3 {
    std::vector<std::string> calls;
    HWND window = nullptr;
    LONG references = 1;

    void Note(HWND target, const std::string& call) {
        calls.push_back(target == window ? call : call + " (another window)");
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return ULONG(--references); }
    HRESULT STDMETHODCALLTYPE HrInit() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE AddTab(HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DeleteTab(HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ActivateTab(HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetActiveAlt(HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE MarkFullscreenWindow(HWND, WINBOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetProgressValue(HWND target, ULONGLONG done,
                                               ULONGLONG total) override {
        Note(target, "value " + std::to_string(done) + "/" + std::to_string(total));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetProgressState(HWND target, TBPFLAG state) override {
        const char* names[] = {"none", "indeterminate", "normal", "?", "error"};
        Note(target, std::string("state ") + (unsigned(state) <= 4 ? names[state] : "?"));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RegisterTab(HWND, HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE UnregisterTab(HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetTabOrder(HWND, HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetTabActive(HWND, HWND, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ThumbBarAddButtons(HWND, UINT, LPTHUMBBUTTON) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ThumbBarUpdateButtons(HWND, UINT, LPTHUMBBUTTON) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ThumbBarSetImageList(HWND, HIMAGELIST) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetOverlayIcon(HWND, HICON, LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetThumbnailTooltip(HWND, LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetThumbnailClip(HWND, RECT*) override { return S_OK; }
};

// A failed update, then a whole one: the button's state and value in the order
// the update reports them, error until the failure box is closed, none after.
TEST(Taskbar, ShowsTheUpdateOnTheButtonInOrder) {
    RecordingTaskbarList list;
    list.window = reinterpret_cast<HWND>(0x1234);
    AttachTaskbarList(list.window, &list);
    EXPECT_EQ(list.references, 2);

    TaskbarShowProgress(0);
    TaskbarShowProgress(1);
    TaskbarShowProgress(4);
    TaskbarShowFailed(u"Update failed!", u"Error when writing");
    TaskbarShowEnded(nullptr);
    TaskbarShowProgress(0);
    TaskbarShowProgress(99);
    TaskbarShowProgress(100);
    TaskbarShowEnded(u"The update was successful");

    EXPECT_EQ(list.calls,
              (std::vector<std::string>{"state normal", "value 0/100", "value 1/100", "value 4/100",
                                        "state error", "state none", "state normal", "value 0/100",
                                        "value 99/100", "value 100/100", "state none"}));
    AttachTaskbarList(nullptr, nullptr);
    EXPECT_EQ(list.references, 1);
}

LRESULT CALLBACK ButtonWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != 0 && message == TaskbarButtonCreatedMessage()) {
        TaskbarButtonCreated(window);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Through the system's own taskbar list, once the button-created message comes:
// Wine's accepts the calls and shows nothing; where there is none, the calls
// change nothing and fail nothing.
TEST(Taskbar, TheSystemsTaskbarListTakesTheCalls) {
    StartTaskbar();
    ASSERT_NE(TaskbarButtonCreatedMessage(), 0u);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = ButtonWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"TaskbarTestWindow";
    RegisterClassW(&windowClass);
    const HWND window =
        CreateWindowExW(0, L"TaskbarTestWindow", L"taskbar", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10,
                        10, 200, 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (window == nullptr) {
        GTEST_SKIP() << "no display for windows";
    }
    SendMessageW(window, TaskbarButtonCreatedMessage(), 0, 0);
    ITaskbarList3* probe = nullptr;
    const HRESULT created = CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                             IID_ITaskbarList3, reinterpret_cast<void**>(&probe));
    if (SUCCEEDED(created)) {
        probe->Release();
    } else {
        std::printf("no taskbar list here (0x%08lx): the calls go nowhere\n", created);
    }
    for (uint32_t position = 0; position <= 100; position += 10) {
        TaskbarShowProgress(position);
    }
    TaskbarShowFailed(u"caption", u"text");
    TaskbarShowEnded(nullptr);
    TaskbarShowEnded(u"text");
    AttachTaskbarList(nullptr, nullptr);
    DestroyWindow(window);
}

// ---------------------------------------------------------------------------
// Report I/O, against a message-mode pipe opened the way a HID interface is

class ReportIoTest : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t name[64];
        wsprintfW(name, L"\\\\.\\pipe\\vespra-report-%lu", GetCurrentProcessId());
        server_ = CreateNamedPipeW(name, PIPE_ACCESS_DUPLEX,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096,
                                   4096, 0, nullptr);
        ASSERT_NE(server_, INVALID_HANDLE_VALUE);
        device_ = HidOpenInterface(reinterpret_cast<const char16_t*>(name));
        ASSERT_NE(device_, HID_INVALID_HANDLE);
    }
    void TearDown() override {
        HidCloseInterface(device_);
        CloseHandle(server_);
    }
    void ServerSends(const std::vector<uint8_t>& bytes) {
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(server_, bytes.data(), DWORD(bytes.size()), &written, nullptr));
    }
    HANDLE server_ = INVALID_HANDLE_VALUE;
    HidHandle device_ = HID_INVALID_HANDLE;
};

TEST_F(ReportIoTest, WritesAndReadsWholeReports) {
    const std::vector<uint8_t> request = {0x01, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    ASSERT_EQ(HidWriteReport(device_, request.data(), uint32_t(request.size())), 0);
    std::vector<uint8_t> received(64);
    DWORD count = 0;
    ASSERT_TRUE(ReadFile(server_, received.data(), DWORD(received.size()), &count, nullptr));
    received.resize(count);
    EXPECT_EQ(received, request);

    const std::vector<uint8_t> reply = {0x02, 0x08, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00};
    ServerSends(reply);
    std::vector<uint8_t> read(reply.size());
    ASSERT_EQ(HidReadReport(device_, read.data(), uint32_t(read.size()), 1000), 0);
    EXPECT_EQ(read, reply);
}

// Stacks differ in whether the count they report includes the report-ID byte, so
// a transfer counts by its success alone; the bytes that did not come stay as the
// caller left them.
TEST_F(ReportIoTest, AShortReportIsStillARead) {
    ServerSends({0x02, 0x08, 0x00});
    std::vector<uint8_t> read(8, 0xEE);
    ASSERT_EQ(HidReadReport(device_, read.data(), uint32_t(read.size()), 1000), 0);
    EXPECT_EQ(read, (std::vector<uint8_t>{0x02, 0x08, 0x00, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
}

// A failure judged from a reply's bytes reports the system's last error as its
// second code: after transfers that succeeded, that is 0, not what the
// overlapped I/O left behind (ERROR_IO_PENDING).
TEST_F(ReportIoTest, SuccessfulTransfersLeaveNoLastError) {
    const std::vector<uint8_t> request = {0x01, 0x0B, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00};
    SetLastError(ERROR_IO_PENDING);
    ASSERT_EQ(HidWriteReport(device_, request.data(), uint32_t(request.size())), 0);
    EXPECT_EQ(PlatformLastError(), 0u);

    std::thread server([this] {
        Sleep(50); // the read is pending when the reply comes
        ServerSends({0x02, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
    });
    SetLastError(ERROR_IO_PENDING);
    std::vector<uint8_t> read(8);
    EXPECT_EQ(HidReadReport(device_, read.data(), uint32_t(read.size()), 1000), 0);
    server.join();
    EXPECT_EQ(PlatformLastError(), 0u);
}

TEST_F(ReportIoTest, ASilentUnitTimesOutAndTheLateReplyLandsNowhere) {
    std::vector<uint8_t> abandoned(8, 0xAA);
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    EXPECT_NE(HidReadReport(device_, abandoned.data(), uint32_t(abandoned.size()), 200), 0);
    QueryPerformanceCounter(&end);
    EXPECT_EQ(PlatformLastError(), uint32_t(ERROR_TIMEOUT));
    // The read is started again on the way, but waits out its whole time all the same.
    EXPECT_GE((end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart, 199);

    // The cancelled read must not fill the old buffer when a reply comes later;
    // the next read gets it whole.
    const std::vector<uint8_t> reply = {0x02, 0x1B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    ServerSends(reply);
    std::vector<uint8_t> read(8);
    ASSERT_EQ(HidReadReport(device_, read.data(), uint32_t(read.size()), 1000), 0);
    EXPECT_EQ(read, reply);
    EXPECT_EQ(abandoned, std::vector<uint8_t>(8, 0xAA));
}

// A read that has waited for a while is cancelled and started again, so that a
// report the stack queued without handing it to the waiting read is still taken.
// Replies that come just before, while and just after that happens, or only after
// several such restarts, must each be read once, whole and in order.
TEST_F(ReportIoTest, RepliesAroundARestartedReadAreEachReadOnce) {
    std::vector<DWORD> delaysMs;
    for (DWORD delay = 40; delay <= 60; ++delay) {
        delaysMs.push_back(delay);
    }
    delaysMs.push_back(0);
    delaysMs.push_back(260);
    for (size_t i = 0; i < delaysMs.size(); ++i) {
        const uint8_t number = uint8_t(i);
        std::thread server([this, i, number, &delaysMs] {
            Sleep(delaysMs[i]);
            ServerSends({0x02, 0x1B, 0x00, 0x00, number, 0x00, 0x00, 0x00});
        });
        std::vector<uint8_t> read(8);
        EXPECT_EQ(HidReadReport(device_, read.data(), uint32_t(read.size()), 1000), 0)
            << "reply after " << delaysMs[i] << " ms";
        server.join();
        EXPECT_EQ(read, (std::vector<uint8_t>{0x02, 0x1B, 0x00, 0x00, number, 0x00, 0x00, 0x00}))
            << "reply after " << delaysMs[i] << " ms";
    }
    std::vector<uint8_t> nothing(8, 0xAA);
    EXPECT_NE(HidReadReport(device_, nothing.data(), uint32_t(nothing.size()), 120), 0);
    EXPECT_EQ(PlatformLastError(), uint32_t(ERROR_TIMEOUT));
    EXPECT_EQ(nothing, std::vector<uint8_t>(8, 0xAA));
}

// Every open handle of an interface receives every input report: while one copy
// of the program has an interface claimed, another one must not claim it,
// however the letters of its path are cased. Opening alone claims nothing.
TEST(ReportIo, AnInterfaceClaimedElsewhereIsNotClaimedUntilItIsClosed) {
    wchar_t name[64];
    wsprintfW(name, L"\\\\.\\pipe\\vespra-claim-%lu", GetCurrentProcessId());
    wchar_t upper[64];
    wsprintfW(upper, L"\\\\.\\PIPE\\VESPRA-CLAIM-%lu", GetCurrentProcessId());
    // One pipe instance for each open below: a closed client does not free its own.
    HANDLE servers[4];
    for (HANDLE& server : servers) {
        server = CreateNamedPipeW(name, PIPE_ACCESS_DUPLEX,
                                  PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 4, 4096,
                                  4096, 0, nullptr);
        ASSERT_NE(server, INVALID_HANDLE_VALUE);
    }
    const HidHandle elsewhere = HidOpenInterface(reinterpret_cast<const char16_t*>(name));
    ASSERT_NE(elsewhere, HID_INVALID_HANDLE);
    ASSERT_EQ(HidClaimInterface(elsewhere), 0);

    for (const wchar_t* path : {name, upper}) {
        const HidHandle second = HidOpenInterface(reinterpret_cast<const char16_t*>(path));
        ASSERT_NE(second, HID_INVALID_HANDLE);
        EXPECT_EQ(HidClaimInterface(second), HID_CLAIM_HELD);
        EXPECT_EQ(PlatformLastError(), uint32_t(ERROR_BUSY));
        HidCloseInterface(second);
    }

    HidCloseInterface(elsewhere);
    const HidHandle again = HidOpenInterface(reinterpret_cast<const char16_t*>(name));
    ASSERT_NE(again, HID_INVALID_HANDLE);
    EXPECT_EQ(HidClaimInterface(again), 0);
    HidCloseInterface(again);
    for (HANDLE server : servers) {
        CloseHandle(server);
    }
}

TEST(ReportIo, ANameThatIsNotThereDoesNotOpen) {
    EXPECT_EQ(HidOpenInterface(u"\\\\.\\pipe\\vespra-no-such-interface"), HID_INVALID_HANDLE);
}

// ---------------------------------------------------------------------------
// Device broadcasts

// An interface broadcast as the system sends it: header, class GUID, the path.
std::vector<uint8_t> InterfaceBroadcast(const wchar_t* path, bool terminated) {
    const size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    const size_t chars = wcslen(path) + (terminated ? 1 : 0);
    std::vector<uint8_t> bytes(nameOffset + chars * sizeof(wchar_t));
    auto* header = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(bytes.data());
    header->dbcc_size = DWORD(bytes.size());
    header->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    std::memcpy(bytes.data() + nameOffset, path, chars * sizeof(wchar_t));
    return bytes;
}

TEST(DeviceBroadcastFromMessage, ReadsTypeAndPath) {
    const wchar_t* path = L"\\\\?\\HID#VID_3A5D&PID_0002#7&1&0000#{4d1e55b2}";
    std::vector<uint8_t> bytes = InterfaceBroadcast(path, true);
    DeviceBroadcast broadcast;
    ASSERT_TRUE(DeviceBroadcastFromMessage(reinterpret_cast<LPARAM>(bytes.data()), &broadcast));
    EXPECT_EQ(broadcast.dbch_devicetype, DBT_DEVTYP_DEVICEINTERFACE_TYPE);
    ASSERT_NE(broadcast.dbcc_name, nullptr);
    EXPECT_STREQ(reinterpret_cast<const wchar_t*>(broadcast.dbcc_name), path);
}

TEST(DeviceBroadcastFromMessage, UntrustworthyBroadcasts) {
    DeviceBroadcast broadcast;
    EXPECT_FALSE(DeviceBroadcastFromMessage(0, &broadcast)); // e.g. DBT_DEVNODES_CHANGED

    // A path that runs past the broadcast's stated size is not read.
    std::vector<uint8_t> unterminated = InterfaceBroadcast(L"\\\\?\\HID#X", false);
    ASSERT_TRUE(
        DeviceBroadcastFromMessage(reinterpret_cast<LPARAM>(unterminated.data()), &broadcast));
    EXPECT_EQ(broadcast.dbch_devicetype, DBT_DEVTYP_DEVICEINTERFACE_TYPE);
    EXPECT_EQ(broadcast.dbcc_name, nullptr);

    // Other device types carry no interface path at all.
    DEV_BROADCAST_HDR volume = {};
    volume.dbch_size = sizeof volume;
    volume.dbch_devicetype = DBT_DEVTYP_VOLUME;
    ASSERT_TRUE(DeviceBroadcastFromMessage(reinterpret_cast<LPARAM>(&volume), &broadcast));
    EXPECT_EQ(broadcast.dbch_devicetype, uint32_t(DBT_DEVTYP_VOLUME));
    EXPECT_EQ(broadcast.dbcc_name, nullptr);

    DEV_BROADCAST_HDR tooShort = {};
    tooShort.dbch_size = 4;
    EXPECT_FALSE(DeviceBroadcastFromMessage(reinterpret_cast<LPARAM>(&tooShort), &broadcast));
}

} // namespace
