// GDI: device contexts, bitmaps, pens and brushes, and drawing into them. Private to objects.cpp,
// which makes and selects the objects, and draw.cpp, which draws and reads pixels.
//
// A DC is used by one thread at a time, as in Win32: a call on a DC that another thread is in
// the middle of using fails, and draws or copies nothing. Two threads that share an image take
// turns themselves (the program guards its image with a critical section). A bitmap is a QImage
// owned by the layer, with a lock that every drawing call into it and every read of it holds.
// Which objects a DC has selected, its current position, which thread is using it and the
// objects' selection counts are guarded by one GDI-wide mutex, held only briefly and never
// while drawing.
#pragma once

#include <QImage>

#include <functional>
#include <memory>
#include <mutex>

#include "gdi/dc.h"
#include "kernel/objects.h"

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
    std::function<bool(QImage*)> read_shown;  // window DCs only: what the window shows
    DWORD user = 0;               // the thread inside a call on the DC, while uses > 0
    int uses = 0;                 // a call may make others on the same DC (BitBlt onto itself)
};

// The colour without the flag byte that COLORREF values may carry on top.
inline COLORREF rgb_of(COLORREF c) { return c & 0x00FFFFFF; }

// The DC behind a handle, or nullptr with ERROR_INVALID_HANDLE set. The caller holds
// gdi_mutex().
std::shared_ptr<Dc> find_dc(HDC hdc);

// False if another thread is in the middle of a call on the DC. Caller holds gdi_mutex().
bool usable_here(const Dc& dc);

// Holds a DC for the calling thread through one call that draws outside gdi_mutex(): meanwhile
// every call on it from another thread fails.
class DcUse {
public:
    explicit DcUse(HDC hdc);
    ~DcUse();
    DcUse(const DcUse&) = delete;
    DcUse& operator=(const DcUse&) = delete;
    // Null for a bad handle (ERROR_INVALID_HANDLE set) or a DC another thread is using.
    const std::shared_ptr<Dc>& dc() const { return dc_; }

private:
    std::shared_ptr<Dc> dc_;
};

}  // namespace w32::gdi
