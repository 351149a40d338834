// The paths of the data and memo files: composed from the file-name field, checked to stay
// inside the data folder.
#include "recording/filename.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "dialogstate/fieldtext.h"
#include "recording/fileio.h"
#include "res/resource.h"

void ComposeDataPath(char* path, size_t size, const char* extension) {
    char name[100];
    GetFieldText(IDC_FILENAME, name, sizeof name);
    // The field gives at most 99 characters; the precision says so to the compiler too.
    snprintf(path, size, "%s%.99s%s", DATA_FOLDER, name, extension);
}

// Whether the step name[0..length) names a device. Windows reads the device name up to the
// first dot, ignoring trailing blanks.
static BOOL IsDeviceName(const char* name, size_t length) {
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL"};
    size_t n = 0;
    while (n < length && name[n] != '.')
        n++;
    while (n > 0 && name[n - 1] == ' ')
        n--;
    char stem[8];
    if (n == 0 || n >= sizeof stem)
        return FALSE;
    for (size_t i = 0; i < n; i++)
        stem[i] = (char)toupper((unsigned char)name[i]);
    stem[n] = '\0';
    for (const char* device : devices)
        if (strcmp(stem, device) == 0)
            return TRUE;
    return n == 4 && (strncmp(stem, "COM", 3) == 0 || strncmp(stem, "LPT", 3) == 0) &&
           stem[3] >= '1' && stem[3] <= '9';
}

BOOL IsSafeDataPath(const char* path) {
    const size_t folder = strlen(DATA_FOLDER);
    if (strncmp(path, DATA_FOLDER, folder) != 0 || strchr(path + folder, ':') != NULL)
        return FALSE;
    // Each step between separators ('/' separates as '\' does).
    for (const char* step = path + folder;;) {
        size_t n = strcspn(step, "\\/");
        if ((n == 2 && strncmp(step, "..", 2) == 0) || IsDeviceName(step, n))
            return FALSE;
        if (step[n] == '\0')
            return TRUE;
        step += n + 1;
    }
}
