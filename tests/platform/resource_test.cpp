// The module's resources, found and loaded as the dialog manager and the shell find them.
#include "resource.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

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
}

TEST(Resources, BadHandlesFail) {
    HMODULE module = GetModuleHandleA(nullptr);
    EXPECT_EQ(SizeofResource(module, nullptr), 0u);
    EXPECT_EQ(LoadResource(module, nullptr), nullptr);
    EXPECT_EQ(LockResource(nullptr), nullptr);
}

}  // namespace
