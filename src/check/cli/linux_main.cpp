// clearon-check: the portable parts of ClearonCheck, built natively on Linux
// (lint and report; the preview needs the Windows registry).
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "check/cli/check_cli.h"
#include "check/cli/check_text.h"

namespace {

int RunCheckOnLinux(int argc, char** argv) {
    using namespace clearon::check;
    std::vector<std::wstring> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back(FromUtf8(argv[i]));

    CheckPlatform platform;
    platform.environment = [](std::wstring_view name) -> std::optional<std::wstring> {
        const char* value = std::getenv(ToUtf8(name).c_str());
        if (value == nullptr) return std::nullopt;
        return FromUtf8(value);
    };
    platform.environmentSource =
        L"this process's environment (on Linux it stands in for the workstation's; "
        L"ClearonCheck.exe on Windows reads the real one)";

    const auto write = [](std::wstring& out) {
        const std::string text = ToUtf8(out);
        std::fwrite(text.data(), 1, text.size(), stdout);
        out.clear();
    };
    platform.flush = write;
    std::wstring out;
    // stderr is unbuffered: each message is out as it comes.
    const TextSink err([](std::wstring_view text) {
        const std::string bytes = ToUtf8(text);
        std::fwrite(bytes.data(), 1, bytes.size(), stderr);
    });
    const int status = RunCheck(arguments, platform, out, err);
    write(out);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return RunCheckOnLinux(argc, argv);
    } catch (...) {
        // An escaping exception would end the process with a code no table
        // lists; this one is documented (Linux keeps its low byte, 102).
        const std::string text = clearon::check::ToUtf8(clearon::check::kCheckUnexpectedErrorText);
        std::fwrite(text.data(), 1, text.size(), stderr);
        return clearon::check::kCheckUnexpectedError;
    }
}
