// ClearonCheck.exe preview: the registry of this machine, walked through a
// read-only wrapper, with the files, folders and rights the run would meet.
#include <windows.h>

#include <filesystem>
#include <string>

#include "check/cli/check_json.h"
#include "check/preview/read_only_registry.h"
#include "check/preview/removal_preview.h"
#include "platform/platform_info.h"
#include "platform/windows_registry.h"
#include "platform/windows_security.h"

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

}  // namespace

int PreviewOnThisMachine(const std::filesystem::path& iniPath, std::wstring_view configText,
                         std::wstring_view savedArguments, bool json, std::wstring& out,
                         TextSink& err) {
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
    const int status = PreviewExitStatus(result, registry.refusedWrites());
    if (registry.refusedWrites() > 0) {
        err += L"error: " + std::to_wstring(registry.refusedWrites()) +
               L" registry write(s) were asked for and refused\n";
    }
    if (json) {
        out += PreviewJson(iniPath.wstring(), result, status);
    } else {
        out += L"Previewing " + iniPath.wstring() + L"\n";
        out += FormatPreview(result, options);
    }
    return status;
}

}  // namespace clearon::check
