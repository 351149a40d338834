// Drawing into DCs and reading their pixels back: fills, lines, ellipses, copies between
// bitmaps and to the screen, single pixels and DIB read-back.
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QRect>
#include <algorithm>

#include "gdi_private.h"
#include "kernel/fault_hook.h"
#include "raster.h"

namespace w32 {

using namespace gdi;

namespace {

// The DC's state as one drawing call sees it, taken under gdi_mutex().
struct Snapshot {
    std::shared_ptr<Bitmap> bitmap;
    QPainter* painter = nullptr;
    int width = 0, height = 0;
    std::shared_ptr<Pen> pen;
    std::shared_ptr<Brush> brush;
};

QRgb argb_of(COLORREF c) { return qRgb(GetRValue(c), GetGValue(c), GetBValue(c)); }

COLORREF colorref_of(QRgb p) { return RGB(qRed(p), qGreen(p), qBlue(p)); }

// The state of a DC held for one drawing call; false if it could not be held. `swap_pos`, if
// given, is exchanged with the current position: LineTo reads the old one and stores the new one
// at once.
bool snapshot(const DcUse& use, Snapshot* s, POINT* swap_pos = nullptr) {
    const std::shared_ptr<Dc>& dc = use.dc();
    if (!dc)
        return false;
    std::lock_guard<std::mutex> lock(gdi_mutex());
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
}  // namespace w32

using namespace w32;
using namespace w32::gdi;

extern "C" {

BOOL WINAPI PatBlt(HDC hdc, int x, int y, int w, int h, DWORD rop) {
    DcUse use(hdc);
    Snapshot s;
    if (!snapshot(use, &s))
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
    if (!dc || !usable_here(*dc))
        return FALSE;
    if (lppt)
        *lppt = dc->pos;
    dc->pos = POINT{x, y};
    return TRUE;
}

BOOL WINAPI LineTo(HDC hdc, int x, int y) {
    DcUse use(hdc);
    Snapshot s;
    POINT from{x, y};
    if (!snapshot(use, &s, &from))
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
// Without a pen the brush fills the outline's pixels as well.
BOOL WINAPI Ellipse(HDC hdc, int left, int top, int right, int bottom) {
    DcUse use(hdc);
    Snapshot s;
    if (!snapshot(use, &s))
        return FALSE;
    W32_FAULT(Ellipse, nullptr, FALSE);
    if (right < left)
        std::swap(left, right);
    if (bottom < top)
        std::swap(top, bottom);
    draw_on(s, [&](Surface& surface) {
        for (const raster::EllipseRow& row :
             raster::ellipse(left, top, right, bottom, surface.clip())) {
            if (s.pen->null) {
                if (!s.brush->null)
                    surface.span(row.y, row.left_outer, row.right_outer, s.brush->color);
                continue;
            }
            if (!s.brush->null && row.right_inner - row.left_inner > 1)
                surface.span(row.y, row.left_inner + 1, row.right_inner - 1, s.brush->color);
            surface.span(row.y, row.left_outer, row.left_inner, s.pen->color);
            surface.span(row.y, row.right_inner, row.right_outer, s.pen->color);
        }
    });
    return TRUE;
}

BOOL WINAPI BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1, DWORD rop) {
    if (rop == BLACKNESS || rop == WHITENESS || rop == PATCOPY)
        return PatBlt(hdc, x, y, cx, cy, rop);
    DcUse dst_use(hdc), src_use(hdcSrc);
    Snapshot dst, src;
    if (!snapshot(dst_use, &dst) || !snapshot(src_use, &src))
        return FALSE;
    // What a window shows can be read back into an image; other copies read from images.
    const auto& read_shown = src_use.dc()->read_shown;
    if (rop != SRCCOPY || (!src.bitmap && !(read_shown && dst.bitmap))) {
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
    if (!src.bitmap) {
        QImage shown;
        if (!read_shown(&shown)) {
            set_error(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        std::lock_guard<std::mutex> lock(dst.bitmap->lock);
        copy(shown, dst.bitmap->image, dst.bitmap->bpp == 1);
    } else if (src.bitmap == dst.bitmap) {
        std::lock_guard<std::mutex> lock(src.bitmap->lock);
        copy(src.bitmap->image, dst.bitmap->image, dst.bitmap->bpp == 1);
    } else {
        std::scoped_lock lock(src.bitmap->lock, dst.bitmap->lock);
        copy(src.bitmap->image, dst.bitmap->image, dst.bitmap->bpp == 1);
    }
    return TRUE;
}

COLORREF WINAPI GetPixel(HDC hdc, int x, int y) {
    DcUse use(hdc);
    Snapshot s;
    COLORREF c = CLR_INVALID;
    if (snapshot(use, &s))
        draw_on(s, [&](Surface& surface) { c = surface.get(x, y); });
    return c;
}

COLORREF WINAPI SetPixel(HDC hdc, int x, int y, COLORREF color) {
    DcUse use(hdc);
    Snapshot s;
    COLORREF result = CLR_INVALID;
    if (!snapshot(use, &s))
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
    if (!dc || !usable_here(*dc) || index != BITSPIXEL)
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
        auto dc = find_dc(hdc);
        if (!dc)
            return 0;
        if (!usable_here(*dc)) {
            set_error(ERROR_INVALID_PARAMETER);
            return 0;
        }
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
