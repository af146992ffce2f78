// The block loop of the update: the image goes out in 48-byte blocks, in order,
// from the write address set before; the unit places them one after the other.
#include "update/transfer_image.h"

#include <cstring>

#include "update/taskbar_port.h"
#include "update/ui_port.h"
#include "device/command_reports.h"
#include "device/hid/clock_port.h"
#include "res/resource_ids.h"

// Identification refuses units whose output report cannot carry one of these
// blocks; the two numbers must not drift apart.
static_assert(4 + BLOCK_BYTES == MIN_OUTPUT_REPORT_BYTES,
              "a block request must fit the smallest output report a unit may have");

namespace {

// Centred over the dialog; the halves are floored, also for odd or negative sizes.
int32_t CentredOrigin(int32_t low, int32_t high, int32_t halfWindow) {
    const int64_t span = int64_t(high) - int64_t(low);
    const int64_t half = span >= 0 ? span / 2 : -((-span + 1) / 2);
    return int32_t(int64_t(low) + half - halfWindow);
}

// Brings both windows to the front once the user has one of them in the
// foreground; while another application holds it, the updater stays behind.
void ApplyForegroundRule(UiWindow progress, UiWindow* remembered) {
    if (*remembered == g_mainDialog || *remembered == progress) {
        return;
    }
    const UiWindow foreground = UiGetForegroundWindow();
    if (foreground != g_mainDialog && foreground != progress) {
        return;
    }
    *remembered = foreground;
    UiRaiseWindow(g_mainDialog);
    UiRaiseWindow(progress);
    UiShowWindow(g_mainDialog);
    UiShowWindow(progress);
}

} // namespace

uint32_t ProgressPosition(uint32_t sent, uint32_t size) {
    if (size == 0) {
        return 0;
    }
    return uint32_t(uint64_t(sent) * 100u / size);
}

TransferOutcome TransferImage(const uint8_t* image, uint32_t size) {
    const UiRect dialog = UiGetWindowRect(g_mainDialog);
    char16_t title[TEXT_BUFFER_CHARS];
    UiLoadString(IDS_PROGRESS_TITLE, title, TEXT_BUFFER_CHARS);
    const UiWindow progress = UiCreateProgressWindow(
        title, CentredOrigin(dialog.left, dialog.right, PROGRESS_WINDOW_WIDTH / 2),
        CentredOrigin(dialog.top, dialog.bottom, PROGRESS_WINDOW_HEIGHT / 2), PROGRESS_WINDOW_WIDTH,
        PROGRESS_WINDOW_HEIGHT);
    UiSetProgressPosition(progress, 0);
    uint32_t shownPosition = 0;
    TaskbarShowProgress(shownPosition);
    UiRaiseWindow(g_mainDialog);
    UiRaiseWindow(progress);

    UiWindow remembered = 0;
    uint32_t remaining = size;
    const uint8_t* cursor = image;
    uint8_t lastBlock[BLOCK_BYTES];

    while (remaining != 0) {
        ExchangeResult result;
        if (remaining >= BLOCK_BYTES) {
            result = WriteBlock(cursor, BLOCK_WORDS);
            cursor += BLOCK_BYTES;
            remaining -= BLOCK_BYTES;
        } else {
            // The tail goes through an erased-flash (0xFF) buffer, its word count
            // rounded up so that a size that is not a multiple of 4 loses no byte.
            std::memset(lastBlock, 0xFF, sizeof lastBlock);
            std::memcpy(lastBlock, cursor, remaining);
            result = WriteBlock(lastBlock, int32_t((remaining + 3) / 4));
            remaining = 0;
        }
        if (result != EXCHANGE_OK) {
            const uint32_t lastError = PlatformLastError();
            UiDestroyWindow(progress);
            return {result, lastError};
        }
        const uint32_t position = ProgressPosition(size - remaining, size);
        UiSetProgressPosition(progress, position);
        // A hundred calls an update rather than one a block: the desktop's
        // taskbar or dock is another process.
        if (position != shownPosition) {
            shownPosition = position;
            TaskbarShowProgress(position);
        }
        ApplyForegroundRule(progress, &remembered);
        PlatformSleep(STEP_PAUSE_MS);
    }

    UiDestroyWindow(progress);
    return {EXCHANGE_OK, 0};
}
