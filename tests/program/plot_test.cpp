// The plot window inside the running dialog: its image at start-up, the dots of PlotPoint and of
// a display acquisition, the rectangles it asks to repaint, and a plot that could not be made.
// Direct calls of ClearPlot and PlotPoint, and the pixel reads with GetPixel on hdcDisplay, run on
// the dialog's thread: a DC that one thread is painting from cannot be used by another at the
// same moment (under Wine such a call fails). In the acquisition the worker draws, as it does.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "plot/plot.h"
#include "tests/common/canvas.h"
#include "tests/common/measure_harness.h"

#ifndef _WIN32
#include "w32_faults.h"
#endif

namespace {

const COLORREF kRed = RGB(255, 0, 0);
const COLORREF kGreen = RGB(0, 255, 0);
const COLORREF kBlack = RGB(0, 0, 0);

// A step on the dialog's thread has no paint between its calls, so what they leave invalid can be
// read back exactly.
using measure::OnDialogThread;
using measure::RunStepped;

struct Dot {
    int cx, cy;
};

// Rows of the 10 x 10 dot relative to its box (cx - 5, cy - 5): first and last column.
const int kDotSpans[10][2] = {{3, 6}, {2, 7}, {1, 8}, {0, 9}, {0, 9},
                              {0, 9}, {0, 9}, {1, 8}, {2, 7}, {3, 6}};

bool InDot(const Dot& d, int x, int y) {
    int row = y - (d.cy - 5), col = x - (d.cx - 5);
    return row >= 0 && row < 10 && col >= kDotSpans[row][0] && col <= kDotSpans[row][1];
}

// The picture after ClearPlot and then the given dots.
COLORREF Expected(const std::vector<Dot>& dots, int x, int y) {
    for (const Dot& d : dots)
        if (InDot(d, x, y))
            return kRed;
    return y == 200 ? kGreen : kBlack;
}

COLORREF Pixel(int x, int y) {
    COLORREF c = CLR_INVALID;
    OnDialogThread(hDlgMain, [&](HWND) { c = GetPixel(hdcDisplay, x, y); });
    return c;
}

// Compares every pixel of the plot image; reports the first few differences.
void ExpectPlot(const std::vector<Dot>& dots, const std::string& what) {
    std::vector<COLORREF> image(500 * 400);
    OnDialogThread(hDlgMain, [&](HWND) {
        for (int y = 0; y < 400; ++y)
            for (int x = 0; x < 500; ++x)
                image[y * 500 + x] = GetPixel(hdcDisplay, x, y);
    });
    int wrong = 0;
    for (int y = 0; y < 400; ++y)
        for (int x = 0; x < 500; ++x) {
            COLORREF got = image[y * 500 + x];
            COLORREF want = Expected(dots, x, y);
            if (got != want && ++wrong <= 5)
                ADD_FAILURE() << what << ": pixel (" << x << "," << y << ") is 0x" << std::hex
                              << got << ", expected 0x" << want << std::dec;
        }
    EXPECT_EQ(0, wrong) << what;
}

// Where the dots of the first samples lie: X = 2.5 n and 200 - 180 sin(2 pi n / 100), truncated.
const Dot kFirstDots[] = {{2, 188}, {5, 177}, {7, 166}, {10, 155}, {12, 144}};

// On the dialog's thread: how many pixels of the plot window differ from its image, outside the
// rectangle still waiting for a repaint. The image is held as the program holds it, so that no
// dot is drawn while the two are read.
int StalePixels() {
    const int w = 498, h = 398;  // the client area
    Canvas shown(w, h), image(w, h);
    HDC window = GetDC(hwndDisplay);
    EnterCriticalSection(&csDisplay);
    BOOL read = BitBlt(shown.dc, 0, 0, w, h, window, 0, 0, SRCCOPY) &&
                BitBlt(image.dc, 0, 0, w, h, hdcDisplay, 0, 0, SRCCOPY);
    RECT pending = {};
    GetUpdateRect(hwndDisplay, &pending, FALSE);
    LeaveCriticalSection(&csDisplay);
    ReleaseDC(hwndDisplay, window);
    EXPECT_TRUE(read);
    std::vector<COLORREF> a = shown.Pixels(), b = image.Pixels();
    int stale = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            bool waiting = x >= pending.left && x < pending.right && y >= pending.top &&
                           y < pending.bottom;
            stale += !waiting && a[y * w + x] != b[y * w + x];
        }
    return stale;
}

bool SameRect(const RECT& r, LONG l, LONG t, LONG rt, LONG b) {
    return r.left == l && r.top == t && r.right == rt && r.bottom == b;
}

std::string Describe(const RECT& r) {
    return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + ")-(" +
           std::to_string(r.right) + "," + std::to_string(r.bottom) + ")";
}

TEST(Plot, StartsBlackWithTheGreenBaseline) {
    RECT window = {}, client = {};
    RunStepped([&](HWND dlg) {
        ASSERT_NE(nullptr, hdcDisplay);
        ExpectPlot({}, "start-up");
        GetWindowRect(hwndDisplay, &window);
        MapWindowPoints(NULL, dlg, reinterpret_cast<POINT*>(&window), 2);
        GetClientRect(hwndDisplay, &client);
    });
    // 500 x 400 at (10, 10) in the dialog; the border leaves a client area of 498 x 398.
    EXPECT_TRUE(SameRect(window, 10, 10, 510, 410)) << Describe(window);
    EXPECT_TRUE(SameRect(client, 0, 0, 498, 398)) << Describe(client);
}

TEST(Plot, PlotPointCentresTheDotByTruncation) {
    struct Case {
        double a, b;
        Dot centre;
        const char* proves;
    };
    const Case cases[] = {
        {0.0, 0.9, {0, 19}, "(1 - 0.9) x 200 is just below 20 and truncates to 19"},
        {1.0, 0.0, {500, 200}, "a dot on the right edge keeps only its left half"},
        {0.5, -0.5, {250, 300}, "below the baseline"},
        {0.0, -1.0, {0, 400}, "bottom-left corner: only a quarter remains"},
    };
    RunStepped([&](HWND dlg) {
        for (const Case& k : cases) {
            OnDialogThread(dlg, [&](HWND) {
                ClearPlot();
                PlotPoint(k.a, k.b);
            });
            ExpectPlot({k.centre}, k.proves);
        }
    });
}

TEST(Plot, FirstSampleClearsEarlierDotsAndIsCentredAt2And188) {
    unsigned samples = 0;
    COLORREF earlier_dot = CLR_INVALID;
    RunStepped([&](HWND dlg) {
        OnDialogThread(dlg, [](HWND) { PlotPoint(0.6, -0.5); });  // a dot at (300, 300) from before
        ASSERT_EQ(kRed, Pixel(300, 300));
        SetDlgItemTextA(dlg, IDC_INTERVAL, "1000");
        SendMessageA(dlg, WM_COMMAND, IDC_DISPLAY, 0);
        ASSERT_TRUE(measure::WaitForCount(dlg, 1));
        SendMessageA(dlg, WM_COMMAND, IDC_DISPLAY, 0);
        ASSERT_TRUE(measure::WaitForWorkerIdle());
        samples = (unsigned)measure::Count(dlg);
        earlier_dot = Pixel(300, 300);
        // Usually one sample; a slow machine may have drawn a second before the stop.
        ASSERT_GE(samples, 1u);
        ASSERT_LE(samples, sizeof kFirstDots / sizeof kFirstDots[0]);
        ExpectPlot(std::vector<Dot>(kFirstDots, kFirstDots + samples), "after the acquisition");
    });
    EXPECT_EQ(kBlack, earlier_dot) << "the dot drawn before the start is gone";
}

TEST(Plot, DotsBeyondTheRightEdgeAreCut) {
    // The worker's arguments for samples 200 to 202: a = n / 200, b = 0.9 sin(2 pi n / 100).
    struct Case {
        double a, b;
        std::vector<Dot> visible;
        const char* proves;
    };
    const Case cases[] = {
        {1.0, -1.93e-7, {{500, 200}}, "sample 200 sits on the right edge: its left half shows"},
        {1.005, 0.0565113, {{502, 188}}, "sample 201: only columns 497 to 499 of the image"},
        {1.01, 0.1127997, {}, "from sample 202 on nothing is drawn"},
    };
    RunStepped([&](HWND dlg) {
        for (const Case& k : cases) {
            OnDialogThread(dlg, [&](HWND) {
                ClearPlot();
                PlotPoint(k.a, k.b);
            });
            ExpectPlot(k.visible, k.proves);
        }
    });
}

TEST(Plot, ADotRepaintsOnlyItsRectangle) {
    struct Case {
        double a, b;
        RECT update;
        const char* proves;
    };
    const Case cases[] = {
        {0.5, 0.5, {245, 95, 255, 105}, "the dot's 10 x 10 box"},
        {1.0, 0.0, {495, 195, 498, 205}, "cut to the client area on the right"},
        {0.0, 0.9, {0, 14, 5, 24}, "cut to the client area on the left"},
    };
    std::vector<RECT> got(sizeof cases / sizeof cases[0]);
    std::vector<BOOL> dirty(got.size());
    RECT after_clear = {};
    RunStepped([&](HWND dlg) {
        OnDialogThread(dlg, [&](HWND) {
            for (size_t i = 0; i < got.size(); ++i) {
                UpdateWindow(hwndDisplay);
                PlotPoint(cases[i].a, cases[i].b);
                dirty[i] = GetUpdateRect(hwndDisplay, &got[i], FALSE);
            }
            UpdateWindow(hwndDisplay);
            ClearPlot();
            GetUpdateRect(hwndDisplay, &after_clear, FALSE);
        });
    });
    for (size_t i = 0; i < got.size(); ++i) {
        const RECT& want = cases[i].update;
        EXPECT_TRUE(dirty[i]) << cases[i].proves;
        EXPECT_TRUE(SameRect(got[i], want.left, want.top, want.right, want.bottom))
            << cases[i].proves << ": " << Describe(got[i]);
    }
    EXPECT_TRUE(SameRect(after_clear, 0, 0, 498, 398))
        << "ClearPlot repaints the whole window: " << Describe(after_clear);
}

// The worker draws a dot every 10 ms while the dialog's thread repaints the whole plot again and
// again. The two take turns with the image: no GDI call is refused (the layer counts any it
// refuses), and after every repaint the window shows the image, except where a dot drawn since
// waits for its own repaint.
TEST(Plot, RepaintsDuringAnAcquisitionShowExactlyTheImage) {
#ifndef _WIN32
    w32::faults::Reset();
    // Each dot lingers in Ellipse with its DC held, so that a repaint that did not wait for its
    // turn would meet it there.
    w32::faults::Every(w32::faults::Call::Ellipse, [](const char*) { Sleep(1); });
#endif
    int repaints = 0, stale = 0, samples = 0;
    RunStepped([&](HWND dlg) {
        SetDlgItemTextA(dlg, IDC_INTERVAL, "10");
        SendMessageA(dlg, WM_COMMAND, IDC_DISPLAY, 0);
        for (DWORD start = GetTickCount();
             measure::Count(dlg) < 100 && GetTickCount() - start < 90000; ++repaints)
            OnDialogThread(dlg, [&](HWND) {
                InvalidateRect(hwndDisplay, NULL, FALSE);
                UpdateWindow(hwndDisplay);
                stale += StalePixels();
            });
        SendMessageA(dlg, WM_COMMAND, IDC_DISPLAY, 0);
        ASSERT_TRUE(measure::WaitForWorkerIdle());
        samples = measure::Count(dlg);
        OnDialogThread(dlg, [&](HWND) {
            UpdateWindow(hwndDisplay);
            stale += StalePixels();
        });
    });
    EXPECT_GE(samples, 100);
    EXPECT_GT(repaints, 20);
    EXPECT_EQ(0, stale) << "pixels, over " << repaints << " repaints";
#ifndef _WIN32
    EXPECT_EQ(0, w32::faults::Calls(w32::faults::Call::DcInUse)) << "GDI calls refused";
    w32::faults::Reset();
#endif
}

LRESULT CALLBACK RefuseCreation(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return message == WM_CREATE ? -1 : DefWindowProcA(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK PlainWindow(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

ATOM Register(const char* name, WNDPROC proc) {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = name;
    return RegisterClassExA(&wc);
}

// A "Display" class already registered (by a window procedure that refuses creation) makes the
// program's registration fail and its window creation fail after it: the failure is logged,
// and ClearPlot, PlotPoint and an acquisition then draw nothing and ask no window to repaint.
TEST(Plot, WithoutItsWindowNothingIsDrawnOrRepainted) {
    ASSERT_NE(0, Register("Display", RefuseCreation));
    ASSERT_NE(0, Register("PlotProbe", PlainWindow));
    std::string log;
    HWND plot = (HWND)1;
    HDC image = (HDC)1;
    BOOL probe_dirty = TRUE;
    unsigned samples = 0;
    RunStepped([&](HWND dlg) {
        log = measure::Log(dlg);
        plot = hwndDisplay;
        image = hdcDisplay;
        // A window that was painted: any repaint request for all windows would show on it.
        OnDialogThread(dlg, [&](HWND) {
            HWND probe = CreateWindowExA(0, "PlotProbe", NULL, WS_CHILD | WS_VISIBLE, 520, 10,
                                         20, 20, dlg, NULL, GetModuleHandleA(NULL), NULL);
            PAINTSTRUCT ps;
            BeginPaint(probe, &ps);
            EndPaint(probe, &ps);
            ClearPlot();
            PlotPoint(0.5, 0.5);
            RECT r;
            probe_dirty = GetUpdateRect(probe, &r, FALSE);
            DestroyWindow(probe);
        });
        // The worker's plot calls must not disturb an acquisition either.
        SetDlgItemTextA(dlg, IDC_INTERVAL, "10");
        measure::Press(dlg, IDC_DISPLAY);
        EXPECT_TRUE(measure::WaitForCount(dlg, 3));
        measure::Press(dlg, IDC_DISPLAY);
        EXPECT_TRUE(measure::WaitForWorkerIdle());
        samples = (unsigned)measure::Count(dlg);
    });
    UnregisterClassA("PlotProbe", GetModuleHandleA(NULL));
    EXPECT_EQ("Error: RegisterClassEx()\r\n", log);
    EXPECT_EQ(nullptr, plot);
    EXPECT_EQ(nullptr, image);
    EXPECT_FALSE(probe_dirty);
    EXPECT_GE(samples, 3u);
}

// Every sample releases the pen and the brush it draws with: the process's count of GDI objects
// stays flat over hundreds of samples.
TEST(Plot, GdiObjectsStayFlatOverHundredsOfSamples) {
    DWORD before = 0, after = 0;
    measure::Run([&](HWND dlg) {
        SetDlgItemTextA(dlg, IDC_INTERVAL, "10");
        measure::Press(dlg, IDC_DISPLAY);
        ASSERT_TRUE(measure::WaitForCount(dlg, 10));
        before = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
        ASSERT_TRUE(measure::WaitForCount(dlg, 310, 60000));
        after = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
        measure::Press(dlg, IDC_DISPLAY);
        ASSERT_TRUE(measure::WaitForWorkerIdle());
    });
#ifdef _WIN32
    // Wine answers 0: it does not count them. Windows does, and so does the Linux layer.
    if (before == 0)
        GTEST_SKIP() << "GetGuiResources does not count GDI objects here";
#endif
    ASSERT_GT(before, 0u);
    // A few may be in use at the moment of either reading (a paint, a dot being drawn).
    EXPECT_LE(after, before + 4) << before << " GDI objects after 10 samples";
}

}  // namespace
