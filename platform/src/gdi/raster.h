// Pixel-exact rasterisation of GDI's one-pixel lines and ellipses, independent of any surface:
// the results are horizontal runs that draw.cpp paints into an image or through a painter.
#pragma once

#include <functional>
#include <vector>

namespace w32::raster {

// The pixels that may be touched: left/top inclusive, right/bottom exclusive.
struct Clip {
    int left, top, right, bottom;
};

// A run of pixels x0..x1 (both inclusive) on row y.
using SpanFn = std::function<void(int y, int x0, int x1)>;

// The pixels of a one-pixel line from (x0, y0) to (x1, y1), the end point excluded, as GDI
// draws them: on each step of the major axis the pixel nearest the exact line, and where the
// line passes exactly halfway between two pixels, the one with the smaller coordinate, so the
// same pixels light whichever way the line is drawn.
void line(int x0, int y0, int x1, int y1, const Clip& clip, const SpanFn& span);

// One row of an ellipse: the outline covers left_outer..left_inner and right_inner..right_outer;
// the pixels strictly between left_inner and right_inner are the interior.
struct EllipseRow {
    int y;
    int left_outer, left_inner;
    int right_inner, right_outer;
};

// The rows of the ellipse inscribed in the box left..right-1, top..bottom-1 (GDI's bounding
// box, right and bottom exclusive), restricted to the clip's rows, top to bottom. The outline
// is the midpoint ellipse that fits the box exactly; an empty box gives no rows.
std::vector<EllipseRow> ellipse(int left, int top, int right, int bottom, const Clip& clip);

}  // namespace w32::raster
