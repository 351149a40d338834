// GDI: device contexts, bitmaps, pens and brushes, and drawing into them. Private to gdi.cpp,
// which makes and selects the objects, and gdi_draw.cpp, which draws and reads pixels.
//
// A bitmap is a QImage owned by the layer, with a lock that every drawing call into it and every
// copy out of it holds, so one thread can draw into an image while another copies it to the
// screen. Which objects a DC has selected, its current position and the objects' selection
// counts are guarded by one GDI-wide mutex, held only briefly and never while drawing.
#pragma once

#include <QImage>

#include <memory>
#include <mutex>

#include "layer.h"

namespace w32::gdi {

// Guards every DC's selections and position and every object's selection count.
std::mutex& gdi_mutex();

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

// The colour without the flag byte that COLORREF values may carry on top.
inline COLORREF rgb_of(COLORREF c) { return c & 0x00FFFFFF; }

// The DC behind a handle, or nullptr with ERROR_INVALID_HANDLE set. The caller holds
// gdi_mutex().
std::shared_ptr<Dc> find_dc(HDC hdc);

}  // namespace w32::gdi
