#include "tests/behaviour/update_test_support.h"

#include <cstdio>

#include "device/command_reports.h"
#include "device/hid/sim_world.h"
#include "res/resource_ids.h"

std::u16string FailureText(uint16_t messageId, bool withCodes, uint32_t firstCode,
                           uint32_t secondCode) {
    std::u16string text = TableText(messageId);
    if (!withCodes) {
        return text;
    }
    std::u16string line = TableText(IDS_ERROR_CODE_LINE);
    const size_t at = line.find(u"0x%08x-0x%08x");
    char numbers[32];
    const int length =
        std::snprintf(numbers, sizeof numbers, "0x%08x-0x%08x", firstCode, secondCode);
    line.replace(at, 14, std::u16string(numbers, numbers + length));
    return text + u"\r\n" + line;
}

std::vector<const UiRecord*> Boxes() {
    std::vector<const UiRecord*> boxes;
    for (const UiRecord& record : g_ui.log) {
        if (record.call == UiCall::MessageBox) {
            boxes.push_back(&record);
        }
    }
    return boxes;
}

std::vector<uint32_t> Pauses() {
    std::vector<uint32_t> pauses;
    for (const UiRecord& record : g_ui.log) {
        if (record.call == UiCall::Sleep) {
            pauses.push_back(uint32_t(record.first));
        }
    }
    return pauses;
}

std::vector<uint32_t> ProgressPositions() {
    std::vector<uint32_t> positions;
    for (const UiRecord& record : g_ui.log) {
        if (record.call == UiCall::SetProgress) {
            positions.push_back(uint32_t(record.second));
        }
    }
    return positions;
}

std::vector<int> BlockWordCounts() {
    std::vector<int> counts;
    for (const SimWireRecord& record : SimWireLog()) {
        if (record.isWrite && record.bytes.size() > 2 && record.bytes[1] == CMD_WRITE_BLOCK) {
            counts.push_back(record.bytes[2] / 4);
        }
    }
    return counts;
}

size_t FirstIndexOf(UiCall call, size_t from) {
    for (size_t i = from; i < g_ui.log.size(); ++i) {
        if (g_ui.log[i].call == call) {
            return i;
        }
    }
    return g_ui.log.size();
}

size_t LastIndexOf(UiCall call) {
    for (size_t i = g_ui.log.size(); i-- > 0;) {
        if (g_ui.log[i].call == call) {
            return i;
        }
    }
    return g_ui.log.size();
}

std::vector<uint8_t> PatternImage(uint32_t size) {
    std::vector<uint8_t> image(size);
    uint32_t state = 0x12345678u;
    for (uint8_t& byte : image) {
        state = state * 1103515245u + 12345u;
        byte = uint8_t(state >> 16);
    }
    return image;
}
