// The three version rows and the unit's model name.
#pragma once
#include <cstddef>
#include <cstdint>

void RefreshVersionPanel();
// "1.3.4"-style text of a 32-bit version word (bits 16..23 are never shown).
void FormatVersion32(uint32_t value, char16_t* buffer, size_t capacity);
