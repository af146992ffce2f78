// The UI port of the core tests: records every UI call in order (with the
// virtual clock's pauses, the update guard's and the taskbar's calls among them),
// keeps control texts and enabled states, answers message boxes from a script and
// can deliver device events while a box is open, as a platform's modal loop does.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "update/ui_port.h"
#include "update/sha256.h"

enum class UiCall {
    LoadString,
    SetText,
    GetTextLength,
    GetText,
    Enable,
    SetTitle,
    MessageBox,
    GetWindowRect,
    CreateProgress,
    SetProgress,
    Raise,
    GetForeground,
    Show,
    Destroy,
    MapImage,
    Sleep,
    GuardTake,    // the update guard taken (recording_update_guard.cpp)
    GuardRelease, // the update guard released while held
    // The taskbar port (recording_taskbar.cpp), in the same log.
    TaskbarProgress,
    TaskbarFailed,
    TaskbarEnded,
};

struct UiRecord {
    UiCall call;
    // control or string ID, window, style, position, milliseconds, or for the
    // guard the wire records logged before it
    int64_t first = 0;
    int64_t second = 0; // enabled state, answer, or further numbers (progress geometry)
    int64_t third = 0;
    int64_t fourth = 0;
    int64_t fifth = 0;
    std::u16string text;
    std::u16string caption;
};

constexpr UiWindow RECORDING_DIALOG_WINDOW = 0x1000;
constexpr UiWindow RECORDING_PROGRESS_WINDOW = 0x2000;
constexpr UiWindow RECORDING_OTHER_APP_WINDOW = 0x3000;

struct RecordingUi {
    std::vector<UiRecord> log;

    // Controls: text and enabled state by control ID. The template's states at
    // start: every label enabled, Update disabled, texts empty.
    std::map<int, std::u16string> texts;
    std::map<int, bool> enabled;
    std::u16string title;

    uint16_t language; // RES_LANG_ENGLISH unless a test chooses German

    // Message boxes take their answers from here in order; with none left the
    // box answers as if OK (or Yes) was clicked.
    std::deque<int> answers;
    // Each box runs the next of these while it is open (none left: nothing).
    std::deque<std::function<void()>> whileBoxOpen;

    UiRect dialogRect;
    UiWindow progressToCreate; // what UiCreateProgressWindow returns; 0: creation fails
    bool progressAlive;
    // UiGetForegroundWindow answers from here in order, then `foreground`.
    std::deque<UiWindow> foregroundAnswers;
    UiWindow foreground;

    // Runs after each pause is logged, with its length (e.g. to close the unit
    // between two steps, or to change the last error during a pause).
    std::function<void(uint32_t)> onSleep;

    // The update guard: whether it is held, and how many records the wire log
    // holds (set by tests that run a unit), so that the guard's calls can be
    // placed among the requests.
    bool guardHeld;
    std::function<int64_t()> wireRecords;

    const uint8_t* image; // served by UiMapFirmwareImage (default: the real image)
    uint32_t imageSize;
    uint8_t imageDigest[SHA256_DIGEST_BYTES]; // served by UiFirmwareImageDigest
};

extern RecordingUi g_ui;

// A fresh recording port: the state above at its defaults, g_mainDialog set, and
// the virtual clock's pauses routed into the log.
void RecordingUiReset();
void RecordingUiNoteSleep(uint32_t milliseconds);
// Logs a call of a port beside the UI port (the update guard) among the UI calls.
void RecordingUiNote(UiCall call, int64_t first, const char16_t* text = nullptr);
// Serves image as the program's image, with its own digest as the recorded one;
// bytes changed after this call make it an image that no longer matches.
void RecordingUiSetImage(const uint8_t* image, uint32_t size);

// The log rendered as short lines, e.g. "text 40004 ...", "enable 1002 0",
// "box 0x31 -> 1", "sleep 20", only for the calls named (all when empty).
std::vector<std::string> UiTrace(std::initializer_list<UiCall> calls = {});
std::string DescribeUiRecord(const UiRecord& record);
size_t CountUiCalls(UiCall call);

// A string-table text in the recording port's language, as UTF-16 and UTF-8.
std::u16string TableText(uint16_t id);
std::string TableTextUtf8(uint16_t id);
std::string Utf8(const std::u16string& text);
