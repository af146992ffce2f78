// Report lengths from descriptors: the numbers the device link writes and reads
// with, so a wrong count here means short or overlong reports on the wire.
#include "device/hid/report_descriptor.h"

#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace {

typedef std::vector<uint8_t> Bytes;

// The programming unit: vendor page, output report 1 and input report 2 of 59
// data bytes each.
const Bytes UNIT_DESCRIPTOR = {
    0x06, 0x00, 0xFF,       // Usage Page (vendor)
    0x09, 0x01,             // Usage
    0xA1, 0x01,             // Collection (Application)
    0x15, 0x00,             //   Logical Minimum 0
    0x26, 0xFF, 0x00,       //   Logical Maximum 255
    0x75, 0x08,             //   Report Size 8
    0x85, 0x01,             //   Report ID 1
    0x95, 0x3B,             //   Report Count 59
    0x09, 0x01, 0x91, 0x02, //   Usage, Output (Data, Var, Abs)
    0x85, 0x02,             //   Report ID 2
    0x95, 0x3B,             //   Report Count 59
    0x09, 0x01, 0x81, 0x02, //   Usage, Input (Data, Var, Abs)
    0xC0,                   // End Collection
};

struct Case {
    const char* name;
    Bytes descriptor;
    int result;
    uint16_t input, output, feature;
    bool numbered;
};

class ReportDescriptorCases : public ::testing::TestWithParam<Case> {};

TEST_P(ReportDescriptorCases, LengthsAsTheWindowsCapabilitiesGiveThem) {
    const Case& c = GetParam();
    ReportDescriptorSizes sizes = {0xEEEE, 0xEEEE, 0xEEEE, false};
    ASSERT_EQ(c.result, ParseReportDescriptor(c.descriptor.data(), c.descriptor.size(), &sizes));
    if (c.result == 0) {
        EXPECT_EQ(c.input, sizes.inputReportLength);
        EXPECT_EQ(c.output, sizes.outputReportLength);
        EXPECT_EQ(c.feature, sizes.featureReportLength);
        EXPECT_EQ(c.numbered, sizes.usesReportIds);
    }
}

const Case CASES[] = {
    {"ProgrammingUnit", UNIT_DESCRIPTOR, 0, 60, 60, 0, true},
    // No report IDs: the ID byte still counts, as on Windows.
    {"UnnumberedCountsIdByte",
     {0x75, 0x08, 0x95, 0x40, 0x81, 0x02, 0x95, 0x20, 0x91, 0x02},
     0,
     65,
     33,
     0,
     false},
    // Bits are summed over all main items of one report (padding included), then
    // rounded up to whole bytes.
    {"MouseWithPadding",
     {0x85, 0x01, 0x75, 0x01, 0x95, 0x03, 0x81, 0x02, 0x75, 0x05,
      0x95, 0x01, 0x81, 0x03, 0x75, 0x08, 0x95, 0x02, 0x81, 0x06},
     0,
     4,
     0,
     0,
     true},
    {"OddBitsRoundUp", {0x75, 0x03, 0x95, 0x03, 0x81, 0x02}, 0, 3, 0, 0, false},
    // The longest of several reports of one kind wins.
    {"LongestReportWins",
     {0x75, 0x08, 0x85, 0x01, 0x95, 0x04, 0x81, 0x02, 0x85, 0x02, 0x95, 0x10, 0x81,
      0x02, 0x85, 0x03, 0x95, 0x02, 0x81, 0x02, 0x85, 0x04, 0x95, 0x07, 0xB1, 0x02},
     0,
     17,
     0,
     8,
     true},
    // Items of one report ID that are split by another ID still add up.
    {"SplitReportAddsUp",
     {0x75, 0x08, 0x95, 0x02, 0x85, 0x01, 0x81, 0x02, 0x85, 0x02, 0x81, 0x02, 0x85, 0x01, 0x81,
      0x02},
     0,
     5,
     0,
     0,
     true},
    // Push/Pop restore the global state, report ID included.
    {"PushPop",
     {0x75, 0x08, 0x95, 0x01, 0x85, 0x01, 0xA4, 0x95, 0x09, 0x85, 0x02, 0x91, 0x02, 0xB4, 0x81,
      0x02},
     0,
     2,
     10,
     0,
     true},
    // Long items are skipped whole, their bytes never read as items.
    {"LongItemSkipped",
     {0x75, 0x08, 0xFE, 0x04, 0x10, 0x95, 0x30, 0x81, 0x02, 0x95, 0x02, 0x81, 0x02},
     0,
     3,
     0,
     0,
     false},
    // Four-byte data items are read little-endian.
    {"FourByteCount", {0x75, 0x08, 0x97, 0x00, 0x01, 0x00, 0x00, 0x81, 0x02}, 0, 257, 0, 0, false},
    // Each top-level collection is an interface of its own on Windows, with its
    // own lengths; the first one's count. A nested collection belongs to its
    // top-level one.
    {"FirstOfTwoTopLevelCollections",
     {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,       // Collection (Application)
      0x75, 0x08, 0x85, 0x01, 0x95, 0x3B, 0x91, 0x02, //   output 1, 59 bytes
      0xA1, 0x02, 0x85, 0x02, 0x95, 0x3B, 0x81, 0x02, //   Collection (Logical): input 2, 59 bytes
      0xC0, 0xC0,                                     //   End Collection x 2
      0x09, 0x02, 0xA1, 0x01,                         // Collection (Application)
      0x85, 0x03, 0x95, 0x3F, 0x81, 0x02,             //   input 3, 63 bytes
      0x85, 0x04, 0x95, 0x3F, 0x91, 0x02,             //   output 4, 63 bytes
      0x85, 0x05, 0x95, 0x07, 0xB1, 0x02,             //   feature 5, 7 bytes
      0xC0},
     0,
     60,
     60,
     0,
     true},
    {"Empty", {}, 0, 0, 0, 0, false},
    {"CollectionOnly", {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0xC0}, 0, 0, 0, 0, false},
    {"ShortItemCut", {0x75, 0x08, 0x96, 0x01}, -1, 0, 0, 0, false},
    {"FourByteItemCut", {0x75, 0x08, 0x97, 0x01, 0x00, 0x00}, -1, 0, 0, 0, false},
    {"LongItemHeaderCut", {0xFE, 0x02}, -1, 0, 0, 0, false},
    {"LongItemDataCut", {0xFE, 0x05, 0x00, 0x01, 0x02}, -1, 0, 0, 0, false},
    {"ReportIdZero", {0x85, 0x00}, -1, 0, 0, 0, false},
    {"ReportIdOver255", {0x86, 0x00, 0x01}, -1, 0, 0, 0, false},
    {"PopWithoutPush", {0xB4}, -1, 0, 0, 0, false},
    // 0xFFFF bytes of data would need a 17-bit length once the ID byte is added.
    {"ReportTooLong", {0x75, 0x08, 0x96, 0xFF, 0xFF, 0x81, 0x02}, -1, 0, 0, 0, false},
    {"LongestThatFits", {0x75, 0x08, 0x96, 0xFE, 0xFF, 0x81, 0x02}, 0, 0xFFFF, 0, 0, false},
    // 2^32-1 x 2^32-1 bits, twice: must neither wrap nor pass.
    {"HugeProductsSaturate",
     {0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x02, 0x81, 0x02},
     -1,
     0,
     0,
     0,
     false},
    // Many small items whose sum, not any one of them, is too long.
    {"SumTooLong", {0x75, 0x08, 0x96, 0x00, 0x80, 0x81, 0x02, 0x81, 0x02}, -1, 0, 0, 0, false},
};

INSTANTIATE_TEST_SUITE_P(Table, ReportDescriptorCases, ::testing::ValuesIn(CASES),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.name);
                         });

TEST(ReportDescriptor, PushNestedTooDeepFails) {
    Bytes deep(16, 0xA4);
    ReportDescriptorSizes sizes;
    EXPECT_EQ(0, ParseReportDescriptor(deep.data(), deep.size(), &sizes));
    deep.push_back(0xA4);
    EXPECT_EQ(-1, ParseReportDescriptor(deep.data(), deep.size(), &sizes));
}

// Every prefix of a valid descriptor and a run of random bytes: no read beyond
// the given length (the sanitizer build watches), every answer 0 or -1. Each
// buffer is an exactly sized heap block, so an overrun is caught.
TEST(ReportDescriptor, ArbitraryBytesAreSafe) {
    ReportDescriptorSizes sizes;
    for (size_t n = 0; n <= UNIT_DESCRIPTOR.size(); ++n) {
        Bytes prefix(UNIT_DESCRIPTOR.begin(), UNIT_DESCRIPTOR.begin() + n);
        const int result = ParseReportDescriptor(prefix.data(), prefix.size(), &sizes);
        EXPECT_TRUE(result == 0 || result == -1);
    }
    std::mt19937 random(1234);
    for (int round = 0; round < 2000; ++round) {
        Bytes noise(random() % 64);
        for (uint8_t& b : noise) {
            b = static_cast<uint8_t>(random());
        }
        const int result = ParseReportDescriptor(noise.data(), noise.size(), &sizes);
        EXPECT_TRUE(result == 0 || result == -1);
    }
    EXPECT_EQ(-1, ParseReportDescriptor(nullptr, 4, &sizes));
    EXPECT_EQ(0, ParseReportDescriptor(nullptr, 0, &sizes));
}

} // namespace
