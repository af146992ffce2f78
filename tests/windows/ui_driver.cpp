// Drives the updater from outside, as a user would: starts it, reads its windows'
// texts, enabled states, styles and pixels, clicks buttons, answers message boxes
// and watches the progress window. Every expected text comes from the generated
// string table and dialog template, in the language under test.
//
//   ui_driver.exe <scenario> <updater.exe> <en|de>
//   scenarios: no-unit   the product with nothing attached, then Close
//              update    the simulated unit: a whole update, then Close
//              cancel-replug  the simulated unit: Update, the warning cancelled;
//                        the unit's removal and arrival announced; then Close
//
// It speaks to its runner on stdout and stdin: "SNAPSHOT <name>" asks for a
// screenshot and waits for a line back; "NOTE <text>" is for the log; "FAIL
// <text>" is a failed check; the last line, "RESULT PASS" or "RESULT FAIL", is the
// verdict (Wine's desktop launcher does not pass exit codes on). The exit code
// says the same.
#include <windows.h>
#include <commctrl.h>
#include <dbt.h>

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/win/sim_demo_unit.h"
#include "res/resource_data.h"
#include "res/resource_ids.h"

namespace {

constexpr DWORD WINDOW_WAIT_MS = 60000; // the first start of a Wine prefix is slow
constexpr DWORD STEP_WAIT_MS = 20000;
constexpr DWORD TRANSFER_WAIT_MS = 300000;
const wchar_t* const MAIN_TITLE = L"TAVELIN VESPRA 80 LV FW Updater 3.5 ";
constexpr int MESSAGE_BOX_TEXT_ID = 0xFFFF;

uint16_t g_language = RES_LANG_ENGLISH;
const char* g_languageName = "en";
int g_failures = 0;
DWORD g_pid = 0;

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

void Line(const char* kind, const char* format, va_list arguments) {
    std::printf("%s ", kind);
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

[[noreturn]] void Abort(const char* what) {
    Check(false, "%s", what);
    std::printf("RESULT FAIL\n");
    std::fflush(stdout);
    ExitProcess(1);
}

void Snapshot(const char* state) {
    std::printf("SNAPSHOT %s-%s\n", state, g_languageName);
    std::fflush(stdout);
    char answer[64];
    if (std::fgets(answer, sizeof answer, stdin) == nullptr) {
        Note("no runner answered the snapshot request");
    }
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
void ExpectPainting(HWND dialog, bool rowsEnabled) {
    const RECT dialogRect = ScreenRectOf(dialog);
    const ScreenImage image = Capture(dialogRect);
    if (image.pixels.empty()) {
        Check(false, "the screen could not be read");
        return;
    }
    const RECT group = ScreenRectOf(Item(dialog, IDC_VERSION_GROUP));
    const RECT logoArea{group.right, group.top, dialogRect.right, group.bottom};
    const int face = CountColour(image, logoArea, Rgb(GetSysColor(COLOR_BTNFACE)));
    const int area = (logoArea.right - logoArea.left) * (logoArea.bottom - logoArea.top);
    Check(area - face > area / 20, "the logo right of the version group is not painted");
    Check(CountColour(image, dialogRect, 0x00FF00) == 0,
          "pure green (the logo's transparent key) shows on screen");

    const uint32_t red = 0xFF0000;
    const int redInRow3 = CountColour(image, ScreenRectOf(Item(dialog, IDC_ROW3_VALUE)), red) +
                          CountColour(image, ScreenRectOf(Item(dialog, IDC_ROW3_CAPTION)), red);
    const int redInRow1 = CountColour(image, ScreenRectOf(Item(dialog, IDC_ROW1_VALUE)), red) +
                          CountColour(image, ScreenRectOf(Item(dialog, IDC_ROW1_CAPTION)), red);
    if (rowsEnabled) {
        Check(redInRow3 > 0, "the controller row is not drawn in red");
    }
    Check(redInRow1 == 0, "the unit row is drawn in red");
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

PROCESS_INFORMATION g_updater = {};

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
    const HWND dialog = WaitForWindow(L"#32770", nullptr, nullptr, WINDOW_WAIT_MS);
    if (dialog == nullptr) {
        TerminateProcess(g_updater.hProcess, 1);
        Abort("the main dialog did not appear");
    }
    Sleep(500); // let the first paint finish before pixels are read
    return dialog;
}

// The three ways out carry the same ID 2 and must all end the program with 0.
enum class CloseBy { Button, EscapeKey, CaptionCloseBox };

void CloseAndExpectExitCode0(HWND dialog, CloseBy how) {
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
    if (!Check(WaitForSingleObject(g_updater.hProcess, STEP_WAIT_MS) == WAIT_OBJECT_0,
               "closing did not end the updater")) {
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

void ExpectCommonTexts(HWND dialog) {
    Check(CaptionOf(dialog) == MAIN_TITLE, "title: found \"%s\"", Utf8(CaptionOf(dialog)).c_str());
    ExpectText(Item(dialog, IDC_ROW2_CAPTION), Res(IDS_ROW2_CAPTION), "row 2 caption");
    ExpectText(Item(dialog, IDC_ROW3_CAPTION), Res(IDS_ROW3_CAPTION), "row 3 caption");
    // The texts the program never touches stay as the template gives them.
    ExpectText(Item(dialog, IDC_CLOSE), TemplateText(IDC_CLOSE), "Close button");
    ExpectText(Item(dialog, IDC_UPDATE), TemplateText(IDC_UPDATE), "Update button");
    ExpectText(Item(dialog, IDC_VERSION_GROUP), TemplateText(IDC_VERSION_GROUP), "group box");
    ExpectText(ItemWithoutId(dialog), TemplateText(-1), "hint heading");
    ExpectEnabled(Item(dialog, IDC_CLOSE), true, "Close");
}

const int VALUE_IDS[] = {IDC_ROW1_VALUE, IDC_ROW2_VALUE, IDC_ROW3_VALUE};
const int LABEL_IDS[] = {IDC_ROW1_VALUE,   IDC_ROW2_VALUE,   IDC_ROW3_VALUE,
                         IDC_ROW1_CAPTION, IDC_ROW2_CAPTION, IDC_ROW3_CAPTION};

void ExpectEmptyPanel(HWND dialog) {
    for (int id : VALUE_IDS) {
        ExpectText(Item(dialog, id), L"0.0.0", "empty version row");
    }
    for (int id : LABEL_IDS) {
        ExpectEnabled(Item(dialog, id), false, "a label of the empty version panel");
    }
}

// --- Scenarios ---------------------------------------------------------------------

void NoUnit(const wchar_t* updater) {
    const HWND dialog = StartUpdater(updater);
    ExpectCommonTexts(dialog);
    ExpectText(Item(dialog, IDC_STATUS_PANE), WithInstructions(IDS_NO_UNIT), "hint pane");
    ExpectText(Item(dialog, IDC_ROW1_CAPTION), Res(IDS_ROW1_CAPTION), "row 1 caption");
    ExpectEmptyPanel(dialog);
    ExpectEnabled(Item(dialog, IDC_UPDATE), false, "Update");
    ExpectPainting(dialog, false);
    Snapshot("real-no-unit");
    // One language run leaves by the Close button, the other by the Escape key.
    CloseAndExpectExitCode0(dialog,
                            g_language == RES_LANG_GERMAN ? CloseBy::EscapeKey : CloseBy::Button);
}

struct ReadyRows {
    std::wstring unit, bootloader;
};

ReadyRows ExpectReady(HWND dialog) {
    ExpectCommonTexts(dialog);
    ExpectText(Item(dialog, IDC_STATUS_PANE), Res(IDS_READY), "hint pane");
    ExpectText(Item(dialog, IDC_ROW1_CAPTION), L"LINK-CUBE", "row 1 caption");
    ExpectText(Item(dialog, IDC_ROW3_VALUE), L"3.4", "controller firmware");
    ReadyRows rows{TextOf(Item(dialog, IDC_ROW1_VALUE)), TextOf(Item(dialog, IDC_ROW2_VALUE))};
    Check(!rows.unit.empty() && rows.unit != L"0.0.0", "unit firmware row is empty");
    Check(!rows.bootloader.empty() && rows.bootloader != L"0.0.0", "bootloader row is empty");
    for (int id : LABEL_IDS) {
        ExpectEnabled(Item(dialog, id), true, "a label of the filled version panel");
    }
    ExpectEnabled(Item(dialog, IDC_UPDATE), true, "Update");
    ExpectPainting(dialog, true);
    return rows;
}

HWND ExpectWarningBox(HWND dialog) {
    Click(Item(dialog, IDC_UPDATE));
    const HWND box = WaitForWindow(L"#32770", dialog, dialog, STEP_WAIT_MS);
    if (box == nullptr) {
        Abort("no warning box after Update");
    }
    Sleep(300);
    Check(CaptionOf(box) == Res(IDS_IMPORTANT_NOTE_CAPTION), "warning caption: found \"%s\"",
          Utf8(CaptionOf(box)).c_str());
    ExpectText(Item(box, MESSAGE_BOX_TEXT_ID), Res(IDS_DO_NOT_INTERRUPT), "warning text");
    Check(Item(box, IDOK) != nullptr && Item(box, IDCANCEL) != nullptr,
          "the warning has no OK and Cancel buttons");
    return box;
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

struct AtWarning {
    HWND dialog;
    ReadyRows rows;
    HWND box;
};

// The simulated unit found ready, Update pressed, the warning before the update open.
AtWarning StartAndPressUpdate(const wchar_t* updater) {
    AtWarning at;
    at.dialog = StartUpdater(updater);
    at.rows = ExpectReady(at.dialog);
    Snapshot("sim-ready");
    at.box = ExpectWarningBox(at.dialog);
    Snapshot("sim-confirm");
    return at;
}

void Update(const wchar_t* updater) {
    const AtWarning at = StartAndPressUpdate(updater);
    const HWND dialog = at.dialog;
    const ReadyRows& rows = at.rows;
    Click(Item(at.box, IDOK));
    const DWORD confirmed = GetTickCount();

    // The erase and its settle pause come first; then the transfer.
    const HWND progress = WaitForWindow(PROGRESS_CLASSW, nullptr, nullptr, STEP_WAIT_MS);
    if (progress == nullptr) {
        Abort("no progress window");
    }
    const DWORD start = GetTickCount();
    ExpectProgressWindow(dialog, progress);

    // The update serves no messages; the bar must still be painted as it moves.
    std::vector<double> fills;
    bool snapped = false;
    while (IsWindow(progress) && GetTickCount() - start < TRANSFER_WAIT_MS) {
        const double fill = ProgressFill(progress);
        if (IsWindow(progress)) {
            fills.push_back(fill);
        }
        if (!snapped && fill > 0.4) {
            Snapshot("sim-progress");
            snapped = true;
        }
        Sleep(500);
    }
    const DWORD took = GetTickCount() - start;
    Check(!IsWindow(progress), "the transfer did not end");
    Note("transfer (progress window shown) took %.1f s", took / 1000.0);
    int rises = 0;
    for (size_t i = 1; i < fills.size(); ++i) {
        rises += fills[i] > fills[i - 1] ? 1 : 0;
    }
    Note("progress bar fill sampled %u times, rose %d times, last %.2f", unsigned(fills.size()),
         rises, fills.empty() ? 0.0 : fills.back());
    Check(rises >= 10 && !fills.empty() && fills.back() > 0.9,
          "the progress bar was not seen moving to its end");

    // The closing steps follow the transfer; the success text ends the update.
    const DWORD waitStart = GetTickCount();
    while (TextOf(Item(dialog, IDC_STATUS_PANE)) != Res(IDS_UPDATE_SUCCESSFUL) &&
           GetTickCount() - waitStart < STEP_WAIT_MS) {
        Sleep(200);
    }
    ExpectText(Item(dialog, IDC_STATUS_PANE), Res(IDS_UPDATE_SUCCESSFUL), "hint pane");
    Note("whole update (OK to success text) took %.1f s", (GetTickCount() - confirmed) / 1000.0);
    ExpectText(Item(dialog, IDC_ROW3_VALUE), L"3.5", "controller firmware");
    ExpectText(Item(dialog, IDC_ROW1_VALUE), rows.unit, "unit firmware");
    ExpectText(Item(dialog, IDC_ROW2_VALUE), rows.bootloader, "bootloader");
    ExpectEnabled(Item(dialog, IDC_UPDATE), false, "Update");
    Check(WaitForWindow(L"#32770", dialog, dialog, 0) == nullptr, "a message box is open");
    ExpectPainting(dialog, true);
    Snapshot("sim-success");
    CloseAndExpectExitCode0(dialog, CloseBy::CaptionCloseBox);
}

// What the system sends when the unit's interface comes or goes. The path is
// given in lower case: the updater must match it without regard to case.
bool AnnounceInterface(HWND dialog, WPARAM event) {
    std::wstring path = reinterpret_cast<const wchar_t*>(SIM_DEMO_UNIT_PATH);
    for (wchar_t& c : path) {
        c = wchar_t(towlower(c));
    }
    const size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    std::vector<uint8_t> bytes(nameOffset + (path.size() + 1) * sizeof(wchar_t));
    auto* broadcast = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(bytes.data());
    broadcast->dbcc_size = DWORD(bytes.size());
    broadcast->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    std::memcpy(bytes.data() + nameOffset, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    DWORD_PTR answer = 0;
    const LRESULT sent =
        SendMessageTimeoutW(dialog, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(bytes.data()),
                            SMTO_ABORTIFHUNG, 10000, &answer);
    return Check(sent != 0, "WM_DEVICECHANGE 0x%04x was not delivered", unsigned(event));
}

void CancelAndReplug(const wchar_t* updater) {
    const AtWarning at = StartAndPressUpdate(updater);
    const HWND dialog = at.dialog;
    const ReadyRows& rows = at.rows;
    const HWND box = at.box;
    Click(Item(box, IDCANCEL));
    const DWORD start = GetTickCount();
    while (IsWindow(box) && GetTickCount() - start < STEP_WAIT_MS) {
        Sleep(100);
    }
    Check(!IsWindow(box), "the warning did not close");
    Sleep(500);
    // Nothing was sent: the unit stays ready and the dialog as it was.
    Check(WaitForWindow(PROGRESS_CLASSW, nullptr, nullptr, 0) == nullptr,
          "a progress window shows");
    ExpectText(Item(dialog, IDC_STATUS_PANE), Res(IDS_READY), "hint pane");
    ExpectText(Item(dialog, IDC_ROW3_VALUE), L"3.4", "controller firmware");
    ExpectText(Item(dialog, IDC_ROW1_VALUE), rows.unit, "unit firmware");
    ExpectEnabled(Item(dialog, IDC_UPDATE), true, "Update");

    if (AnnounceInterface(dialog, DBT_DEVICEREMOVECOMPLETE)) {
        ExpectText(Item(dialog, IDC_STATUS_PANE), WithInstructions(IDS_CONNECTION_LOST),
                   "hint pane after removal");
        ExpectEmptyPanel(dialog);
        ExpectText(Item(dialog, IDC_ROW1_CAPTION), L"LINK-CUBE", "row 1 caption after removal");
        ExpectEnabled(Item(dialog, IDC_UPDATE), false, "Update after removal");
        Snapshot("sim-removed");
    }
    // The simulated unit never left, so its next arrival finds it ready again.
    if (AnnounceInterface(dialog, DBT_DEVICEARRIVAL)) {
        ExpectText(Item(dialog, IDC_STATUS_PANE), Res(IDS_READY), "hint pane after arrival");
        ExpectText(Item(dialog, IDC_ROW3_VALUE), L"3.4", "controller firmware after arrival");
        ExpectEnabled(Item(dialog, IDC_UPDATE), true, "Update after arrival");
    }
    CloseAndExpectExitCode0(dialog, CloseBy::Button);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fprintf(stderr,
                     "usage: ui_driver <no-unit|update|cancel-replug> <updater.exe> <en|de>\n");
        return 2;
    }
    const std::wstring scenario = argv[1];
    if (std::wstring(argv[3]) == L"de") {
        g_language = RES_LANG_GERMAN;
        g_languageName = "de";
    }
    ExpectTheLanguageAsked();
    if (scenario == L"no-unit") {
        NoUnit(argv[2]);
    } else if (scenario == L"update") {
        Update(argv[2]);
    } else if (scenario == L"cancel-replug") {
        CancelAndReplug(argv[2]);
    } else {
        std::fprintf(stderr, "unknown scenario\n");
        return 2;
    }
    std::printf("NOTE %d failed checks\n", g_failures);
    std::printf("RESULT %s\n", g_failures == 0 ? "PASS" : "FAIL");
    std::fflush(stdout);
    return g_failures == 0 ? 0 : 1;
}
