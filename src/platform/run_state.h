// What this process knows about itself and its windows, shared by the entry,
// the log writer, the dialogs and the worker. The settings, the configuration
// text and the removal's counters are kept above, in the start-up
// (startup/run_context.h), and handed down from there.
//
// There are no locks: everything the worker reads is written before the
// worker thread exists, and what the run writes is used on the worker thread
// only, until the main thread sees the worker's handle signalled.
#pragma once

#include <windows.h>

#include <string>

#include "platform/handles.h"

namespace clearon {

struct RunState {
    HINSTANCE instanceHandle = nullptr;
    std::wstring savedArguments;
    std::wstring exeDirectory;
    std::wstring systemDirectory;
    std::wstring wow64SystemDirectory;
    bool is64BitSystem = false;
    bool consoleMode = false;
    bool resumedStart = false;
    // Decided once at start (IsWindowStationVisible); handed on from there.
    bool personCanSee = true;
    // Whether the run log is written at all (the EnableLogging setting, as
    // the start-up read it), and where (empty: the error log beside the
    // executable).
    bool loggingEnabled = true;
    std::wstring logFilePath;
    HWND mainWindow = nullptr;
    UniqueThread workerThread;
    int startResult = 0;
};

// One instance, for the life of the process.
inline RunState g_runState;

}  // namespace clearon
