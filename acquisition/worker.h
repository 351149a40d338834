// The acquisition worker: one thread per acquisition, one synthetic sample per tick.
#pragma once

#include <windows.h>

unsigned __stdcall AcquisitionThread(void* arg);
void ReadSeconds(double* seconds);
