// The resources of res/ as C++ data, generated at build time from the same files
// that the Windows resource script compiles. Used by the Linux program and by the
// tests; the Windows program loads the real resources from its module instead.
#pragma once
#include <cstdint>

constexpr uint16_t RES_LANG_ENGLISH = 9;   // primary language English, neutral
constexpr uint16_t RES_LANG_GERMAN = 1031; // German (Germany)

// LoadStringW semantics: copies the entry (truncated to capacity - 1 units) and
// terminates it; returns the number of units copied, 0 when the ID is absent in
// that language. With a null buffer or a capacity below 1 it writes nothing and
// returns 0 (LoadStringW would hand out a pointer into the table instead).
int ResLoadString(uint16_t id, uint16_t language, char16_t* buffer, int capacity);
// Every string ID in the table, ascending, for cross-checks.
int ResStringIds(const uint16_t** ids);

// The language the locale asks for: LC_ALL, then LC_MESSAGES, then LANG (the
// first one set and not empty) give the locale; unless it is C or POSIX, the
// first "de*" or "en*" entry of LANGUAGE decides, and without one the locale:
// German for "de*", English otherwise.
uint16_t ResLanguageFromEnvironment();

struct ResDialogControl {
    int32_t id;            // -1 for a control without ID
    const char* className; // "button", "edit" or "static"
    const char16_t* text;
    int16_t x, y, cx, cy; // dialog units
    uint32_t style;
    uint32_t exStyle;
};

struct ResDialogTemplate {
    uint32_t style;
    uint32_t exStyle;
    int16_t x, y, cx, cy; // dialog units
    const char16_t* title;
    const char16_t* fontName;
    uint16_t pointSize;
    uint16_t weight;
    uint8_t italic;
    uint8_t charset;
    int controlCount;
    const ResDialogControl* controls;
};

// Null when the template is absent in that language.
const ResDialogTemplate* ResFindDialog(uint16_t id, uint16_t language);

// The version resource: its fixed numbers and its texts, one block of them per
// language (keyed as Windows keys them: language 0x0409 or 0x0407, code page 1200).
struct ResVersionText {
    uint16_t language;
    uint16_t codePage;
    const char* name; // "FileVersion", "ProductName", ...
    const char16_t* value;
};

struct ResVersionInfo {
    uint16_t id;
    uint16_t language; // of the resource itself
    uint16_t fileVersion[4];
    uint16_t productVersion[4];
    uint32_t fileFlagsMask, fileFlags, fileOs, fileType, fileSubtype;
    int textCount;
    const ResVersionText* texts;
    int translationCount;
    const uint16_t* translations; // language, code page; language, code page; ...
};

const ResVersionInfo* ResVersion();

// The embedded firmware image, byte for byte the file that the resource script
// embeds as raw data 142; never empty, its size a multiple of 4 (the build checks).
const uint8_t* ResFirmwareImageData();
uint32_t ResFirmwareImageSize();
