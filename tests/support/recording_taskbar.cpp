// The taskbar port of the core tests: each call goes into the recording UI
// port's log, so that tests see it in order with the boxes and pauses.
#include "update/taskbar_port.h"

#include "tests/support/recording_ui.h"

namespace {

void RecordTaskbar(UiCall call, int64_t position, const char16_t* text, const char16_t* caption) {
    UiRecord record;
    record.call = call;
    record.first = position;
    if (text != nullptr) {
        record.text = text;
    }
    if (caption != nullptr) {
        record.caption = caption;
    }
    g_ui.log.push_back(std::move(record));
}

} // namespace

void TaskbarShowProgress(uint32_t position) {
    RecordTaskbar(UiCall::TaskbarProgress, position, nullptr, nullptr);
}

void TaskbarShowFailed(const char16_t* caption, const char16_t* text) {
    RecordTaskbar(UiCall::TaskbarFailed, 0, text, caption);
}

void TaskbarShowEnded(const char16_t* text) {
    RecordTaskbar(UiCall::TaskbarEnded, 0, text, nullptr);
}
