// The process-wide state shared by the entry, the dialog and the worker.
//
// There are no locks: everything the worker reads is written before the
// worker thread exists, and what the run writes is used on the worker thread
// only, until the main thread sees the worker's handle signalled.
#pragma once

#include <windows.h>

#include <string>

#include "config/settings.h"
#include "removal/removal_state.h"

namespace clearon {

struct RunState : RemovalState {
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
    std::wstring logFilePath;
    HWND mainWindow = nullptr;
    HANDLE workerThread = nullptr;
    DWORD workerThreadId = 0;
    int startResult = 0;
};

// One instance each, for the life of the process.
inline RunState g_runState;
inline Settings g_settings;
// The whole configuration file as text, written once by the loader.
inline std::wstring g_configText;

}  // namespace clearon
