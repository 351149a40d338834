// GDI: device contexts, bitmaps, pens and brushes, and drawing into them.
//
// A bitmap is a QImage owned by the layer, with a lock that every drawing call into it and every
// copy out of it holds, so one thread can draw into an image while another copies it to the
// screen. Which objects a DC has selected, its current position and the objects' selection
// counts are guarded by one GDI-wide mutex, held only briefly and never while drawing.
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QRect>
#include <algorithm>

#include "layer.h"
#include "raster.h"

namespace w32 {
namespace {

std::mutex& gdi_mutex() {
    static std::mutex m;
    return m;
}

struct GdiObject : Object {
    bool stock = false;
    int selections = 0;           // how many DCs have it selected
    bool delete_pending = false;  // DeleteObject came while it was selected
};

struct Pen : GdiObject {
    COLORREF color = 0;
    bool null = false;
};

struct Brush : GdiObject {
    COLORREF color = 0;
    bool null = false;
};

struct Bitmap : GdiObject {
    std::mutex lock;  // every draw into the image and every copy out of it holds this
    QImage image;     // Format_RGB32; a monochrome bitmap stores only black and white
    int bpp = 32;
};

enum class DcType { Memory, Screen, Window, Paint };

struct Dc : Object {
    DcType type = DcType::Memory;
    HGDIOBJ hbitmap = nullptr, hpen = nullptr, hbrush = nullptr;
    std::shared_ptr<Bitmap> bitmap;  // memory DCs only
    std::shared_ptr<Pen> pen;
    std::shared_ptr<Brush> brush;
    POINT pos{0, 0};
    QPainter* painter = nullptr;  // paint DCs only: the widget's painter, origin at the client
    int width = 0, height = 0;    // paint DCs only
};

// The DC's state as one drawing call sees it, taken under gdi_mutex().
struct Snapshot {
    std::shared_ptr<Bitmap> bitmap;
    QPainter* painter = nullptr;
    int width = 0, height = 0;
    std::shared_ptr<Pen> pen;
    std::shared_ptr<Brush> brush;
};

COLORREF rgb_of(COLORREF c) { return c & 0x00FFFFFF; }

QRgb argb_of(COLORREF c) { return qRgb(GetRValue(c), GetGValue(c), GetBValue(c)); }

COLORREF colorref_of(QRgb p) { return RGB(qRed(p), qGreen(p), qBlue(p)); }

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

// ---- lookups and selection (callers hold gdi_mutex()) ----

std::shared_ptr<Dc> find_dc(HDC hdc) {
    auto dc = find<Dc>(hdc, Kind::Dc);
    if (!dc)
        set_error(ERROR_INVALID_HANDLE);
    return dc;
}

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

HDC new_dc(DcType type, QPainter* painter = nullptr, int width = 0, int height = 0) {
    const Stock& st = stock();
    auto dc = std::make_shared<Dc>();
    dc->type = type;
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

// The DC's state for one drawing call; false for a bad handle. `swap_pos`, if given, is
// exchanged with the current position: LineTo reads the old one and stores the new one at once.
bool snapshot(HDC hdc, Snapshot* s, POINT* swap_pos = nullptr) {
    std::lock_guard<std::mutex> lock(gdi_mutex());
    auto dc = find_dc(hdc);
    if (!dc)
        return false;
    s->bitmap = dc->bitmap;
    s->painter = dc->painter;
    s->width = dc->width;
    s->height = dc->height;
    s->pen = dc->pen;
    s->brush = dc->brush;
    if (swap_pos)
        std::swap(dc->pos, *swap_pos);
    return true;
}

// ---- drawing surfaces ----

// Where a DC's drawing lands: the selected bitmap's image (its lock held by the caller) or the
// painter of a window being painted.
class Surface {
public:
    Surface(QImage* image, bool mono)
        : image_(image), mono_(mono), width_(image->width()), height_(image->height()) {}
    Surface(QPainter* painter, int width, int height)
        : painter_(painter), width_(width), height_(height) {}

    raster::Clip clip() const { return {0, 0, width_, height_}; }
    bool readable() const { return image_ != nullptr; }

    // The colour the surface keeps for `c`: a monochrome bitmap keeps the nearer of black and
    // white.
    COLORREF stored(COLORREF c) const {
        c = rgb_of(c);
        if (!mono_)
            return c;
        int sum = GetRValue(c) + GetGValue(c) + GetBValue(c);
        return sum * 2 > 3 * 255 ? RGB(255, 255, 255) : RGB(0, 0, 0);
    }

    // Fills left..right-1, top..bottom-1, clipped to the surface.
    void fill(long long left, long long top, long long right, long long bottom, COLORREF c) {
        left = std::max<long long>(left, 0);
        top = std::max<long long>(top, 0);
        right = std::min<long long>(right, width_);
        bottom = std::min<long long>(bottom, height_);
        if (left >= right || top >= bottom)
            return;
        QRgb p = argb_of(stored(c));
        if (image_) {
            for (long long y = top; y < bottom; ++y) {
                QRgb* line = reinterpret_cast<QRgb*>(image_->scanLine(static_cast<int>(y)));
                std::fill(line + left, line + right, p);
            }
        } else if (painter_) {
            painter_->fillRect(QRect(static_cast<int>(left), static_cast<int>(top),
                                     static_cast<int>(right - left),
                                     static_cast<int>(bottom - top)),
                               QColor::fromRgb(p));
        }
    }

    void span(int y, int x0, int x1, COLORREF c) { fill(x0, y, x1 + 1LL, y + 1LL, c); }

    COLORREF get(int x, int y) const {
        if (!image_ || x < 0 || y < 0 || x >= width_ || y >= height_)
            return CLR_INVALID;
        return colorref_of(image_->pixel(x, y));
    }

private:
    QImage* image_ = nullptr;
    QPainter* painter_ = nullptr;
    bool mono_ = false;
    int width_ = 0, height_ = 0;
};

// Runs draw(Surface&) on the DC's surface, holding the image's lock for a bitmap. Screen and
// window DCs have no surface here: drawing into them succeeds and shows nothing.
template <class F>
void draw_on(const Snapshot& s, F&& draw) {
    if (s.bitmap) {
        std::lock_guard<std::mutex> lock(s.bitmap->lock);
        Surface surface(&s.bitmap->image, s.bitmap->bpp == 1);
        draw(surface);
    } else if (s.painter) {
        Surface surface(s.painter, s.width, s.height);
        draw(surface);
    }
}

// Clips a copy of w x h pixels from (sx, sy) in a source of sw x sh to (dx, dy) in a
// destination of dw x dh; false if nothing is left.
bool clip_copy(long long& sx, long long& sy, long long& dx, long long& dy, long long& w,
               long long& h, long long sw, long long sh, long long dw, long long dh) {
    auto clip_axis = [](long long& s, long long& d, long long& len, long long s_end,
                        long long d_end) {
        long long cut = std::max({0LL, -s, -d});
        s += cut;
        d += cut;
        len -= cut;
        len = std::min({len, s_end - s, d_end - d});
    };
    clip_axis(sx, dx, w, sw, dw);
    clip_axis(sy, dy, h, sh, dh);
    return w > 0 && h > 0;
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

}  // namespace w32

using namespace w32;

extern "C" {

HDC WINAPI GetDC(HWND hWnd) {
    if (hWnd && !find_handle(hWnd, Kind::Window)) {
        set_error(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return new_dc(hWnd ? DcType::Window : DcType::Screen);
}

int WINAPI ReleaseDC(HWND, HDC hDC) {
    std::lock_guard<std::mutex> lock(gdi_mutex());
    auto dc = find<Dc>(hDC, Kind::Dc);
    if (!dc || (dc->type != DcType::Screen && dc->type != DcType::Window))
        return 0;
    deselect_all(*dc);
    remove_handle(hDC, Kind::Dc);
    return 1;
}

HDC WINAPI CreateCompatibleDC(HDC hdc) {
    if (hdc) {
        std::lock_guard<std::mutex> lock(gdi_mutex());
        if (!find_dc(hdc))
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
        if (!dc)
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

BOOL WINAPI PatBlt(HDC hdc, int x, int y, int w, int h, DWORD rop) {
    Snapshot s;
    if (!snapshot(hdc, &s))
        return FALSE;
    COLORREF color;
    if (rop == BLACKNESS)
        color = RGB(0, 0, 0);
    else if (rop == WHITENESS)
        color = RGB(255, 255, 255);
    else if (rop == PATCOPY)
        color = s.brush->color;
    else {
        set_error(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (rop == PATCOPY && s.brush->null)
        return TRUE;
    // A negative extent reaches left of (or above) the given corner.
    long long l = x, t = y, r = static_cast<long long>(x) + w, b = static_cast<long long>(y) + h;
    if (r < l)
        std::swap(l, r);
    if (b < t)
        std::swap(t, b);
    draw_on(s, [&](Surface& surface) { surface.fill(l, t, r, b, color); });
    return TRUE;
}

BOOL WINAPI MoveToEx(HDC hdc, int x, int y, LPPOINT lppt) {
    std::lock_guard<std::mutex> lock(gdi_mutex());
    auto dc = find_dc(hdc);
    if (!dc)
        return FALSE;
    if (lppt)
        *lppt = dc->pos;
    dc->pos = POINT{x, y};
    return TRUE;
}

BOOL WINAPI LineTo(HDC hdc, int x, int y) {
    Snapshot s;
    POINT from{x, y};
    if (!snapshot(hdc, &s, &from))
        return FALSE;
    if (s.pen->null)
        return TRUE;
    COLORREF color = s.pen->color;
    draw_on(s, [&](Surface& surface) {
        raster::line(from.x, from.y, x, y, surface.clip(),
                     [&](int row, int x0, int x1) { surface.span(row, x0, x1, color); });
    });
    return TRUE;
}

// Outline with the pen, interior with the brush, inside the box left..right-1, top..bottom-1.
BOOL WINAPI Ellipse(HDC hdc, int left, int top, int right, int bottom) {
    Snapshot s;
    if (!snapshot(hdc, &s))
        return FALSE;
    if (right < left)
        std::swap(left, right);
    if (bottom < top)
        std::swap(top, bottom);
    draw_on(s, [&](Surface& surface) {
        for (const raster::EllipseRow& row :
             raster::ellipse(left, top, right, bottom, surface.clip())) {
            if (!s.brush->null && row.right_inner - row.left_inner > 1)
                surface.span(row.y, row.left_inner + 1, row.right_inner - 1, s.brush->color);
            if (!s.pen->null) {
                surface.span(row.y, row.left_outer, row.left_inner, s.pen->color);
                surface.span(row.y, row.right_inner, row.right_outer, s.pen->color);
            }
        }
    });
    return TRUE;
}

BOOL WINAPI BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1, DWORD rop) {
    if (rop == BLACKNESS || rop == WHITENESS || rop == PATCOPY)
        return PatBlt(hdc, x, y, cx, cy, rop);
    Snapshot dst, src;
    if (!snapshot(hdc, &dst) || !snapshot(hdcSrc, &src))
        return FALSE;
    if (rop != SRCCOPY || !src.bitmap) {  // only images can be read back here
        set_error(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (cx <= 0 || cy <= 0)
        return TRUE;
    long long sx = x1, sy = y1, dx = x, dy = y, w = cx, h = cy;
    if (dst.painter) {
        std::lock_guard<std::mutex> lock(src.bitmap->lock);
        const QImage& image = src.bitmap->image;
        if (clip_copy(sx, sy, dx, dy, w, h, image.width(), image.height(), dst.width,
                      dst.height))
            dst.painter->drawImage(QPoint(int(dx), int(dy)), image,
                                   QRect(int(sx), int(sy), int(w), int(h)));
        return TRUE;
    }
    if (!dst.bitmap)  // screen and window DCs: accepted, nothing to show
        return TRUE;
    auto copy = [&](const QImage& from, QImage& to, bool to_mono) {
        if (!clip_copy(sx, sy, dx, dy, w, h, from.width(), from.height(), to.width(),
                       to.height()))
            return;
        // Copy through a temporary: source and destination may be the same image.
        QImage part = from.copy(int(sx), int(sy), int(w), int(h));
        for (int row = 0; row < int(h); ++row) {
            const QRgb* in = reinterpret_cast<const QRgb*>(part.constScanLine(row));
            QRgb* out = reinterpret_cast<QRgb*>(to.scanLine(int(dy) + row)) + dx;
            for (int col = 0; col < int(w); ++col)
                // Into a monochrome bitmap, white stays white and every other colour is black.
                out[col] = to_mono && (in[col] & 0xFFFFFF) != 0xFFFFFF ? qRgb(0, 0, 0) : in[col];
        }
    };
    if (src.bitmap == dst.bitmap) {
        std::lock_guard<std::mutex> lock(src.bitmap->lock);
        copy(src.bitmap->image, dst.bitmap->image, dst.bitmap->bpp == 1);
    } else {
        std::scoped_lock lock(src.bitmap->lock, dst.bitmap->lock);
        copy(src.bitmap->image, dst.bitmap->image, dst.bitmap->bpp == 1);
    }
    return TRUE;
}

COLORREF WINAPI GetPixel(HDC hdc, int x, int y) {
    Snapshot s;
    COLORREF c = CLR_INVALID;
    if (snapshot(hdc, &s))
        draw_on(s, [&](Surface& surface) { c = surface.get(x, y); });
    return c;
}

COLORREF WINAPI SetPixel(HDC hdc, int x, int y, COLORREF color) {
    Snapshot s;
    COLORREF result = CLR_INVALID;
    if (!snapshot(hdc, &s))
        return result;
    draw_on(s, [&](Surface& surface) {
        raster::Clip c = surface.clip();
        if (x < c.left || y < c.top || x >= c.right || y >= c.bottom)
            return;
        surface.span(y, x, x, color);
        result = surface.stored(color);
    });
    return result;
}

int WINAPI GetDeviceCaps(HDC hdc, int index) {
    std::lock_guard<std::mutex> lock(gdi_mutex());
    auto dc = find_dc(hdc);
    if (!dc || index != BITSPIXEL)
        return 0;
    return dc->type == DcType::Memory ? dc->bitmap->bpp : 32;
}

// Reads a bitmap back as a 32-bit BI_RGB DIB: bottom-up rows when biHeight > 0, top-down when it
// is negative. With no buffer, fills in the header's size fields instead.
int WINAPI GetDIBits(HDC hdc, HBITMAP hbm, UINT start, UINT cLines, LPVOID lpvBits,
                     LPBITMAPINFO lpbmi, UINT usage) {
    std::shared_ptr<Bitmap> bm;
    {
        std::lock_guard<std::mutex> lock(gdi_mutex());
        if (!find_dc(hdc))
            return 0;
        bm = find<Bitmap>(hbm, Kind::Bitmap);
    }
    if (!bm || !lpbmi || usage != DIB_RGB_COLORS) {
        set_error(ERROR_INVALID_PARAMETER);
        return 0;
    }
    BITMAPINFOHEADER& hdr = lpbmi->bmiHeader;
    std::lock_guard<std::mutex> lock(bm->lock);
    const QImage& image = bm->image;
    if (!lpvBits) {
        if (hdr.biBitCount == 0) {
            hdr.biWidth = image.width();
            hdr.biHeight = image.height();
            hdr.biPlanes = 1;
            hdr.biBitCount = static_cast<WORD>(bm->bpp);
            hdr.biCompression = BI_RGB;
            hdr.biSizeImage = static_cast<DWORD>(((image.width() * bm->bpp + 31) / 32) * 4 *
                                                 image.height());
        }
        return image.height();
    }
    if (hdr.biBitCount != 32 || hdr.biCompression != BI_RGB || hdr.biWidth <= 0 ||
        hdr.biHeight == 0) {
        set_error(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const bool top_down = hdr.biHeight < 0;
    const long long rows = std::min<long long>(top_down ? -(long long)hdr.biHeight : hdr.biHeight,
                                               image.height());
    const int width = std::min(static_cast<int>(hdr.biWidth), image.width());
    int copied = 0;
    for (long long line = start; line < (long long)start + cLines && line < rows; ++line) {
        // DIB line 0 is the bottom row of a bottom-up DIB and the top row of a top-down one.
        int y = top_down ? int(line) : int(rows - 1 - line);
        const QRgb* in = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        DWORD* out = static_cast<DWORD*>(lpvBits) + (line - start) * hdr.biWidth;
        for (int x = 0; x < width; ++x)
            out[x] = in[x] & 0x00FFFFFF;  // B, G, R and a zero reserved byte
        ++copied;
    }
    return copied;
}

}  // extern "C"
