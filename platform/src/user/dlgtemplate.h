// Dialog templates as the resource compiler stores them (DLGTEMPLATE and DLGTEMPLATEEX), read
// into plain values for the dialog manager. Pure C++, no Qt.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace w32 {
namespace dlg {

struct Item {
    DWORD help_id = 0;
    DWORD ex_style = 0;
    DWORD style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
    int id = 0;
    std::string class_name;  // a predefined class's name when the template gives its number
    std::string text;        // UTF-8
    int text_ordinal = -1;   // a resource number in place of the text (an icon's), else -1
    std::vector<unsigned char> creation_data;
};

struct Template {
    bool extended = false;  // DLGTEMPLATEEX
    DWORD help_id = 0;
    DWORD ex_style = 0;
    DWORD style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::string menu;        // empty, a name, or "#<number>"
    std::string class_name;  // empty for the dialog class
    std::string caption;
    bool has_font = false;  // DS_SETFONT: the font fields below are present
    int point_size = 0;
    int weight = 0;
    bool italic = false;
    int charset = 0;
    std::string face;
    std::vector<Item> items;
};

// Reads a template of `size` bytes at `data`. Returns false, leaving `out` unspecified, when
// the bytes end before the template does.
bool parse(const void* data, size_t size, Template* out);

}  // namespace dlg
}  // namespace w32
