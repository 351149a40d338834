// For the 64-bit test build only: the system header, plus the 32-bit index the program reads
// its instance with (64-bit headers undefine it).
#pragma once
#include_next <windows.h>
#ifndef GWL_HINSTANCE
#define GWL_HINSTANCE (-6)
#endif
