// Bounded UTF-16 text: nothing is written past a capacity, results are always
// terminated, and characters are never split by a cut.
#include <gtest/gtest.h>

#include <string>

#include "device/wide_text.h"

TEST(WideText, CopyAndAppendStopAtTheCapacity) {
    char16_t buffer[6];
    EXPECT_EQ(WideCopy(buffer, 6, u"abc"), 3u);
    EXPECT_EQ(WideAppend(buffer, 6, u"defgh"), 5u);
    EXPECT_EQ(std::u16string(buffer), u"abcde");
    EXPECT_EQ(WideCopy(buffer, 1, u"abc"), 0u);
    EXPECT_EQ(buffer[0], 0);
    // An unterminated destination is cut at its capacity, not read past it.
    char16_t full[3] = {u'x', u'y', u'z'};
    EXPECT_EQ(WideAppend(full, 3, u"q"), 2u);
    EXPECT_EQ(std::u16string(full), u"xy");
}

TEST(WideText, FormatHandlesEveryConversionAndTruncates) {
    char16_t buffer[64];
    WideFormat(buffer, 64, u"%s|%u|%x|%08x|%%|%4u", u"ab", 4294967295u, 0xBEEFu, 0x2Au, 7u);
    EXPECT_EQ(std::u16string(buffer), u"ab|4294967295|beef|0000002a|%|   7");
    EXPECT_EQ(WideFormat(buffer, 5, u"%08x", 0xFFFFFFFFu), 4u);
    EXPECT_EQ(std::u16string(buffer), u"ffff");
    EXPECT_EQ(WideFormat(buffer, 64, u"100%"), 3u);
}

TEST(WideText, CaseIsIgnoredInComparisons) {
    EXPECT_TRUE(WideEqualNoCase(u"\\\\?\\HID#VID_3A5D&PID_0002", u"\\\\?\\hid#vid_3a5d&pid_0002"));
    EXPECT_FALSE(WideEqualNoCase(u"abc", u"abcd"));
    EXPECT_FALSE(WideEqualNoCase(u"abc", nullptr));
    EXPECT_TRUE(WideEqualNoCase(u"\u00C4x", u"\u00E4X"));
}

TEST(WideText, Utf8ConversionKeepsCharactersWhole) {
    char16_t wide[8];
    const char* text = "\xC3\xA4\xF0\x9F\x98\x80z"; // ä, an emoji (surrogate pair), z
    EXPECT_EQ(WideFromUtf8(wide, 8, text), 4u);
    EXPECT_EQ(std::u16string(wide), u"\u00E4\U0001F600z");
    char narrow[16];
    EXPECT_EQ(WideToUtf8(narrow, 16, wide), 7u);
    EXPECT_EQ(std::string(narrow), text);
    // Too small for the pair: cut before it, not inside it.
    EXPECT_EQ(WideFromUtf8(wide, 3, text), 1u);
    EXPECT_EQ(WideToUtf8(narrow, 5, wide + 0), 2u);
    // Malformed bytes and lone surrogates become U+FFFD.
    EXPECT_EQ(WideFromUtf8(wide, 8, "a\xC3(\xFF"), 4u);
    EXPECT_EQ(std::u16string(wide), u"a\uFFFD(\uFFFD");
    const char16_t lone[] = {0xD800, u'b', 0};
    WideToUtf8(narrow, 16, lone);
    EXPECT_EQ(std::string(narrow), "\xEF\xBF\xBD"
                                   "b");
}
