// The Qt side of the edit control. Program changes arrive as EditChanges and are applied in
// place (a log that grows line by line is never rebuilt); user changes are read back from Qt's
// own signals and handed to the control, which decides what the text becomes.
#include "edit_view.h"

#include <QApplication>
#include <QFont>
#include <QFontMetricsF>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRect>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <algorithm>
#include <limits>

#include "user_private.h"

namespace w32 {

namespace {

// Advances (byte, qt) over one character of `t`: a CR LF pair of a multi-line text is one
// line break, one Qt position; a character beyond U+FFFF takes two UTF-16 positions.
void step(const std::string& t, bool multiline, std::size_t& byte, int& qt) {
    if (multiline && t[byte] == '\r' && byte + 1 < t.size() && t[byte + 1] == '\n') {
        byte += 2;
        qt += 1;
        return;
    }
    std::size_t n = utf8_sequence_length(static_cast<unsigned char>(t[byte]));
    byte += n;
    qt += n == 4 ? 2 : 1;
}

Qt::Alignment horizontal_alignment(DWORD style) {
    if (style & ES_RIGHT) return Qt::AlignRight;
    if (style & ES_CENTER) return Qt::AlignHCenter;
    return Qt::AlignLeft;
}

}  // namespace

EditView::EditView(const EditModel& model, QWidget* parent, DWORD style, DWORD ex_style,
                   const QRect& rect, const QFont& font)
    : model_(model), context_(new QObject) {
    const bool framed = (style & (WS_BORDER | WS_DLGFRAME)) || (ex_style & WS_EX_CLIENTEDGE);
    QWidget* w = nullptr;
    if (model.multiline()) {
        auto* e = new QPlainTextEdit(parent);
        // Qt's undo would take back what the program typed as well: this field has none.
        e->setUndoRedoEnabled(false);
        e->setFrameStyle(framed ? QFrame::StyledPanel | QFrame::Sunken : QFrame::NoFrame);
        e->setVerticalScrollBarPolicy(style & WS_VSCROLL ? Qt::ScrollBarAlwaysOn
                                                         : Qt::ScrollBarAlwaysOff);
        e->setHorizontalScrollBarPolicy(style & WS_HSCROLL ? Qt::ScrollBarAlwaysOn
                                                           : Qt::ScrollBarAlwaysOff);
        // A multi-line edit wraps its lines unless it scrolls sideways.
        const bool wrap = !(style & (ES_AUTOHSCROLL | WS_HSCROLL));
        e->setLineWrapMode(wrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
        QTextOption option = e->document()->defaultTextOption();
        option.setAlignment(horizontal_alignment(style));
        e->document()->setDefaultTextOption(option);
        e->document()->setDocumentMargin(2);
        plain_ = e;
        w = e;
    } else {
        auto* e = new QLineEdit(parent);
        e->setFrame(framed);
        e->setMaxLength(std::numeric_limits<int>::max());  // the model keeps the limit
        e->setAlignment(horizontal_alignment(style) | Qt::AlignVCenter);
        line_ = e;
        w = e;
    }
    w->setFont(font);
    if (plain_)  // Win32's default tab stops are 8 average characters apart
        plain_->setTabStopDistance(QFontMetricsF(font).averageCharWidth() * 8);
    w->setGeometry(rect);
    w->setEnabled(!(style & WS_DISABLED));
    set_read_only(style & ES_READONLY);
    show_text();
    if (plain_)
        connect_plain();
    else
        connect_line();
    w->setVisible(style & WS_VISIBLE);
}

EditView::~EditView() {
    // The view may go while Qt is still delivering one of its calls (a notification answered
    // by destroying the window): cut every connection now, free their context afterwards.
    for (const QMetaObject::Connection& c : connections_) QObject::disconnect(c);
    context_.release()->deleteLater();
}

QWidget* EditView::widget() const {
    if (plain_) return plain_;
    return line_;
}

void EditView::set_read_only(bool read_only) {
    if (stale_ && !read_only) show_text();  // the user may edit it now: it must be current
    if (plain_) {
        plain_->setReadOnly(read_only);
        // Read-only still lets the user move the caret and select with the keyboard.
        if (read_only)
            plain_->setTextInteractionFlags(Qt::TextSelectableByMouse |
                                            Qt::TextSelectableByKeyboard);
    }
    if (line_) line_->setReadOnly(read_only);
    // A read-only edit is painted on the dialog's face colour, as Win32 paints it.
    if (QWidget* w = widget()) {
        QPalette pal = QApplication::palette(w);
        if (read_only) pal.setColor(QPalette::Base, pal.color(QPalette::Window));
        w->setPalette(pal);
    }
}

void EditView::forget_positions() {
    mark_byte_ = 0;
    mark_qt_ = 0;
}

int EditView::to_qt(std::size_t pos) {
    const std::string& t = model_.text();
    if (pos < mark_byte_ || mark_byte_ > t.size()) forget_positions();
    std::size_t byte = mark_byte_;
    int qt = mark_qt_;
    while (byte < pos && byte < t.size()) step(t, model_.multiline(), byte, qt);
    mark_byte_ = byte;
    mark_qt_ = qt;
    return qt;
}

std::size_t EditView::to_byte(int qt_pos) {
    const std::string& t = model_.text();
    if (qt_pos < mark_qt_ || mark_byte_ > t.size()) forget_positions();
    std::size_t byte = mark_byte_;
    int qt = mark_qt_;
    while (qt < qt_pos && byte < t.size()) step(t, model_.multiline(), byte, qt);
    mark_byte_ = byte;
    mark_qt_ = qt;
    return byte;
}

QString EditView::to_view(const std::string& bytes) const {
    QString s = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    if (model_.multiline()) {
        // Every line end is one Qt block break; a lone CR or LF shows as one too.
        s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    } else {
        // A single-line field shows no line breaks; one blank stands for each control byte.
        s.replace(QLatin1Char('\r'), QLatin1Char(' '));
        s.replace(QLatin1Char('\n'), QLatin1Char(' '));
    }
    return s;
}

int EditView::qt_length(const std::string& bytes) const {
    return static_cast<int>(to_view(bytes).size());
}

std::string EditView::from_view(const QString& text) const {
    QString s = text;
    s.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    s.replace(QChar::LineSeparator, QLatin1Char('\n'));
    s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (model_.multiline()) {
        s.replace(QLatin1String("\n"), QLatin1String("\r\n"));
    } else {
        // Pasted into a single-line field, only the first line is kept.
        qsizetype end = s.indexOf(QLatin1Char('\n'));
        if (end >= 0) s.truncate(end);
    }
    return s.toStdString();
}

void EditView::reset() {
    // A read-only field is only ever shown: the program may set it at every sample, and the
    // screen shows it once a frame.
    if (line_ && line_->isReadOnly()) {
        if (!stale_) {
            stale_ = true;
            before_next_frame(context_.get(), [this] {
                if (stale_) show_text();
            });
        }
        return;
    }
    show_text();
}

void EditView::show_text() {
    stale_ = false;
    syncing_ = true;
    const QString s = to_view(model_.text());
    if (plain_)
        plain_->setPlainText(s);
    else if (line_)
        line_->setText(s);
    qt_size_ = static_cast<int>(s.size());
    forget_positions();
    syncing_ = false;
    show_selection();
}

void EditView::show_selection() {
    const bool was_syncing = syncing_;
    syncing_ = true;
    const int a = to_qt(model_.sel_start());
    const int b = to_qt(model_.sel_end());
    if (plain_) {
        QTextCursor c = plain_->textCursor();
        c.setPosition(a);
        c.setPosition(b, QTextCursor::KeepAnchor);
        plain_->setTextCursor(c);
    } else if (line_) {
        if (a == b)
            line_->setCursorPosition(a);
        else
            line_->setSelection(a, b - a);
    }
    syncing_ = was_syncing;
}

void EditView::apply(const EditChange& change) {
    if (change.empty()) return;
    if (!plain_) {
        // A single-line field holds a short text: showing it whole costs nothing.
        reset();
        return;
    }
    syncing_ = true;
    // The view follows the caret only while the caret is in sight: a user who has scrolled
    // away to read keeps the place, and the program's typing does not pull the view back.
    const bool follow =
        !plain_->isVisible() || plain_->viewport()->rect().intersects(plain_->cursorRect());
    const int h = plain_->horizontalScrollBar()->value();
    const int v = plain_->verticalScrollBar()->value();

    // The text before change.pos is as it was, so the mapping can be taken from the new text.
    if (mark_byte_ > change.pos) forget_positions();
    const int at = to_qt(change.pos);
    const int removed = qt_length(change.removed);
    const QString inserted = to_view(change.inserted);
    QTextCursor c(plain_->document());
    c.setPosition(at);
    c.setPosition(at + removed, QTextCursor::KeepAnchor);
    if (inserted.isEmpty())
        c.removeSelectedText();
    else
        c.insertText(inserted);
    qt_size_ += static_cast<int>(inserted.size()) - removed;
    mark_byte_ = change.pos + change.inserted.size();
    mark_qt_ = at + static_cast<int>(inserted.size());

    show_selection();
    if (follow) {
        plain_->ensureCursorVisible();
    } else {
        plain_->horizontalScrollBar()->setValue(h);
        plain_->verticalScrollBar()->setValue(v);
    }
    syncing_ = false;
}

void EditView::connect_line() {
    connections_.push_back(QObject::connect(line_, &QLineEdit::textEdited, context_.get(),
                                            [this](const QString& now) { line_edited(now); }));
    connections_.push_back(QObject::connect(line_, &QLineEdit::cursorPositionChanged,
                                            context_.get(),
                                            [this](int, int) { report_selection(); }));
    connections_.push_back(QObject::connect(line_, &QLineEdit::selectionChanged, context_.get(),
                                            [this] { report_selection(); }));
}

void EditView::line_edited(const QString& now) {
    if (syncing_) return;
    // Qt gives the whole new text: the change is what lies between the common start and the
    // common end, never splitting a surrogate pair.
    const QString old = to_view(model_.text());
    const qsizetype n = std::min(old.size(), now.size());
    qsizetype p = 0;
    while (p < n && old[p] == now[p]) ++p;
    if (p > 0 && old[p - 1].isHighSurrogate()) --p;
    qsizetype s = 0;
    while (s < n - p && old[old.size() - 1 - s] == now[now.size() - 1 - s]) ++s;
    if (s > 0 && old[old.size() - s].isLowSurrogate()) --s;
    if (p == old.size() && p == now.size()) return;
    user_changed(static_cast<int>(p), static_cast<int>(old.size() - s - p),
                 now.mid(p, now.size() - s - p));
}

void EditView::connect_plain() {
    connections_.push_back(QObject::connect(
        plain_->document(), &QTextDocument::contentsChange, context_.get(),
        [this](int pos, int removed, int added) { plain_changed(pos, removed, added); }));
    connections_.push_back(QObject::connect(plain_, &QPlainTextEdit::cursorPositionChanged,
                                            context_.get(), [this] { report_selection(); }));
    connections_.push_back(QObject::connect(plain_, &QPlainTextEdit::selectionChanged,
                                            context_.get(), [this] { report_selection(); }));
}

void EditView::plain_changed(int pos, int removed, int added) {
    if (syncing_ || !plain_) return;
    // Qt may count the document's final block end on both sides of a change.
    const int excess = pos + removed - qt_size_;
    if (excess > 0) {
        removed -= excess;
        added -= excess;
    }
    if (removed < 0 || added < 0) return;
    QTextCursor c(plain_->document());
    c.setPosition(pos);
    c.setPosition(pos + added, QTextCursor::KeepAnchor);
    user_changed(pos, removed, c.selectedText());
}

void EditView::user_changed(int pos, int removed, const QString& added) {
    const std::size_t a = to_byte(pos);
    const std::size_t b = to_byte(pos + removed);
    const std::string text = from_view(added);
    qt_size_ += static_cast<int>(added.size()) - removed;
    forget_positions();
    if (on_user_edit) on_user_edit(a, b, text);
    report_selection();
}

void EditView::later(std::function<void()> fn) {
    QTimer::singleShot(0, context_.get(), std::move(fn));
}

void EditView::report_selection() {
    if (syncing_ || !on_user_select) return;
    int a = 0, b = 0;
    if (plain_) {
        const QTextCursor c = plain_->textCursor();
        a = c.selectionStart();
        b = c.selectionEnd();
    } else if (line_) {
        // A QLineEdit drops its selection when it loses the focus; a Win32 edit keeps it.
        if (!line_->hasFocus()) return;
        if (line_->hasSelectedText()) {
            a = line_->selectionStart();
            b = a + static_cast<int>(line_->selectedText().size());
        } else {
            a = b = line_->cursorPosition();
        }
    } else {
        return;
    }
    const std::size_t ba = to_byte(a);
    const std::size_t bb = to_byte(b);
    on_user_select(ba, bb);
}

}  // namespace w32
