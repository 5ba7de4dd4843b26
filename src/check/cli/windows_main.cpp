// ClearonCheck.exe: the administrator's console companion to Clearon.exe.
// It reads, never writes: the preview walks the registry through a
// read-only wrapper and runs nothing.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "check/cli/check_cli.h"
#include "check/cli/check_json.h"
#include "check/cli/check_text.h"
#include "check/deploy/deploy.h"
#include "check/preview/read_only_registry.h"
#include "log/log_format.h"
#include "check/preview/removal_preview.h"
#include "platform/windows_registry.h"
#include "platform/windows_security.h"
#include "removal/program_rights.h"
#include "platform/platform_info.h"

namespace clearon::check {
namespace {

[[nodiscard]] bool IsRelative(std::wstring_view path) noexcept {
    const bool drive = path.size() >= 2 && path[1] == L':';
    const bool rooted = !path.empty() && (path[0] == L'\\' || path[0] == L'/');
    return !drive && !rooted;
}

// As the program runner asks: an existing file, not a folder. Clearon's
// current directory is its own folder (the 32-bit system folder while a
// 32-bit product's command runs), so relative paths are taken from there.
[[nodiscard]] bool ExistingFile(std::wstring_view path, const std::wstring& base) {
    std::wstring full(path);
    if (IsRelative(path) && !base.empty()) full = base + L"\\" + full;
    const DWORD attributes = GetFileAttributesW(full.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

int PreviewOnThisMachine(const std::filesystem::path& iniPath, std::wstring_view configText,
                         std::wstring_view savedArguments, bool json, std::wstring& out,
                         std::wstring& err) {
    std::error_code error;
    const std::wstring folder = std::filesystem::absolute(iniPath, error).parent_path().wstring();

    PreviewOptions options;
    options.is64BitSystem = Is64BitWindows();
    options.systemDirectory = SystemDirectory();
    if (options.is64BitSystem) options.wow64SystemDirectory = Wow64SystemDirectory();
    options.savedArguments = savedArguments;
    options.fileExists = [&](std::wstring_view path, bool view32Bit) {
        return ExistingFile(path, view32Bit ? options.wow64SystemDirectory : folder);
    };
    // Read as Clearon reads it: 255 characters, a longer value as undefined.
    options.environmentVariable = [](std::wstring_view name) {
        return clearon::EnvironmentVariable(name);
    };

    options.exeDirectory = folder;
    options.windowsDirectory = WindowsDirectory();
    options.pathVariable = clearon::EnvironmentVariableOfAnyLength(L"PATH");
    WindowsSecurityReader rights;
    options.rights = &rights;
    options.runningAccount = CurrentAccountSid();

    ReadOnlyRegistry registry(SystemRegistry());
    const PreviewResult result = PreviewRemoval(registry, configText, options);
    int status = RemovalsInPreview(result) > 0 ? 1 : 0;
    if (registry.refusedWrites() > 0) {
        err += L"error: " + std::to_wstring(registry.refusedWrites()) +
               L" registry write(s) were asked for and refused\n";
        status = kPreviewFault;
    }
    if (json) {
        out += PreviewJson(iniPath.wstring(), result, status);
    } else {
        out += L"Previewing " + iniPath.wstring() + L"\n";
        out += FormatPreview(result, options);
    }
    return status;
}

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
