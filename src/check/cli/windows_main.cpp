// ClearonCheck.exe: the administrator's console companion to Clearon.exe.
// Wires the Windows parts (preview, deploy, folder rights) into RunCheck and
// prints what it answers as UTF-8 with CR LF line ends.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "check/cli/check_cli.h"
#include "check/cli/check_text.h"
#include "check/deploy/deploy.h"
#include "check/preview/removal_preview.h"
#include "log/log_format.h"
#include "platform/platform_info.h"
#include "platform/windows_security.h"
#include "removal/program_rights.h"

namespace clearon::check {
namespace {

// The streams are in binary mode, so every line end is written here as
// exactly CR LF: a line feed alone gets its carriage return, one that has it
// (the CSV rows) is left alone. In text mode the C runtime would make CR CR
// LF of the CSV rows in a redirected file.
void WriteAll(std::FILE* stream, const std::wstring& text) {
    std::wstring windows;
    windows.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) windows.push_back(L'\r');
        windows.push_back(text[i]);
    }
    const std::string bytes = ToUtf8(windows);
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::fflush(stream);
}

}  // namespace
}  // namespace clearon::check

namespace {

int RunCheckOnWindows(int argc, wchar_t** argv) {
    using namespace clearon::check;
    // What is printed is UTF-8: display names and paths hold any letter.
    SetConsoleOutputCP(CP_UTF8);
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

    // The C runtime's text mode would turn every LF of a CR LF into CR LF
    // again; what is printed already holds the line ends it means.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    // Report rows are handed on whole, so a chunk never splits a CR LF.
    platform.flush = [](std::wstring& text) {
        WriteAll(stdout, text);
        text.clear();
    };
    std::wstring out;
    std::wstring err;
    const int status = RunCheck(arguments, platform, out, err);
    WriteAll(stdout, out);
    WriteAll(stderr, err);
    return status;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    try {
        return RunCheckOnWindows(argc, argv);
    } catch (...) {
        // An escaping exception would end the process with a code no table
        // lists; this one is documented.
        const std::string text = clearon::check::ToUtf8(clearon::check::kCheckUnexpectedError);
        std::fwrite(text.data(), 1, text.size(), stderr);
        return clearon::kExitUnexpectedError;
    }
}
