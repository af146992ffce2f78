// The version panel against the record, set directly: the worked values, the
// empty state and the model names.
#include <gtest/gtest.h>

#include "app/version_panel.h"
#include "device/unit_connection.h"
#include "res/resource_ids.h"
#include "tests/support/recording_ui.h"

namespace {

constexpr HidHandle FAKE_OPEN_HANDLE = 77;

class VersionPanelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        RecordingUiReset();
        ResetUnitConnection();
    }
    // The handle is not a real one: reset, never close.
    void TearDown() override { ResetUnitConnection(); }

    static void OpenFakeUnit(uint32_t unitVersion, uint32_t bootloaderVersion,
                             uint16_t controllerVersion, uint16_t productId = 2) {
        g_unit.deviceHandle = FAKE_OPEN_HANDLE;
        g_unit.unitFirmwareVersion = unitVersion;
        for (int i = 0; i < 4; ++i) {
            g_unit.controllerInfo[4 + i] = uint8_t(bootloaderVersion >> (8 * i));
        }
        SetControllerFirmwareVersion(controllerVersion);
        g_unit.productId = productId;
    }

    static std::string Label(int id) { return Utf8(g_ui.texts[id]); }
};

struct RowCase {
    int row;
    uint32_t stored;
    const char* shown;
};

class VersionRowTest : public VersionPanelTest, public ::testing::WithParamInterface<RowCase> {};

TEST_P(VersionRowTest, ShowsTheWorkedValue) {
    const RowCase c = GetParam();
    OpenFakeUnit(c.row == 1 ? c.stored : 0x0101, c.row == 2 ? c.stored : 0x0101,
                 c.row == 3 ? uint16_t(c.stored) : 0x0101);
    RefreshVersionPanel();
    const int label = c.row == 1 ? IDC_ROW1_VALUE : c.row == 2 ? IDC_ROW2_VALUE : IDC_ROW3_VALUE;
    EXPECT_EQ(Label(label), c.shown);
}

INSTANTIATE_TEST_SUITE_P(
    WorkedValues, VersionRowTest,
    ::testing::Values(RowCase{1, 0x00000305, "3.5"}, RowCase{1, 0x00030500, "3.5"},
                      RowCase{1, 0x01020304, "1.3.4"}, RowCase{1, 0x12345600, "52.86"},
                      RowCase{1, 0x00000000, "0.0"}, RowCase{2, 0x00000102, "1.2"},
                      RowCase{2, 0x02000100, "2.1.0"}, RowCase{2, 0x00AB0000, "0.0"},
                      RowCase{2, 0xFFFFFFFF, "255.255.255"}, RowCase{3, 0xFFFF, "----------"},
                      RowCase{3, 0x0305, "3.5"}, RowCase{3, 0x0A14, "10.20"},
                      RowCase{3, 0x0000, "0.0"}));

TEST_F(VersionPanelTest, OpenUnitEnablesTheLabelsAndNamesTheModel) {
    struct {
        uint16_t productId;
        const char* model;
    } const cases[] = {{1, "DIALPOD"}, {2, "LINK-CUBE"}, {7, "LINK-CUBE"}};
    for (const auto& c : cases) {
        RecordingUiReset();
        OpenFakeUnit(0x0203, 0x0102, 0x0304, c.productId);
        RefreshVersionPanel();
        EXPECT_EQ(Label(IDC_ROW1_CAPTION), c.model) << c.productId;
        EXPECT_EQ(UiTrace({UiCall::Enable}),
                  (std::vector<std::string>{"enable 40013 1", "enable 40014 1", "enable 40015 1",
                                            "enable 40010 1", "enable 1005 1", "enable 40011 1"}));
    }
}

TEST_F(VersionPanelTest, NoUnitShowsTheEmptyStateAndKeepsTheLastModelName) {
    OpenFakeUnit(0x0203, 0x0102, 0x0304, 1);
    RefreshVersionPanel();
    ResetUnitConnection();
    g_ui.log.clear();

    RefreshVersionPanel();

    EXPECT_EQ(UiTrace(),
              (std::vector<std::string>{"text 40013 0.0.0", "text 40014 0.0.0", "text 40015 0.0.0",
                                        "enable 40013 0", "enable 40014 0", "enable 40015 0",
                                        "enable 40010 0", "enable 1005 0", "enable 40011 0"}));
    EXPECT_EQ(Label(IDC_ROW1_CAPTION), "DIALPOD");
}

TEST(FormatVersion32Test, StaysWithinASmallBuffer) {
    char16_t text[6];
    FormatVersion32(0xFFFFFFFF, text, sizeof text / sizeof text[0]);
    EXPECT_EQ(std::u16string(text), u"255.2");
}

} // namespace
