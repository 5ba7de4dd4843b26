// Resource ids, shared by the resource script and the code.
#pragma once

#define IDD_MAIN 103
#define IDD_NOTICE 135
#define IDI_CLEARON 131
#define IDB_SQUARE 144
// The event message file Clearon writes out (RCDATA, startup/run_event.rc).
#define IDR_EVENT_MESSAGES 300

// Main dialog controls.
#define IDC_START 4
#define IDC_EXIT 5
#define IDC_STATUS 221
// The icon control carries the same number as the icon it shows.
#define IDC_CLEARON_ICON 131
#define IDC_PROGRESS_FRAME 1011
#define IDC_SQUARE_FIRST 1012
// Squares 2 to 24 have the ids 1023 to 1045 (1021 + k).
#define IDC_SQUARE_SECOND 1023
#define IDC_SQUARE_LAST 1045

// Notice dialog controls: OK and Cancel are IDOK and IDCANCEL; the text has
// no id of its own.
#define IDC_NOTICE_TEXT -1
