// ClearonCheck.exe: the administrator's console companion to Clearon.exe.
// Wires the Windows parts (preview, deploy, folder rights) into RunCheck and
// prints what it answers with CR LF line ends: UTF-16 on a console, UTF-8 in
// a file or pipe.
#include <windows.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "check/cli/check_cli.h"
#include "check/cli/check_text.h"
#include "check/deploy/deploy.h"
#include "check/preview/removal_preview.h"
#include "platform/platform_info.h"
#include "platform/windows_security.h"
#include "removal/program_rights.h"

namespace clearon::check {
namespace {

// Every line end goes out as exactly CR LF: a line feed alone gets its
// carriage return, one that has it (the CSV rows) is left alone. Callers
// hand whole lines, so a CR LF is never split between two writes.
[[nodiscard]] std::wstring WithCrLf(std::wstring_view text) {
    std::wstring windows;
    windows.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) windows.push_back(L'\r');
        windows.push_back(text[i]);
    }
    return windows;
}

// Writes straight to the standard handle, without the C runtime's buffer,
// so each piece is out before the next step begins. A console gets UTF-16
// through WriteConsoleW: no code page is involved, so the console is left as
// it was found (a SetConsoleOutputCP would outlive this process in the
// administrator's window). A file or pipe gets UTF-8 bytes.
void WriteStandard(DWORD which, std::wstring_view text) {
    const HANDLE handle = GetStdHandle(which);
    // Started without standard handles (a GUI parent): nowhere to write.
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || text.empty()) return;
    const std::wstring lines = WithCrLf(text);
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        // Pieces of a bounded size (older consoles refuse very long writes),
        // never ending between the two halves of a surrogate pair.
        constexpr std::size_t kPiece = 8192;
        for (std::size_t at = 0; at < lines.size();) {
            std::size_t count = std::min(kPiece, lines.size() - at);
            if (at + count < lines.size() && lines[at + count - 1] >= 0xD800 &&
                lines[at + count - 1] <= 0xDBFF) {
                --count;
            }
            DWORD written = 0;
            if (!WriteConsoleW(handle, lines.data() + at, static_cast<DWORD>(count), &written,
                               nullptr) ||
                written == 0) {
                return;
            }
            at += written;
        }
        return;
    }
    const std::string bytes = ToUtf8(lines);
    for (std::size_t at = 0; at < bytes.size();) {
        DWORD written = 0;
        const DWORD count = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - at, 1u << 20));
        if (!WriteFile(handle, bytes.data() + at, count, &written, nullptr) || written == 0) return;
        at += written;
    }
}

}  // namespace
}  // namespace clearon::check

namespace {

int RunCheckOnWindows(int argc, wchar_t** argv) {
    using namespace clearon::check;
    std::vector<std::wstring> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);

    CheckPlatform platform;
    platform.environment = [](std::wstring_view name) {
        return clearon::EnvironmentVariable(name);
    };
    platform.environmentSource = L"this computer's environment (as ClearonCheck sees it)";
    platform.preview = PreviewOnThisMachine;
    platform.deploy = DeployOnThisMachine;
    platform.folderChangeableByOthers = [](const std::wstring& folder,
                                           const clearon::Settings& settings) {
        clearon::WindowsSecurityReader reader;
        const clearon::TrustedWriters trusted{clearon::CurrentAccountSid(),
                                              settings.AllowedWriterSids};
        const std::optional<clearon::RightsFinding> finding =
            clearon::CheckProgramRights(folder, reader, trusted, clearon::RightsRole::Folder);
        return finding ? std::optional<std::wstring>(clearon::DescribeFinding(*finding))
                       : std::nullopt;
    };
    const wchar_t* raw = GetCommandLineW();
    if (raw != nullptr) platform.rawCommandLine = raw;

    // Report rows are handed on whole, so a chunk never splits a CR LF.
    platform.flush = [](std::wstring& text) {
        WriteStandard(STD_OUTPUT_HANDLE, text);
        text.clear();
    };
    std::wstring out;
    const TextSink err([](std::wstring_view text) { WriteStandard(STD_ERROR_HANDLE, text); });
    const int status = RunCheck(arguments, platform, out, err);
    WriteStandard(STD_OUTPUT_HANDLE, out);
    return status;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    try {
        return RunCheckOnWindows(argc, argv);
    } catch (...) {
        // An escaping exception would end the process with a code no table
        // lists; this one is documented. Its message is a courtesy: the code
        // must come out even when writing fails again.
        using namespace clearon::check;
        try {
            WriteStandard(STD_ERROR_HANDLE, kCheckUnexpectedErrorText);
        } catch (...) {
        }
        return kCheckUnexpectedError;
    }
}
