// Windows of registered classes and their painting: the update region, WM_PAINT, BeginPaint,
// and GetDC, whose DC reads back what a window shows.
//
// InvalidateRect only adds to the window's update region (from any thread). The region reaches Qt
// on the owner thread: at the frame clock's next tick while it runs, else by a queued call that
// wakes the owner. Qt's paint event adds what it must repaint itself (a window uncovered, shown
// or resized) and calls the window procedure with WM_PAINT; BeginPaint hands the procedure a DC
// over the event's painter, clipped to the update region.
#include <QApplication>
#include <QBackingStore>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <QPointer>
#include <QRegion>
#include <QWidget>
#include <cstring>
#include <set>

#include "gdi/dc.h"
#include "user_private.h"

namespace w32 {
namespace {

struct ClassWindow : Window {
    // Guarded by paint_mutex(): InvalidateRect may come from any thread.
    QRegion update;  // client coordinates
    bool erase = false;
    bool repaint_queued = false;  // a queued call will pass the region to Qt
    bool fresh = false;           // invalidated since the region was last passed to Qt
    QSize client;
    // Owner thread only: the painter of the paint event in progress and what it can reach
    // (client coordinates), or a scratch painter for a BeginPaint outside of it.
    QPainter* painter = nullptr;
    QRegion reachable;
    int paint_events = 0;
    bool painter_saved = false;
    std::unique_ptr<QImage> scratch_image;
    std::unique_ptr<QPainter> scratch_painter;
};

// Every live window of a registered class, for InvalidateRect(NULL, ...).
std::set<HWND>& class_windows() {
    static std::set<HWND> s;
    return s;
}

std::shared_ptr<ClassWindow> find_class_window(HWND hwnd) {
    return std::dynamic_pointer_cast<ClassWindow>(find_window(hwnd));
}

// Owner thread: passes the pending update region to Qt, which paints it at its next turn.
void request_repaint(HWND hwnd) {
    auto w = find_class_window(hwnd);
    if (!w) return;
    QRegion region;
    {
        std::lock_guard<std::mutex> lock(paint_mutex());
        region = w->update;
        w->repaint_queued = false;
        w->fresh = false;
    }
    int b = frame_width(*w);
    if (w->widget && !region.isEmpty()) w->widget->update(region.translated(b, b));
}

void invalidate(const std::shared_ptr<ClassWindow>& w, const QRect* rect, bool erase) {
    bool queue = false;
    {
        std::lock_guard<std::mutex> lock(paint_mutex());
        QRect client(QPoint(0, 0), w->client);
        QRect r = rect ? (*rect & client) : client;
        if (!r.isEmpty()) {
            w->update += r;
            w->fresh = true;
        }
        w->erase = w->erase || erase;
        // A running frame clock collects the region at its next tick: no need to wake the owner.
        queue = !w->repaint_queued && !w->update.isEmpty() && !frame_clock_running_locked();
        if (queue) w->repaint_queued = true;
    }
    if (queue) {
        HWND hwnd = w->hwnd;
        post_task([hwnd] { request_repaint(hwnd); });
    }
}

class PaintWidget : public QWidget {
public:
    PaintWidget(HWND hwnd, QWidget* parent) : QWidget(parent), hwnd_(hwnd) {
        // The window procedure paints every pixel it is asked for: no background erase.
        setAttribute(Qt::WA_OpaquePaintEvent);
        // Qt repaints a widget whole when its window is activated if the palette differs
        // between active and inactive; Win32 sends a child window no WM_PAINT for that.
        QPalette pal = palette();
        for (int role = 0; role < QPalette::NColorRoles; ++role) {
            auto r = static_cast<QPalette::ColorRole>(role);
            pal.setColor(QPalette::Inactive, r, pal.color(QPalette::Active, r));
        }
        setPalette(pal);
    }

protected:
    void resizeEvent(QResizeEvent*) override {
        if (auto w = find_class_window(hwnd_)) {
            int b = frame_width(*w);
            std::lock_guard<std::mutex> lock(paint_mutex());
            w->client = QSize(std::max(0, width() - 2 * b), std::max(0, height() - 2 * b));
        }
    }

    void paintEvent(QPaintEvent* e) override {
        auto w = find_class_window(hwnd_);
        if (!w) return;
        int b = frame_width(*w);
        QPainter p(this);
        if (b > 0) {
            QRegion frame = QRegion(rect()) - QRegion(rect().adjusted(b, b, -b, -b));
            p.setClipRegion(frame);
            p.fillRect(rect(), b == 1 ? QColor(Qt::black) : palette().window().color());
            p.setClipping(false);
        }
        QRect client(0, 0, width() - 2 * b, height() - 2 * b);
        QRegion painted = e->region().translated(-b, -b) & client;
        {
            std::lock_guard<std::mutex> lock(paint_mutex());
            w->update += painted;
        }
        p.translate(b, b);
        p.setClipRect(client);
        w->painter = &p;
        w->reachable = painted;
        ++w->paint_events;
        call_window_proc(hwnd_, WM_PAINT, 0, 0);
        w->painter = nullptr;
        // What this paint could not reach (invalidated by another thread since Qt was told) stays
        // invalid and is painted next time, so no change is lost from the screen. Only what can
        // be seen: a part that Qt never paints would be asked for again at every paint.
        QRegion left;
        {
            std::lock_guard<std::mutex> lock(paint_mutex());
            w->update &= visibleRegion().translated(-b, -b);
            left = w->update;
        }
        if (!left.isEmpty()) update(left.translated(b, b));
    }

private:
    HWND hwnd_;
};

}  // namespace

std::mutex& paint_mutex() {
    static std::mutex m;
    return m;
}

bool collect_invalid_regions() {
    std::vector<std::pair<QPointer<QWidget>, QRegion>> found;
    {
        std::lock_guard<std::mutex> lock(paint_mutex());
        for (HWND h : class_windows()) {
            auto w = find_class_window(h);
            if (!w || !w->fresh || !w->widget) continue;
            w->fresh = false;
            int b = frame_width(*w);
            found.emplace_back(w->widget, w->update.translated(b, b));
        }
    }
    for (auto& f : found)
        if (f.first) f.first->update(f.second);
    return !found.empty();
}

bool has_invalid_regions_locked() {
    for (HWND h : class_windows()) {
        auto w = find_class_window(h);
        if (w && w->fresh) return true;
    }
    return false;
}

bool read_client_image(HWND hwnd, QImage* out) {
    auto read = [hwnd, out]() -> LRESULT {
        auto w = find_class_window(hwnd);
        if (!w || !w->widget) return FALSE;
        QWidget* top = w->widget->window();
        QBackingStore* store = top->backingStore();
        QPaintDevice* device = store ? store->paintDevice() : nullptr;
        if (!device || device->devType() != QInternal::Image) return FALSE;
        const QImage& shown = *static_cast<QImage*>(device);
        int b = frame_width(*w);
        QSize client;
        {
            std::lock_guard<std::mutex> lock(paint_mutex());
            client = w->client;
        }
        qreal ratio = shown.devicePixelRatio();
        QRect area(w->widget->mapTo(top, QPoint(b, b)) * ratio, client * ratio);
        *out = shown.copy(area).scaled(client).convertToFormat(QImage::Format_RGB32);
        return TRUE;
    };
    return run_on_owner(hwnd, read) != 0;
}

std::shared_ptr<Window> create_class_window(const std::string& class_name, HWND parent,
                                            QWidget* parent_widget, int id, DWORD style,
                                            DWORD ex_style, const std::string& text,
                                            const QRect& rect, HINSTANCE instance) {
    std::string name;
    WNDPROC proc{};
    if (!find_class(class_name, &name, &proc)) {
        set_error(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    auto w = std::make_shared<ClassWindow>();
    init_window(*w, name.c_str(), proc, parent, id, style, ex_style, text);
    w->instance = instance;
    int b = frame_width(*w);
    w->client = QSize(std::max(0, rect.width() - 2 * b), std::max(0, rect.height() - 2 * b));
    // A new window is invalid as a whole until its first paint.
    w->update = QRegion(QRect(QPoint(0, 0), w->client));
    w->erase = true;
    HWND hwnd = add_window(w);
    if (!hwnd) return nullptr;
    auto* view = new PaintWidget(hwnd, parent_widget);
    view->setGeometry(rect);
    if (!parent_widget) view->setWindowTitle(QString::fromStdString(text));
    w->widget = view;
    std::lock_guard<std::mutex> lock(paint_mutex());
    class_windows().insert(hwnd);
    return w;
}

}  // namespace w32

extern "C" {

BOOL WINAPI InvalidateRect(HWND hWnd, const RECT* lpRect, BOOL bErase) {
    using namespace w32;
    if (!hWnd) {
        // Every window: each class window's whole client area, and every Qt window repaints.
        std::vector<HWND> all;
        {
            std::lock_guard<std::mutex> lock(paint_mutex());
            all.assign(class_windows().begin(), class_windows().end());
        }
        for (HWND h : all) {
            if (auto w = find_class_window(h)) {
                invalidate(w, nullptr, bErase != FALSE);
            } else {
                std::lock_guard<std::mutex> lock(paint_mutex());
                class_windows().erase(h);  // destroyed since
            }
        }
        post_task([] {
            for (QWidget* top : QApplication::topLevelWidgets()) top->update();
        });
        return TRUE;
    }
    auto base = find_window(hWnd);
    if (!base) {
        set_error(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    auto w = std::dynamic_pointer_cast<ClassWindow>(base);
    if (!w) {
        // Dialogs and controls paint themselves: Qt repaints them whole.
        post_task([hWnd] {
            if (auto x = find_window(hWnd); x && x->widget) x->widget->update();
        });
        return TRUE;
    }
    if (lpRect) {
        QRect r(lpRect->left, lpRect->top, lpRect->right - lpRect->left,
                lpRect->bottom - lpRect->top);
        invalidate(w, &r, bErase != FALSE);
    } else {
        invalidate(w, nullptr, bErase != FALSE);
    }
    return TRUE;
}

BOOL WINAPI GetUpdateRect(HWND hWnd, LPRECT lpRect, BOOL) {
    using namespace w32;
    auto base = find_window(hWnd);
    if (!base) {
        set_error(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    QRect r;
    if (auto w = std::dynamic_pointer_cast<ClassWindow>(base)) {
        std::lock_guard<std::mutex> lock(paint_mutex());
        r = w->update.boundingRect();
    }
    if (lpRect)
        *lpRect = r.isEmpty() ? RECT{0, 0, 0, 0}
                              : RECT{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    return !r.isEmpty();
}

BOOL WINAPI UpdateWindow(HWND hWnd) {
    using namespace w32;
    if (!find_window(hWnd)) {
        set_error(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    // WM_PAINT at once if anything is invalid: Qt paints the region now.
    return static_cast<BOOL>(run_on_owner(hWnd, [hWnd]() -> LRESULT {
        auto w = find_class_window(hWnd);
        if (!w || !w->widget) return TRUE;
        QRegion region;
        {
            std::lock_guard<std::mutex> lock(paint_mutex());
            region = w->update;
        }
        int b = frame_width(*w);
        if (region.isEmpty() || !w->widget->isVisible()) return TRUE;
        int paint_events = w->paint_events;
        paint_at_once(w->widget->window());
        w->widget->repaint(region.translated(b, b));
        // Qt paints only a window that is exposed on the screen. Win32 sends the WM_PAINT all
        // the same; what it draws is shown when the exposure repaints the window.
        if (w->paint_events == paint_events) call_window_proc(hWnd, WM_PAINT, 0, 0);
        return TRUE;
    }));
}

HDC WINAPI BeginPaint(HWND hWnd, LPPAINTSTRUCT lpPaint) {
    using namespace w32;
    auto w = find_class_window(hWnd);
    if (!w || !lpPaint || !on_owner_thread()) {
        set_error(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    QRegion region;
    bool erase;
    QSize client;
    {
        std::lock_guard<std::mutex> lock(paint_mutex());
        // A paint event validates what it can reach; outside of one, everything.
        region = w->painter ? w->update & w->reachable : w->update;
        erase = w->erase;
        client = w->client;
        w->update -= region;
        w->erase = false;
    }
    QPainter* painter = w->painter;
    if (painter) {
        painter->save();
        painter->setClipRegion(region, Qt::IntersectClip);
        w->painter_saved = true;
    } else {
        // Outside a paint event nothing reaches the screen, but the region is validated.
        w->scratch_image = std::make_unique<QImage>(
            std::max(1, client.width()), std::max(1, client.height()), QImage::Format_RGB32);
        w->scratch_painter = std::make_unique<QPainter>(w->scratch_image.get());
        painter = w->scratch_painter.get();
    }
    std::memset(lpPaint, 0, sizeof(*lpPaint));
    QRect r = region.boundingRect();
    lpPaint->hdc = create_paint_dc(painter, client.width(), client.height());
    lpPaint->fErase = erase;
    if (!r.isEmpty())
        lpPaint->rcPaint = RECT{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    return lpPaint->hdc;
}

BOOL WINAPI EndPaint(HWND hWnd, const PAINTSTRUCT* lpPaint) {
    using namespace w32;
    auto w = find_class_window(hWnd);
    if (!w || !lpPaint || !on_owner_thread()) return FALSE;
    if (lpPaint->hdc) release_paint_dc(lpPaint->hdc);
    if (w->painter && w->painter_saved) {
        w->painter->restore();
        w->painter_saved = false;
    }
    w->scratch_painter.reset();
    w->scratch_image.reset();
    return TRUE;
}

// A window's DC draws nowhere the layer keeps; copied from, it gives what the window shows.
HDC WINAPI GetDC(HWND hWnd) {
    using namespace w32;
    if (hWnd && !find_handle(hWnd, Kind::Window)) {
        set_error(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    std::function<bool(QImage*)> read_shown;
    if (hWnd) read_shown = [hWnd](QImage* out) { return read_client_image(hWnd, out); };
    return create_window_dc(hWnd, std::move(read_shown));
}

int WINAPI ReleaseDC(HWND, HDC hDC) { return w32::release_window_dc(hDC); }

}  // extern "C"
