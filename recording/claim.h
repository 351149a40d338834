// Claims on the names of the files a recording writes, seen by every copy of the program that
// the user runs: a second copy that would write a claimed file leaves it alone and says so.
#pragma once

#include <windows.h>

// The error of a file that another copy of the program records (bit 29: the program's own code).
#define ERROR_RECORDED_ELSEWHERE 0x20000001

// At the first sample of a recording: claims the data file's path and its memo's (the same name
// with .txt) until EndRecordingClaims. FALSE, with ERROR_RECORDED_ELSEWHERE, when another copy
// records that data file; the recording then writes neither file of the name, not even after the
// other copy ends, as they are the other recording's.
BOOL ClaimRecordingNames(const char* dataPath);

// Before the memo is written: claims `path` for the write, to be given back with ReleaseClaim.
// FALSE, with ERROR_RECORDED_ELSEWHERE, when another copy holds it, or this recording was refused
// that name at its start.
BOOL ClaimForMemo(const char* path, HANDLE* hClaim);
void ReleaseClaim(HANDLE hClaim);

// At the end of every acquisition, after its memo: the recording's claims end.
void EndRecordingClaims();
