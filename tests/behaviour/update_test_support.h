// Helpers shared by the update and transfer tests.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/recording_ui.h"

// The failure box's text as the user must see it: the message alone, or the
// message and the error-code line with both numbers.
std::u16string FailureText(uint16_t messageId, bool withCodes, uint32_t firstCode = 0,
                           uint32_t secondCode = 0);
// The message boxes shown, in order.
std::vector<const UiRecord*> Boxes();
// Pause lengths in order, as logged among the UI calls.
std::vector<uint32_t> Pauses();
// Progress positions set, in order.
std::vector<uint32_t> ProgressPositions();
// Word count (byte 2 / 4) of every block request on the wire.
std::vector<int> BlockWordCounts();
// Index in the UI log of the first record of a call, or the log's size.
size_t FirstIndexOf(UiCall call, size_t from = 0);
size_t LastIndexOf(UiCall call);
// Deterministic bytes for images of any size.
std::vector<uint8_t> PatternImage(uint32_t size);
