// The recording UI port: see recording_ui.h.
#include "tests/support/recording_ui.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "device/wide_text.h"
#include "res/firmware_image_digest.h"
#include "res/resource_data.h"
#include "tests/support/virtual_clock.h"
#include "update/sha256.h"

RecordingUi g_ui;

namespace {

void Record(UiCall call, std::initializer_list<int64_t> numbers = {},
            const char16_t* text = nullptr, const char16_t* caption = nullptr) {
    UiRecord record;
    record.call = call;
    int64_t* slots[] = {&record.first, &record.second, &record.third, &record.fourth,
                        &record.fifth};
    size_t i = 0;
    for (int64_t number : numbers) {
        *slots[i++] = number;
    }
    if (text != nullptr) {
        record.text = text;
    }
    if (caption != nullptr) {
        record.caption = caption;
    }
    g_ui.log.push_back(std::move(record));
}

std::string Hex(int64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

} // namespace

void RecordingUiReset() {
    // The wire count comes from the test program's fixture, once for every reset.
    std::function<int64_t()> wireRecords = std::move(g_ui.wireRecords);
    g_ui = RecordingUi{};
    g_ui.wireRecords = std::move(wireRecords);
    g_ui.language = RES_LANG_ENGLISH;
    g_ui.dialogRect = UiRect{100, 100, 600, 500};
    g_ui.progressToCreate = RECORDING_PROGRESS_WINDOW;
    g_ui.progressAlive = false;
    g_ui.guardHeld = false;
    g_ui.foreground = RECORDING_DIALOG_WINDOW;
    g_ui.image = ResFirmwareImageData();
    g_ui.imageSize = ResFirmwareImageSize();
    std::memcpy(g_ui.imageDigest, FIRMWARE_IMAGE_SHA256, sizeof g_ui.imageDigest);
    g_ui.enabled[1002] = false;
    g_mainDialog = RECORDING_DIALOG_WINDOW;
    VirtualClockSetObserver(RecordingUiNoteSleep);
}

void RecordingUiNoteSleep(uint32_t milliseconds) {
    Record(UiCall::Sleep, {milliseconds});
    if (g_ui.onSleep) {
        g_ui.onSleep(milliseconds);
    }
}

void RecordingUiNote(UiCall call, int64_t first, const char16_t* text) {
    Record(call, {first}, text);
}

void RecordingUiSetImage(const uint8_t* image, uint32_t size) {
    g_ui.image = image;
    g_ui.imageSize = size;
    if (image != nullptr) {
        Sha256(image, size, g_ui.imageDigest);
    }
}

std::string Utf8(const std::u16string& text) {
    std::string out(text.size() * 3 + 1, '\0');
    out.resize(WideToUtf8(out.data(), out.size(), text.c_str()));
    return out;
}

std::u16string TableText(uint16_t id) {
    char16_t buffer[TEXT_BUFFER_CHARS];
    const int length = ResLoadString(id, g_ui.language, buffer, TEXT_BUFFER_CHARS);
    return std::u16string(buffer, size_t(std::max(length, 0)));
}

std::string TableTextUtf8(uint16_t id) {
    return Utf8(TableText(id));
}

std::string DescribeUiRecord(const UiRecord& r) {
    const std::string n = std::to_string(r.first);
    switch (r.call) {
    case UiCall::LoadString:
        return "load " + n;
    case UiCall::SetText:
        return "text " + n + " " + Utf8(r.text);
    case UiCall::GetTextLength:
        return "length " + n;
    case UiCall::GetText:
        return "get " + n;
    case UiCall::Enable:
        return "enable " + n + " " + std::to_string(r.second);
    case UiCall::SetTitle:
        return "title " + Utf8(r.text);
    case UiCall::MessageBox:
        return "box " + Hex(r.first) + " -> " + std::to_string(r.second);
    case UiCall::GetWindowRect:
        return "rect " + Hex(r.first);
    case UiCall::CreateProgress:
        return "create " + std::to_string(r.second) + "," + std::to_string(r.third) + " " +
               std::to_string(r.fourth) + "x" + std::to_string(r.fifth) + " " + Utf8(r.text) +
               " -> " + Hex(r.first);
    case UiCall::SetProgress:
        return "position " + Hex(r.first) + " " + std::to_string(r.second);
    case UiCall::Raise:
        return "raise " + Hex(r.first);
    case UiCall::GetForeground:
        return "foreground -> " + Hex(r.first);
    case UiCall::Show:
        return "show " + Hex(r.first);
    case UiCall::Destroy:
        return "destroy " + Hex(r.first);
    case UiCall::MapImage:
        return "image";
    case UiCall::Sleep:
        return "sleep " + n;
    case UiCall::GuardTake:
        return "guard take after " + n + " " + Utf8(r.text);
    case UiCall::GuardRelease:
        return "guard release after " + n;
    case UiCall::TaskbarProgress:
        return "taskbar progress " + n;
    case UiCall::TaskbarFailed:
        return "taskbar failed " + Utf8(r.caption) + " " + Utf8(r.text);
    case UiCall::TaskbarEnded:
        return "taskbar ended " + Utf8(r.text);
    }
    return "?";
}

std::vector<std::string> UiTrace(std::initializer_list<UiCall> calls) {
    std::vector<std::string> lines;
    for (const UiRecord& record : g_ui.log) {
        if (calls.size() == 0 ||
            std::find(calls.begin(), calls.end(), record.call) != calls.end()) {
            lines.push_back(DescribeUiRecord(record));
        }
    }
    return lines;
}

size_t CountUiCalls(UiCall call) {
    return size_t(std::count_if(g_ui.log.begin(), g_ui.log.end(),
                                [call](const UiRecord& r) { return r.call == call; }));
}

// --- The port ------------------------------------------------------------------

int UiLoadString(uint16_t id, char16_t* buffer, int capacity) {
    Record(UiCall::LoadString, {id});
    return ResLoadString(id, g_ui.language, buffer, capacity);
}

void UiSetItemText(int controlId, const char16_t* text) {
    Record(UiCall::SetText, {controlId}, text);
    g_ui.texts[controlId] = text;
}

int UiGetItemTextLength(int controlId) {
    Record(UiCall::GetTextLength, {controlId});
    return int(g_ui.texts[controlId].size());
}

int UiGetItemText(int controlId, char16_t* buffer, int capacity) {
    Record(UiCall::GetText, {controlId});
    if (capacity <= 0) {
        return 0;
    }
    return int(WideCopy(buffer, size_t(capacity), g_ui.texts[controlId].c_str()));
}

void UiEnableItem(int controlId, bool enable) {
    Record(UiCall::Enable, {controlId, enable ? 1 : 0});
    g_ui.enabled[controlId] = enable;
}

void UiSetDialogTitle(const char16_t* title) {
    Record(UiCall::SetTitle, {}, title);
    g_ui.title = title;
}

int UiMessageBox(const char16_t* text, const char16_t* caption, uint32_t style) {
    int answer = UI_IDOK;
    if (!g_ui.answers.empty()) {
        answer = g_ui.answers.front();
        g_ui.answers.pop_front();
    } else if ((style & 0x0F) == UI_MB_YESNO) {
        answer = UI_IDYES;
    }
    Record(UiCall::MessageBox, {style, answer}, text, caption);
    if (!g_ui.whileBoxOpen.empty()) {
        std::function<void()> during = std::move(g_ui.whileBoxOpen.front());
        g_ui.whileBoxOpen.pop_front();
        if (during) {
            during();
        }
    }
    return answer;
}

UiRect UiGetWindowRect(UiWindow window) {
    Record(UiCall::GetWindowRect, {window});
    return window == g_mainDialog ? g_ui.dialogRect : UiRect{0, 0, 0, 0};
}

UiWindow UiCreateProgressWindow(const char16_t* title, int32_t x, int32_t y, int32_t width,
                                int32_t height) {
    Record(UiCall::CreateProgress, {g_ui.progressToCreate, x, y, width, height}, title);
    g_ui.progressAlive = g_ui.progressToCreate != 0;
    return g_ui.progressToCreate;
}

void UiSetProgressPosition(UiWindow progress, uint32_t position) {
    Record(UiCall::SetProgress, {progress, position});
}

void UiRaiseWindow(UiWindow window) {
    Record(UiCall::Raise, {window});
}

UiWindow UiGetForegroundWindow() {
    UiWindow answer = g_ui.foreground;
    if (!g_ui.foregroundAnswers.empty()) {
        answer = g_ui.foregroundAnswers.front();
        g_ui.foregroundAnswers.pop_front();
    }
    Record(UiCall::GetForeground, {answer});
    return answer;
}

void UiShowWindow(UiWindow window) {
    Record(UiCall::Show, {window});
}

void UiDestroyWindow(UiWindow window) {
    Record(UiCall::Destroy, {window});
    if (window != 0 && window == g_ui.progressToCreate) {
        g_ui.progressAlive = false;
    }
}

void UiMapFirmwareImage(const uint8_t** first, uint32_t* size) {
    Record(UiCall::MapImage);
    *first = g_ui.image;
    *size = g_ui.imageSize;
}

const uint8_t* UiFirmwareImageDigest() {
    return g_ui.imageDigest;
}
