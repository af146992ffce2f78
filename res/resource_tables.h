// The tables that generate_resource_data.py writes from the resource script, and
// that the lookups of resource_data.h search. Only res/ uses them directly.
#pragma once
#include <cstdint>
#include "res/resource_data.h"

struct ResStringEntry {
    uint16_t language;
    uint16_t id;
    uint16_t length; // UTF-16 units, without terminator
    const char16_t* text;
};
extern const ResStringEntry g_resStrings[];
extern const int g_resStringCount;
extern const uint16_t g_resStringIds[]; // ascending, each once
extern const int g_resStringIdCount;

struct ResDialogEntry {
    uint16_t id;
    uint16_t language;
    ResDialogTemplate dialog;
};
extern const ResDialogEntry g_resDialogs[];
extern const int g_resDialogCount;

extern const uint8_t g_resFirmwareImage[];
extern const uint32_t g_resFirmwareImageSize;

extern const ResVersionInfo g_resVersion;
