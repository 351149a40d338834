// The plot window. Its picture lives in an off-screen 500 x 400 image: drawing goes into the
// image and only marks the changed rectangle invalid; WM_PAINT copies the invalid part to the
// screen. The worker thread draws, the dialog's thread paints. A DC is used by one thread at a
// time (Win32 refuses a call on a DC that another thread is in the middle of using), so the two
// take turns with the image under csDisplay.
#include "plot/plot.h"

#include "dialogstate/dlgmain.h"
#include "dialogstate/log.h"

HWND hwndDisplay;
HDC hdcDisplay;
static HBITMAP hbmDisplay;
CRITICAL_SECTION csDisplay;

namespace {

const int kImageWidth = 500;
const int kImageHeight = 400;
const COLORREF kBaselineColour = RGB(0, 255, 0);
const COLORREF kDotColour = RGB(255, 0, 0);

// Truncates a coordinate toward zero. A centre beyond a million pixels (months of samples) is
// held there: off the image either way, and cx +- 5 stays an int.
int ToPixel(double v) {
    const double kFarOutside = 1.0e6;
    if (!(v >= -kFarOutside))
        return (int)-kFarOutside;
    if (v > kFarOutside)
        return (int)kFarOutside;
    return (int)v;
}

}  // namespace

static void FillDisplayClass(WNDCLASSEXA* wc, WNDPROC proc, HINSTANCE instance, LPCSTR className) {
    wc->cbSize = sizeof(WNDCLASSEXA);
    wc->style = 0;
    wc->lpfnWndProc = proc;
    wc->cbClsExtra = 0;
    wc->cbWndExtra = 0;
    wc->hInstance = instance;
    wc->hIcon = NULL;
    wc->hCursor = NULL;
    wc->hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    wc->lpszMenuName = NULL;
    wc->lpszClassName = className;
    wc->hIconSm = NULL;
}

static LRESULT CALLBACK DisplayWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

void CreateDisplayWindow() {
    // Made with the first plot and kept for the process: a worker may outlive its dialog.
    static bool csDisplayMade = false;
    if (!csDisplayMade) {
        InitializeCriticalSection(&csDisplay);
        csDisplayMade = true;
    }
    WNDCLASSEXA mwndclass;
    HINSTANCE instance = (HINSTANCE)(LONG_PTR)GetWindowLongA(hDlgMain, GWL_HINSTANCE);
    FillDisplayClass(&mwndclass, DisplayWndProc, instance, "Display");
    if (!RegisterClassExA(&mwndclass))
        PostLogMessage("Error: RegisterClassEx()");
    // The thin border takes a pixel on each side: the client area is 498 x 398.
    hwndDisplay = CreateWindowExA(0, "Display", NULL, WS_CHILD | WS_VISIBLE | WS_BORDER, 10, 10,
                                  kImageWidth, kImageHeight, hDlgMain, NULL, instance, NULL);
}

static LRESULT CALLBACK DisplayWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE: {
            hwndDisplay = hwnd;
            HDC hdcScreen = GetDC(NULL);
            hdcDisplay = CreateCompatibleDC(hdcScreen);
            // Compatible with the screen, not with the memory DC, whose initial bitmap would
            // make it monochrome.
            hbmDisplay = CreateCompatibleBitmap(hdcScreen, kImageWidth, kImageHeight);
            SelectObject(hdcDisplay, hbmDisplay);
            PatBlt(hdcDisplay, 0, 0, kImageWidth, kImageHeight, BLACKNESS);
            ReleaseDC(NULL, hdcScreen);
            ClearPlot();
            return 0;
        }
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC hdc = BeginPaint(hwnd, &ps);
            EnterCriticalSection(&csDisplay);
            BitBlt(hdc, ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right - ps.rcPaint.left,
                   ps.rcPaint.bottom - ps.rcPaint.top, hdcDisplay, ps.rcPaint.left,
                   ps.rcPaint.top, SRCCOPY);
            LeaveCriticalSection(&csDisplay);
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_DESTROY: {
            // A worker still running finds no plot from now on rather than deleted handles.
            EnterCriticalSection(&csDisplay);
            HDC hdc = hdcDisplay;
            HBITMAP hbm = hbmDisplay;
            hwndDisplay = NULL;
            hdcDisplay = NULL;
            hbmDisplay = NULL;
            DeleteDC(hdc);
            DeleteObject(hbm);
            LeaveCriticalSection(&csDisplay);
            return DefWindowProcA(hwnd, message, wParam, lParam);
        }
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// Without a plot window (the class failed to register, or the window is gone) ClearPlot and
// PlotPoint draw nothing and repaint nothing: InvalidateRect with no window would repaint every
// window. Each reads the globals under csDisplay, so the window cannot go away meanwhile.
void ClearPlot() {
    EnterCriticalSection(&csDisplay);
    HWND hwnd = hwndDisplay;
    HDC hdc = hdcDisplay;
    if (hwnd != NULL && hdc != NULL) {
        PatBlt(hdc, 0, 0, kImageWidth, kImageHeight, BLACKNESS);
        HPEN hPen = CreatePen(PS_SOLID, 1, kBaselineColour);
        HGDIOBJ hOldPen = SelectObject(hdc, hPen);
        MoveToEx(hdc, 0, kImageHeight / 2, NULL);
        LineTo(hdc, kImageWidth, kImageHeight / 2);
        SelectObject(hdc, hOldPen);
        DeleteObject(hPen);
        InvalidateRect(hwnd, NULL, FALSE);
    }
    LeaveCriticalSection(&csDisplay);
}

// a: 0 at the left edge, 1 at the right; b: 1 at the top, 0 on the baseline, -1 at the bottom.
void PlotPoint(double a, double b) {
    int cx = ToPixel(500.0 * a);
    int cy = ToPixel((1.0 - b) * 200.0);
    EnterCriticalSection(&csDisplay);
    HWND hwnd = hwndDisplay;
    HDC hdc = hdcDisplay;
    if (hwnd != NULL && hdc != NULL) {
        HPEN hPen = CreatePen(PS_SOLID, 1, kDotColour);
        HGDIOBJ hOldPen = SelectObject(hdc, hPen);
        HBRUSH hBrush = CreateSolidBrush(kDotColour);
        HGDIOBJ hOldBrush = SelectObject(hdc, hBrush);
        Ellipse(hdc, cx - 5, cy - 5, cx + 5, cy + 5);
        SelectObject(hdc, hOldPen);
        SelectObject(hdc, hOldBrush);
        DeleteObject(hPen);
        DeleteObject(hBrush);

        RECT rect;
        rect.left = cx - 5;
        rect.top = cy - 5;
        rect.right = cx + 5;
        rect.bottom = cy + 5;
        InvalidateRect(hwnd, &rect, FALSE);
    }
    LeaveCriticalSection(&csDisplay);
}
