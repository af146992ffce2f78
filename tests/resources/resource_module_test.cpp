// The resources compiled into this very program from the resource script, read
// back the way the Windows program reads them, against the tables the generator
// made from the same script: one cross-check instead of a second copy of texts.
//
// VESPRA_EXPECTED_LANGUAGE (9 or 1031) names the language the run is set up for;
// the test first makes sure the platform really chose it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "res/resource_data.h"
#include "res/resource_ids.h"

namespace {

constexpr int kTextBufferChars = 2048;
const uint16_t kLanguages[] = {RES_LANG_ENGLISH, RES_LANG_GERMAN};

HMODULE Module() {
    return GetModuleHandleW(nullptr);
}

uint16_t ExpectedLanguage() {
    const char* value = std::getenv("VESPRA_EXPECTED_LANGUAGE");
    return value ? static_cast<uint16_t>(std::atoi(value)) : ResLanguageFromEnvironment();
}

struct Bytes {
    const uint8_t* data = nullptr;
    DWORD size = 0;
};

Bytes LoadRaw(HRSRC found) {
    Bytes bytes;
    if (found) {
        bytes.data = static_cast<const uint8_t*>(LockResource(LoadResource(Module(), found)));
        bytes.size = SizeofResource(Module(), found);
    }
    return bytes;
}

Bytes FindRaw(LPCWSTR type, int id, uint16_t language) {
    return LoadRaw(FindResourceExW(Module(), type, MAKEINTRESOURCEW(id), language));
}

std::u16string Generated(uint16_t id, uint16_t language) {
    char16_t buffer[kTextBufferChars];
    int length = ResLoadString(id, language, buffer, kTextBufferChars);
    return std::u16string(buffer, length);
}

// Little-endian reader over a resource, for the formats that have no API.
struct Reader {
    const uint8_t* start;
    const uint8_t* at;
    const uint8_t* end;

    bool ok = true;
    uint32_t Take(int size) {
        uint32_t value = 0;
        if (at + size > end) {
            ok = false;
            return 0;
        }
        for (int i = 0; i < size; ++i) {
            value |= static_cast<uint32_t>(at[i]) << (8 * i);
        }
        at += size;
        return value;
    }
    uint16_t Word() { return static_cast<uint16_t>(Take(2)); }
    uint32_t Dword() { return Take(4); }
    int16_t Short() { return static_cast<int16_t>(Take(2)); }
    std::u16string Text() {
        std::u16string text;
        for (uint16_t c = Word(); ok && c != 0; c = Word()) {
            text.push_back(static_cast<char16_t>(c));
        }
        return text;
    }
    // A name or an ordinal: 0xFFFF then the ordinal, else a terminated string.
    std::u16string TextOrOrdinal(uint16_t* ordinal) {
        *ordinal = 0;
        if (at + 2 <= end && at[0] == 0xFF && at[1] == 0xFF) {
            Word();
            *ordinal = Word();
            return std::u16string();
        }
        return Text();
    }
    void AlignDword() {
        while ((at - start) % 4 != 0) {
            ++at;
        }
    }
};

TEST(ResourceModule, PlatformChoseTheLanguageTheRunIsSetUpFor) {
    uint16_t expected = ExpectedLanguage();
    ASSERT_TRUE(expected == RES_LANG_ENGLISH || expected == RES_LANG_GERMAN) << expected;
    EXPECT_EQ(PRIMARYLANGID(GetUserDefaultUILanguage()), PRIMARYLANGID(expected));
    // The Linux program's rule, fed the same environment, agrees with the platform.
    EXPECT_EQ(ResLanguageFromEnvironment(), expected);
}

TEST(ResourceModule, LoadStringWGivesTheGeneratedTextForEveryId) {
    uint16_t language = ExpectedLanguage();
    const uint16_t* ids = nullptr;
    int count = ResStringIds(&ids);
    ASSERT_GT(count, 0);
    for (int i = 0; i < count; ++i) {
        wchar_t buffer[kTextBufferChars];
        int length = LoadStringW(Module(), ids[i], buffer, kTextBufferChars);
        std::u16string loaded(reinterpret_cast<const char16_t*>(buffer), length);
        EXPECT_GT(length, 0) << ids[i];
        EXPECT_TRUE(loaded == Generated(ids[i], language)) << "string " << ids[i];
    }
}

// Independent of the platform's choice: both languages, straight from the blocks
// of 16 entries in which strings are stored.
TEST(ResourceModule, StringBlocksHoldTheGeneratedTextInBothLanguages) {
    const uint16_t* ids = nullptr;
    int count = ResStringIds(&ids);
    for (uint16_t language : kLanguages) {
        for (int i = 0; i < count; ++i) {
            Bytes block = FindRaw(RT_STRING, ids[i] / 16 + 1, language);
            ASSERT_NE(block.data, nullptr) << ids[i] << " in " << language;
            Reader reader{block.data, block.data, block.data + block.size};
            for (int skip = 0; skip < ids[i] % 16; ++skip) {
                reader.at += 2 * reader.Word();
            }
            uint16_t length = reader.Word();
            ASSERT_LE(reader.at + 2 * length, reader.end);
            std::u16string text(length, u'\0');
            std::memcpy(&text[0], reader.at, 2 * length);
            EXPECT_TRUE(text == Generated(ids[i], language)) << ids[i] << " in " << language;
        }
    }
}

uint16_t ClassOrdinal(const char* name) {
    if (std::strcmp(name, "button") == 0) {
        return 0x0080;
    }
    if (std::strcmp(name, "edit") == 0) {
        return 0x0081;
    }
    return std::strcmp(name, "static") == 0 ? 0x0082 : 0;
}

TEST(ResourceModule, MainDialogTemplateIsTheGeneratedOneInBothLanguages) {
    for (uint16_t language : kLanguages) {
        SCOPED_TRACE(language);
        const ResDialogTemplate* expected = ResFindDialog(IDD_MAIN_DIALOG, language);
        ASSERT_NE(expected, nullptr);
        Bytes raw = FindRaw(RT_DIALOG, IDD_MAIN_DIALOG, language);
        ASSERT_NE(raw.data, nullptr);
        Reader r{raw.data, raw.data, raw.data + raw.size};

        EXPECT_EQ(r.Word(), 1);      // extended template, version 1
        EXPECT_EQ(r.Word(), 0xFFFF); // its signature
        EXPECT_EQ(r.Dword(), 0u);    // help ID
        EXPECT_EQ(r.Dword(), expected->exStyle);
        EXPECT_EQ(r.Dword(), expected->style);
        uint16_t controls = r.Word();
        EXPECT_EQ(r.Short(), expected->x);
        EXPECT_EQ(r.Short(), expected->y);
        EXPECT_EQ(r.Short(), expected->cx);
        EXPECT_EQ(r.Short(), expected->cy);
        uint16_t ordinal;
        EXPECT_TRUE(r.TextOrOrdinal(&ordinal).empty() && ordinal == 0) << "no menu";
        EXPECT_TRUE(r.TextOrOrdinal(&ordinal).empty() && ordinal == 0) << "default class";
        EXPECT_TRUE(r.Text() == expected->title);
        EXPECT_EQ(r.Word(), expected->pointSize);
        EXPECT_EQ(r.Word(), expected->weight);
        EXPECT_EQ(r.Take(1), expected->italic);
        EXPECT_EQ(r.Take(1), expected->charset);
        EXPECT_TRUE(r.Text() == expected->fontName);

        ASSERT_EQ(controls, expected->controlCount);
        for (int i = 0; i < controls; ++i) {
            const ResDialogControl& c = expected->controls[i];
            SCOPED_TRACE(i);
            r.AlignDword();
            EXPECT_EQ(r.Dword(), 0u); // help ID
            EXPECT_EQ(r.Dword(), c.exStyle);
            EXPECT_EQ(r.Dword(), c.style);
            EXPECT_EQ(r.Short(), c.x);
            EXPECT_EQ(r.Short(), c.y);
            EXPECT_EQ(r.Short(), c.cx);
            EXPECT_EQ(r.Short(), c.cy);
            EXPECT_EQ(r.Dword(), static_cast<uint32_t>(c.id));
            r.TextOrOrdinal(&ordinal);
            EXPECT_EQ(ordinal, ClassOrdinal(c.className)) << "predefined class by ordinal";
            std::u16string text = r.TextOrOrdinal(&ordinal);
            EXPECT_EQ(ordinal, 0);
            EXPECT_TRUE(text == c.text);
            EXPECT_EQ(r.Word(), 0) << "no creation data";
        }
        EXPECT_TRUE(r.ok) << "template shorter than its contents";
    }
}

TEST(ResourceModule, LogoIsA24BitBottomUpBitmapWithTheGreenKey) {
    HBITMAP bitmap = LoadBitmapW(Module(), MAKEINTRESOURCEW(IDB_LOGO));
    ASSERT_NE(bitmap, nullptr);
    BITMAP description = {};
    EXPECT_EQ(GetObjectW(bitmap, sizeof description, &description), (int)sizeof description);
    EXPECT_EQ(description.bmWidth, 1772);
    EXPECT_EQ(description.bmHeight, 263);
    DeleteObject(bitmap); // loaded in the display's depth; the resource's own is below

    Bytes raw = FindRaw(RT_BITMAP, IDB_LOGO, RES_LANG_GERMAN);
    ASSERT_NE(raw.data, nullptr);
    BITMAPINFOHEADER header;
    std::memcpy(&header, raw.data, sizeof header);
    EXPECT_EQ(header.biSize, 40u);
    EXPECT_EQ(header.biWidth, 1772);
    EXPECT_EQ(header.biHeight, 263) << "positive: rows bottom-up";
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_EQ(header.biClrUsed, 0u);
    const DWORD stride = 1772 * 3;
    ASSERT_EQ(raw.size, 40 + stride * 263);

    int green = 0;
    for (DWORD row = 0; row < 263; ++row) {
        const uint8_t* pixel = raw.data + 40 + row * stride;
        for (int x = 0; x < 1772; ++x, pixel += 3) {
            green += pixel[0] == 0 && pixel[1] == 255 && pixel[2] == 0; // blue, green, red
        }
    }
    // Enough key colour around the lettering for the dialog to show through.
    EXPECT_GT(green, 1772 * 263 / 4);
    EXPECT_LT(green, 1772 * 263 * 3 / 4);
}

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colourCount, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST(ResourceModule, IconGroupHoldsFiveThirtyTwoBitDibImages) {
    EXPECT_NE(LoadIconW(Module(), MAKEINTRESOURCEW(IDI_APP_ICON)), nullptr);
    Bytes group = LoadRaw(FindResourceW(Module(), MAKEINTRESOURCEW(IDI_APP_ICON), RT_GROUP_ICON));
    ASSERT_NE(group.data, nullptr);
    Reader r{group.data, group.data, group.data + group.size};
    EXPECT_EQ(r.Word(), 0);
    EXPECT_EQ(r.Word(), 1); // icons, not cursors
    ASSERT_EQ(r.Word(), 5);
    const int sizes[] = {16, 32, 48, 64, 128};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(sizes[i]);
        GroupIconEntry entry;
        ASSERT_LE(r.at + sizeof entry, r.end);
        std::memcpy(&entry, r.at, sizeof entry);
        r.at += sizeof entry;
        EXPECT_EQ(entry.width, sizes[i]);
        EXPECT_EQ(entry.height, sizes[i]);
        EXPECT_EQ(entry.bitCount, 32);

        Bytes image = LoadRaw(FindResourceW(Module(), MAKEINTRESOURCEW(entry.id), RT_ICON));
        ASSERT_NE(image.data, nullptr);
        EXPECT_EQ(image.size, entry.bytes);
        BITMAPINFOHEADER header;
        std::memcpy(&header, image.data, sizeof header);
        EXPECT_EQ(header.biSize, 40u) << "a DIB, not a PNG";
        EXPECT_EQ(header.biWidth, sizes[i]);
        EXPECT_EQ(header.biHeight, 2 * sizes[i]) << "colour and mask";
        EXPECT_EQ(header.biBitCount, 32);
        // Header, 32-bit colour, and a 1-bit mask with rows padded to 32 bits.
        DWORD maskStride = (sizes[i] + 31) / 32 * 4;
        EXPECT_EQ(image.size, 40 + sizes[i] * sizes[i] * 4 + maskStride * sizes[i]);
    }
}

BOOL CALLBACK CountLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD, LONG_PTR count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

TEST(ResourceModule, ManifestAsksForNoElevationAndNoControlLibrary) {
    int manifests = 0;
    EnumResourceLanguagesW(Module(), RT_MANIFEST, MAKEINTRESOURCEW(1), CountLanguage,
                           reinterpret_cast<LONG_PTR>(&manifests));
    EXPECT_EQ(manifests, 1);
    Bytes raw = FindRaw(RT_MANIFEST, 1, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    ASSERT_NE(raw.data, nullptr);
    std::string text(reinterpret_cast<const char*>(raw.data), raw.size);
    EXPECT_NE(text.find("manifestVersion=\"1.0\""), std::string::npos);
    EXPECT_NE(text.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(text.find("uiAccess=\"false\""), std::string::npos);
    EXPECT_EQ(text.find("<dependency"), std::string::npos);
}

TEST(ResourceModule, FirmwareImageIsTheGeneratedImageByteForByte) {
    // Found by type and ID alone, as the update maps it.
    Bytes image = LoadRaw(FindResourceW(Module(), MAKEINTRESOURCEW(IDR_FIRMWARE_IMAGE), RT_RCDATA));
    ASSERT_NE(image.data, nullptr);
    ASSERT_EQ(image.size, ResFirmwareImageSize());
    EXPECT_EQ(std::memcmp(image.data, ResFirmwareImageData(), image.size), 0);
}

// Read as Explorer reads it: through the version API on the file, block by
// block in each language the translation list names.
TEST(ResourceModule, VersionResourceIsTheGeneratedOneInBothLanguages) {
    const ResVersionInfo* expected = ResVersion();
    Bytes raw = FindRaw(RT_VERSION, expected->id, expected->language);
    ASSERT_NE(raw.data, nullptr) << "one version resource, language-neutral";

    wchar_t path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<uint8_t> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    const uint16_t* file = expected->fileVersion;
    const uint16_t* product = expected->productVersion;
    EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(file[0] << 16 | file[1]));
    EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(file[2] << 16 | file[3]));
    EXPECT_EQ(fixed->dwProductVersionMS, static_cast<DWORD>(product[0] << 16 | product[1]));
    EXPECT_EQ(fixed->dwProductVersionLS, static_cast<DWORD>(product[2] << 16 | product[3]));
    EXPECT_EQ(fixed->dwFileFlagsMask, expected->fileFlagsMask);
    EXPECT_EQ(fixed->dwFileFlags, expected->fileFlags);
    EXPECT_EQ(fixed->dwFileOS, expected->fileOs);
    EXPECT_EQ(fixed->dwFileType, expected->fileType);
    EXPECT_EQ(fixed->dwFileSubtype, expected->fileSubtype);

    const uint16_t* pairs = nullptr;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(const_cast<uint16_t**>(&pairs)), &length));
    ASSERT_EQ(length, 4u * expected->translationCount);
    for (int i = 0; i < 2 * expected->translationCount; ++i) {
        EXPECT_EQ(pairs[i], expected->translations[i]) << i;
    }

    ASSERT_GT(expected->textCount, 0);
    for (int i = 0; i < expected->textCount; ++i) {
        const ResVersionText& text = expected->texts[i];
        wchar_t query[128];
        swprintf(query, 128, L"\\StringFileInfo\\%04X%04X\\%hs", text.language, text.codePage,
                 text.name);
        const wchar_t* value = nullptr;
        ASSERT_TRUE(VerQueryValueW(
            info.data(), query, reinterpret_cast<void**>(const_cast<wchar_t**>(&value)), &length))
            << text.name << " in " << text.language;
        std::u16string loaded(reinterpret_cast<const char16_t*>(value));
        EXPECT_TRUE(loaded == text.value) << text.name << " in " << text.language;
    }
}

} // namespace
