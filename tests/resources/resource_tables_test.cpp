// The resource data as the Linux program sees it: generated from the resource
// script, so these checks also hold the script to what the dialog and the update
// rely on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "update/ui_port.h"
#include "device/wide_text.h"
#include "res/firmware_image.h"
#include "res/resource_data.h"
#include "res/resource_ids.h"

namespace {

const uint16_t kLanguages[] = {RES_LANG_ENGLISH, RES_LANG_GERMAN};

std::u16string Load(uint16_t id, uint16_t language) {
    char16_t buffer[TEXT_BUFFER_CHARS];
    int length = ResLoadString(id, language, buffer, TEXT_BUFFER_CHARS);
    return std::u16string(buffer, length);
}

std::vector<uint16_t> StringIds() {
    const uint16_t* ids = nullptr;
    int count = ResStringIds(&ids);
    return std::vector<uint16_t>(ids, ids + count);
}

size_t Count(const std::u16string& text, const std::u16string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::u16string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

TEST(StringTable, EveryIdHasTextInBothLanguagesThatFitsTheBuffer) {
    std::vector<uint16_t> ids = StringIds();
    ASSERT_FALSE(ids.empty());
    for (size_t i = 1; i < ids.size(); ++i) {
        EXPECT_LT(ids[i - 1], ids[i]) << "ascending and each once";
    }
    for (uint16_t id : ids) {
        for (uint16_t language : kLanguages) {
            char16_t buffer[TEXT_BUFFER_CHARS];
            int length = ResLoadString(id, language, buffer, TEXT_BUFFER_CHARS);
            EXPECT_GT(length, 0) << id << " in " << language;
            // A full buffer would mean the text was cut.
            EXPECT_LT(length, TEXT_BUFFER_CHARS - 1) << id << " in " << language;
        }
    }
}

TEST(StringTable, KeepsWhitespaceLineBreaksAndSpecialLettersAsWritten) {
    struct Case {
        uint16_t id;
        uint16_t language;
        const char16_t* part;
        bool atEnd;
    };
    const Case cases[] = {
        {IDS_READY, RES_LANG_ENGLISH,
         u"complete Programming Unit or ESC may no longer function  !!!", true},
        {IDS_READY, RES_LANG_ENGLISH, u"'Update'-Button.\r\n\r\n!!!  NOTE: Do not", false},
        {IDS_OLDER_OR_SAME_VERSION, RES_LANG_ENGLISH, u"installed firmware version.  If you",
         false},
        {IDS_INSTRUCTIONS, RES_LANG_ENGLISH, u"male to male cable required. \r\nThe VORTAN-X",
         false},
        {IDS_INSTRUCTIONS, RES_LANG_GERMAN, u"BEC-Kabel erforderlich. \r\nDer VORTAN-X", false},
        {IDS_INSTRUCTIONS, RES_LANG_ENGLISH, u"program-cable.\r\n\r\n 2.)\r\nConnect", false},
        {IDS_INSTRUCTIONS, RES_LANG_ENGLISH, u"starts flashing.\r\n\r\n 3.)\r\n Now connect",
         false},
        {IDS_INSTRUCTIONS, RES_LANG_ENGLISH, u"button once.\r\n\r\n 4.)\r\n If the", false},
        {IDS_INSTRUCTIONS, RES_LANG_GERMAN, u"Programmier-Kabel!\r\n\r\n2.)\r\nVerbinden", false},
        {IDS_INSTRUCTIONS, RES_LANG_GERMAN, u"Ihrem Windows\u2122PC.", false},
        {IDS_NOTIFY_REGISTER_FAILED, RES_LANG_ENGLISH, u"cannot be detected.The program", false},
        {IDS_WRONG_MODE, RES_LANG_GERMAN, u"Gehen Sie folgenderma\u00dfen vor", false},
        {IDS_INCOMPATIBLE_TEXT, RES_LANG_GERMAN, u"Updater l\u00e4\u00dft sich", false},
        {IDS_INCOMPATIBLE_TEXT, RES_LANG_ENGLISH, u"website (www.tavelin.example) to", false},
        {IDS_INCOMPATIBLE_TEXT, RES_LANG_GERMAN, u"unter https://www.tavelin.example nach", false},
        {IDS_ADDRESS_NOT_SET, RES_LANG_GERMAN, u"Das Update wird abgebrochen", true},
        {IDS_TRY_AGAIN, RES_LANG_ENGLISH, u"please contact the TAVELIN Service", true},
        {IDS_APPLICATION_ERROR_CAPTION, RES_LANG_GERMAN, u"Fehler in der Anwendung", true},
        {IDS_UPDATE_GUARD_REASON, RES_LANG_ENGLISH, u"Firmware update of the ESC in progress",
         true},
        {IDS_UPDATE_GUARD_REASON, RES_LANG_GERMAN, u"Firmware-Update des Reglers l\u00e4uft", true},
        {IDS_NODE_ACCESS_DENIED, RES_LANG_ENGLISH,
         u"the README section 'Access to the unit on "
         u"Linux' into /etc/udev/rules.d/70-vespra-updater.rules.",
         false},
        {IDS_NODE_ACCESS_DENIED, RES_LANG_GERMAN, u"darf sie nicht \u00f6ffnen.", false},
        {IDS_UNIT_HELD_ELSEWHERE, RES_LANG_GERMAN, u"wieder an.", true},
    };
    for (const Case& c : cases) {
        std::u16string text = Load(c.id, c.language);
        std::u16string part = c.part;
        size_t at = text.find(part);
        ASSERT_NE(at, std::u16string::npos) << c.id << " in " << c.language;
        if (c.atEnd) {
            EXPECT_EQ(at + part.size(), text.size()) << c.id << " in " << c.language;
        }
    }
}

// The paragraph for a node the user may not open sends the reader to a README
// section by its name, in both languages: that section must be there, with the
// rule's lines.
TEST(StringTable, TheReadmeSectionThatTheAccessParagraphNamesExists) {
    std::FILE* file = std::fopen(VESPRA_README_FILE, "rb");
    ASSERT_NE(file, nullptr);
    std::string readme;
    char chunk[4096];
    for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) {
        readme.append(chunk, got);
    }
    std::fclose(file);
    for (uint16_t language : kLanguages) {
        const std::u16string text = Load(IDS_NODE_ACCESS_DENIED, language);
        const size_t start = text.find(u"'Access to");
        ASSERT_NE(start, std::u16string::npos) << language;
        const size_t end = text.find(u"'", start + 1);
        ASSERT_NE(end, std::u16string::npos) << language;
        const std::string section(text.begin() + start + 1, text.begin() + end);
        EXPECT_NE(readme.find("### " + section + "\n"), std::string::npos) << section;
    }
    EXPECT_NE(readme.find("SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"3a5d\", "
                          "ATTRS{idProduct}==\"0002\", TAG+=\"uaccess\""),
              std::string::npos);
}

// The format entries go through the wide formatted print with a fixed list of
// arguments; any other conversion in them, or a '%' anywhere else, would read
// arguments that are not there.
TEST(StringTable, OnlyTheFormatEntriesHoldConversionsAndExactlyTheirOwn) {
    for (uint16_t id : StringIds()) {
        for (uint16_t language : kLanguages) {
            std::u16string text = Load(id, language);
            if (id == IDS_INCOMPATIBLE_TEXT || id == IDS_NODE_ACCESS_DENIED) {
                EXPECT_EQ(Count(text, u"%"), 1u) << language;
                EXPECT_EQ(Count(text, u"%s"), 1u) << language;
            } else if (id == IDS_ERROR_CODE_LINE) {
                EXPECT_EQ(Count(text, u"%"), 2u) << language;
                EXPECT_EQ(Count(text, u"0x%08x-0x%08x"), 1u) << language;
            } else {
                EXPECT_EQ(Count(text, u"%"), 0u) << id << " in " << language;
            }
        }
    }
}

TEST(StringTable, ErrorCodeLinePrintsResultsAsEightHexDigits) {
    for (uint16_t language : kLanguages) {
        std::u16string format = Load(IDS_ERROR_CODE_LINE, language);
        char16_t line[TEXT_BUFFER_CHARS];
        int32_t result = -2;
        uint32_t lastError = 0;
        size_t length = WideFormat(line, TEXT_BUFFER_CHARS, format.c_str(),
                                   static_cast<unsigned>(result), static_cast<unsigned>(lastError));
        std::u16string text(line, length);
        std::u16string expectedEnd = u"0xfffffffe-0x00000000";
        ASSERT_GE(text.size(), expectedEnd.size());
        EXPECT_EQ(text.substr(text.size() - expectedEnd.size()), expectedEnd) << language;
        EXPECT_EQ(text.substr(0, text.size() - expectedEnd.size()),
                  format.substr(0, format.size() - std::u16string(u"0x%08x-0x%08x").size()));
    }
}

TEST(ResLoadString, CopiesTruncatesAndTerminatesLikeLoadStringW) {
    const char16_t untouched = u'#';
    struct Case {
        uint16_t id;
        uint16_t language;
        int capacity;
        int expectedLength;
        const char16_t* expectedText; // null: buffer not written at all
    };
    const Case cases[] = {
        {IDS_UPDATE_FAILED_CAPTION, RES_LANG_ENGLISH, 64, 14, u"Update failed!"},
        {IDS_UPDATE_FAILED_CAPTION, RES_LANG_ENGLISH, 15, 14, u"Update failed!"},
        {IDS_UPDATE_FAILED_CAPTION, RES_LANG_ENGLISH, 14, 13, u"Update failed"},
        {IDS_UPDATE_FAILED_CAPTION, RES_LANG_GERMAN, 5, 4, u"Upda"},
        {IDS_UPDATE_FAILED_CAPTION, RES_LANG_ENGLISH, 1, 0, u""},
        {IDS_UPDATE_FAILED_CAPTION, RES_LANG_ENGLISH, 0, 0, nullptr},
        {IDS_UPDATE_FAILED_CAPTION, RES_LANG_ENGLISH, -1, 0, nullptr},
        {40003, RES_LANG_ENGLISH, 64, 0, u""},           // not carried
        {IDS_UPDATE_FAILED_CAPTION, 0x0409, 64, 0, u""}, // no such table
    };
    for (const Case& c : cases) {
        char16_t buffer[64];
        std::fill(std::begin(buffer), std::end(buffer), untouched);
        EXPECT_EQ(ResLoadString(c.id, c.language, buffer, c.capacity), c.expectedLength)
            << c.id << " capacity " << c.capacity;
        if (c.expectedText == nullptr) {
            EXPECT_EQ(buffer[0], untouched) << "capacity " << c.capacity;
        } else {
            EXPECT_EQ(std::u16string(buffer), c.expectedText) << "capacity " << c.capacity;
            EXPECT_EQ(buffer[c.expectedLength + 1], untouched) << "wrote past the terminator";
        }
    }
    EXPECT_EQ(ResLoadString(IDS_UPDATE_FAILED_CAPTION, RES_LANG_ENGLISH, nullptr, 64), 0);
}

class LanguageFromEnvironment : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : kNames) {
            const char* value = std::getenv(name);
            saved_.push_back(value ? std::make_pair(true, std::string(value))
                                   : std::make_pair(false, std::string()));
        }
    }
    void TearDown() override {
        for (size_t i = 0; i < 4; ++i) {
            Set(kNames[i], saved_[i].first ? saved_[i].second.c_str() : nullptr);
        }
    }
    static void Set(const char* name, const char* value) {
        if (value) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    static constexpr const char* kNames[4] = {"LC_ALL", "LC_MESSAGES", "LANG", "LANGUAGE"};
    std::vector<std::pair<bool, std::string>> saved_;
};

TEST_F(LanguageFromEnvironment, FirstSetVariableDecidesAndOnlyGermanIsGerman) {
    struct Case {
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        const char* language; // LANGUAGE
        uint16_t expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, nullptr, RES_LANG_ENGLISH},
        {nullptr, nullptr, "de_DE.UTF-8", nullptr, RES_LANG_GERMAN},
        {nullptr, nullptr, "de", nullptr, RES_LANG_GERMAN},
        {nullptr, nullptr, "en_US.UTF-8", nullptr, RES_LANG_ENGLISH},
        {nullptr, nullptr, "fr_FR.UTF-8", nullptr, RES_LANG_ENGLISH},
        {nullptr, nullptr, "C", nullptr, RES_LANG_ENGLISH},
        {nullptr, "de_AT.UTF-8", "en_US.UTF-8", nullptr, RES_LANG_GERMAN},
        {nullptr, "en_GB.UTF-8", "de_DE.UTF-8", nullptr, RES_LANG_ENGLISH},
        {"C", nullptr, "de_DE.UTF-8", nullptr, RES_LANG_ENGLISH},
        {"de_CH.UTF-8", "en_US.UTF-8", "en_US.UTF-8", nullptr, RES_LANG_GERMAN},
        {"", "", "de_DE.UTF-8", nullptr, RES_LANG_GERMAN}, // empty counts as not set
        {"", "en_US.UTF-8", "de_DE.UTF-8", nullptr, RES_LANG_ENGLISH},
        // The desktop's interface languages outrank the locale's.
        {nullptr, nullptr, "en_US.UTF-8", "de_DE:de", RES_LANG_GERMAN},
        {nullptr, nullptr, "de_DE.UTF-8", "en_US:en", RES_LANG_ENGLISH},
        {"de_DE.UTF-8", nullptr, nullptr, "en", RES_LANG_ENGLISH},
        {nullptr, nullptr, "C.UTF-8", "de", RES_LANG_GERMAN},
        // Its first entry in either language decides, ...
        {nullptr, nullptr, "en_US.UTF-8", "fr_FR:de_CH:en", RES_LANG_GERMAN},
        {nullptr, nullptr, "en_US.UTF-8", "::de", RES_LANG_GERMAN},
        // ... and without one the locale does.
        {nullptr, nullptr, "de_DE.UTF-8", "fr_FR:fr", RES_LANG_GERMAN},
        {nullptr, nullptr, "de_DE.UTF-8", "", RES_LANG_GERMAN},
        {nullptr, nullptr, "de_DE.UTF-8", "d:e", RES_LANG_GERMAN},
        // The C locale ignores it, as when nothing is set.
        {nullptr, nullptr, "C", "de", RES_LANG_ENGLISH},
        {"POSIX", nullptr, "de_DE.UTF-8", "de", RES_LANG_ENGLISH},
        {nullptr, nullptr, nullptr, "de", RES_LANG_ENGLISH},
    };
    for (const Case& c : cases) {
        Set("LC_ALL", c.lcAll);
        Set("LC_MESSAGES", c.lcMessages);
        Set("LANG", c.lang);
        Set("LANGUAGE", c.language);
        EXPECT_EQ(ResLanguageFromEnvironment(), c.expected)
            << (c.lcAll ? c.lcAll : "-") << " / " << (c.lcMessages ? c.lcMessages : "-") << " / "
            << (c.lang ? c.lang : "-") << " / " << (c.language ? c.language : "-");
    }
}

TEST(MainDialogTemplate, FixedSizeCentredModalWithElevenControls) {
    const ResDialogTemplate* english = ResFindDialog(IDD_MAIN_DIALOG, RES_LANG_ENGLISH);
    ASSERT_NE(english, nullptr);
    EXPECT_EQ(english->style, 0x80C808C8u);
    EXPECT_EQ(english->exStyle, 0u);
    EXPECT_EQ(english->x, 0);
    EXPECT_EQ(english->y, 0);
    EXPECT_EQ(english->cx, 300);
    EXPECT_EQ(english->cy, 228);
    EXPECT_EQ(std::u16string(english->title), u"TAVELIN firmware updater");
    EXPECT_EQ(std::u16string(english->fontName), u"MS Shell Dlg");
    EXPECT_EQ(english->pointSize, 8);
    EXPECT_EQ(english->weight, 0);
    EXPECT_EQ(english->italic, 0);
    EXPECT_EQ(english->charset, 1);

    const int32_t order[] = {
        IDC_CLOSE,         IDC_UPDATE,       IDC_ROW1_CAPTION, IDC_ROW2_CAPTION,
        IDC_ROW1_VALUE,    IDC_ROW2_VALUE,   IDC_STATUS_PANE,  -1,
        IDC_VERSION_GROUP, IDC_ROW3_CAPTION, IDC_ROW3_VALUE};
    ASSERT_EQ(english->controlCount, 11);
    for (int i = 0; i < 11; ++i) {
        EXPECT_EQ(english->controls[i].id, order[i]) << "control " << i;
    }

    struct Spot {
        int index;
        const char* className;
        int16_t x, y, cx, cy;
        uint32_t style, exStyle;
    };
    const Spot spots[] = {
        {0, "button", 157, 199, 50, 14, 0x50030001u, 0}, // Close: default button, cancel ID
        {1, "button", 61, 199, 50, 14, 0x58010000u, 0},  // Update: starts disabled
        {6, "edit", 15, 89, 271, 101, 0x50A00844u, 0},   // read-only multi-line pane
        {8, "button", 15, 10, 135, 57, 0x50020007u, 0},  // group box, anchors the logo
        {10, "static", 90, 50, 50, 8, 0x50020000u, 0x1000u},
    };
    for (const Spot& s : spots) {
        const ResDialogControl& c = english->controls[s.index];
        EXPECT_STREQ(c.className, s.className) << "control " << s.index;
        EXPECT_EQ(c.x, s.x) << "control " << s.index;
        EXPECT_EQ(c.y, s.y) << "control " << s.index;
        EXPECT_EQ(c.cx, s.cx) << "control " << s.index;
        EXPECT_EQ(c.cy, s.cy) << "control " << s.index;
        EXPECT_EQ(c.style, s.style) << "control " << s.index;
        EXPECT_EQ(c.exStyle, s.exStyle) << "control " << s.index;
    }
}

TEST(MainDialogTemplate, GermanDiffersFromEnglishOnlyInItsTexts) {
    const ResDialogTemplate* english = ResFindDialog(IDD_MAIN_DIALOG, RES_LANG_ENGLISH);
    const ResDialogTemplate* german = ResFindDialog(IDD_MAIN_DIALOG, RES_LANG_GERMAN);
    ASSERT_NE(english, nullptr);
    ASSERT_NE(german, nullptr);
    EXPECT_EQ(german->style, english->style);
    EXPECT_EQ(german->cx, english->cx);
    EXPECT_EQ(german->cy, english->cy);
    EXPECT_EQ(std::u16string(german->fontName), std::u16string(english->fontName));
    EXPECT_EQ(std::u16string(german->title), u"TAVELIN Firmware Updater");
    ASSERT_EQ(german->controlCount, english->controlCount);
    for (int i = 0; i < english->controlCount; ++i) {
        const ResDialogControl& e = english->controls[i];
        const ResDialogControl& g = german->controls[i];
        EXPECT_EQ(g.id, e.id) << i;
        EXPECT_STREQ(g.className, e.className) << i;
        EXPECT_EQ(g.x, e.x) << i;
        EXPECT_EQ(g.y, e.y) << i;
        EXPECT_EQ(g.cx, e.cx) << i;
        EXPECT_EQ(g.cy, e.cy) << i;
        EXPECT_EQ(g.style, e.style) << i;
        EXPECT_EQ(g.exStyle, e.exStyle) << i;
    }
    EXPECT_EQ(std::u16string(german->controls[0].text), u"Beenden");
    EXPECT_EQ(std::u16string(german->controls[7].text), u"Hinweisfenster:");
    EXPECT_EQ(std::u16string(german->controls[8].text), u"Installierte Firmware Versionen");
    EXPECT_EQ(std::u16string(german->controls[1].text), std::u16string(english->controls[1].text));
    EXPECT_EQ(ResFindDialog(IDD_MAIN_DIALOG, 0x0409), nullptr);
    EXPECT_EQ(ResFindDialog(113, RES_LANG_ENGLISH), nullptr);
}

TEST(FirmwareImage, IsTheFileByteForByte) {
    std::FILE* file = std::fopen(VESPRA_FIRMWARE_IMAGE_FILE, "rb");
    ASSERT_NE(file, nullptr) << VESPRA_FIRMWARE_IMAGE_FILE;
    std::vector<uint8_t> bytes;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        bytes.push_back(static_cast<uint8_t>(c));
    }
    std::fclose(file);

    ASSERT_EQ(ResFirmwareImageSize(), bytes.size());
    EXPECT_GT(bytes.size(), 0u);
    EXPECT_EQ(bytes.size() % 4, 0u);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), ResFirmwareImageData()));
}

// Explorer shows the block of the user's language; a name missing there, or a
// number that is not the program's, would be a wrong statement about the file.
TEST(VersionResource, NumbersAreTheProgramsVersionAndEveryLanguageSaysTheSame) {
    const ResVersionInfo* version = ResVersion();
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->id, 1); // the ID Windows looks the version up by
    unsigned major = 0;
    unsigned minor = 0;
    ASSERT_EQ(std::sscanf(VESPRA_PROJECT_VERSION, "%u.%u", &major, &minor), 2);
    EXPECT_EQ(FIRMWARE_IMAGE_VERSION, (major << 8) | minor);
    const uint16_t expected[4] = {static_cast<uint16_t>(major), static_cast<uint16_t>(minor), 0, 0};
    const std::string ascii = std::string(VESPRA_PROJECT_VERSION) + ".0.0";
    const std::u16string dotted(ascii.begin(), ascii.end());
    EXPECT_TRUE(std::equal(expected, expected + 4, version->fileVersion));
    EXPECT_TRUE(std::equal(expected, expected + 4, version->productVersion));
    EXPECT_EQ(version->fileFlags, 0u) << "a release: not a debug, pre-release or patched build";
    EXPECT_EQ(version->fileType, 1u) << "an application";

    const char* required[] = {"CompanyName",  "FileDescription", "FileVersion",
                              "InternalName", "LegalCopyright",  "OriginalFilename",
                              "ProductName",  "ProductVersion"};
    ASSERT_EQ(version->translationCount, 2);
    const uint16_t languages[] = {0x0409, 0x0407};
    for (int t = 0; t < version->translationCount; ++t) {
        SCOPED_TRACE(t);
        uint16_t language = version->translations[2 * t];
        EXPECT_EQ(language, languages[t]);
        EXPECT_EQ(version->translations[2 * t + 1], 1200) << "UTF-16";
        std::set<std::string> names;
        for (int i = 0; i < version->textCount; ++i) {
            const ResVersionText& text = version->texts[i];
            if (text.language != language) {
                continue;
            }
            EXPECT_EQ(text.codePage, 1200);
            EXPECT_GT(std::char_traits<char16_t>::length(text.value), 0u) << text.name;
            names.insert(text.name);
            if (std::strcmp(text.name, "FileVersion") == 0 ||
                std::strcmp(text.name, "ProductVersion") == 0) {
                EXPECT_TRUE(std::u16string(text.value) == dotted) << text.name;
            }
            if (std::strcmp(text.name, "OriginalFilename") == 0) {
                EXPECT_TRUE(std::u16string(text.value) == u"vespra-updater.exe");
            }
        }
        EXPECT_EQ(names, std::set<std::string>(std::begin(required), std::end(required)));
    }
    for (int i = 0; i < version->textCount; ++i) {
        const uint16_t language = version->texts[i].language;
        EXPECT_TRUE(language == languages[0] || language == languages[1])
            << "a block no translation names: " << language;
    }
}

} // namespace
