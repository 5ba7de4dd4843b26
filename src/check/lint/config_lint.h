// ClearonCheck lint: reads a Clearon.ini exactly as Clearon reads it and says,
// line by line, what Clearon will make of it, and every trap a person would
// not expect (a bare line feed that eats the last character of a line, a
// bracket that ends a section, a value Clearon does not recognise, a key
// found inside a longer one, ...). Pure: the file's bytes in, findings out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/settings.h"

namespace clearon::check {

enum class Severity { Note, Warning, Error };

struct Finding {
    std::size_t line = 0;  // counted from 1; 0 for the whole file
    Severity severity = Severity::Note;
    std::wstring text;
};

// Exit statuses of lint besides Clearon's own refusal codes.
inline constexpr int kLintClean = 0;
inline constexpr int kLintWarnings = 1;

struct LintResult {
    // kLintClean, kLintWarnings, or the exit code with which Clearon itself
    // would refuse the file (2, 13, 30, 38, 110, 223).
    int exitCode = kLintClean;
    std::wstring refusal;  // Clearon's message for a refused file
    std::vector<Finding> findings;
    Settings settings;  // as Clearon reads them (accepted files only)
    bool readAsUtf16 = false;
    std::size_t lineCount = 0;
};

using EnvironmentLookup = std::function<std::optional<std::wstring>(std::wstring_view name)>;

struct LintOptions {
    // The environment LogPath's %NAME% references are expanded in.
    EnvironmentLookup environment;
    // Said with every finding about the environment: where it came from.
    std::wstring environmentSource = L"this computer's environment";
};

// Lints the bytes of a Clearon.ini.
[[nodiscard]] LintResult LintConfigBytes(std::span<const std::uint8_t> bytes,
                                         const LintOptions& options);

// The result for a file Clearon could not even read (missing, not openable,
// unreadable): Clearon's own exit code and message.
[[nodiscard]] LintResult LintRefusedFile(int exitCode, std::wstring_view why);

// The report as printed: one line per finding ("line N: warning: ..."), the
// settings as Clearon reads them and a summary line.
[[nodiscard]] std::wstring FormatLint(const LintResult& result, std::wstring_view path);

// The computer name assumed when the log path's length is judged: NetBIOS
// names have at most 15 characters.
inline constexpr std::size_t kLongestComputerName = 15;

}  // namespace clearon::check
