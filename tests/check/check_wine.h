// Shared by ClearonCheck's tests under Wine: running the real
// ClearonCheck.exe from the build folder, reading what it prints, and
// clearing what the real Clearon.exe runs of those tests leave behind.
#pragma once

#include <windows.h>

#include <chrono>
#include <initializer_list>
#include <string>
#include <vector>

#include "support/win/fixture_products.h"
#include "support/win/wine_test_support.h"

namespace clearon::test {

// ClearonCheck.exe, built beside Clearon.exe.
inline std::wstring ClearonCheckPath() {
    return BuiltProgramPath(L"ClearonCheck.exe");
}

// Runs ClearonCheck.exe with `arguments` in `folder`, bounded by a minute.
inline ProcessResult RunClearonCheck(const std::wstring& arguments, const std::wstring& folder) {
    return RunAndWait(L"\"" + ClearonCheckPath() + L"\" " + arguments, folder,
                      std::chrono::seconds(60));
}

// What ClearonCheck printed (UTF-8) as text.
inline std::wstring Widen(const std::string& text) {
    if (text.empty()) return {};
    std::wstring wide(static_cast<std::size_t>(MultiByteToWideChar(
                          CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0)),
                      L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        static_cast<int>(wide.size()));
    return wide;
}

// The rest of every line that begins with `prefix` (anywhere in `text`), up
// to `end`.
inline std::vector<std::wstring> TextsAfter(const std::wstring& text, const std::wstring& prefix,
                                            const std::wstring& end) {
    std::vector<std::wstring> found;
    for (std::size_t at = text.find(prefix); at != std::wstring::npos;
         at = text.find(prefix, at + 1)) {
        const std::size_t start = at + prefix.size();
        found.push_back(text.substr(start, text.find(end, start) - start));
    }
    return found;
}

inline const std::wstring kRunOnceKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

// Removes the scripted products `subkeys`, the Aegira stand-in's key and
// Clearon's resume values: what a run of Clearon.exe may have left.
inline void WipeClearonRun(std::initializer_list<std::wstring> subkeys) {
    for (const std::wstring& subkey : subkeys) {
        DeleteTree(HKEY_LOCAL_MACHINE, ScriptedProductEntry(subkey));
    }
    DeleteTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tessaral");
    DeleteValue(HKEY_CURRENT_USER, kRunOnceKey, L"Clearon");
    DeleteValue(HKEY_LOCAL_MACHINE, kRunOnceKey, L"Clearon");
}

}  // namespace clearon::test
