// The acquisition worker: one thread per acquisition, one synthetic sample per tick.
#pragma once

#include <windows.h>

unsigned __stdcall AcquisitionThread(void* arg);
void ReadSeconds(double* seconds);

// Test seam: the number of each acquisition's first sample, 1 in the program. Tests start the
// count close to 2^31 or 2^32 with it, to meet months of samples within seconds.
extern ULONGLONG testSeamFirstSampleNumber;
