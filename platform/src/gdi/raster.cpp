// Line and ellipse rasterisation matching GDI's pixels for one-pixel pens.
#include "raster.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>

namespace w32::raster {
namespace {

// floor(a / b) for b > 0.
long long floor_div(long long a, long long b) {
    long long q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

// The integer nearest num / den, halves going to the smaller integer: ceil(num / den - 1/2).
long long nearest_half_down(long long num, long long den) {
    if (den < 0) {
        num = -num;
        den = -den;
    }
    return -floor_div(den - 2 * num, 2 * den);
}

}  // namespace

void line(int x0, int y0, int x1, int y1, const Clip& clip, const SpanFn& span) {
    const long long dx = static_cast<long long>(x1) - x0;
    const long long dy = static_cast<long long>(y1) - y0;
    if (dx == 0 && dy == 0)
        return;
    // Closed form of the line at each major step instead of an incremental error term, so a
    // line reaching far outside the clip costs only its visible part.
    if (std::llabs(dx) >= std::llabs(dy)) {
        long long lo = dx > 0 ? x0 : static_cast<long long>(x1) + 1;
        long long hi = dx > 0 ? static_cast<long long>(x1) - 1 : x0;
        lo = std::max<long long>(lo, clip.left);
        hi = std::min<long long>(hi, static_cast<long long>(clip.right) - 1);
        bool open = false;
        long long run_y = 0, run_x0 = 0, run_x1 = 0;
        for (long long x = lo; x <= hi; ++x) {
            long long y = y0 + nearest_half_down((x - x0) * dy, dx);
            if (y < clip.top || y >= clip.bottom)
                continue;
            if (open && y == run_y && x == run_x1 + 1) {
                run_x1 = x;
                continue;
            }
            if (open)
                span(static_cast<int>(run_y), static_cast<int>(run_x0), static_cast<int>(run_x1));
            open = true;
            run_y = y;
            run_x0 = run_x1 = x;
        }
        if (open)
            span(static_cast<int>(run_y), static_cast<int>(run_x0), static_cast<int>(run_x1));
    } else {
        long long lo = dy > 0 ? y0 : static_cast<long long>(y1) + 1;
        long long hi = dy > 0 ? static_cast<long long>(y1) - 1 : y0;
        lo = std::max<long long>(lo, clip.top);
        hi = std::min<long long>(hi, static_cast<long long>(clip.bottom) - 1);
        for (long long y = lo; y <= hi; ++y) {
            long long x = x0 + nearest_half_down((y - y0) * dx, dy);
            if (x >= clip.left && x < clip.right)
                span(static_cast<int>(y), static_cast<int>(x), static_cast<int>(x));
        }
    }
}

std::vector<EllipseRow> ellipse(int left, int top, int right, int bottom, const Clip& clip) {
    std::vector<EllipseRow> rows;
    if (right <= left || bottom <= top)
        return rows;
    const int first = std::max(top, clip.top);
    const int last = std::min(bottom, clip.bottom);  // exclusive
    if (first >= last)
        return rows;

    struct Sides {
        int lmin = INT_MAX, lmax = INT_MIN, rmin = INT_MAX, rmax = INT_MIN;
    };
    std::vector<Sides> sides(static_cast<size_t>(last - first));
    auto mark = [&](long long x, long long y, bool left_side) {
        if (y < first || y >= last)
            return;
        Sides& s = sides[static_cast<size_t>(y - first)];
        int xi = static_cast<int>(x);
        if (left_side) {
            s.lmin = std::min(s.lmin, xi);
            s.lmax = std::max(s.lmax, xi);
        } else {
            s.rmin = std::min(s.rmin, xi);
            s.rmax = std::max(s.rmax, xi);
        }
    };

    // Midpoint ellipse fitted to a rectangle of pixels (A. Zingl, "A Rasterizing Algorithm for
    // Drawing Curves"): it walks the four quadrants at once from the middle rows outward, and
    // for even sizes it places the curve between pixel centres as GDI does. The error terms
    // grow with the fourth power of the size, hence 128-bit arithmetic.
    using i128 = __int128;
    long long xl = left, xr = static_cast<long long>(right) - 1;
    const long long a = xr - xl, b = static_cast<long long>(bottom) - 1 - top, b1 = b & 1;
    i128 dx = i128(4) * (1 - a) * b * b;
    i128 dy = i128(4) * (b1 + 1) * a * a;
    i128 err = dx + dy + i128(b1) * a * a;
    long long lower = top + (b + 1) / 2;
    long long upper = lower - b1;
    const i128 a8 = i128(8) * a * a, b8 = i128(8) * b * b;
    do {
        mark(xr, lower, false);
        mark(xl, lower, true);
        mark(xl, upper, true);
        mark(xr, upper, false);
        i128 e2 = 2 * err;
        if (e2 <= dy) {
            ++lower;
            --upper;
            dy += a8;
            err += dy;
        }
        if (e2 >= dx || 2 * err > dy) {
            ++xl;
            --xr;
            dx += b8;
            err += dx;
        }
    } while (xl <= xr);
    // Narrow boxes leave the walk before it reaches the top and bottom rows: finish the tips as
    // vertical runs, down to the box's first and last rows themselves.
    while (lower - upper <= b) {
        mark(xl - 1, lower, true);
        mark(xr + 1, lower, false);
        ++lower;
        mark(xl - 1, upper, true);
        mark(xr + 1, upper, false);
        --upper;
    }

    rows.reserve(sides.size());
    for (size_t i = 0; i < sides.size(); ++i) {
        const Sides& s = sides[i];
        if (s.lmin == INT_MAX || s.rmin == INT_MAX)
            continue;
        rows.push_back(EllipseRow{first + static_cast<int>(i), s.lmin, s.lmax, s.rmin, s.rmax});
    }
    return rows;
}

}  // namespace w32::raster
