// Which Windows the process runs on, decided from the environment without
// <windows.h>: the entry and ClearonCheck ask the same question.
#pragma once

#include <string_view>

namespace clearon {

inline constexpr std::wstring_view kArchitectureVariable = L"PROCESSOR_ARCHITECTURE";
inline constexpr std::wstring_view kArchitectureWow6432Variable = L"PROCESSOR_ARCHITEW6432";
inline constexpr std::wstring_view kAmd64 = L"amd64";

// A 64-bit Windows names AMD64 in PROCESSOR_ARCHITECTURE, or in
// PROCESSOR_ARCHITEW6432 for a 32-bit process; any case, anywhere.
[[nodiscard]] bool IsAmd64Architecture(std::wstring_view architecture,
                                       std::wstring_view architectureWow6432) noexcept;

}  // namespace clearon
