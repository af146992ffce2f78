// Lookups over the generated tables, with the semantics of the Windows resource
// functions that the Windows build uses in their place.
#include "res/resource_data.h"
#include "res/resource_tables.h"

int ResLoadString(uint16_t id, uint16_t language, char16_t* buffer, int capacity) {
    // Unlike LoadStringW, a capacity of 0 does not hand out a pointer into the
    // table: there is nowhere safe to put it, so nothing is written.
    if (buffer == nullptr || capacity <= 0) {
        return 0;
    }
    buffer[0] = 0;
    for (int i = 0; i < g_resStringCount; ++i) {
        const ResStringEntry& entry = g_resStrings[i];
        if (entry.id != id || entry.language != language) {
            continue;
        }
        int length = entry.length < capacity - 1 ? entry.length : capacity - 1;
        for (int k = 0; k < length; ++k) {
            buffer[k] = entry.text[k];
        }
        buffer[length] = 0;
        return length;
    }
    return 0;
}

int ResStringIds(const uint16_t** ids) {
    *ids = g_resStringIds;
    return g_resStringIdCount;
}

const ResDialogTemplate* ResFindDialog(uint16_t id, uint16_t language) {
    for (int i = 0; i < g_resDialogCount; ++i) {
        if (g_resDialogs[i].id == id && g_resDialogs[i].language == language) {
            return &g_resDialogs[i].dialog;
        }
    }
    return nullptr;
}

const ResVersionInfo* ResVersion() {
    return &g_resVersion;
}

const uint8_t* ResFirmwareImageData() {
    return g_resFirmwareImage;
}

uint32_t ResFirmwareImageSize() {
    return g_resFirmwareImageSize;
}
