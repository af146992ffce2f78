// Writes the image to the controller in 48-byte blocks behind a progress window.
#pragma once
#include <cstdint>
#include "device/command_reports.h"

constexpr uint32_t BLOCK_BYTES = 48;
constexpr uint32_t BLOCK_WORDS = 12;
constexpr uint32_t STEP_PAUSE_MS = 20;
constexpr int32_t PROGRESS_WINDOW_WIDTH = 400;
constexpr int32_t PROGRESS_WINDOW_HEIGHT = 50;

struct TransferOutcome {
    ExchangeResult result; // 0 when every block was accepted
    uint32_t lastError;    // read right after the failed block
};

TransferOutcome TransferImage(const uint8_t* image, uint32_t size);
// Position of the progress bar after `sent` of `size` bytes, 0..100, exact for
// every 32-bit size.
uint32_t ProgressPosition(uint32_t sent, uint32_t size);
// Blocks that an image of `size` bytes takes, a shorter last one included.
constexpr uint32_t BlockCount(uint32_t size) {
    return uint32_t((uint64_t(size) + BLOCK_BYTES - 1) / BLOCK_BYTES);
}
