// The update started by the Update button, and its failure report.
#pragma once
#include <cstdint>

constexpr uint32_t ERASE_SETTLE_MS = 4000;
constexpr int32_t STEP_NOT_CONFIRMED = 1627; // 0x0000065B

void UpdateProcedure();
// firstCode -1 shows the message without the error-code line.
void ReportUpdateFailure(const char16_t* message, const char16_t* caption, int32_t firstCode,
                         uint32_t secondCode);
