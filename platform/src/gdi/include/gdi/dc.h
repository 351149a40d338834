// What gdi offers the window manager: device contexts over what a window shows.
#pragma once

#include <windows.h>

#include <functional>

class QImage;
class QPainter;

namespace w32 {

// A DC that draws onto a widget during its paint: BeginPaint creates one over the painter that
// the widget's paint handler opened (origin at the client area's top left), EndPaint releases it.
HDC create_paint_dc(QPainter* painter, int width, int height);
void release_paint_dc(HDC hdc);

// What GetDC gives for a window (or, for NULL, the screen): a DC to draw through and to copy
// from; copying from it reads, through `read_shown`, what the window shows. ReleaseDC's part:
// 0 if `hdc` is not such a DC.
HDC create_window_dc(HWND hwnd, std::function<bool(QImage*)> read_shown);
int release_window_dc(HDC hdc);

}  // namespace w32
