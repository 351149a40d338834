// The data file: opened, appended to and closed again for every line, so that each sample's line
// is with the operating system by the time the sample is done.
#include "recording/datafile.h"

#include <windows.h>

#include <cstdio>

#include "dialogstate/log.h"
#include "recording/claim.h"
#include "recording/fileio.h"
#include "recording/filename.h"

static char dataFileName[DATA_PATH_SIZE];

// Set while lines of the current recording are being lost: the loss is reported once when it
// begins, and each later line is tried once, without the retry's wait, so that a file held open
// for long does not slow every sample down.
static bool dataFileFailed;
// Records lost since the last line that was written.
static ULONGLONG recordsLost;
// The header line is in the file. Until it is, no line of this recording is either, and a record
// starts the file afresh (CREATE_ALWAYS); from then on a line only ever opens the file as it is.
// The header itself comes once per recording, at its first sample.
static bool dataFileStarted;
// Another copy of the program records a file of this name: this recording writes no line of it.
static bool dataFileRefused;

static void LineLost(const char* action, DWORD error, int isRecord) {
    if (!dataFileFailed)
        LogFileError(action, dataFileName, error);
    dataFileFailed = true;
    if (isRecord)
        recordsLost++;
}

// Logs the count of records lost, if any, as writing goes on ("again") or ends ("stopped").
static void ReportRecordsLost(const char* when) {
    if (recordsLost > 0) {
        char cbuf[DATA_PATH_SIZE + 64];
        snprintf(cbuf, sizeof cbuf, "Writing %s %s: %llu records lost", dataFileName, when,
                 (unsigned long long)recordsLost);
        PostLogMessage(cbuf);
    }
    recordsLost = 0;
}

static void LineWritten() {
    ReportRecordsLost("again");
    dataFileFailed = false;
}

void FinishDataFile() { ReportRecordsLost("stopped"); }

void WriteDataLine(int isRecord, const char* text) {
    if (!isRecord) {
        char cbuf[DATA_PATH_SIZE + 32];
        ComposeDataPath(dataFileName, sizeof dataFileName, ".dat");
        snprintf(cbuf, sizeof cbuf, "Save data as %s", dataFileName);
        PostLogMessage(cbuf);
        dataFileFailed = false;
        dataFileStarted = false;
        recordsLost = 0;
        dataFileRefused = !ClaimRecordingNames(dataFileName);
    }
    if (dataFileRefused) {
        LineLost(isRecord ? "write" : "create", ERROR_RECORDED_ELSEWHERE, isRecord);
        return;
    }
    // A file whose header could not be written (held or missing at the start) is created when
    // it can be, so that records never follow an older file's content.
    const char* header = dataFileStarted ? NULL : (isRecord ? DATA_HEADER : text);
    HANDLE hFile =
        OpenForWriting(dataFileName, header ? CREATE_ALWAYS : OPEN_EXISTING, !dataFileFailed);
    if (hFile == INVALID_HANDLE_VALUE) {
        LineLost(header ? "create" : "write", GetLastError(), isRecord);
        return;
    }
    bool written = true;
    if (header) {
        written = AppendText(hFile, header);
        dataFileStarted = written;
    }
    if (written && isRecord)
        written = AppendText(hFile, text);
    DWORD error = GetLastError();
    CloseHandle(hFile);
    if (written)
        LineWritten();
    else
        LineLost("write", error, isRecord);
}
