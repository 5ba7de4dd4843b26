// ClearonCheck.exe: the administrator's console companion to Clearon.exe.
// It reads, never writes: the preview walks the registry through a
// read-only wrapper and runs nothing.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "check/check_cli.h"
#include "check/check_text.h"
#include "check/read_only_registry.h"
#include "check/removal_preview.h"
#include "platform/windows_registry.h"
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
                         std::wstring_view savedArguments, std::wstring& out) {
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

    ReadOnlyRegistry registry(SystemRegistry());
    const PreviewResult result = PreviewRemoval(registry, configText, options);
    out += L"Previewing " + iniPath.wstring() + L"\n";
    out += FormatPreview(result, options);
    if (registry.refusedWrites() > 0) {
        out += L"error: " + std::to_wstring(registry.refusedWrites()) +
               L" registry write(s) were asked for and refused\n";
        return 1;
    }
    return 0;
}

}  // namespace
}  // namespace clearon::check

int wmain(int argc, wchar_t** argv) {
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

    std::wstring out;
    const int status = RunCheck(arguments, platform, out);
    const std::string text = ToUtf8(out);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    return status;
}
