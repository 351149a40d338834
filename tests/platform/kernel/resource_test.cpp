// The module's resources, found and loaded as the dialog manager and the shell find them.
#include "res/resource.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "res/version.h"

namespace {

struct Lookup {
    const char* what;
    LPCSTR name;
    LPCSTR type;
    DWORD error;  // 0 when the resource is there
};

// Names and types by number, by "#number" and by string; what is missing fails with the error
// that says whether the type or only the name is unknown.
const Lookup kLookups[] = {
    {"the dialog by number", MAKEINTRESOURCEA(IDD_MEASURE), RT_DIALOG, 0},
    {"the dialog by \"#number\"", "#1000", RT_DIALOG, 0},
    {"the manifest", MAKEINTRESOURCEA(1), RT_MANIFEST, 0},
    {"the icon group", MAKEINTRESOURCEA(IDI_MEASURE), RT_GROUP_ICON, 0},
    {"the version information", MAKEINTRESOURCEA(1), RT_VERSION, 0},
    {"a dialog that is not there", MAKEINTRESOURCEA(4321), RT_DIALOG,
     ERROR_RESOURCE_NAME_NOT_FOUND},
    {"a dialog named by a string", "MEASURE", RT_DIALOG, ERROR_RESOURCE_NAME_NOT_FOUND},
    {"a type the module has none of", MAKEINTRESOURCEA(1), RT_MENU, ERROR_RESOURCE_TYPE_NOT_FOUND},
};

TEST(Resources, FindResourceFindsWhatTheScriptCompiled) {
    HMODULE module = GetModuleHandleA(nullptr);
    for (const Lookup& l : kLookups) {
        SCOPED_TRACE(l.what);
        SetLastError(0xdeadbeef);
        HRSRC info = FindResourceA(module, l.name, l.type);
        if (l.error) {
            EXPECT_EQ(info, nullptr);
            EXPECT_EQ(GetLastError(), l.error);
            continue;
        }
        ASSERT_NE(info, nullptr) << "error " << GetLastError();
        EXPECT_GT(SizeofResource(module, info), 0u);
        EXPECT_NE(LockResource(LoadResource(module, info)), nullptr);
        // The program's own module is also found with no module handle at all.
        EXPECT_NE(FindResourceA(nullptr, l.name, l.type), nullptr);
    }
}

// Bytes of a resource, or an empty string when it cannot be loaded.
std::string Bytes(LPCSTR name, LPCSTR type) {
    HRSRC info = FindResourceA(nullptr, name, type);
    if (!info) return std::string();
    const char* data = static_cast<const char*>(LockResource(LoadResource(nullptr, info)));
    return data ? std::string(data, SizeofResource(nullptr, info)) : std::string();
}

// A value of the version information's string table: the key in UTF-16, then the value at the
// next four-byte boundary (ASCII here).
std::string VersionValue(const std::string& info, const std::string& key) {
    std::string wide;
    for (char c : key + '\0') wide += {c, '\0'};
    size_t at = info.find(wide);
    if (at == std::string::npos) return "(no " + key + ")";
    std::string value;
    for (at = (at + wide.size() + 3) & ~size_t(3); at + 1 < info.size() && info[at]; at += 2)
        value += info[at];
    return value;
}

TEST(Resources, ContentsAreTheCompiledOnes) {
    // The manifest is the file's text, byte for byte.
    std::string manifest = Bytes(MAKEINTRESOURCEA(1), RT_MANIFEST);
    EXPECT_EQ(manifest.compare(0, 5, "<?xml"), 0) << manifest;
    EXPECT_NE(manifest.find("</assembly>"), std::string::npos) << manifest;

    // The icon group lists the three sizes of the icon; each names an RT_ICON of that size.
    std::string group = Bytes(MAKEINTRESOURCEA(IDI_MEASURE), RT_GROUP_ICON);
    ASSERT_EQ(group.size(), 6u + 3 * 14);
    const unsigned char* g = reinterpret_cast<const unsigned char*>(group.data());
    EXPECT_EQ(g[2] | g[3] << 8, 1);  // icons, not cursors
    EXPECT_EQ(g[4] | g[5] << 8, 3);
    const int sizes[] = {16, 32, 48};
    for (int i = 0; i < 3; ++i) {
        const unsigned char* e = g + 6 + 14 * i;
        EXPECT_EQ(e[0], sizes[i]);
        EXPECT_EQ(e[1], sizes[i]);
        int id = e[12] | e[13] << 8;
        std::string image = Bytes(MAKEINTRESOURCEA(id), RT_ICON);
        ASSERT_GE(image.size(), 40u) << "icon " << id;
        int width = static_cast<unsigned char>(image[4]) | static_cast<unsigned char>(image[5])
                                                               << 8;
        EXPECT_EQ(width, sizes[i]);
    }

    // The dialog template is the extended kind, with its caption's font.
    std::string dialog = Bytes(MAKEINTRESOURCEA(IDD_MEASURE), RT_DIALOG);
    ASSERT_GE(dialog.size(), 26u);
    EXPECT_EQ(dialog.compare(0, 4, "\x01\x00\xff\xff", 4), 0);

    // The version information, as a file's properties show it: its fixed part (after the
    // block's sizes and its key "VS_VERSION_INFO") holds the build's version number, and its
    // string table the names.
    std::string version = Bytes(MAKEINTRESOURCEA(1), RT_VERSION);
    ASSERT_GE(version.size(), 40u + 52u);
    auto dword = [&](size_t at) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(version.data()) + at;
        return static_cast<DWORD>(p[0] | p[1] << 8 | p[2] << 16) | static_cast<DWORD>(p[3]) << 24;
    };
    EXPECT_EQ(dword(40), 0xFEEF04BDu);
    const DWORD high = MEASURE_VERSION_MAJOR << 16 | MEASURE_VERSION_MINOR;
    const DWORD low = MEASURE_VERSION_PATCH << 16;
    EXPECT_EQ(dword(48), high);  // file version
    EXPECT_EQ(dword(52), low);
    EXPECT_EQ(dword(56), high);  // product version
    EXPECT_EQ(dword(60), low);
    EXPECT_EQ(VersionValue(version, "ProductName"), "measure");
    EXPECT_EQ(VersionValue(version, "ProductVersion"), MEASURE_VERSION_STRING);
    EXPECT_EQ(VersionValue(version, "FileVersion"), MEASURE_VERSION_STRING);
    EXPECT_EQ(VersionValue(version, "FileDescription"), MEASURE_DESCRIPTION);
    EXPECT_EQ(VersionValue(version, "LegalCopyright"), MEASURE_COPYRIGHT);
}

TEST(Resources, BadHandlesFail) {
    HMODULE module = GetModuleHandleA(nullptr);
    EXPECT_EQ(SizeofResource(module, nullptr), 0u);
    EXPECT_EQ(LoadResource(module, nullptr), nullptr);
    EXPECT_EQ(LockResource(nullptr), nullptr);
}

}  // namespace
