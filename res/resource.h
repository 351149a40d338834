// Resource and control identifiers of the measurement dialog.
#pragma once

#define IDD_MEASURE 1000

// The program's icon: red dots on a sine over black, as the plot draws them
#define IDI_MEASURE 1

// Command buttons
#define IDC_DISPLAY 100
#define IDC_RECORD 101

// Fields
#define IDC_INTERVAL 103
#define IDC_COUNT 107
#define IDC_ELAPSED 110
#define IDC_FILENAME 113
#define IDC_MEMO 114
#define IDC_LOG 115

// Labels
#define IDC_INTERVAL_LABEL 102
#define IDC_INTERVAL_UNIT 104
#define IDC_COUNT_LABEL 105
#define IDC_ELAPSED_LABEL 108
#define IDC_ELAPSED_UNIT 109
#define IDC_FILENAME_LABEL 111
#define IDC_FILENAME_EXT 112
#define IDC_LOG_LABEL 117
#define IDC_MEMO_LABEL 118
