// The text of an edit control and its selection, as the ANSI edit messages see them.
// Pure C++: the Qt view only shows what this model holds.
//
// The text is UTF-8 (the layer's 8-bit code page) and always valid: bytes that are not UTF-8
// become U+FFFD when they enter. Positions are byte offsets, the analogue of the ANSI code page's
// byte counts, and the selection always sits on character boundaries. In a multi-line edit a
// CR LF pair is one character of two bytes: the caret never stands between its two halves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace w32 {

// One change of the text: `removed` (the old bytes at `pos`) was replaced by `inserted`.
// Changes that reach the view never start right after a CR nor end right before an LF of the
// text around them, so a CR LF pair never forms or breaks at their edges (see EditModel::replace).
struct EditChange {
    std::size_t pos = 0;
    std::string removed;
    std::string inserted;
    bool empty() const { return removed.empty() && inserted.empty(); }
};

// What one edit operation did.
struct EditResult {
    EditChange change;
    bool hit_limit = false;  // the text limit cut or dropped what was to be inserted
};

class EditModel {
public:
    // Text limits that EM_LIMITTEXT 0 sets (observed: single-line 0x7FFFFFFE, multi-line -1).
    static constexpr std::uint32_t kDefaultLimit = 30000;
    static constexpr std::uint32_t kMaxSingleLine = 0x7FFFFFFE;
    static constexpr std::uint32_t kMaxMultiLine = 0xFFFFFFFF;

    EditModel(bool multiline, const std::string& text);

    bool multiline() const { return multiline_; }
    const std::string& text() const { return text_; }
    std::size_t sel_start() const { return sel_start_; }
    std::size_t sel_end() const { return sel_end_; }
    std::uint32_t limit() const { return limit_; }

    // WM_SETTEXT: replaces everything, ignoring the limit; the selection becomes (0,0).
    void set_text(const std::string& text);
    // EM_SETSEL with its Win32 arguments: start -1 collapses the selection to its end, other
    // positions clamp to the text, start > end is swapped.
    void set_selection(std::uint32_t start, std::uint32_t end);
    // A selection from the user (the view): snapped to characters and ordered.
    void select(std::size_t a, std::size_t b);
    // EM_LIMITTEXT: 0 means the largest limit of this kind of edit.
    void set_limit(std::uint32_t limit);

    // Replaces the selection with `s` and puts the caret after it. With `honor_limit`, only the
    // longest run of whole characters of `s` that keeps the text within the limit goes in
    // (possibly none; the selection is removed all the same).
    EditResult replace_selection(const std::string& s, bool honor_limit);
    // Replaces bytes [a, b) (on character boundaries) as the user did in the view.
    EditResult replace_range(std::size_t a, std::size_t b, const std::string& s, bool honor_limit);
    // One WM_CHAR byte. Bytes of a UTF-8 sequence wait until the character is complete. A
    // sequence that breaks off is typed as U+FFFD, so that the loss shows; then `*again` is set
    // and the caller types the same byte again, on its own.
    EditResult type_byte(unsigned char byte, bool* again);
    // Forgets a partly typed UTF-8 sequence (anything but WM_CHAR changed the text or caret).
    void drop_pending() { pending_.clear(); }

    // WM_GETTEXT: copies at most size-1 bytes and a zero.
    std::size_t copy_text(char* buf, std::size_t size) const;
    // EM_GETLINECOUNT: CR LF, or a lone CR or LF, ends a line. A wrapping field's soft line
    // breaks are not counted (the program's multi-line fields scroll sideways and never wrap).
    std::size_t line_count() const;

    // The character boundary at or before `pos`.
    std::size_t floor_boundary(std::size_t pos) const;
    // The character boundary at or after `pos`.
    std::size_t ceil_boundary(std::size_t pos) const;

private:
    EditResult replace(std::size_t a, std::size_t b, std::string s, bool honor_limit);
    EditResult backspace();
    EditResult type_fresh(unsigned char byte);

    bool multiline_;
    std::string text_;
    std::size_t sel_start_ = 0;
    std::size_t sel_end_ = 0;
    std::uint32_t limit_ = kDefaultLimit;
    std::string pending_;  // leading bytes of a UTF-8 character typed one WM_CHAR at a time
};

// Replaces every byte that is not part of a valid UTF-8 sequence with U+FFFD.
std::string sanitize_utf8(const std::string& s);
// Length of the UTF-8 sequence that a lead byte starts (1 for ASCII and for invalid bytes).
std::size_t utf8_sequence_length(unsigned char lead);

}  // namespace w32
