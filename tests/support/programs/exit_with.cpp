// A tiny program for the harness's own check: exits with the number given.
#include <cstdlib>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    return argc > 1 ? static_cast<int>(std::wcstol(argv[1], nullptr, 10)) : 0;
}
