// The data file: a header line and one tab-separated record per sample of a recording.
#pragma once

// "C:\data\" + a base name of up to 99 characters + ".dat", with room to spare.
#define DATA_PATH_SIZE 128

// The first line of every data file.
#define DATA_HEADER "Number\tTime(s)\tX_Data\tY_Data\r\n"

extern char dataFileName[DATA_PATH_SIZE];

// mode 0: starts a new data file named from the file-name field, with `text` as its first line;
// mode 1: appends `text` to the current data file. A line that cannot be written is reported
// when the loss begins, and the number of lost records when writing succeeds again.
void WriteDataLine(int mode, const char* text);
