// The edit control's text model: what WM_CHAR, WM_SETTEXT, EM_SETSEL, EM_REPLACESEL and
// EM_LIMITTEXT do to the text and the selection.
#include "edit_model.h"

#include <algorithm>
#include <cstring>

namespace w32 {

namespace {

const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Whether `b` may follow `lead` as the second byte of a sequence: the narrower ranges after
// E0, ED, F0 and F4 exclude overlong forms, surrogates and code points past U+10FFFF.
bool valid_second(unsigned char lead, unsigned char b) {
    switch (lead) {
        case 0xE0:
            return b >= 0xA0 && b <= 0xBF;
        case 0xED:
            return b >= 0x80 && b <= 0x9F;
        case 0xF0:
            return b >= 0x90 && b <= 0xBF;
        case 0xF4:
            return b >= 0x80 && b <= 0x8F;
        default:
            return is_continuation(b);
    }
}

// Whether `b` can extend the incomplete sequence `seq` (which starts with a valid lead byte).
bool extends(const std::string& seq, unsigned char b) {
    return seq.size() == 1 ? valid_second(static_cast<unsigned char>(seq[0]), b)
                           : is_continuation(b);
}

// Length of the longest prefix of `s`, made of whole characters, that is at most `room` bytes.
// A CR LF pair counts as one character in a multi-line edit, so it never splits into a lone CR.
std::size_t fitting_prefix(const std::string& s, std::size_t room, bool multiline) {
    std::size_t n = 0;
    while (n < s.size()) {
        std::size_t step = utf8_sequence_length(static_cast<unsigned char>(s[n]));
        if (multiline && s[n] == '\r' && n + 1 < s.size() && s[n + 1] == '\n') step = 2;
        if (n + step > room) break;
        n += step;
    }
    return n;
}

}  // namespace

std::size_t utf8_sequence_length(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 1;
}

std::string sanitize_utf8(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        unsigned char lead = static_cast<unsigned char>(s[i]);
        if (lead < 0x80) {
            out += s[i++];
            continue;
        }
        std::size_t len = utf8_sequence_length(lead);
        bool ok = len > 1 && i + len <= s.size();
        for (std::size_t k = 1; ok && k < len; ++k) {
            unsigned char b = static_cast<unsigned char>(s[i + k]);
            ok = k == 1 ? valid_second(lead, b) : is_continuation(b);
        }
        if (ok) {
            out.append(s, i, len);
            i += len;
        } else {
            out += kReplacement;
            ++i;
        }
    }
    return out;
}

EditModel::EditModel(bool multiline, const std::string& text)
    : multiline_(multiline), text_(sanitize_utf8(text)) {}

std::size_t EditModel::floor_boundary(std::size_t pos) const {
    pos = std::min(pos, text_.size());
    while (pos > 0 && pos < text_.size() && is_continuation(static_cast<unsigned char>(text_[pos])))
        --pos;
    if (multiline_ && pos > 0 && pos < text_.size() && text_[pos] == '\n' && text_[pos - 1] == '\r')
        --pos;
    return pos;
}

std::size_t EditModel::ceil_boundary(std::size_t pos) const {
    pos = std::min(pos, text_.size());
    while (pos < text_.size() && is_continuation(static_cast<unsigned char>(text_[pos]))) ++pos;
    if (multiline_ && pos > 0 && pos < text_.size() && text_[pos] == '\n' && text_[pos - 1] == '\r')
        ++pos;
    return pos;
}

void EditModel::set_text(const std::string& text) {
    text_ = sanitize_utf8(text);
    sel_start_ = sel_end_ = 0;
    pending_.clear();
}

void EditModel::set_selection(std::uint32_t start, std::uint32_t end) {
    pending_.clear();
    if (start == 0xFFFFFFFFu) {
        sel_start_ = sel_end_;
        return;
    }
    // Positions are unsigned here, as in Win32: any other negative value is past the end.
    select(std::min<std::size_t>(start, text_.size()), std::min<std::size_t>(end, text_.size()));
}

void EditModel::select(std::size_t a, std::size_t b) {
    if (a > b) std::swap(a, b);
    if (a == b) {
        sel_start_ = sel_end_ = floor_boundary(a);
    } else {
        // A selection that covers part of a character takes the whole character.
        sel_start_ = floor_boundary(a);
        sel_end_ = ceil_boundary(b);
    }
}

void EditModel::set_limit(std::uint32_t limit) {
    if (limit == 0)
        limit_ = multiline_ ? kMaxMultiLine : kMaxSingleLine;
    else
        limit_ = multiline_ ? limit : std::min(limit, kMaxSingleLine);
}

EditResult EditModel::replace_selection(const std::string& s, bool honor_limit) {
    return replace(sel_start_, sel_end_, sanitize_utf8(s), honor_limit);
}

EditResult EditModel::replace_range(std::size_t a, std::size_t b, const std::string& s,
                                    bool honor_limit) {
    a = floor_boundary(a);
    b = ceil_boundary(std::max(a, b));
    return replace(a, b, sanitize_utf8(s), honor_limit);
}

EditResult EditModel::replace(std::size_t a, std::size_t b, std::string s, bool honor_limit) {
    EditResult r;
    if (honor_limit) {
        std::size_t kept = text_.size() - (b - a);
        std::size_t room = kept < limit_ ? limit_ - kept : 0;
        std::size_t n = fitting_prefix(s, room, multiline_);
        if (n < s.size()) {
            r.hit_limit = true;
            s.resize(n);
        }
    }
    if (a == b && s.empty()) return r;

    // Widen the change by a CR before it and an LF after it, so that the view, which shows a
    // CR LF pair as one line break, never sees a pair form or break at the change's edges.
    std::size_t from = a, to = b;
    std::string inserted = s;
    if (multiline_ && from > 0 && text_[from - 1] == '\r') {
        --from;
        inserted.insert(inserted.begin(), '\r');
    }
    if (multiline_ && to < text_.size() && text_[to] == '\n') {
        ++to;
        inserted += '\n';
    }
    r.change.pos = from;
    r.change.removed = text_.substr(from, to - from);
    r.change.inserted = std::move(inserted);

    text_.replace(a, b - a, s);
    sel_start_ = sel_end_ = ceil_boundary(a + s.size());
    return r;
}

EditResult EditModel::backspace() {
    if (sel_start_ != sel_end_) return replace(sel_start_, sel_end_, std::string(), false);
    if (sel_end_ == 0) return EditResult();
    // One character: a whole UTF-8 sequence, or a whole CR LF pair in a multi-line edit.
    return replace(floor_boundary(sel_end_ - 1), sel_end_, std::string(), false);
}

EditResult EditModel::type_byte(unsigned char byte, bool* again) {
    *again = false;
    if (pending_.empty()) return type_fresh(byte);
    if (!extends(pending_, byte)) {
        // The sequence broke off: it is typed as U+FFFD, then this byte on its own.
        pending_.clear();
        *again = true;
        return replace(sel_start_, sel_end_, kReplacement, true);
    }
    pending_ += static_cast<char>(byte);
    if (pending_.size() < utf8_sequence_length(static_cast<unsigned char>(pending_[0])))
        return EditResult();
    std::string ch;
    ch.swap(pending_);
    return replace(sel_start_, sel_end_, ch, true);
}

EditResult EditModel::type_fresh(unsigned char byte) {
    switch (byte) {
        case 8:
            return backspace();
        case 13:
        case 10:
            // Both end a line in a multi-line edit; a single-line edit ignores them.
            return multiline_ ? replace(sel_start_, sel_end_, "\r\n", true) : EditResult();
        case 9:
            return multiline_ ? replace(sel_start_, sel_end_, "\t", true) : EditResult();
        default:
            break;
    }
    if (byte < 0x20 || byte == 0x7F) return EditResult();
    if (byte < 0x80)
        return replace(sel_start_, sel_end_, std::string(1, static_cast<char>(byte)), true);
    if (utf8_sequence_length(byte) > 1) {
        pending_ = static_cast<char>(byte);
        return EditResult();
    }
    // A byte that cannot start a UTF-8 sequence.
    return replace(sel_start_, sel_end_, kReplacement, true);
}

// As Win32 copies: a character that does not fit whole is cut, and the reader ends the text at
// a character boundary itself.
std::size_t EditModel::copy_text(char* buf, std::size_t size) const {
    if (size == 0) return 0;
    std::size_t n = std::min(text_.size(), size - 1);
    std::memcpy(buf, text_.data(), n);
    buf[n] = '\0';
    return n;
}

std::size_t EditModel::line_count() const {
    if (!multiline_) return 1;
    std::size_t lines = 1;
    for (std::size_t i = 0; i < text_.size(); ++i) {
        if (text_[i] == '\r') {
            ++lines;
            if (i + 1 < text_.size() && text_[i + 1] == '\n') ++i;
        } else if (text_[i] == '\n') {
            ++lines;
        }
    }
    return lines;
}

}  // namespace w32
