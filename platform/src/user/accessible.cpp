// What screen readers are told about the layer's windows: the roles and names that Win32's
// accessibility layer gives the same windows.
#include <QAccessible>
#include <QAccessibleWidget>
#include <QLabel>
#include <QWidget>
#include <map>

#include "user_private.h"

namespace w32 {
namespace {

// Marks the widget of a dialog window, which Win32 presents as a dialog, not as a plain pane.
const char kDialogProperty[] = "w32_dialog";

QAccessibleInterface* dialog_factory(const QString& class_name, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (class_name != QLatin1String("QWidget") || !widget ||
        !widget->property(kDialogProperty).toBool())
        return nullptr;
    // A top-level widget's name is its title: the dialog's caption.
    return new QAccessibleWidget(widget, QAccessible::Dialog);
}

bool is_static(const Window& w) { return (w.proc(w.hwnd, WM_GETDLGCODE, 0, 0) & DLGC_STATIC) != 0; }

// The label of the control at kids[at]: the nearest static before it in the window order,
// hidden or not, whatever lies between; its text, empty or not, is the control's name.
std::shared_ptr<Window> label_of(const std::vector<std::shared_ptr<Window>>& kids, size_t at) {
    while (at-- > 0)
        if (is_static(*kids[at])) return kids[at];
    return nullptr;
}

// A label's text as it is read out: the first '&', which marks the mnemonic, is dropped.
std::string strip_mnemonic(std::string text) {
    const size_t amp = text.find('&');
    if (amp != std::string::npos) text.erase(amp, 1);
    return text;
}

}  // namespace

void present_as_dialog(QWidget* widget) {
    static const bool installed = (QAccessible::installFactory(dialog_factory), true);
    (void)installed;
    widget->setProperty(kDialogProperty, true);
}

void label_controls(HWND parent) {
    const auto kids = child_windows(parent);

    // Each edit is named after its label. A label that names exactly one edit and has no mnemonic
    // also becomes its buddy, which tells a screen reader which field it labels; a mnemonic would
    // make the toolkit take Alt and the letter as a shortcut of its own.
    std::map<QWidget*, std::vector<QWidget*>> labelled;
    for (size_t i = 0; i < kids.size(); ++i) {
        const Window& c = *kids[i];
        if (c.class_name != "Edit" || !c.widget) continue;
        auto label = label_of(kids, i);
        c.widget->setAccessibleName(label ? QString::fromStdString(strip_mnemonic(label->text))
                                          : QString());
        if (label) labelled[label->widget].push_back(c.widget);
    }
    for (const auto& k : kids) {
        auto* view = qobject_cast<QLabel*>(k->widget);
        if (!view || !is_static(*k)) continue;
        const auto it = labelled.find(view);
        const bool buddy = it != labelled.end() && it->second.size() == 1 &&
                           k->text.find('&') == std::string::npos;
        QWidget* target = buddy ? it->second.front() : nullptr;
        if (view->buddy() != target) view->setBuddy(target);
    }
}

}  // namespace w32
