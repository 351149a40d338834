// The plot window: a child of the dialog that shows an off-screen 500 x 400 image.
#pragma once

#include <windows.h>

extern HWND hwndDisplay;
extern HDC hdcDisplay;
// Held by whoever draws into hdcDisplay or copies from it.
extern CRITICAL_SECTION csDisplay;

void CreateDisplayWindow();
void ClearPlot();
void PlotPoint(double a, double b);
