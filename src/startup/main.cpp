// The process entry: a GUI-subsystem program that never opens a console of
// its own. Everything happens in RunClearon.
#include <windows.h>

#include "startup/entry.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR arguments, int) {
    return clearon::RunClearon(instance, arguments);
}
