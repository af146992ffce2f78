// The update guard of the core tests: its calls go into the recording UI port's
// log, with how far the wire log had come, so that tests can place them among the
// boxes, the texts and the requests.
#include "update/update_guard_port.h"

#include "tests/support/recording_ui.h"

namespace {

int64_t WireRecords() {
    return g_ui.wireRecords ? g_ui.wireRecords() : 0;
}

} // namespace

void UpdateGuardTake(const char16_t* reason) {
    g_ui.guardHeld = true;
    RecordingUiNote(UiCall::GuardTake, WireRecords(), reason);
}

void UpdateGuardRelease() {
    if (!g_ui.guardHeld) {
        return;
    }
    g_ui.guardHeld = false;
    RecordingUiNote(UiCall::GuardRelease, WireRecords());
}
