// GetGuiResources: what the process holds of the window manager's and GDI's objects.
#include <windows.h>

#include <cstddef>

#include "kernel/objects.h"

using w32::Kind;

extern "C" {

// The process's live GDI objects: device contexts, bitmaps, pens and brushes (the stock objects
// included, as Windows counts them). Only GR_GDIOBJECTS is counted; any other question gets 0.
DWORD WINAPI GetGuiResources(HANDLE hProcess, DWORD uiFlags) {
    if (hProcess != GetCurrentProcess() || uiFlags != GR_GDIOBJECTS) return 0;
    std::size_t n = 0;
    for (Kind kind : {Kind::Dc, Kind::Bitmap, Kind::Pen, Kind::Brush}) n += w32::count_handles(kind);
    return static_cast<DWORD>(n);
}

}  // extern "C"
