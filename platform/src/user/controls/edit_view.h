// The Qt view of an edit control: a QLineEdit, or a QPlainTextEdit for ES_MULTILINE. It shows
// the model and reports what the user does in it; it never decides what the text is.
#pragma once

#include <windows.h>

#include <QMetaObject>
#include <QPointer>
#include <QString>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "edit_model.h"

class QFont;
class QObject;
class QLineEdit;
class QPlainTextEdit;
class QRect;
class QWidget;

namespace w32 {

class EditView {
public:
    // Builds the widget inside `parent` at `rect`, styled after the edit's window and edit
    // styles, showing `model`, which must outlive the view.
    EditView(const EditModel& model, QWidget* parent, DWORD style, DWORD ex_style,
             const QRect& rect, const QFont& font);
    ~EditView();
    EditView(const EditView&) = delete;
    EditView& operator=(const EditView&) = delete;

    QWidget* widget() const;

    // Shows a change the model has just made (the program's, not the user's), without
    // rebuilding the rest of the text.
    void apply(const EditChange& change);
    // Shows the whole text again: at once, or for a read-only single-line field at the next
    // frame.
    void reset();
    // Shows the model's selection.
    void show_selection();
    void set_read_only(bool read_only);
    // Runs `fn` from the event loop, once the current Qt signal is over: what reacts to a user
    // edit must not change the widget while the widget is still making that edit.
    void later(std::function<void()> fn);

    // The user replaced bytes [a, b) of the model's text with `text` (UTF-8, CR LF line ends).
    // Called from inside Qt's change signal: change the model, and the widget only later().
    std::function<void(std::size_t a, std::size_t b, const std::string& text)> on_user_edit;
    // The user moved the caret or selected bytes [a, b).
    std::function<void(std::size_t a, std::size_t b)> on_user_select;

private:
    void connect_line();
    void connect_plain();
    // The user changed the QLineEdit's text to `now`.
    void line_edited(const QString& now);
    // A change the user made in the QPlainTextEdit, as its document reports it.
    void plain_changed(int pos, int removed, int added);
    // The user replaced `removed` Qt positions at `pos` with `added`.
    void user_changed(int pos, int removed, const QString& added);
    void report_selection();
    // Shows the model's text now.
    void show_text();
    // Qt position of byte `pos` of the model's text, and back.
    int to_qt(std::size_t pos);
    std::size_t to_byte(int qt);
    int qt_length(const std::string& bytes) const;
    QString to_view(const std::string& bytes) const;
    std::string from_view(const QString& text) const;
    void forget_positions();

    const EditModel& model_;
    std::unique_ptr<QObject> context_;  // the context of the connections and later() calls
    std::vector<QMetaObject::Connection> connections_;
    QPointer<QLineEdit> line_;
    QPointer<QPlainTextEdit> plain_;
    bool syncing_ = false;  // the view is being changed from the model: not the user's doing
    bool stale_ = false;    // the model's text waits for the next frame to be shown
    // A known pair of positions, where the last mapping ended. The program types at the caret,
    // so the next mapping starts here and costs nothing however long the text has grown.
    std::size_t mark_byte_ = 0;
    int mark_qt_ = 0;
    int qt_size_ = 0;  // the length of the widget's text in Qt positions
};

}  // namespace w32
