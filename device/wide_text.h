// Bounded UTF-16 text helpers shared by the core. Capacities count char16_t units
// including the terminator; results are always terminated when capacity > 0.
#pragma once
#include <cstddef>
#include <cstdint>

size_t WideLength(const char16_t* text);
// Copies and truncates; returns the length written.
size_t WideCopy(char16_t* destination, size_t capacity, const char16_t* source);
// Appends as much as fits; returns the resulting length.
size_t WideAppend(char16_t* destination, size_t capacity, const char16_t* source);
// Newly allocated copy (malloc), or null when out of memory.
char16_t* WideDuplicate(const char16_t* source);
// One unit in the letter case that paths are compared in (see WideEqualNoCase).
char16_t WideFoldCase(char16_t c);
// Whole-string comparison without regard to letter case.
bool WideEqualNoCase(const char16_t* a, const char16_t* b);
// printf-style formatting into a bounded buffer. Supports %s (const char16_t*),
// %u (unsigned), %x and %0Nx (unsigned, lower-case hex, zero padded to N) and %%.
// Returns the length written (truncated to fit).
size_t WideFormat(char16_t* destination, size_t capacity, const char16_t* format, ...);
// UTF-8 <-> UTF-16 for platform boundaries (Linux paths, Qt); bounded like above.
size_t WideFromUtf8(char16_t* destination, size_t capacity, const char* source);
size_t WideToUtf8(char* destination, size_t capacity, const char16_t* source);
