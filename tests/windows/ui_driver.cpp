// Drives the updater from outside, as a user would: starts it, reads its windows'
// texts, enabled states, styles and pixels, clicks buttons, answers message boxes
// and watches the progress window, step by step as a scenario of the end-to-end
// table says (tests/e2e/scenarios.txt). Every expected text comes from the
// generated string table and dialog template, in the scenario's language.
//
//   ui_driver.exe <table> <updater.exe> <scenario> <en|de>
//
// It speaks to its runner on stdout and stdin: "SNAPSHOT <name>" asks for a
// screenshot and "UNIT <command>" for a command to the emulated unit (plugging,
// faults, the flash check); each waits for one line back. "NOTE <text>" and
// "TIME <text>" are for the log; "FAIL <text>" is a failed check; the last line,
// "RESULT PASS" or "RESULT FAIL", is the verdict (Wine's desktop launcher does not
// pass exit codes on). The exit code says the same.
//
// Besides what each step asks, the driver checks what holds in every state it
// passes: the fixed texts at start, the version panel's labels against the pane's
// situation (filled when ready, empty when the pane shows instructions), the logo
// and the red controller row on screen, the progress window's place, style and
// moving bar, and that leaving ends the program with exit code 0.
#include <windows.h>
#include <commctrl.h>

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "res/resource_data.h"
#include "res/resource_ids.h"
#include "tests/windows/scenario_table.h"

namespace {

constexpr DWORD WINDOW_WAIT_MS = 60000; // the first start of a Wine prefix is slow
constexpr DWORD STEP_WAIT_MS = 20000;
constexpr DWORD SETTLE_WAIT_MS = 5000;
constexpr DWORD POLL_MS = 200;
const wchar_t* const MAIN_TITLE = L"TAVELIN VESPRA 80 LV FW Updater 3.5 ";
const wchar_t* const CONTROLLER_MODEL_NAME = L"VESPRA 80 LV";
constexpr int MESSAGE_BOX_TEXT_ID = 0xFFFF;

uint16_t g_language = RES_LANG_ENGLISH;
std::string g_scenario;
std::string g_languageName = "en";
int g_failures = 0;
DWORD g_pid = 0;
const ScenarioStep* g_step = nullptr; // the step being run, for messages

// --- Reporting -------------------------------------------------------------------

std::string Utf8(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        if (c == L'\r') {
            out += "\\r";
        } else if (c == L'\n') {
            out += "\\n";
        } else {
            char bytes[8];
            const int n =
                WideCharToMultiByte(CP_UTF8, 0, &c, 1, bytes, sizeof bytes, nullptr, nullptr);
            out.append(bytes, n > 0 ? size_t(n) : 0);
        }
    }
    return out;
}

// A failed check names the table line whose step made it.
void Line(const char* kind, const char* format, va_list arguments) {
    std::printf("%s ", kind);
    if (g_step != nullptr && std::strcmp(kind, "FAIL") == 0) {
        std::printf("line %d (%s): ", g_step->line, JoinWords(g_step->words, 0).c_str());
    }
    std::vprintf(format, arguments);
    std::printf("\n");
    std::fflush(stdout);
}

void Note(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    Line("NOTE", format, arguments);
    va_end(arguments);
}

bool Check(bool holds, const char* format, ...) {
    if (!holds) {
        ++g_failures;
        va_list arguments;
        va_start(arguments, format);
        Line("FAIL", format, arguments);
        va_end(arguments);
    }
    return holds;
}

PROCESS_INFORMATION g_updater = {};

[[noreturn]] void Abort(const char* what) {
    Check(false, "%s", what);
    if (g_updater.hProcess != nullptr) {
        TerminateProcess(g_updater.hProcess, 1);
    }
    std::printf("RESULT FAIL\n");
    std::fflush(stdout);
    ExitProcess(1);
}

// One request line to the runner and its one answer line, without the line end.
std::string AskRunner(const char* kind, const std::string& request) {
    std::printf("%s %s\n", kind, request.c_str());
    std::fflush(stdout);
    char answer[512];
    if (std::fgets(answer, sizeof answer, stdin) == nullptr) {
        return "error: no runner answered";
    }
    std::string text = answer;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

bool g_shotTaken = false;

void Snapshot(const char* state) {
    AskRunner("SNAPSHOT", g_scenario + "-" + g_languageName + "-" + state);
    g_shotTaken = true;
}

// --- Expected texts --------------------------------------------------------------

std::wstring Res(uint16_t id) {
    char16_t buffer[2048];
    ResLoadString(id, g_language, buffer, 2048);
    return std::wstring(reinterpret_cast<const wchar_t*>(buffer));
}

std::wstring WithInstructions(uint16_t headline) {
    return Res(headline) + L"\r\n\r\n" + Res(IDS_INSTRUCTIONS);
}

std::wstring TemplateText(int controlId) {
    const ResDialogTemplate* dialog = ResFindDialog(IDD_MAIN_DIALOG, g_language);
    if (dialog == nullptr) {
        Abort("no dialog template 110 in the generated tables");
    }
    for (int i = 0; i < dialog->controlCount; ++i) {
        if (dialog->controls[i].id == controlId) {
            return reinterpret_cast<const wchar_t*>(dialog->controls[i].text);
        }
    }
    Abort("control missing from the generated template");
}

// --- Looking at the updater's windows ----------------------------------------------

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

// Text of a window of the updater. WM_GETTEXT is marshalled across processes; use it
// only while the updater serves its messages.
std::wstring TextOf(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) {
        return L"<no answer>";
    }
    std::vector<wchar_t> buffer(length + 1);
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                        SMTO_ABORTIFHUNG, 5000, &copied);
    return std::wstring(buffer.data(), copied);
}

// The caption of a top-level window as the window manager keeps it; needs no
// message, so it works while the updater is busy.
std::wstring CaptionOf(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

struct WindowQuery {
    const wchar_t* className;
    HWND owner; // required owner; null: any
    HWND excluded;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter) {
    auto* query = reinterpret_cast<WindowQuery*>(parameter);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != g_pid || window == query->excluded || !IsWindowVisible(window) ||
        ClassOf(window) != query->className) {
        return TRUE;
    }
    if (query->owner != nullptr && GetWindow(window, GW_OWNER) != query->owner) {
        return TRUE;
    }
    query->found = window;
    return FALSE;
}

HWND WaitForWindow(const wchar_t* className, HWND owner, HWND excluded, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        WindowQuery query{className, owner, excluded, nullptr};
        EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&query));
        if (query.found != nullptr) {
            return query.found;
        }
        if (GetTickCount() - start > timeoutMs) {
            return nullptr;
        }
        Sleep(100);
    }
}

HWND Item(HWND dialog, int id) {
    return GetDlgItem(dialog, id);
}

// The heading of the hint pane carries no ID (-1), so GetDlgItem cannot tell it.
HWND ItemWithoutId(HWND dialog) {
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (GetDlgCtrlID(child) == -1 || GetDlgCtrlID(child) == 0xFFFF) {
            return child;
        }
    }
    return nullptr;
}

void ExpectText(HWND window, const std::wstring& expected, const char* what) {
    const std::wstring actual = TextOf(window);
    Check(actual == expected, "%s: expected \"%s\", found \"%s\"", what, Utf8(expected).c_str(),
          Utf8(actual).c_str());
}

void ExpectEnabled(HWND window, bool enabled, const char* what) {
    Check(window != nullptr && (IsWindowEnabled(window) != FALSE) == enabled, "%s should be %s",
          what, enabled ? "enabled" : "disabled");
}

void Click(HWND button) {
    // Posted: the updater may stay inside the click (the update) for a long time.
    PostMessageW(button, BM_CLICK, 0, 0);
}

// --- Pixels on screen --------------------------------------------------------------

struct ScreenImage {
    RECT area;
    std::vector<uint32_t> pixels; // 0x00RRGGBB, top-down
    uint32_t At(int screenX, int screenY) const {
        const int width = area.right - area.left;
        return pixels[size_t(screenY - area.top) * size_t(width) + size_t(screenX - area.left)];
    }
};

ScreenImage Capture(RECT area) {
    ScreenImage image{area, {}};
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (width <= 0 || height <= 0) {
        return image;
    }
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const HDC screen = GetDC(nullptr);
    const HDC memory = CreateCompatibleDC(screen);
    const HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    GdiFlush();
    const auto* source = static_cast<const uint32_t*>(bits);
    image.pixels.assign(source, source + size_t(width) * size_t(height));
    for (uint32_t& pixel : image.pixels) {
        pixel &= 0x00FFFFFF;
    }
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return image;
}

uint32_t Rgb(COLORREF color) {
    return uint32_t(GetRValue(color)) << 16 | uint32_t(GetGValue(color)) << 8 | GetBValue(color);
}

RECT ScreenRectOf(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    return rect;
}

int CountColour(const ScreenImage& image, RECT area, uint32_t colour) {
    int count = 0;
    for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x) {
            count += image.At(x, y) == colour ? 1 : 0;
        }
    }
    return count;
}

// The logo is painted right of the version group, with its pure-green key left
// out; the controller row (caption and value) is drawn in red, the other rows not.
// What is wrong with the dialog on screen, or null when nothing is.
const char* PaintingProblem(HWND dialog, bool rowsEnabled) {
    const RECT dialogRect = ScreenRectOf(dialog);
    const ScreenImage image = Capture(dialogRect);
    if (image.pixels.empty()) {
        return "the screen could not be read";
    }
    const RECT group = ScreenRectOf(Item(dialog, IDC_VERSION_GROUP));
    const RECT logoArea{group.right, group.top, dialogRect.right, group.bottom};
    const int face = CountColour(image, logoArea, Rgb(GetSysColor(COLOR_BTNFACE)));
    const int area = (logoArea.right - logoArea.left) * (logoArea.bottom - logoArea.top);
    if (area - face <= area / 20) {
        return "the logo right of the version group is not painted";
    }
    if (CountColour(image, dialogRect, 0x00FF00) != 0) {
        return "pure green (the logo's transparent key) shows on screen";
    }
    const uint32_t red = 0xFF0000;
    const int redInRow3 = CountColour(image, ScreenRectOf(Item(dialog, IDC_ROW3_VALUE)), red) +
                          CountColour(image, ScreenRectOf(Item(dialog, IDC_ROW3_CAPTION)), red);
    const int redInRow1 = CountColour(image, ScreenRectOf(Item(dialog, IDC_ROW1_VALUE)), red) +
                          CountColour(image, ScreenRectOf(Item(dialog, IDC_ROW1_CAPTION)), red);
    if (rowsEnabled && redInRow3 == 0) {
        return "the controller row is not drawn in red";
    }
    if (redInRow1 != 0) {
        return "the unit row is drawn in red";
    }
    return nullptr;
}

// Share of the progress bar's client width filled with the bar colour.
double ProgressFill(HWND progress) {
    RECT client = {};
    GetClientRect(progress, &client);
    POINT origin{0, 0};
    ClientToScreen(progress, &origin);
    const int middle = origin.y + client.bottom / 2;
    const RECT line{origin.x, middle, origin.x + client.right, middle + 1};
    const ScreenImage image = Capture(line);
    if (image.pixels.empty() || client.right <= 0) {
        return 0;
    }
    return double(CountColour(image, line, Rgb(GetSysColor(COLOR_HIGHLIGHT)))) / client.right;
}

// --- The updater -------------------------------------------------------------------

bool UpdaterEnded() {
    return WaitForSingleObject(g_updater.hProcess, 0) == WAIT_OBJECT_0;
}

// The main dialog is the updater's one dialog without an owner; every message box
// it shows is owned by it. Found visible or not: a box shown while the dialog
// starts (an incompatible controller) comes up before the dialog itself shows.
BOOL CALLBACK MatchMainDialog(HWND window, LPARAM parameter) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == g_pid && ClassOf(window) == L"#32770" && GetWindow(window, GW_OWNER) == nullptr) {
        *reinterpret_cast<HWND*>(parameter) = window;
        return FALSE;
    }
    return TRUE;
}

HWND StartUpdater(const wchar_t* path) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    std::wstring commandLine = L"\"" + std::wstring(path) + L"\"";
    if (!CreateProcessW(path, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &g_updater)) {
        Abort("the updater could not be started");
    }
    g_pid = g_updater.dwProcessId;
    WaitForInputIdle(g_updater.hProcess, WINDOW_WAIT_MS);
    const DWORD start = GetTickCount();
    HWND dialog = nullptr;
    while (dialog == nullptr && !UpdaterEnded() && GetTickCount() - start < WINDOW_WAIT_MS) {
        EnumWindows(MatchMainDialog, reinterpret_cast<LPARAM>(&dialog));
        Sleep(100);
    }
    if (dialog == nullptr) {
        Abort("the main dialog did not appear");
    }
    Sleep(500); // let the first paint finish before pixels are read
    return dialog;
}

// The three ways out carry the same ID 2 and must all end the program with 0.
enum class CloseBy { Button, EscapeKey, CaptionCloseBox };

void PostClose(HWND dialog, CloseBy how) {
    switch (how) {
    case CloseBy::Button:
        Click(Item(dialog, IDC_CLOSE));
        break;
    case CloseBy::EscapeKey: {
        // Keys go to the focused control; the dialog's loop turns Escape into Cancel.
        GUITHREADINFO thread = {};
        thread.cbSize = sizeof thread;
        GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &thread);
        const HWND target = thread.hwndFocus != nullptr ? thread.hwndFocus : dialog;
        PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageW(target, WM_KEYUP, VK_ESCAPE, 0xC0010001);
        break;
    }
    case CloseBy::CaptionCloseBox:
        PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
    }
}

void ExpectExitCode0() {
    if (!Check(WaitForSingleObject(g_updater.hProcess, STEP_WAIT_MS) == WAIT_OBJECT_0,
               "the updater did not end")) {
        TerminateProcess(g_updater.hProcess, 1);
        return;
    }
    DWORD exitCode = 1;
    GetExitCodeProcess(g_updater.hProcess, &exitCode);
    Check(exitCode == 0, "exit code %lu, expected 0", exitCode);
}

void ExpectTheLanguageAsked() {
    const LANGID language = GetUserDefaultUILanguage();
    const WORD expected = g_language == RES_LANG_GERMAN ? LANG_GERMAN : LANG_ENGLISH;
    Check(PRIMARYLANGID(language) == expected,
          "the system runs in language 0x%04x, not the one asked", language);
}

HWND OpenMessageBox(HWND dialog) {
    return WaitForWindow(L"#32770", dialog, dialog, 0);
}

// --- Waiting -----------------------------------------------------------------------

// The progress window once a step saw it, and its bar's fill sampled while it shows.
struct ProgressWatch {
    HWND window = nullptr;
    DWORD shownAt = 0;
    bool ended = false;
    bool snapped = false;
    std::vector<double> fills;
};
ProgressWatch g_progress;

bool TransferShowing() {
    return g_progress.window != nullptr && IsWindow(g_progress.window);
}

void SampleProgress() {
    if (g_progress.window == nullptr || g_progress.ended) {
        return;
    }
    if (!IsWindow(g_progress.window)) {
        g_progress.ended = true;
        Note("transfer (progress window shown) took %.1f s",
             (GetTickCount() - g_progress.shownAt) / 1000.0);
        return;
    }
    const double fill = ProgressFill(g_progress.window);
    if (!IsWindow(g_progress.window)) {
        return;
    }
    g_progress.fills.push_back(fill);
    if (!g_progress.snapped && fill > 0.4) {
        g_progress.snapped = true;
        Snapshot("progress-half");
    }
}

// Polls until `holds` is true, the time is up or the updater has ended. A condition
// that needs the updater to answer messages is not asked while the transfer runs:
// the updater serves none then, and each question would stall for seconds.
template <typename Condition> bool Await(DWORD timeoutMs, bool needsAnswers, Condition holds) {
    const DWORD start = GetTickCount();
    for (;;) {
        SampleProgress();
        if (!(needsAnswers && TransferShowing()) && holds()) {
            return true;
        }
        if (GetTickCount() - start > timeoutMs || UpdaterEnded()) {
            return false;
        }
        Sleep(POLL_MS);
    }
}

bool AwaitText(HWND window, const std::wstring& expected, DWORD timeoutMs, const char* what) {
    std::wstring found;
    const bool seen = Await(timeoutMs, true, [&] {
        found = TextOf(window);
        return found == expected;
    });
    return Check(seen, "%s: expected \"%s\", found \"%s\"", what, Utf8(expected).c_str(),
                 Utf8(found).c_str());
}

bool AwaitEnabled(HWND window, bool enabled, DWORD timeoutMs, const char* what) {
    const bool seen =
        Await(timeoutMs, false, [&] { return (IsWindowEnabled(window) != FALSE) == enabled; });
    return Check(seen, "%s should be %s", what, enabled ? "enabled" : "disabled");
}

// Polled: the updater may still be inside its initial detection.
void ExpectCommonTexts(HWND dialog) {
    std::wstring title;
    Check(Await(SETTLE_WAIT_MS, false, [&] { return (title = CaptionOf(dialog)) == MAIN_TITLE; }),
          "title: found \"%s\"", Utf8(title).c_str());
    AwaitText(Item(dialog, IDC_ROW2_CAPTION), Res(IDS_ROW2_CAPTION), SETTLE_WAIT_MS,
              "row 2 caption");
    AwaitText(Item(dialog, IDC_ROW3_CAPTION), Res(IDS_ROW3_CAPTION), SETTLE_WAIT_MS,
              "row 3 caption");
    // The texts the program never touches stay as the template gives them.
    AwaitText(Item(dialog, IDC_CLOSE), TemplateText(IDC_CLOSE), SETTLE_WAIT_MS, "Close button");
    AwaitText(Item(dialog, IDC_UPDATE), TemplateText(IDC_UPDATE), SETTLE_WAIT_MS, "Update button");
    AwaitText(Item(dialog, IDC_VERSION_GROUP), TemplateText(IDC_VERSION_GROUP), SETTLE_WAIT_MS,
              "group box");
    AwaitText(ItemWithoutId(dialog), TemplateText(-1), SETTLE_WAIT_MS, "hint heading");
    ExpectEnabled(Item(dialog, IDC_CLOSE), true, "Close");
}

// --- State checks that go with what the pane says ----------------------------------

const int VALUE_IDS[] = {IDC_ROW1_VALUE, IDC_ROW2_VALUE, IDC_ROW3_VALUE};
const int LABEL_IDS[] = {IDC_ROW1_VALUE,   IDC_ROW2_VALUE,   IDC_ROW3_VALUE,
                         IDC_ROW1_CAPTION, IDC_ROW2_CAPTION, IDC_ROW3_CAPTION};

struct Seen {
    std::wstring unitRow, bootloaderRow; // as the last ready state showed them
    DWORD updateClicked = 0;
    DWORD confirmed = 0;
    bool updated = false;
};
Seen g_seen;

void ExpectEmptyPanel(HWND dialog) {
    for (int id : VALUE_IDS) {
        AwaitText(Item(dialog, id), L"0.0.0", SETTLE_WAIT_MS, "empty version row");
    }
    for (int id : LABEL_IDS) {
        AwaitEnabled(Item(dialog, id), false, SETTLE_WAIT_MS, "a label of the empty version panel");
    }
}

void ExpectFilledPanel(HWND dialog) {
    for (int id : LABEL_IDS) {
        AwaitEnabled(Item(dialog, id), true, SETTLE_WAIT_MS, "a label of the filled version panel");
    }
}

void ExpectReady(HWND dialog) {
    ExpectFilledPanel(dialog);
    g_seen.unitRow = TextOf(Item(dialog, IDC_ROW1_VALUE));
    g_seen.bootloaderRow = TextOf(Item(dialog, IDC_ROW2_VALUE));
    Check(!g_seen.unitRow.empty() && g_seen.unitRow != L"0.0.0", "unit firmware row is empty");
    Check(!g_seen.bootloaderRow.empty() && g_seen.bootloaderRow != L"0.0.0",
          "bootloader row is empty");
}

void ExpectProgressBarMoved() {
    int rises = 0;
    const std::vector<double>& fills = g_progress.fills;
    for (size_t i = 1; i < fills.size(); ++i) {
        rises += fills[i] > fills[i - 1] ? 1 : 0;
    }
    Note("progress bar fill sampled %u times, rose %d times, last %.2f", unsigned(fills.size()),
         rises, fills.empty() ? 0.0 : fills.back());
    // The update serves no messages; the bar must still be painted as it moves.
    Check(rises >= 10 && !fills.empty() && fills.back() > 0.9,
          "the progress bar was not seen moving to its end");
}

void ExpectUpdated(HWND dialog) {
    const DWORD now = GetTickCount();
    g_seen.updated = true;
    if (g_seen.updateClicked != 0) {
        std::printf("TIME whole update, Update clicked to success text: %lu ms\n",
                    now - g_seen.updateClicked);
    }
    if (g_seen.confirmed != 0) {
        std::printf("TIME whole update, warning confirmed to success text: %lu ms\n",
                    now - g_seen.confirmed);
    }
    std::fflush(stdout);
    Note("emulated unit: %s", AskRunner("UNIT", "stats").c_str());
    ExpectFilledPanel(dialog);
    if (!g_seen.unitRow.empty()) {
        ExpectText(Item(dialog, IDC_ROW1_VALUE), g_seen.unitRow, "unit firmware");
        ExpectText(Item(dialog, IDC_ROW2_VALUE), g_seen.bootloaderRow, "bootloader");
    }
    Check(OpenMessageBox(dialog) == nullptr, "a message box is open");
    if (g_progress.window != nullptr) {
        ExpectProgressBarMoved();
    }
}

// The logo and the red row are read off the screen, so only with nothing over the dialog.
void ExpectPaintingIfUncovered(HWND dialog) {
    if (OpenMessageBox(dialog) != nullptr || TransferShowing() || !IsWindowVisible(dialog)) {
        return;
    }
    // The text just changed: the repaint may still be on its way.
    const bool rowsEnabled = IsWindowEnabled(Item(dialog, IDC_ROW3_VALUE)) != FALSE;
    const char* problem = nullptr;
    Await(SETTLE_WAIT_MS, false,
          [&] { return (problem = PaintingProblem(dialog, rowsEnabled)) == nullptr; });
    Check(problem == nullptr, "%s", problem);
}

void ExpectProgressWindow(HWND dialog, HWND progress) {
    Check(CaptionOf(progress) == Res(IDS_PROGRESS_TITLE), "progress title: found \"%s\"",
          Utf8(CaptionOf(progress)).c_str());
    const LONG style = GetWindowLongW(progress, GWL_STYLE);
    Check((style & (WS_CHILD | WS_POPUP)) == 0, "the progress window is not a top-level window");
    Check((style & PBS_SMOOTH) != 0, "the progress bar is not smooth");
    Check((style & WS_SYSMENU) == 0, "the progress window has a system menu");
    Check(GetWindow(progress, GW_OWNER) == dialog,
          "the progress window is not owned by the dialog");
    const RECT d = ScreenRectOf(dialog);
    const RECT p = ScreenRectOf(progress);
    Check(p.right - p.left == 400 && p.bottom - p.top == 50, "progress window size %ldx%ld",
          p.right - p.left, p.bottom - p.top);
    Check(p.left == d.left + ((d.right - d.left) >> 1) - 200 &&
              p.top == d.top + ((d.bottom - d.top) >> 1) - 25,
          "the progress window is not centred over the dialog");
}

// --- Steps -------------------------------------------------------------------------

std::wstring Wide(const std::string& utf8) {
    std::vector<wchar_t> buffer(utf8.size() + 1);
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), int(utf8.size()), buffer.data(),
                                      int(buffer.size()));
    return std::wstring(buffer.data(), n > 0 ? size_t(n) : 0);
}

bool IsNumber(const std::string& word) {
    return !word.empty() && word.find_first_not_of("0123456789") == std::string::npos;
}

// A string ID of the table, or 0 (no string has it) when the word is not one.
uint16_t StringId(const std::string& word) {
    return IsNumber(word) && word.size() <= 5 ? uint16_t(std::stoul(word)) : 0;
}

bool ParseHex8(std::string word, uint32_t* value) {
    if (word.rfind("0x", 0) == 0) {
        word = word.substr(2);
    }
    if (word.size() != 8 || word.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return false;
    }
    *value = uint32_t(std::stoul(word, nullptr, 16));
    return true;
}

std::wstring CodeLine(uint32_t first, uint32_t second) {
    wchar_t line[2048];
    std::swprintf(line, 2048, Res(IDS_ERROR_CODE_LINE).c_str(), first, second);
    return line;
}

HWND ValueOfRow(HWND dialog, int row) {
    return Item(dialog, VALUE_IDS[row - 1]);
}

HWND CaptionOfRow(HWND dialog, int row) {
    static const int ids[] = {IDC_ROW1_CAPTION, IDC_ROW2_CAPTION, IDC_ROW3_CAPTION};
    return Item(dialog, ids[row - 1]);
}

int RowNumber(const ScenarioStep& step) {
    const std::string& word = step.words.size() > 2 ? step.words[1] : "";
    return word == "1" || word == "2" || word == "3" ? word[0] - '0' : 0;
}

void PaneStep(HWND dialog, const ScenarioStep& step) {
    const std::vector<std::string>& words = step.words;
    const bool within = words[0] == "pane-within";
    const size_t idAt = within ? 2 : 1;
    const uint16_t id = words.size() > idAt ? StringId(words[idAt]) : 0;
    const bool instructions = words.size() > idAt + 1 && words[idAt + 1] == "instructions";
    if (!Check(id != 0 && (!within || IsNumber(words[1])) && words.size() <= idAt + 2,
               "expected: pane%s <id> [instructions]", within ? "-within <seconds>" : "")) {
        return;
    }
    const DWORD timeout = within ? DWORD(std::stoul(words[1]) * 1000) : STEP_WAIT_MS;
    if (!AwaitText(Item(dialog, IDC_STATUS_PANE), instructions ? WithInstructions(id) : Res(id),
                   timeout, "hint pane")) {
        return;
    }
    if (instructions) {
        ExpectEmptyPanel(dialog);
    } else if (id == IDS_READY) {
        ExpectReady(dialog);
    } else if (id == IDS_UPDATE_SUCCESSFUL) {
        ExpectUpdated(dialog);
    }
    ExpectPaintingIfUncovered(dialog);
}

// A declined question is followed by nothing: no progress window, and not one
// exchange with the unit since the Update click (when an emulated unit counts them).
void ExpectNothingSent(HWND dialog) {
    Sleep(500);
    Check(WaitForWindow(PROGRESS_CLASSW, nullptr, nullptr, 0) == nullptr &&
              OpenMessageBox(dialog) == nullptr,
          "a window follows the declined question");
    const std::string stats = AskRunner("UNIT", "stats");
    if (stats.rfind("ok ", 0) == 0) {
        Check(stats.find(" exchanges=0 ") != std::string::npos,
              "the unit was sent requests after the question was declined: %s", stats.c_str());
    }
}

// box <captionId> <textId> [code <hex8>-<hex8> | code <hex8>-any | no-code] [press <button>]
void BoxStep(HWND dialog, const ScenarioStep& step) {
    const std::vector<std::string>& words = step.words;
    const uint16_t captionId = words.size() > 2 ? StringId(words[1]) : 0;
    const uint16_t textId = words.size() > 2 ? StringId(words[2]) : 0;
    bool hasCode = false;
    bool anySecond = false;
    uint32_t first = 0;
    uint32_t second = 0;
    std::string press;
    bool wellFormed = captionId != 0 && textId != 0;
    for (size_t i = 3; wellFormed && i < words.size(); ++i) {
        if (words[i] == "no-code") {
            hasCode = false;
        } else if (words[i] == "code" && i + 1 < words.size()) {
            const std::string& codes = words[++i];
            const size_t dash = codes.find('-');
            hasCode = true;
            anySecond = dash != std::string::npos && codes.substr(dash + 1) == "any";
            wellFormed = dash != std::string::npos && ParseHex8(codes.substr(0, dash), &first) &&
                         (anySecond || ParseHex8(codes.substr(dash + 1), &second));
        } else if (words[i] == "press" && i + 1 < words.size()) {
            press = words[++i];
        } else {
            wellFormed = false;
        }
    }
    static const struct {
        const char* name;
        int id;
    } buttons[] = {{"ok", IDOK}, {"cancel", IDCANCEL}, {"yes", IDYES}, {"no", IDNO}};
    int buttonId = 0;
    for (const auto& button : buttons) {
        buttonId = press == button.name ? button.id : buttonId;
    }
    if (!Check(wellFormed && (press.empty() || buttonId != 0),
               "expected: box <captionId> <textId> [code <hex8>-<hex8|any> | no-code] "
               "[press ok|cancel|yes|no]")) {
        return;
    }

    HWND box = nullptr;
    Await(STEP_WAIT_MS, false, [&] { return (box = OpenMessageBox(dialog)) != nullptr; });
    if (!Check(box != nullptr, "no message box appeared")) {
        return;
    }
    std::wstring caption;
    Check(
        Await(SETTLE_WAIT_MS, false, [&] { return (caption = CaptionOf(box)) == Res(captionId); }),
        "box caption: expected \"%s\", found \"%s\"", Utf8(Res(captionId)).c_str(),
        Utf8(caption).c_str());
    std::wstring expected = Res(textId);
    const size_t model = expected.find(L"%s");
    if (model != std::wstring::npos) {
        expected.replace(model, 2, CONTROLLER_MODEL_NAME);
    }
    if (hasCode) {
        expected += L"\r\n" + CodeLine(first, second);
        if (anySecond) {
            expected.resize(expected.size() - 8); // the system's code may be anything
        }
    }
    std::wstring found;
    const bool textSeen = Await(SETTLE_WAIT_MS, true, [&] {
        found = TextOf(Item(box, MESSAGE_BOX_TEXT_ID));
        if (!anySecond) {
            return found == expected;
        }
        return found.size() == expected.size() + 8 &&
               found.compare(0, expected.size(), expected) == 0 &&
               found.find_first_not_of(L"0123456789abcdef", expected.size()) == std::wstring::npos;
    });
    Check(textSeen, "box text: expected \"%s%s\", found \"%s\"", Utf8(expected).c_str(),
          anySecond ? "<8 hex digits>" : "", Utf8(found).c_str());
    if (captionId == IDS_IMPORTANT_NOTE_CAPTION) {
        Check(Item(box, IDOK) != nullptr && Item(box, IDCANCEL) != nullptr,
              "the warning has no OK and Cancel buttons");
    }
    if (buttonId == 0) {
        return;
    }
    const HWND button = Item(box, buttonId);
    if (!Check(button != nullptr && IsWindowVisible(button), "the box has no %s button",
               press.c_str())) {
        return;
    }
    Click(button);
    if (captionId == IDS_IMPORTANT_NOTE_CAPTION && buttonId == IDOK) {
        g_seen.confirmed = GetTickCount();
    }
    Check(Await(STEP_WAIT_MS, false, [&] { return !IsWindow(box); }), "the box did not close");
    const bool declined = (captionId == IDS_IMPORTANT_NOTE_CAPTION && buttonId != IDOK) ||
                          (captionId == IDS_NEWER_FIRMWARE_CAPTION && buttonId != IDYES);
    if (declined) {
        ExpectNothingSent(dialog);
    }
}

void ProgressStep(HWND dialog) {
    HWND progress = nullptr;
    Await(STEP_WAIT_MS, false, [&] {
        return (progress = WaitForWindow(PROGRESS_CLASSW, nullptr, nullptr, 0)) != nullptr;
    });
    if (!Check(progress != nullptr, "no progress window")) {
        return;
    }
    g_progress = ProgressWatch{};
    g_progress.window = progress;
    g_progress.shownAt = GetTickCount();
    ExpectProgressWindow(dialog, progress);
}

void UnitStep(const ScenarioStep& step) {
    const std::string command = JoinWords(step.words, 0);
    const std::string answer = AskRunner("UNIT", command);
    Note("emulated unit: %s -> %s", command.c_str(), answer.c_str());
    if (step.words[0] == "flash") {
        Check(answer == "ok match", "the flash does not hold the image: %s", answer.c_str());
    } else {
        Check(answer.rfind("ok", 0) == 0, "the emulated unit refused: %s", answer.c_str());
    }
}

// Keys given while the update runs, as a user pressing them would: posted to a
// control of the dialog, as if it had the focus (the dialog's loop turns them into
// Cancel or the default button), and typed on the keyboard for whichever of the
// program's windows has the focus. During the update that may be the progress
// window, whose messages go with it when it is destroyed: the posted keys are the
// ones sure to outlive the transfer.
void KeysStep(HWND dialog, const ScenarioStep& step) {
    const HWND close = Item(dialog, IDC_CLOSE);
    const HWND target = close != nullptr ? close : dialog;
    SetForegroundWindow(dialog);
    DWORD foregroundPid = 0;
    GetWindowThreadProcessId(GetForegroundWindow(), &foregroundPid);
    for (size_t i = 1; i < step.words.size(); ++i) {
        const std::string& name = step.words[i];
        const WORD key = name == "Escape"   ? VK_ESCAPE
                         : name == "Return" ? VK_RETURN
                         : name == "space"  ? VK_SPACE
                                            : 0;
        if (!Check(key != 0, "unknown key %s", name.c_str())) {
            continue;
        }
        PostMessageW(target, WM_KEYDOWN, key, 0x00010001);
        PostMessageW(target, WM_KEYUP, key, 0xC0010001);
        if (foregroundPid == g_pid) {
            INPUT strokes[2] = {};
            strokes[0].type = strokes[1].type = INPUT_KEYBOARD;
            strokes[0].ki.wVk = strokes[1].ki.wVk = key;
            strokes[1].ki.dwFlags = KEYEVENTF_KEYUP;
            SendInput(2, strokes, sizeof(INPUT));
        }
    }
    Note("keys given during the update (typed too: %s)", foregroundPid == g_pid ? "yes" : "no");
}

// Each run leaves one of the three ways: after an update by the caption's close box,
// the German runs by Escape, the others by the button.
CloseBy CloseWay() {
    if (g_seen.updated) {
        return CloseBy::CaptionCloseBox;
    }
    return g_language == RES_LANG_GERMAN ? CloseBy::EscapeKey : CloseBy::Button;
}

void RunStep(HWND dialog, const ScenarioStep& step) {
    const std::vector<std::string>& words = step.words;
    const std::string& verb = words[0];
    if (verb == "pane" || verb == "pane-within") {
        PaneStep(dialog, step);
    } else if (verb == "update" && words.size() == 2 && (words[1] == "on" || words[1] == "off")) {
        AwaitEnabled(Item(dialog, IDC_UPDATE), words[1] == "on", STEP_WAIT_MS, "Update");
    } else if (verb == "row" && RowNumber(step) != 0) {
        AwaitText(ValueOfRow(dialog, RowNumber(step)), Wide(JoinWords(words, 2)), STEP_WAIT_MS,
                  "version row");
    } else if (verb == "caption" && RowNumber(step) != 0) {
        const std::string text = JoinWords(words, 2);
        AwaitText(CaptionOfRow(dialog, RowNumber(step)),
                  StringId(text) != 0 ? Res(StringId(text)) : Wide(text), STEP_WAIT_MS,
                  "row caption");
    } else if (verb == "click" && words.size() == 2 && words[1] == "update") {
        AskRunner("UNIT", "stats-reset");
        g_seen.updateClicked = GetTickCount();
        Click(Item(dialog, IDC_UPDATE));
    } else if (verb == "click" && words.size() == 2 && words[1] == "close") {
        if (!g_shotTaken) {
            Snapshot("end");
        }
        PostClose(dialog, CloseWay());
    } else if (verb == "box") {
        BoxStep(dialog, step);
    } else if (verb == "progress" && words.size() == 1) {
        ProgressStep(dialog);
    } else if (verb == "plug" || verb == "unplug" || verb == "fault" || verb == "flash") {
        UnitStep(step);
    } else if (verb == "keys" && words.size() >= 2) {
        KeysStep(dialog, step);
    } else if (verb == "settle" && words.size() == 2) {
        Sleep(DWORD(std::atof(words[1].c_str()) * 1000));
    } else if (verb == "inhibitors" && words.size() == 2) {
        Note("logind's inhibitor locks are checked by the Linux run");
    } else if (verb == "shot" && words.size() == 2) {
        Snapshot(words[1].c_str());
    } else if (verb == "exit" && words.size() == 1) {
        ExpectExitCode0();
    } else if (verb == "desktop") {
        // The Linux desktop's launcher entry and notifications: a Wine desktop
        // has neither.
    } else {
        Check(false, "unknown step");
    }
}

void RunScenario(const Scenario& scenario, const wchar_t* updater) {
    g_scenario = scenario.name;
    g_languageName = scenario.language;
    ExpectTheLanguageAsked();
    const DWORD start = GetTickCount();
    const HWND dialog = StartUpdater(updater);
    ExpectCommonTexts(dialog);
    for (const ScenarioStep& step : scenario.steps) {
        g_step = &step;
        RunStep(dialog, step);
        g_step = nullptr;
    }
    if (!Check(UpdaterEnded(), "the updater still runs at the scenario's end")) {
        TerminateProcess(g_updater.hProcess, 1);
    }
    std::printf("TIME scenario %s %s: %lu ms\n", scenario.name.c_str(), scenario.language.c_str(),
                GetTickCount() - start);
    std::fflush(stdout);
}

bool ReadWholeFile(const wchar_t* path, std::string& text) {
    FILE* file = _wfopen(path, L"rb");
    if (file == nullptr) {
        return false;
    }
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, n);
    }
    std::fclose(file);
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: ui_driver <table> <updater.exe> <scenario> <en|de>\n");
        return 2;
    }
    std::string text;
    std::vector<Scenario> scenarios;
    std::string error;
    if (!ReadWholeFile(argv[1], text)) {
        std::fprintf(stderr, "the table cannot be read\n");
        return 2;
    }
    if (!ParseScenarioTable(text, scenarios, error)) {
        std::fprintf(stderr, "scenario table, %s\n", error.c_str());
        return 2;
    }
    const std::string name = Utf8(argv[3]);
    const std::string language = Utf8(argv[4]);
    const Scenario* chosen = nullptr;
    for (const Scenario& scenario : scenarios) {
        chosen = scenario.name == name && scenario.language == language ? &scenario : chosen;
    }
    if (chosen == nullptr) {
        std::fprintf(stderr, "no scenario %s %s in the table\n", name.c_str(), language.c_str());
        return 2;
    }
    g_language = language == "de" ? RES_LANG_GERMAN : RES_LANG_ENGLISH;
    RunScenario(*chosen, argv[2]);
    std::printf("NOTE %d failed checks\n", g_failures);
    std::printf("RESULT %s\n", g_failures == 0 ? "PASS" : "FAIL");
    std::fflush(stdout);
    return g_failures == 0 ? 0 : 1;
}
