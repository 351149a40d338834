// The resource-script reader: tokens, #define, style expressions, DIALOG/DIALOGEX templates.
#include "rc.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace w32 {
namespace rc {
namespace {

enum class Tok { Name, Number, String, Punct, End };

struct Token {
    Tok type = Tok::End;
    std::string text;  // name (upper case kept as written), string contents, or the punctuation
    uint32_t number = 0;
    int line = 0;
};

struct ParseError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// The style constants a script may name: those that windows.h defines.
const std::map<std::string, uint32_t>& constants() {
    static const std::map<std::string, uint32_t> table = {
        {"WS_OVERLAPPED", 0x00000000},
        {"WS_POPUP", 0x80000000},
        {"WS_CHILD", 0x40000000},
        {"WS_MINIMIZE", 0x20000000},
        {"WS_VISIBLE", 0x10000000},
        {"WS_DISABLED", 0x08000000},
        {"WS_CLIPSIBLINGS", 0x04000000},
        {"WS_CLIPCHILDREN", 0x02000000},
        {"WS_MAXIMIZE", 0x01000000},
        {"WS_CAPTION", 0x00C00000},
        {"WS_BORDER", 0x00800000},
        {"WS_DLGFRAME", 0x00400000},
        {"WS_VSCROLL", 0x00200000},
        {"WS_HSCROLL", 0x00100000},
        {"WS_SYSMENU", 0x00080000},
        {"WS_THICKFRAME", 0x00040000},
        {"WS_GROUP", 0x00020000},
        {"WS_TABSTOP", 0x00010000},
        {"WS_MINIMIZEBOX", 0x00020000},
        {"WS_MAXIMIZEBOX", 0x00010000},
        {"WS_EX_DLGMODALFRAME", 0x0001},
        {"WS_EX_CLIENTEDGE", 0x0200},
        {"DS_SETFONT", 0x40},
        {"DS_MODALFRAME", 0x80},
        {"DS_CENTER", 0x0800},
        {"ES_LEFT", 0x0000},
        {"ES_CENTER", 0x0001},
        {"ES_RIGHT", 0x0002},
        {"ES_MULTILINE", 0x0004},
        {"ES_UPPERCASE", 0x0008},
        {"ES_LOWERCASE", 0x0010},
        {"ES_PASSWORD", 0x0020},
        {"ES_AUTOVSCROLL", 0x0040},
        {"ES_AUTOHSCROLL", 0x0080},
        {"ES_NOHIDESEL", 0x0100},
        {"ES_READONLY", 0x0800},
        {"ES_WANTRETURN", 0x1000},
        {"ES_NUMBER", 0x2000},
        {"BS_PUSHBUTTON", 0x0000},
        {"BS_DEFPUSHBUTTON", 0x0001},
        {"SS_LEFT", 0x0000},
        {"SS_CENTER", 0x0001},
        {"SS_RIGHT", 0x0002},
        {"SS_NOTIFY", 0x0100},
    };
    return table;
}

class Lexer {
public:
    explicit Lexer(const std::string& text) : s_(text) {}

    // Splits the script into tokens; #define lines go to `defines`, other directives are dropped.
    std::vector<Token> run(std::map<std::string, std::vector<Token>>* defines) {
        std::vector<Token> out;
        bool line_start = true;
        while (pos_ < s_.size()) {
            char c = s_[pos_];
            if (c == '\n') {
                ++line_;
                ++pos_;
                line_start = true;
            } else if (std::isspace(static_cast<unsigned char>(c))) {
                ++pos_;
            } else if (starts("//")) {
                skip_to_eol();
            } else if (starts("/*")) {
                size_t end = s_.find("*/", pos_ + 2);
                for (size_t i = pos_; i < std::min(end, s_.size()); ++i) line_ += s_[i] == '\n';
                pos_ = end == std::string::npos ? s_.size() : end + 2;
            } else if (c == '#' && line_start) {
                directive(defines);
            } else {
                line_start = false;
                out.push_back(token());
            }
        }
        return out;
    }

private:
    bool starts(const char* p) const { return s_.compare(pos_, std::strlen(p), p) == 0; }

    void skip_to_eol() {
        while (pos_ < s_.size() && s_[pos_] != '\n') ++pos_;
    }

    void directive(std::map<std::string, std::vector<Token>>* defines) {
        size_t eol = s_.find('\n', pos_);
        std::string line =
            s_.substr(pos_, eol == std::string::npos ? std::string::npos : eol - pos_);
        skip_to_eol();
        size_t p = 1;
        while (p < line.size() && std::isspace(static_cast<unsigned char>(line[p]))) ++p;
        if (line.compare(p, 6, "define") != 0)
            return;  // #include, #pragma, #ifdef...: the script's own header comes first anyway
        Lexer sub(line.substr(p + 6));
        std::vector<Token> toks = sub.run(nullptr);
        if (toks.empty() || toks[0].type != Tok::Name) return;
        std::string name = toks[0].text;
        toks.erase(toks.begin());
        if (defines) (*defines)[name] = toks;
    }

    Token token() {
        Token t;
        t.line = line_;
        char c = s_[pos_];
        if (c == '"') {
            t.type = Tok::String;
            t.text = string_literal();
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            t.type = Tok::Number;
            char* end = nullptr;
            t.number = static_cast<uint32_t>(std::strtoul(s_.c_str() + pos_, &end, 0));
            pos_ = static_cast<size_t>(end - s_.c_str());
            while (pos_ < s_.size() &&
                   (s_[pos_] == 'L' || s_[pos_] == 'l' || s_[pos_] == 'U' || s_[pos_] == 'u'))
                ++pos_;
        } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            t.type = Tok::Name;
            size_t start = pos_;
            while (pos_ < s_.size() &&
                   (std::isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '_'))
                ++pos_;
            t.text = s_.substr(start, pos_ - start);
        } else {
            t.type = Tok::Punct;
            t.text = std::string(1, c);
            ++pos_;
        }
        return t;
    }

    // A quoted string: "" stands for one quote; C escapes are understood.
    std::string string_literal() {
        std::string out;
        ++pos_;
        while (pos_ < s_.size()) {
            char c = s_[pos_++];
            if (c == '"') {
                if (pos_ < s_.size() && s_[pos_] == '"') {
                    out += '"';
                    ++pos_;
                    continue;
                }
                return out;
            }
            if (c == '\\' && pos_ < s_.size()) {
                char e = s_[pos_++];
                switch (e) {
                    case 'n':
                        out += '\n';
                        break;
                    case 't':
                        out += '\t';
                        break;
                    case 'r':
                        out += '\r';
                        break;
                    case 'a':  // rc turns \a into a backspace (right-aligned menu text)
                        out += '\b';
                        break;
                    default:
                        out += e;
                        break;
                }
                continue;
            }
            if (c == '\n')
                throw ParseError("string not closed on line " + std::to_string(line_ + 1));
            out += c;
        }
        throw ParseError("string not closed at the end of the script");
    }

    std::string s_;
    size_t pos_ = 0;
    int line_ = 0;
};

class Parser {
public:
    Parser(std::vector<Token> toks, std::map<std::string, std::vector<Token>> defines)
        : t_(std::move(toks)), defines_(std::move(defines)) {}

    std::vector<Dialog> run() {
        std::vector<Dialog> out;
        while (!at_end()) {
            const Token& name = next();
            const Token& type = peek();
            std::string kind = type.type == Tok::Name ? upper(type.text) : "";
            if (kind == "DIALOGEX" || kind == "DIALOG") {
                next();
                out.push_back(dialog(name));
            } else {
                skip_resource(name.line);
            }
        }
        return out;
    }

private:
    bool at_end() const { return i_ >= t_.size(); }
    const Token& peek() const {
        static const Token end;
        return at_end() ? end : t_[i_];
    }
    const Token& next() {
        if (at_end()) throw ParseError("unexpected end of the script");
        return t_[i_++];
    }
    bool is_word(const Token& t, const char* w) const {
        return t.type == Tok::Name && upper(t.text) == w;
    }
    bool is_punct(const Token& t, char c) const {
        return t.type == Tok::Punct && t.text.size() == 1 && t.text[0] == c;
    }
    [[noreturn]] void fail(const std::string& what) const {
        int line = at_end() ? (t_.empty() ? 0 : t_.back().line) : t_[i_].line;
        throw ParseError(what + " on line " + std::to_string(line + 1));
    }
    void comma() {
        if (!is_punct(peek(), ',')) fail("',' expected");
        next();
    }
    bool optional_comma() {
        if (!is_punct(peek(), ',')) return false;
        next();
        return true;
    }
    bool is_begin(const Token& t) const { return is_word(t, "BEGIN") || is_punct(t, '{'); }
    bool is_end(const Token& t) const { return is_word(t, "END") || is_punct(t, '}'); }

    // A resource of another type: the rest of its line, then any BEGIN ... END block.
    void skip_resource(int line) {
        while (!at_end() && peek().line == line) next();
        if (!at_end() && is_begin(peek())) {
            int depth = 0;
            do {
                const Token& t = next();
                depth += is_begin(t) ? 1 : is_end(t) ? -1 : 0;
            } while (depth > 0 && !at_end());
        }
    }

    // value := ['-' | '~'] primary;  primary := number | name | '(' or-chain ')'
    uint32_t value() {
        const Token& t = next();
        if (is_punct(t, '-')) return 0u - value();
        if (is_punct(t, '~')) return ~value();
        if (is_punct(t, '(')) {
            uint32_t v = chain(0);
            if (!is_punct(next(), ')')) fail("')' expected");
            return v;
        }
        if (t.type == Tok::Number) return t.number;
        if (t.type == Tok::Name) return named(t.text);
        fail("a number or a name expected");
    }

    uint32_t named(const std::string& name) {
        auto d = defines_.find(name);
        if (d != defines_.end()) {
            if (++depth_ > 32) fail("#define of " + name + " refers to itself");
            Parser sub(d->second, defines_);
            sub.depth_ = depth_;
            uint32_t v = sub.chain(0);
            --depth_;
            return v;
        }
        auto c = constants().find(name);
        if (c == constants().end()) fail("unknown name " + name);
        return c->second;
    }

    // `a | b | NOT c + d`: starting from `initial`; NOT clears bits, as the resource compiler does.
    uint32_t chain(uint32_t initial) {
        uint32_t v = initial;
        char op = '|';
        for (;;) {
            bool negate = is_word(peek(), "NOT");
            if (negate) next();
            uint32_t x = value();
            if (negate)
                v &= ~x;
            else if (op == '|')
                v |= x;
            else if (op == '+')
                v += x;
            else if (op == '-')
                v -= x;
            else
                v &= x;
            const Token& t = peek();
            if (!(is_punct(t, '|') || is_punct(t, '+') || is_punct(t, '-') || is_punct(t, '&')))
                return v;
            op = next().text[0];
        }
    }

    int integer() { return static_cast<int>(chain(0)); }

    std::string string() {
        const Token& t = next();
        if (t.type != Tok::String) fail("a quoted string expected");
        return t.text;
    }

    Dialog dialog(const Token& name) {
        Dialog d;
        if (name.type == Tok::Number)
            d.id = static_cast<int>(name.number);
        else if (name.type == Tok::Name && defines_.count(name.text))
            d.id = static_cast<int>(named(name.text));
        else if (name.type == Tok::Name || name.type == Tok::String)
            d.name = upper(name.text);
        else
            fail("a template name expected");
        static const char* memory_flags[] = {"DISCARDABLE", "MOVEABLE", "PURE",  "PRELOAD",
                                             "LOADONCALL",  "IMPURE",   "FIXED", "SHARED"};
        for (bool again = true; again;) {
            again = false;
            for (const char* f : memory_flags)
                if (is_word(peek(), f)) {
                    next();
                    again = true;
                }
        }
        d.x = integer();
        comma();
        d.y = integer();
        comma();
        d.cx = integer();
        comma();
        d.cy = integer();
        if (optional_comma()) integer();  // help id
        bool has_style = false;
        uint32_t style = 0;
        while (!at_end() && !is_begin(peek())) {
            const Token& opt = next();
            std::string o = opt.type == Tok::Name ? upper(opt.text) : "";
            if (o == "STYLE") {
                style = chain(0);
                has_style = true;
            } else if (o == "EXSTYLE") {
                d.ex_style = chain(0);
            } else if (o == "CAPTION") {
                d.caption = string();
            } else if (o == "FONT") {
                d.font_size = integer();
                comma();
                d.font_face = string();
                while (optional_comma()) integer();  // weight, italic, character set
            } else if (o == "CLASS" || o == "MENU") {
                next();
            } else if (o == "LANGUAGE") {
                integer();
                comma();
                integer();
            } else if (o == "CHARACTERISTICS" || o == "VERSION") {
                integer();
            } else {
                fail("unknown dialog option " + opt.text);
            }
        }
        // What the resource compiler does: a default style, WS_CAPTION with a caption, and
        // DS_SETFONT with a font.
        d.style = has_style ? style : (0x80000000u | 0x00800000u | 0x00080000u);
        if (!d.caption.empty()) d.style |= 0x00C00000u;
        if (!d.font_face.empty()) d.style |= 0x40u;
        next();  // BEGIN
        while (!is_end(peek())) d.controls.push_back(control());
        next();  // END
        return d;
    }

    // CONTROL text, id, class, style, x, y, cx, cy [, exstyle [, helpid]]
    Control control() {
        const Token& kw = next();
        if (!is_word(kw, "CONTROL")) fail("unsupported control statement " + kw.text);
        Control c;
        if (peek().type == Tok::String)
            c.text = string();
        else
            c.text = std::to_string(integer());
        comma();
        c.id = integer();
        comma();
        const Token& cls = next();
        if (cls.type != Tok::String && cls.type != Tok::Name) fail("a control class expected");
        c.class_name = cls.text;
        comma();
        c.style = chain(0x40000000u | 0x10000000u);  // WS_CHILD | WS_VISIBLE
        comma();
        c.x = integer();
        comma();
        c.y = integer();
        comma();
        c.cx = integer();
        comma();
        c.cy = integer();
        if (optional_comma()) {
            c.ex_style = chain(0);
            if (optional_comma()) integer();
        }
        return c;
    }

    std::vector<Token> t_;
    std::map<std::string, std::vector<Token>> defines_;
    size_t i_ = 0;
    int depth_ = 0;
};

}  // namespace

Script parse(const std::string& text) {
    Script script;
    try {
        std::map<std::string, std::vector<Token>> defines;
        Lexer lexer(text);
        std::vector<Token> toks = lexer.run(&defines);
        script.dialogs = Parser(std::move(toks), std::move(defines)).run();
    } catch (const ParseError& e) {
        script.error = e.what();
    }
    return script;
}

const Dialog* find_dialog(const Script& script, int id, const std::string& name) {
    std::string key = upper(name);
    for (const Dialog& d : script.dialogs) {
        if (key.empty() ? d.id == id : d.name == key) return &d;
    }
    return nullptr;
}

}  // namespace rc
}  // namespace w32
