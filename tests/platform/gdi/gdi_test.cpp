// GDI conformance: memory DCs and bitmaps, the pixels of lines and ellipses, selection and
// deletion of objects, copies between DCs. Pixels are read back through GetDIBits/GetPixel.
#include <windows.h>
#include <process.h>

#include <gtest/gtest.h>

#include <atomic>

#include <algorithm>
#include <functional>
#include <set>
#include <utility>
#include <vector>

#include "tests/common/canvas.h"

namespace {

const COLORREF kRed = RGB(255, 0, 0);
const COLORREF kGreen = RGB(0, 255, 0);
const COLORREF kBlack = RGB(0, 0, 0);

// Compares every pixel of the canvas with `expected_at(x, y)`; reports the first mismatches.
template <class F>
void ExpectImage(const Canvas& c, F expected_at, const char* what) {
    std::vector<COLORREF> px = c.Pixels();
    int wrong = 0;
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x) {
            COLORREF want = expected_at(x, y);
            COLORREF got = px[static_cast<size_t>(y) * c.width + x];
            if (got != want && ++wrong <= 5)
                ADD_FAILURE() << what << ": pixel (" << x << "," << y << ") is 0x" << std::hex
                              << got << ", expected 0x" << want << std::dec;
        }
    EXPECT_EQ(0, wrong) << what;
}

// Draws one line with a 1-pixel pen on a black canvas and returns the coloured pixels.
std::set<std::pair<int, int>> DrawLine(Canvas& c, int x0, int y0, int x1, int y1) {
    PatBlt(c.dc, 0, 0, c.width, c.height, BLACKNESS);
    HPEN pen = CreatePen(PS_SOLID, 1, kGreen);
    HGDIOBJ old = SelectObject(c.dc, pen);
    EXPECT_TRUE(MoveToEx(c.dc, x0, y0, nullptr));
    EXPECT_TRUE(LineTo(c.dc, x1, y1));
    SelectObject(c.dc, old);
    DeleteObject(pen);
    std::set<std::pair<int, int>> lit;
    std::vector<COLORREF> px = c.Pixels();
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x)
            if (px[static_cast<size_t>(y) * c.width + x] != kBlack)
                lit.insert({x, y});
    return lit;
}

std::set<std::pair<int, int>> HorizontalRun(int x0, int x1, int y) {
    std::set<std::pair<int, int>> s;
    for (int x = x0; x <= x1; ++x)
        s.insert({x, y});
    return s;
}

// The 10 x 10 ellipse's row spans, relative to its box's top-left corner.
const int kDotSpans[10][2] = {{3, 6}, {2, 7}, {1, 8}, {0, 9}, {0, 9},
                              {0, 9}, {0, 9}, {1, 8}, {2, 7}, {3, 6}};

bool InDot(int left, int top, int x, int y) {
    int row = y - top;
    if (row < 0 || row >= 10)
        return false;
    return x - left >= kDotSpans[row][0] && x - left <= kDotSpans[row][1];
}

// With `with_pen` false the outline is drawn with NULL_PEN.
void DrawRedEllipse(HDC dc, int l, int t, int r, int b, BOOL* result, bool with_pen = true) {
    HPEN pen = with_pen ? CreatePen(PS_SOLID, 1, kRed) : (HPEN)GetStockObject(NULL_PEN);
    HBRUSH brush = CreateSolidBrush(kRed);
    HGDIOBJ old_pen = SelectObject(dc, pen);
    HGDIOBJ old_brush = SelectObject(dc, brush);
    *result = Ellipse(dc, l, t, r, b);
    SelectObject(dc, old_pen);
    SelectObject(dc, old_brush);
    DeleteObject(pen);
    DeleteObject(brush);
}

BITMAPINFOHEADER QueryFormat(HDC dc, HBITMAP bm) {
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    EXPECT_NE(0, GetDIBits(dc, bm, 0, 0, nullptr, &bmi, DIB_RGB_COLORS));
    return bmi.bmiHeader;
}

TEST(Gdi, ScreenCompatibleBitmapIsTrueColour) {
    HDC screen = GetDC(nullptr);
    ASSERT_NE(nullptr, screen);
    EXPECT_EQ(32, GetDeviceCaps(screen, BITSPIXEL));
    ReleaseDC(nullptr, screen);

    Canvas c(500, 400);
    BITMAPINFOHEADER fmt = QueryFormat(c.dc, c.bitmap);
    EXPECT_EQ(500, fmt.biWidth);
    EXPECT_EQ(400, fmt.biHeight);
    EXPECT_EQ(32, fmt.biBitCount);
    // A true-colour bitmap keeps any colour exactly.
    const COLORREF odd = RGB(1, 2, 3);
    EXPECT_EQ(odd, SetPixel(c.dc, 7, 9, odd));
    EXPECT_EQ(odd, GetPixel(c.dc, 7, 9));
}

TEST(Gdi, MemoryDcStartsWithOneMonochromePixel) {
    HDC mem = CreateCompatibleDC(nullptr);
    ASSERT_NE(nullptr, mem);
    EXPECT_NE(CLR_INVALID, GetPixel(mem, 0, 0));
    EXPECT_EQ(CLR_INVALID, GetPixel(mem, 1, 0));
    EXPECT_EQ(CLR_INVALID, GetPixel(mem, 0, 1));
    // Compatible with that DC means compatible with its 1 x 1 monochrome bitmap.
    HBITMAP mono = CreateCompatibleBitmap(mem, 16, 8);
    ASSERT_NE(nullptr, mono);
    EXPECT_EQ(1, QueryFormat(mem, mono).biBitCount);
    DeleteObject(mono);
    EXPECT_TRUE(DeleteDC(mem));
}

TEST(Gdi, PatBltFillsTheWholeImage) {
    Canvas c(500, 400);
    ASSERT_TRUE(PatBlt(c.dc, 0, 0, 500, 400, WHITENESS));
    ExpectImage(c, [](int, int) { return RGB(255, 255, 255); }, "WHITENESS");
    ASSERT_TRUE(PatBlt(c.dc, 0, 0, 500, 400, BLACKNESS));
    ExpectImage(c, [](int, int) { return kBlack; }, "BLACKNESS");
    // PATCOPY paints the selected brush; the rectangle is clipped at the image's edges.
    HBRUSH brush = CreateSolidBrush(kGreen);
    HGDIOBJ old = SelectObject(c.dc, brush);
    ASSERT_TRUE(PatBlt(c.dc, 490, 390, 20, 20, PATCOPY));
    SelectObject(c.dc, old);
    DeleteObject(brush);
    ExpectImage(c, [](int x, int y) { return x >= 490 && y >= 390 ? kGreen : kBlack; },
                "PATCOPY");
}

TEST(Gdi, LinesLeaveOutTheirEndPoint) {
    Canvas c(500, 400);
    struct Case {
        int x0, y0, x1, y1;
        std::set<std::pair<int, int>> expected;
        const char* proves;
    };
    std::set<std::pair<int, int>> diagonal, shallow, vertical;
    for (int i = 0; i < 5; ++i)
        diagonal.insert({i, i});
    // Nearest pixel to y = x / 3 on each column; no column is a tie.
    shallow = {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 1}, {5, 2}};
    for (int y = 10; y < 20; ++y)
        vertical.insert({30, y});
    const Case cases[] = {
        // The plot's baseline: the whole row 200, nothing on rows 199 and 201.
        {0, 200, 500, 200, HorizontalRun(0, 499, 200), "baseline across the image"},
        // The end point is excluded, so a line to x = 499 stops at 498.
        {0, 200, 499, 200, HorizontalRun(0, 498, 200), "end point excluded"},
        // Drawn right to left the start is included and the end (x = 0) is not.
        {10, 5, 0, 5, HorizontalRun(1, 10, 5), "reversed horizontal line"},
        {30, 10, 30, 20, vertical, "vertical line"},
        {0, 0, 5, 5, diagonal, "45-degree line"},
        {0, 0, 6, 2, shallow, "shallow line follows the nearest pixels"},
        // Only the part inside the image is drawn.
        {-100, 3, 600, 3, HorizontalRun(0, 499, 3), "clipped on both sides"},
    };
    for (const Case& k : cases) {
        std::set<std::pair<int, int>> lit = DrawLine(c, k.x0, k.y0, k.x1, k.y1);
        EXPECT_EQ(k.expected, lit) << k.proves;
    }
}

TEST(Gdi, MoveToExReportsAndLineToMovesTheCurrentPosition) {
    Canvas c(50, 50);
    POINT prev = {-1, -1};
    ASSERT_TRUE(MoveToEx(c.dc, 3, 4, &prev));
    EXPECT_EQ(0, prev.x);  // a new DC starts at the origin
    EXPECT_EQ(0, prev.y);
    ASSERT_TRUE(LineTo(c.dc, 20, 4));
    ASSERT_TRUE(MoveToEx(c.dc, 0, 0, &prev));
    EXPECT_EQ(20, prev.x);
    EXPECT_EQ(4, prev.y);
}

TEST(Gdi, TenPixelEllipseHasTheDotShape) {
    Canvas c(500, 400);
    struct Case {
        int left, top;
        bool with_pen;
        const char* proves;
    };
    const Case cases[] = {
        {95, 95, true, "whole dot"},
        {495, 95, true, "dot clipped at x = 499"},  // its left half remains
        {95, 95, false, "without a pen the brush fills the outline's pixels too"},
    };
    for (const Case& k : cases) {
        PatBlt(c.dc, 0, 0, 500, 400, BLACKNESS);
        BOOL ok = FALSE;
        DrawRedEllipse(c.dc, k.left, k.top, k.left + 10, k.top + 10, &ok, k.with_pen);
        EXPECT_TRUE(ok) << k.proves;
        // Every pixel of the 12 x 12 box around the dot's box, clipped to the image.
        int lit = 0;
        for (int y = k.top - 1; y <= k.top + 10; ++y)
            for (int x = k.left - 1; x <= k.left + 10 && x < 500; ++x) {
                COLORREF want = InDot(k.left, k.top, x, y) ? kRed : kBlack;
                COLORREF got = GetPixel(c.dc, x, y);
                EXPECT_EQ(want, got) << k.proves << " at (" << x << "," << y << ")";
                lit += got == kRed;
            }
        EXPECT_EQ(k.left == 95 ? 76 : 38, lit) << k.proves;
    }
    // Nothing outside the dot was touched.
    PatBlt(c.dc, 0, 0, 500, 400, BLACKNESS);
    BOOL ok = FALSE;
    DrawRedEllipse(c.dc, 95, 95, 105, 105, &ok);
    ExpectImage(c, [](int x, int y) { return InDot(95, 95, x, y) ? kRed : kBlack; }, "dot");
}

TEST(Gdi, EllipseBoxIsNormalised) {
    Canvas c(40, 40);
    BOOL ok = FALSE;
    DrawRedEllipse(c.dc, 15, 15, 5, 5, &ok);  // corners given the other way round
    EXPECT_TRUE(ok);
    ExpectImage(c, [](int x, int y) { return InDot(5, 5, x, y) ? kRed : kBlack; }, "swapped");
}

// Ellipses from 5 x 5 to 24 x 24, no side over three times the other, reach all four sides of
// their box, never leave it, and are symmetric about both axes.
TEST(Gdi, EllipsesFillTheirBoxSymmetrically) {
    Canvas c(40, 40);
    const int kOrigin = 5;
    // Boxes thinner than that (1 x 1, 3 x 8, 6 x 20...) come out differently under Wine, whose
    // thin ellipses stop short of their ends; the plot only draws 10 x 10.
    for (int w = 5; w <= 24; ++w)
        for (int h = 5; h <= 24; ++h) {
            if (std::max(w, h) > 3 * std::min(w, h))
                continue;
            PatBlt(c.dc, 0, 0, 40, 40, BLACKNESS);
            BOOL ok = FALSE;
            DrawRedEllipse(c.dc, kOrigin, kOrigin, kOrigin + w, kOrigin + h, &ok);
            ASSERT_TRUE(ok);
            std::vector<COLORREF> px = c.Pixels();
            auto lit = [&](int x, int y) { return px[static_cast<size_t>(y) * 40 + x] == kRed; };
            int left = 40, right = -1, top = 40, bottom = -1, asymmetric = 0;
            for (int y = 0; y < 40; ++y)
                for (int x = 0; x < 40; ++x) {
                    if (!lit(x, y))
                        continue;
                    left = std::min(left, x);
                    right = std::max(right, x);
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                    int mx = 2 * kOrigin + w - 1 - x, my = 2 * kOrigin + h - 1 - y;
                    bool in = mx >= 0 && mx < 40 && my >= 0 && my < 40;
                    asymmetric += !in || !lit(mx, y) || !lit(x, my);
                }
            EXPECT_EQ(kOrigin, left) << w << " x " << h;
            EXPECT_EQ(kOrigin + w - 1, right) << w << " x " << h;
            EXPECT_EQ(kOrigin, top) << w << " x " << h;
            EXPECT_EQ(kOrigin + h - 1, bottom) << w << " x " << h;
            EXPECT_EQ(0, asymmetric) << w << " x " << h;
        }
}

TEST(Gdi, SelectObjectReturnsThePreviousObject) {
    HDC dc = CreateCompatibleDC(nullptr);
    HPEN pen1 = CreatePen(PS_SOLID, 1, kRed);
    HPEN pen2 = CreatePen(PS_SOLID, 0, kGreen);
    HBRUSH brush = CreateSolidBrush(kRed);
    HDC screen = GetDC(nullptr);
    HBITMAP bm = CreateCompatibleBitmap(screen, 4, 4);
    ReleaseDC(nullptr, screen);

    struct Case {
        HGDIOBJ select;
        HGDIOBJ expected_previous;
        const char* proves;
    };
    const Case cases[] = {
        {pen1, GetStockObject(BLACK_PEN), "a new DC holds the stock black pen"},
        {pen2, pen1, "pens replace pens"},
        {brush, GetStockObject(WHITE_BRUSH), "a new DC holds the stock white brush"},
        {GetStockObject(NULL_PEN), pen2, "stock objects can be selected"},
        {GetStockObject(BLACK_BRUSH), brush, "brushes replace brushes"},
    };
    for (const Case& k : cases)
        EXPECT_EQ(k.expected_previous, SelectObject(dc, k.select)) << k.proves;

    HGDIOBJ initial = SelectObject(dc, bm);
    EXPECT_NE(nullptr, initial);
    EXPECT_NE(static_cast<HGDIOBJ>(bm), initial);
    // A bitmap is selected into one DC at a time.
    HDC other = CreateCompatibleDC(nullptr);
    EXPECT_EQ(nullptr, SelectObject(other, bm));
    EXPECT_EQ(static_cast<HGDIOBJ>(bm), SelectObject(dc, initial));
    EXPECT_NE(nullptr, SelectObject(other, bm));  // free again
    DeleteDC(other);

    DeleteDC(dc);
    DeleteObject(pen1);
    DeleteObject(pen2);
    DeleteObject(brush);
    DeleteObject(bm);
}

TEST(Gdi, GetPixelOutsideTheImageIsInvalid) {
    Canvas c(500, 400);
    SetPixel(c.dc, 499, 399, kGreen);
    EXPECT_EQ(kGreen, GetPixel(c.dc, 499, 399));
    const POINT outside[] = {{-1, 0}, {0, -1}, {500, 0}, {0, 400}, {500, 400}, {100000, 5}};
    for (const POINT& p : outside) {
        EXPECT_EQ(CLR_INVALID, GetPixel(c.dc, p.x, p.y)) << p.x << "," << p.y;
        SetPixel(c.dc, p.x, p.y, kRed);  // clipped away (what it returns differs under Wine)
    }
    EXPECT_EQ(kGreen, GetPixel(c.dc, 499, 399));
}

TEST(Gdi, DeletedAndNullHandlesFail) {
    HDC dc = CreateCompatibleDC(nullptr);
    HPEN pen = CreatePen(PS_SOLID, 1, kRed);
    HDC screen = GetDC(nullptr);
    HBITMAP bm = CreateCompatibleBitmap(screen, 4, 4);
    ReleaseDC(nullptr, screen);
    ASSERT_TRUE(DeleteObject(pen));
    ASSERT_TRUE(DeleteObject(bm));
    ASSERT_TRUE(DeleteDC(dc));

    // A deleted object can no longer be used or deleted.
    HDC live = CreateCompatibleDC(nullptr);
    EXPECT_EQ(nullptr, SelectObject(live, pen));
    EXPECT_EQ(nullptr, SelectObject(live, bm));
    EXPECT_FALSE(DeleteObject(pen));
    EXPECT_FALSE(DeleteObject(bm));
    EXPECT_EQ(nullptr, SelectObject(live, nullptr));
    DeleteDC(live);

    // Every drawing call on a deleted or NULL DC fails.
    const HDC bad[] = {dc, nullptr};
    for (HDC h : bad) {
        EXPECT_EQ(nullptr, SelectObject(h, GetStockObject(BLACK_PEN)));
        EXPECT_FALSE(PatBlt(h, 0, 0, 1, 1, BLACKNESS));
        EXPECT_FALSE(MoveToEx(h, 0, 0, nullptr));
        EXPECT_FALSE(LineTo(h, 1, 1));
        EXPECT_FALSE(Ellipse(h, 0, 0, 10, 10));
        EXPECT_EQ(CLR_INVALID, GetPixel(h, 0, 0));
        EXPECT_FALSE(DeleteDC(h));
    }
    EXPECT_EQ(nullptr, CreateCompatibleBitmap(dc, 4, 4));
    EXPECT_EQ(nullptr, CreateCompatibleDC(dc));
    Canvas c(4, 4);
    EXPECT_FALSE(BitBlt(c.dc, 0, 0, 4, 4, dc, 0, 0, SRCCOPY));
    EXPECT_FALSE(BitBlt(dc, 0, 0, 4, 4, c.dc, 0, 0, SRCCOPY));
}

TEST(Gdi, StockObjectsSurviveDeleteObject) {
    const int stock[] = {BLACK_BRUSH, WHITE_BRUSH, NULL_BRUSH, BLACK_PEN, NULL_PEN};
    Canvas c(8, 8);
    for (int i : stock) {
        HGDIOBJ obj = GetStockObject(i);
        ASSERT_NE(nullptr, obj) << i;
        EXPECT_TRUE(DeleteObject(obj)) << i;
        HGDIOBJ old = SelectObject(c.dc, obj);
        EXPECT_NE(nullptr, old) << "stock object " << i << " still selectable";
        SelectObject(c.dc, old);
    }
    EXPECT_EQ(GetStockObject(BLACK_BRUSH), GetStockObject(BLACK_BRUSH));
}

TEST(Gdi, SelectedPenIsNotDeleted) {
    Canvas c(20, 20);
    HPEN pen = CreatePen(PS_SOLID, 1, kRed);
    HGDIOBJ old = SelectObject(c.dc, pen);
    EXPECT_TRUE(DeleteObject(pen));
    // The DC still draws with it, and it comes back as the previous object.
    MoveToEx(c.dc, 0, 5, nullptr);
    LineTo(c.dc, 10, 5);
    EXPECT_EQ(kRed, GetPixel(c.dc, 9, 5));
    EXPECT_EQ(static_cast<HGDIOBJ>(pen), SelectObject(c.dc, old));
}

TEST(Gdi, BitBltCopiesAndClips) {
    Canvas src(20, 20), dst(20, 20);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            SetPixel(src.dc, x, y, RGB(x * 10, y * 10, 77));
    auto from_src = [](int x, int y) { return RGB(x * 10, y * 10, 77); };

    struct Case {
        int x, y, cx, cy, sx, sy;
        const char* proves;
    };
    const Case cases[] = {
        {0, 0, 20, 20, 0, 0, "whole image"},
        {15, 15, 10, 10, 0, 0, "cut at the destination's edges"},
        {0, 0, 10, 10, -5, -5, "source outside its image leaves the destination alone"},
        {2, 3, 5, 4, 10, 11, "offset rectangle"},
    };
    for (const Case& k : cases) {
        PatBlt(dst.dc, 0, 0, 20, 20, BLACKNESS);
        EXPECT_TRUE(BitBlt(dst.dc, k.x, k.y, k.cx, k.cy, src.dc, k.sx, k.sy, SRCCOPY))
            << k.proves;
        ExpectImage(
            dst,
            [&](int x, int y) {
                int sx = x - k.x + k.sx, sy = y - k.y + k.sy;
                bool in_dst = x >= k.x && x < k.x + k.cx && y >= k.y && y < k.y + k.cy;
                bool in_src = sx >= 0 && sx < 20 && sy >= 0 && sy < 20;
                return in_dst && in_src ? from_src(sx, sy) : kBlack;
            },
            k.proves);
    }
}

struct Painter {
    HDC dc;
    int width, height;
    CRITICAL_SECTION* turns;  // null: the painter does not wait for its turn
    std::atomic<bool> stop{false};
    std::atomic<int> fills{0}, failed{0};
};

// Fills the whole image black and white by turns until stopped.
unsigned __stdcall FillByTurns(void* arg) {
    Painter* p = static_cast<Painter*>(arg);
    for (int i = 0; !p->stop; ++i) {
        if (p->turns) EnterCriticalSection(p->turns);
        BOOL ok = PatBlt(p->dc, 0, 0, p->width, p->height, i % 2 ? WHITENESS : BLACKNESS);
        if (p->turns) LeaveCriticalSection(p->turns);
        p->failed += !ok;
        ++p->fills;
    }
    return 0;
}

HANDLE StartPainter(Painter* p) {
    unsigned id = 0;
    return reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, FillByTurns, p, 0, &id));
}

void StopPainter(Painter* p, HANDLE thread) {
    p->stop = true;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

// One thread draws into an image while another copies it out, taking turns with a critical
// section, as the worker and the paint handler do: every call succeeds, and every copy shows the
// image before or after a fill, never half of one.
TEST(Gdi, CopiesNeverSeeAHalfDrawnImage) {
    Canvas src(500, 400), dst(500, 400);
    CRITICAL_SECTION turns;
    InitializeCriticalSection(&turns);
    Painter painter{src.dc, 500, 400, &turns};
    HANDLE thread = StartPainter(&painter);
    ASSERT_NE(nullptr, thread);
    int copies = 0, failed = 0, torn = 0;
    while (painter.fills < 400) {
        EnterCriticalSection(&turns);
        failed += !BitBlt(dst.dc, 0, 0, 500, 400, src.dc, 0, 0, SRCCOPY);
        LeaveCriticalSection(&turns);
        std::vector<COLORREF> px = dst.Pixels();
        torn += std::count(px.begin(), px.end(), px[0]) != static_cast<long>(px.size());
        ++copies;
    }
    StopPainter(&painter, thread);
    DeleteCriticalSection(&turns);
    EXPECT_EQ(0, painter.failed) << "of " << painter.fills << " fills";
    EXPECT_EQ(0, failed) << "of " << copies << " copies";
    EXPECT_EQ(0, torn) << "of " << copies << " copies";
}

// A DC is used by one thread at a time: while another thread is in the middle of a fill, a call
// on its DC fails and draws or copies nothing. Each row is tried until the painter is met.
TEST(Gdi, ACallOnADcThatAnotherThreadIsUsingFails) {
    Canvas src(2000, 2000), dst(10, 10);
    HPEN pen = CreatePen(PS_SOLID, 1, kRed);
    struct Row {
        const char* call;
        DWORD error;  // GetLastError after the refusal
        std::function<BOOL()> run;
    };
    const Row rows[] = {
        {"BitBlt from it", 0xdeadbeef,
         [&] { return BitBlt(dst.dc, 0, 0, 10, 10, src.dc, 0, 0, SRCCOPY); }},
        {"PatBlt into it", 0xdeadbeef, [&] { return PatBlt(src.dc, 0, 0, 10, 10, WHITENESS); }},
        {"SelectObject", ERROR_INVALID_HANDLE, [&] {
             HGDIOBJ old = SelectObject(src.dc, pen);
             if (old) SelectObject(src.dc, old);
             return BOOL(old != nullptr);
         }},
    };
    Painter painter{src.dc, 2000, 2000, nullptr};
    HANDLE thread = StartPainter(&painter);
    ASSERT_NE(nullptr, thread);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.call);
        bool refused = false;
        DWORD error = 0;
        for (DWORD start = GetTickCount(); !refused && GetTickCount() - start < 5000;) {
            PatBlt(dst.dc, 0, 0, 10, 10, WHITENESS);
            SetLastError(0xdeadbeef);
            refused = !row.run();
            error = GetLastError();
        }
        EXPECT_TRUE(refused);
        EXPECT_EQ(row.error, error);
        ExpectImage(dst, [](int, int) { return RGB(255, 255, 255); }, row.call);
    }
    StopPainter(&painter, thread);
    DeleteObject(pen);
}

TEST(Gdi, GetDIBitsRowOrderFollowsTheHeight) {
    Canvas c(3, 2);
    SetPixel(c.dc, 0, 0, kRed);  // top-left
    struct Case {
        LONG height;
        int red_index;
        const char* proves;
    };
    const Case cases[] = {{-2, 0, "top-down: the top row comes first"},
                          {2, 3, "bottom-up: the top row comes last"}};
    for (const Case& k : cases) {
        BITMAPINFO bmi = {};
        bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        bmi.bmiHeader.biWidth = 3;
        bmi.bmiHeader.biHeight = k.height;
        bmi.bmiHeader.biPlanes = 1;
        bmi.bmiHeader.biBitCount = 32;
        bmi.bmiHeader.biCompression = BI_RGB;
        DWORD px[6] = {};
        EXPECT_EQ(2, GetDIBits(c.dc, c.bitmap, 0, 2, px, &bmi, DIB_RGB_COLORS)) << k.proves;
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(i == k.red_index ? 0x00FF0000u : 0u, px[i]) << k.proves << " index " << i;
    }
}

}  // namespace
