// Reads DLGTEMPLATE and DLGTEMPLATEEX: a header, the menu, class and caption, the font when
// DS_SETFONT is set, then one DWORD-aligned record per control.
#include "dlgtemplate.h"

namespace w32 {
namespace dlg {
namespace {

class Reader {
public:
    Reader(const unsigned char* base, size_t size) : base_(base), size_(size) {}

    bool ok() const { return ok_; }

    WORD word() {
        if (!need(2)) return 0;
        WORD v = static_cast<WORD>(base_[pos_] | base_[pos_ + 1] << 8);
        pos_ += 2;
        return v;
    }
    DWORD dword() {
        DWORD lo = word();
        return lo | static_cast<DWORD>(word()) << 16;
    }
    int coordinate() { return static_cast<short>(word()); }
    unsigned char byte() {
        if (!need(1)) return 0;
        return base_[pos_++];
    }

    // A zero-terminated UTF-16 string, as UTF-8.
    std::string text() {
        std::string out;
        for (;;) {
            DWORD c = word();
            if (!ok_ || c == 0) return out;
            if (c >= 0xD800 && c < 0xDC00) {
                DWORD low = word();
                if (low >= 0xDC00 && low < 0xE000)
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                else
                    c = 0xFFFD;
            } else if (c >= 0xDC00 && c < 0xE000) {
                c = 0xFFFD;
            }
            append_utf8(&out, c);
        }
    }

    // A string-or-number field: 0 (nothing), 0xFFFF and a number, or a string. Returns the
    // number in *number (else -1) and the string.
    std::string text_or_number(int* number) {
        *number = -1;
        if (!need(2)) return std::string();
        WORD first = static_cast<WORD>(base_[pos_] | base_[pos_ + 1] << 8);
        if (first == 0) {
            pos_ += 2;
            return std::string();
        }
        if (first == 0xFFFF) {
            pos_ += 2;
            *number = word();
            return std::string();
        }
        return text();
    }

    void bytes(size_t n, std::vector<unsigned char>* out) {
        if (!need(n)) return;
        out->assign(base_ + pos_, base_ + pos_ + n);
        pos_ += n;
    }

    void align_dword() { pos_ = (pos_ + 3) & ~size_t(3); }

private:
    bool need(size_t n) {
        if (!ok_ || pos_ > size_ || size_ - pos_ < n) ok_ = false;
        return ok_;
    }

    static void append_utf8(std::string* s, DWORD c) {
        if (c < 0x80) {
            *s += static_cast<char>(c);
        } else if (c < 0x800) {
            *s += static_cast<char>(0xC0 | c >> 6);
            *s += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            *s += static_cast<char>(0xE0 | c >> 12);
            *s += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            *s += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            *s += static_cast<char>(0xF0 | c >> 18);
            *s += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            *s += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            *s += static_cast<char>(0x80 | (c & 0x3F));
        }
    }

    const unsigned char* base_;
    size_t size_;
    size_t pos_ = 0;
    bool ok_ = true;
};

// The predefined classes a template names by number.
std::string class_by_number(int number) {
    switch (number) {
        case 0x80:
            return "Button";
        case 0x81:
            return "Edit";
        case 0x82:
            return "Static";
        case 0x83:
            return "ListBox";
        case 0x84:
            return "ScrollBar";
        case 0x85:
            return "ComboBox";
        default:
            return "#" + std::to_string(number);
    }
}

Item read_item(Reader& r, bool extended) {
    Item it;
    r.align_dword();
    if (extended) {
        it.help_id = r.dword();
        it.ex_style = r.dword();
        it.style = r.dword();
    } else {
        it.style = r.dword();
        it.ex_style = r.dword();
    }
    it.x = r.coordinate();
    it.y = r.coordinate();
    it.cx = r.coordinate();
    it.cy = r.coordinate();
    it.id = extended ? static_cast<int>(r.dword()) : r.word();
    int number;
    it.class_name = r.text_or_number(&number);
    if (number >= 0) it.class_name = class_by_number(number);
    it.text = r.text_or_number(&it.text_ordinal);
    // The creation data: a byte count, then the bytes, which WM_CREATE receives.
    WORD extra = r.word();
    if (extra) r.bytes(extra, &it.creation_data);
    return it;
}

}  // namespace

bool parse(const void* data, size_t size, Template* out) {
    Reader r(static_cast<const unsigned char*>(data), size);
    Template t;
    WORD first = r.word();
    WORD second = r.word();
    t.extended = first == 1 && second == 0xFFFF;
    if (t.extended) {
        t.help_id = r.dword();
        t.ex_style = r.dword();
        t.style = r.dword();
    } else {
        t.style = first | static_cast<DWORD>(second) << 16;
        t.ex_style = r.dword();
    }
    WORD count = r.word();
    t.x = r.coordinate();
    t.y = r.coordinate();
    t.cx = r.coordinate();
    t.cy = r.coordinate();
    int number;
    t.menu = r.text_or_number(&number);
    if (number >= 0) t.menu = "#" + std::to_string(number);
    t.class_name = r.text_or_number(&number);
    if (number >= 0) t.class_name = "#" + std::to_string(number);
    t.caption = r.text();
    if (t.style & DS_SETFONT) {
        t.has_font = true;
        t.point_size = r.word();
        if (t.extended) {
            t.weight = r.word();
            t.italic = r.byte() != 0;
            t.charset = r.byte();
        }
        t.face = r.text();
    }
    for (WORD i = 0; i < count && r.ok(); ++i) t.items.push_back(read_item(r, t.extended));
    if (!r.ok()) return false;
    *out = std::move(t);
    return true;
}

}  // namespace dlg
}  // namespace w32
