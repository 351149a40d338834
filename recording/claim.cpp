// A claim is a named mutex per file path, owned by the worker that writes the file. Windows
// abandons a mutex whose owner ends in any way (closed, killed, crashed), and the next copy takes
// it, so a claim never outlives its copy.
#include "recording/claim.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "recording/filename.h"

static HANDLE hDataClaim;
static HANDLE hMemoClaim;
// The memo path of a recording that was refused its data file: its memo is not written there.
static char refusedMemoPath[DATA_PATH_SIZE];

// The mutex name of a path. Windows paths ignore letter case and take '/' for '\', and a mutex
// name may not hold a backslash: single-byte letters are folded to upper case and both
// separators become '/'. The bytes of a double-byte character are kept, but for a trail byte that
// is a backslash.
static void ClaimName(const char* path, char* name, size_t size) {
    size_t n = (size_t)snprintf(name, size, "Local\\measure-file:");
    for (const char* p = path; *p && n + 1 < size;) {
        const char* next = CharNextA(p);
        const bool singleByte = next - p == 1;
        for (; p < next && n + 1 < size; p++) {
            char c = *p;
            if (c == '\\')
                c = '/';
            else if (singleByte)
                c = (char)toupper((unsigned char)c);
            name[n++] = c;
        }
    }
    name[n] = '\0';
}

// TRUE with the claim in *hClaim, or with NULL when no claim can be made (the name cannot be
// created): the file is then written as it was before claims existed.
static BOOL Claim(const char* path, HANDLE* hClaim) {
    char name[MAX_PATH];
    ClaimName(path, name, sizeof name);
    *hClaim = NULL;
    HANDLE h = CreateMutexA(NULL, FALSE, name);
    if (h == NULL)
        return TRUE;
    // An abandoned claim is taken like a free one: its copy has ended.
    switch (WaitForSingleObject(h, 0)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:
        *hClaim = h;
        return TRUE;
    case WAIT_TIMEOUT:
        CloseHandle(h);
        SetLastError(ERROR_RECORDED_ELSEWHERE);
        return FALSE;
    }
    CloseHandle(h);
    return TRUE;
}

void ReleaseClaim(HANDLE hClaim) {
    if (hClaim == NULL)
        return;
    ReleaseMutex(hClaim);
    CloseHandle(hClaim);
}

// The memo path of a data path: the same name with .txt for .dat.
static void MemoPathOf(const char* dataPath, char* memoPath, size_t size) {
    size_t n = strlen(dataPath);
    snprintf(memoPath, size, "%.*s.txt", (int)(n >= 4 ? n - 4 : n), dataPath);
}

BOOL ClaimRecordingNames(const char* dataPath) {
    char memoPath[DATA_PATH_SIZE];
    MemoPathOf(dataPath, memoPath, sizeof memoPath);
    if (!Claim(dataPath, &hDataClaim)) {
        snprintf(refusedMemoPath, sizeof refusedMemoPath, "%s", memoPath);
        SetLastError(ERROR_RECORDED_ELSEWHERE);
        return FALSE;
    }
    // The memo's name may be held for a moment by another copy that writes a memo of that name
    // at the end of a display: the recording goes on, and its memo claims the name at the stop.
    Claim(memoPath, &hMemoClaim);
    return TRUE;
}

BOOL ClaimForMemo(const char* path, HANDLE* hClaim) {
    *hClaim = NULL;
    if (refusedMemoPath[0] != '\0') {
        char refused[MAX_PATH], wanted[MAX_PATH];
        ClaimName(refusedMemoPath, refused, sizeof refused);
        ClaimName(path, wanted, sizeof wanted);
        if (strcmp(refused, wanted) == 0) {
            SetLastError(ERROR_RECORDED_ELSEWHERE);
            return FALSE;
        }
    }
    return Claim(path, hClaim);
}

void EndRecordingClaims() {
    ReleaseClaim(hDataClaim);
    ReleaseClaim(hMemoClaim);
    hDataClaim = hMemoClaim = NULL;
    refusedMemoPath[0] = '\0';
}
