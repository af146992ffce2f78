// Walks the items of a report descriptor and adds up, per report kind and report
// ID, the bits of every main item (data and constant padding alike), as the HID
// class driver does when it builds a device's capabilities. That driver gives
// every top-level collection an interface of its own with its own lengths; a
// hidraw node stands for the whole device, so the lengths here are those of its
// first top-level collection, the interface the device is found by first.
#include "device/hid/report_descriptor.h"

namespace {

constexpr int KIND_INPUT = 0;
constexpr int KIND_OUTPUT = 1;
constexpr int KIND_FEATURE = 2;
constexpr int KIND_COUNT = 3;
constexpr int REPORT_ID_SLOTS = 256;
constexpr int GLOBAL_STACK_DEPTH = 16;

// Report lengths are 16-bit and include the ID byte, so no report may carry more.
constexpr uint64_t MAX_REPORT_DATA_BYTES = 0xFFFF - 1;
constexpr uint64_t MAX_REPORT_BITS = MAX_REPORT_DATA_BYTES * 8;

constexpr uint8_t LONG_ITEM_PREFIX = 0xFE;

constexpr uint8_t TYPE_MAIN = 0;
constexpr uint8_t TYPE_GLOBAL = 1;

constexpr uint8_t MAIN_INPUT = 0x8;
constexpr uint8_t MAIN_OUTPUT = 0x9;
constexpr uint8_t MAIN_FEATURE = 0xB;
constexpr uint8_t MAIN_COLLECTION = 0xA;
constexpr uint8_t MAIN_END_COLLECTION = 0xC;

constexpr uint8_t GLOBAL_REPORT_SIZE = 0x7;
constexpr uint8_t GLOBAL_REPORT_ID = 0x8;
constexpr uint8_t GLOBAL_REPORT_COUNT = 0x9;
constexpr uint8_t GLOBAL_PUSH = 0xA;
constexpr uint8_t GLOBAL_POP = 0xB;

struct GlobalState {
    uint32_t reportSize;
    uint32_t reportCount;
    uint32_t reportId;
};

struct Tally {
    // Saturates just above the limit, so that no sum can wrap around.
    uint64_t bits[KIND_COUNT][REPORT_ID_SLOTS];
};

uint32_t ItemValue(const uint8_t* data, uint32_t size) {
    uint32_t value = 0;
    for (uint32_t i = 0; i < size; ++i) {
        value |= static_cast<uint32_t>(data[i]) << (8 * i);
    }
    return value;
}

void AddBits(uint64_t* total, uint64_t bits) {
    // Both factors of `bits` are 32-bit, so the product itself cannot overflow.
    if (bits > MAX_REPORT_BITS || *total + bits > MAX_REPORT_BITS) {
        *total = MAX_REPORT_BITS + 1;
    } else {
        *total += bits;
    }
}

int KindOfMainTag(uint8_t tag) {
    switch (tag) {
    case MAIN_INPUT:
        return KIND_INPUT;
    case MAIN_OUTPUT:
        return KIND_OUTPUT;
    case MAIN_FEATURE:
        return KIND_FEATURE;
    default:
        return -1;
    }
}

// Largest report of one kind in bytes plus the ID byte; 0 when there is none;
// -1 when one is too long to describe in 16 bits.
int32_t LongestReport(const uint64_t bits[REPORT_ID_SLOTS]) {
    uint64_t longest = 0;
    for (int id = 0; id < REPORT_ID_SLOTS; ++id) {
        if (bits[id] > MAX_REPORT_BITS) {
            return -1;
        }
        if (bits[id] > longest) {
            longest = bits[id];
        }
    }
    if (longest == 0) {
        return 0;
    }
    return static_cast<int32_t>((longest + 7) / 8 + 1);
}

} // namespace

int ParseReportDescriptor(const uint8_t* descriptor, size_t length, ReportDescriptorSizes* sizes) {
    if (sizes == nullptr || (descriptor == nullptr && length != 0)) {
        return -1;
    }
    Tally tally = {};
    GlobalState global = {0, 0, 0};
    GlobalState stack[GLOBAL_STACK_DEPTH];
    int depth = 0;
    bool usesReportIds = false;
    // Collections open around the current item, and top-level ones begun so far.
    uint32_t collectionDepth = 0;
    uint32_t topLevelCollections = 0;

    size_t pos = 0;
    while (pos < length) {
        const uint8_t prefix = descriptor[pos];
        if (prefix == LONG_ITEM_PREFIX) {
            // Long items carry no size information: skip them whole.
            if (length - pos < 3) {
                return -1;
            }
            const size_t dataSize = descriptor[pos + 1];
            if (length - pos - 3 < dataSize) {
                return -1;
            }
            pos += 3 + dataSize;
            continue;
        }
        const uint32_t sizeCode = prefix & 0x03u;
        const uint32_t dataSize = sizeCode == 3 ? 4 : sizeCode;
        const uint8_t type = (prefix >> 2) & 0x03u;
        const uint8_t tag = prefix >> 4;
        if (length - pos - 1 < dataSize) {
            return -1;
        }
        const uint32_t value = ItemValue(descriptor + pos + 1, dataSize);
        pos += 1 + dataSize;

        if (type == TYPE_MAIN) {
            if (tag == MAIN_COLLECTION) {
                if (collectionDepth == 0) {
                    ++topLevelCollections;
                }
                ++collectionDepth;
            } else if (tag == MAIN_END_COLLECTION && collectionDepth > 0) {
                --collectionDepth;
            }
            const int kind = KindOfMainTag(tag);
            // Items outside every collection count with the first collection.
            if (kind >= 0 && topLevelCollections <= 1) {
                const uint64_t bits = static_cast<uint64_t>(global.reportSize) * global.reportCount;
                AddBits(&tally.bits[kind][global.reportId], bits);
            }
        } else if (type == TYPE_GLOBAL) {
            switch (tag) {
            case GLOBAL_REPORT_SIZE:
                global.reportSize = value;
                break;
            case GLOBAL_REPORT_COUNT:
                global.reportCount = value;
                break;
            case GLOBAL_REPORT_ID:
                if (value == 0 || value >= REPORT_ID_SLOTS) {
                    return -1;
                }
                global.reportId = value;
                usesReportIds = true;
                break;
            case GLOBAL_PUSH:
                if (depth == GLOBAL_STACK_DEPTH) {
                    return -1;
                }
                stack[depth++] = global;
                break;
            case GLOBAL_POP:
                if (depth == 0) {
                    return -1;
                }
                global = stack[--depth];
                break;
            default:
                break;
            }
        }
        // Local and reserved items do not change any report's size.
    }

    const int32_t input = LongestReport(tally.bits[KIND_INPUT]);
    const int32_t output = LongestReport(tally.bits[KIND_OUTPUT]);
    const int32_t feature = LongestReport(tally.bits[KIND_FEATURE]);
    if (input < 0 || output < 0 || feature < 0) {
        return -1;
    }
    sizes->inputReportLength = static_cast<uint16_t>(input);
    sizes->outputReportLength = static_cast<uint16_t>(output);
    sizes->featureReportLength = static_cast<uint16_t>(feature);
    sizes->usesReportIds = usesReportIds;
    return 0;
}
