// The data file: a header line and one tab-separated record per sample of a recording.
#pragma once

// The first line of every data file.
#define DATA_HEADER "Number\tTime(s)\tX_Data\tY_Data\r\n"

// isRecord 0: `text` is the header line, which starts a new data file named from the file-name
// field; isRecord 1: `text` is a record, appended to the current data file. A line that cannot
// be written is reported when the loss begins, and the number of lost records when writing
// succeeds again. A file that another copy of the program records is not touched at all: the
// whole recording's records are lost, and reported so.
void WriteDataLine(int isRecord, const char* text);

// At the end of every acquisition: records still lost (the disk stayed full, the file was
// deleted or kept locked until the stop) are counted in the log, once.
void FinishDataFile();
