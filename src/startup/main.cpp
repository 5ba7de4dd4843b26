// The process entry: a GUI-subsystem program that never opens a console of
// its own. Everything happens in RunClearon.
#include <windows.h>

#include "log/log_format.h"
#include "startup/entry.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR arguments, int) {
    try {
        return clearon::RunClearon(instance, arguments);
    } catch (...) {
        // An exception leaving wWinMain would end the process with a code no
        // table lists; this one is documented.
        clearon::LogUnexpectedEnd();
        return clearon::kExitUnexpectedError;
    }
}
