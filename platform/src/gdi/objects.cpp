// The GDI objects: stock objects, DCs, bitmaps, pens and brushes, and which of them each DC has
// selected. Drawing into them is in draw.cpp.
#include "gdi_private.h"
#include "kernel/fault_hook.h"

namespace w32 {
namespace gdi {

std::mutex& gdi_mutex() {
    static std::mutex m;
    return m;
}

std::shared_ptr<Dc> find_dc(HDC hdc) {
    auto dc = find<Dc>(hdc, Kind::Dc);
    if (!dc)
        set_error(ERROR_INVALID_HANDLE);
    return dc;
}

bool usable_here(const Dc& dc) {
    if (dc.uses == 0 || dc.user == GetCurrentThreadId()) return true;
    // Counted, so that tests can tell that no call of theirs was refused.
    W32_FAULT(DcInUse, nullptr, false);
    return false;
}

DcUse::DcUse(HDC hdc) {
    std::lock_guard<std::mutex> lock(gdi_mutex());
    auto dc = find_dc(hdc);
    if (!dc || !usable_here(*dc)) return;
    dc->user = GetCurrentThreadId();
    ++dc->uses;
    dc_ = std::move(dc);
}

DcUse::~DcUse() {
    if (!dc_) return;
    std::lock_guard<std::mutex> lock(gdi_mutex());
    if (--dc_->uses == 0) dc_->user = 0;
}

}  // namespace gdi

using namespace gdi;

namespace {

// ---- stock objects ----

struct Stock {
    HGDIOBJ objects[NULL_PEN + 1] = {};
    HGDIOBJ default_bitmap = nullptr;  // the 1 x 1 monochrome bitmap of a new memory DC
};

HGDIOBJ stock_brush(COLORREF color, bool null) {
    auto b = std::make_shared<Brush>();
    b->stock = true;
    b->color = color;
    b->null = null;
    return add_handle(Kind::Brush, b);
}

HGDIOBJ stock_pen(COLORREF color, bool null) {
    auto p = std::make_shared<Pen>();
    p->stock = true;
    p->color = color;
    p->null = null;
    return add_handle(Kind::Pen, p);
}

const Stock& stock() {
    static const Stock s = [] {
        Stock st;
        st.objects[WHITE_BRUSH] = stock_brush(RGB(255, 255, 255), false);
        st.objects[LTGRAY_BRUSH] = stock_brush(RGB(192, 192, 192), false);
        st.objects[GRAY_BRUSH] = stock_brush(RGB(128, 128, 128), false);
        st.objects[DKGRAY_BRUSH] = stock_brush(RGB(64, 64, 64), false);
        st.objects[BLACK_BRUSH] = stock_brush(RGB(0, 0, 0), false);
        st.objects[NULL_BRUSH] = stock_brush(0, true);
        st.objects[WHITE_PEN] = stock_pen(RGB(255, 255, 255), false);
        st.objects[BLACK_PEN] = stock_pen(RGB(0, 0, 0), false);
        st.objects[NULL_PEN] = stock_pen(0, true);
        auto bm = std::make_shared<Bitmap>();
        bm->stock = true;
        bm->bpp = 1;
        bm->image = QImage(1, 1, QImage::Format_RGB32);
        bm->image.fill(qRgb(0, 0, 0));
        st.default_bitmap = add_handle(Kind::Bitmap, bm);
        return st;
    }();
    return s;
}

// ---- selection (callers hold gdi_mutex()) ----

// Drops one selection of `obj`; a DeleteObject that came while it was selected takes effect
// once no DC holds it any more.
void deselect(HGDIOBJ h, const std::shared_ptr<GdiObject>& obj, Kind kind) {
    if (!obj || obj->stock)
        return;
    if (--obj->selections == 0 && obj->delete_pending)
        remove_handle(h, kind);
}

template <class T>
HGDIOBJ swap_selection(HGDIOBJ& slot_handle, std::shared_ptr<T>& slot, HGDIOBJ h,
                       const std::shared_ptr<T>& obj, Kind kind) {
    HGDIOBJ previous = slot_handle;
    std::shared_ptr<T> old = slot;
    if (!obj->stock)
        ++obj->selections;
    slot_handle = h;
    slot = obj;
    deselect(previous, old, kind);
    return previous;
}

void deselect_all(Dc& dc) {
    deselect(dc.hbitmap, dc.bitmap, Kind::Bitmap);
    deselect(dc.hpen, dc.pen, Kind::Pen);
    deselect(dc.hbrush, dc.brush, Kind::Brush);
    dc.bitmap.reset();
    dc.pen.reset();
    dc.brush.reset();
}

HDC new_dc(DcType type, QPainter* painter = nullptr, int width = 0, int height = 0,
           std::function<bool(QImage*)> read_shown = nullptr) {
    const Stock& st = stock();
    auto dc = std::make_shared<Dc>();
    dc->type = type;
    dc->read_shown = std::move(read_shown);
    dc->painter = painter;
    dc->width = width;
    dc->height = height;
    dc->hpen = st.objects[BLACK_PEN];
    dc->pen = find<Pen>(dc->hpen, Kind::Pen);
    dc->hbrush = st.objects[WHITE_BRUSH];
    dc->brush = find<Brush>(dc->hbrush, Kind::Brush);
    if (type == DcType::Memory) {
        dc->hbitmap = st.default_bitmap;
        dc->bitmap = find<Bitmap>(dc->hbitmap, Kind::Bitmap);
    }
    return static_cast<HDC>(add_handle(Kind::Dc, dc));
}

}  // namespace

HDC create_paint_dc(QPainter* painter, int width, int height) {
    return new_dc(DcType::Paint, painter, width, height);
}

void release_paint_dc(HDC hdc) {
    std::lock_guard<std::mutex> lock(gdi_mutex());
    auto dc = find<Dc>(hdc, Kind::Dc);
    if (!dc || dc->type != DcType::Paint)
        return;
    deselect_all(*dc);
    remove_handle(hdc, Kind::Dc);
}

HDC create_window_dc(HWND hwnd, std::function<bool(QImage*)> read_shown) {
    return new_dc(hwnd ? DcType::Window : DcType::Screen, nullptr, 0, 0, std::move(read_shown));
}

int release_window_dc(HDC hdc) {
    std::lock_guard<std::mutex> lock(gdi_mutex());
    auto dc = find<Dc>(hdc, Kind::Dc);
    if (!dc || (dc->type != DcType::Screen && dc->type != DcType::Window))
        return 0;
    deselect_all(*dc);
    remove_handle(hdc, Kind::Dc);
    return 1;
}

}  // namespace w32

using namespace w32;
using namespace w32::gdi;

extern "C" {

HDC WINAPI CreateCompatibleDC(HDC hdc) {
    if (hdc) {
        std::lock_guard<std::mutex> lock(gdi_mutex());
        auto dc = find_dc(hdc);
        if (!dc || !usable_here(*dc))
            return nullptr;
    }
    return new_dc(DcType::Memory);
}

BOOL WINAPI DeleteDC(HDC hdc) {
    std::lock_guard<std::mutex> lock(gdi_mutex());
    auto dc = find_dc(hdc);
    if (!dc || dc->type == DcType::Paint)
        return FALSE;
    deselect_all(*dc);
    remove_handle(hdc, Kind::Dc);
    return TRUE;
}

// A bitmap in the DC's format: 32-bit colour for the screen and windows; for a memory DC, the
// format of the bitmap it holds, which is monochrome while it holds its initial bitmap.
HBITMAP WINAPI CreateCompatibleBitmap(HDC hdc, int cx, int cy) {
    int bpp = 32;
    {
        std::lock_guard<std::mutex> lock(gdi_mutex());
        auto dc = find_dc(hdc);
        if (!dc || !usable_here(*dc))
            return nullptr;
        if (dc->type == DcType::Memory)
            bpp = dc->bitmap->bpp;
    }
    if (cx < 0 || cy < 0) {
        set_error(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (cx == 0 || cy == 0)  // Win32 hands out its 1 x 1 monochrome bitmap
        return static_cast<HBITMAP>(stock().default_bitmap);
    if (static_cast<long long>(cx) * cy > (1LL << 28)) {
        set_error(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto bm = std::make_shared<Bitmap>();
    bm->bpp = bpp;
    bm->image = QImage(cx, cy, QImage::Format_RGB32);
    if (bm->image.isNull()) {
        set_error(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    bm->image.fill(qRgb(0, 0, 0));
    return static_cast<HBITMAP>(add_handle(Kind::Bitmap, bm));
}

HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h) {
    std::lock_guard<std::mutex> lock(gdi_mutex());
    auto dc = find_dc(hdc);
    Kind kind;
    if (dc && !usable_here(*dc)) {
        set_error(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!dc || !kind_of(h, &kind))
        return nullptr;
    switch (kind) {
        case Kind::Pen:
            return swap_selection(dc->hpen, dc->pen, h, find<Pen>(h, kind), kind);
        case Kind::Brush:
            return swap_selection(dc->hbrush, dc->brush, h, find<Brush>(h, kind), kind);
        case Kind::Bitmap: {
            auto bm = find<Bitmap>(h, kind);
            // Bitmaps go into memory DCs only, and into one at a time (the shared initial
            // bitmap excepted).
            if (dc->type != DcType::Memory)
                return nullptr;
            if (bm == dc->bitmap)
                return h;
            if (!bm->stock && bm->selections > 0)
                return nullptr;
            return swap_selection(dc->hbitmap, dc->bitmap, h, bm, kind);
        }
        default:
            return nullptr;
    }
}

// Stock objects are never deleted. A selected object stays usable until no DC holds it; the
// deletion then completes.
BOOL WINAPI DeleteObject(HGDIOBJ ho) {
    std::lock_guard<std::mutex> lock(gdi_mutex());
    Kind kind;
    if (!kind_of(ho, &kind) ||
        (kind != Kind::Pen && kind != Kind::Brush && kind != Kind::Bitmap)) {
        set_error(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    auto obj = find<GdiObject>(ho, kind);
    if (obj->stock)
        return TRUE;
    if (obj->selections > 0)
        obj->delete_pending = true;
    else
        remove_handle(ho, kind);
    return TRUE;
}

HGDIOBJ WINAPI GetStockObject(int i) {
    if (i < 0 || i > NULL_PEN)
        return nullptr;
    return stock().objects[i];
}

// Only solid pens one pixel wide are drawn; a wider pen draws as one pixel, PS_NULL draws
// nothing.
HPEN WINAPI CreatePen(int iStyle, int, COLORREF color) {
    constexpr int kNullStyle = 5;
    auto p = std::make_shared<Pen>();
    p->color = rgb_of(color);
    p->null = (iStyle & 0xF) == kNullStyle;
    return static_cast<HPEN>(add_handle(Kind::Pen, p));
}

HBRUSH WINAPI CreateSolidBrush(COLORREF color) {
    auto b = std::make_shared<Brush>();
    b->color = rgb_of(color);
    return static_cast<HBRUSH>(add_handle(Kind::Brush, b));
}

}  // extern "C"
