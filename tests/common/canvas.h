// A memory DC with a bitmap of its own: tests draw into it, or copy into it what another DC
// holds, and read its pixels back.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

// A memory DC holding a bitmap compatible with the screen, as the plot window makes its image.
struct Canvas {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ initial_bitmap = nullptr;
    int width, height;

    Canvas(int w, int h) : width(w), height(h) {
        HDC screen = GetDC(nullptr);
        dc = CreateCompatibleDC(screen);
        bitmap = CreateCompatibleBitmap(screen, w, h);
        ReleaseDC(nullptr, screen);
        initial_bitmap = SelectObject(dc, bitmap);
        PatBlt(dc, 0, 0, w, h, BLACKNESS);
    }
    ~Canvas() {
        SelectObject(dc, initial_bitmap);
        DeleteDC(dc);
        DeleteObject(bitmap);
    }

    // Every pixel as a COLORREF, top row first.
    std::vector<COLORREF> Pixels() const {
        BITMAPINFO bmi = {};
        bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        bmi.bmiHeader.biWidth = width;
        bmi.bmiHeader.biHeight = -height;
        bmi.bmiHeader.biPlanes = 1;
        bmi.bmiHeader.biBitCount = 32;
        bmi.bmiHeader.biCompression = BI_RGB;
        std::vector<DWORD> raw(static_cast<size_t>(width) * height);
        int lines = GetDIBits(dc, bitmap, 0, height, raw.data(), &bmi, DIB_RGB_COLORS);
        EXPECT_EQ(height, lines);
        std::vector<COLORREF> out(raw.size());
        for (size_t i = 0; i < raw.size(); ++i)  // DIB pixels are B, G, R, 0 in memory
            out[i] = RGB((raw[i] >> 16) & 0xFF, (raw[i] >> 8) & 0xFF, raw[i] & 0xFF);
        return out;
    }
};
