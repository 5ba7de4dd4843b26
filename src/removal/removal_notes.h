// What a removal run decides, step by step, as the run tells its host. A host
// that acts (Windows, the host tests' stand-in) ignores these notes; a host
// that records instead of acting (ClearonCheck's preview) builds its account
// of the run from them and from the host calls that follow, so the preview
// can never take a decision the run does not take.
//
// Every UninstallProduct call is announced first: by the candidate it removes
// (OnCandidate with CandidateVerdict::Removes), by a McAfee command, or by
// Proventia Desktop's remover. Its OnUninstall answers the latest
// announcement not yet answered: a candidate's McAfee commands are announced
// and answered between the candidate's announcement and its own command.
// Every RunProgram belongs to the last program line, OnUninstall or
// OnAgentRemover noted before it.
#pragma once

#include <cstddef>
#include <string_view>

namespace clearon {

struct McAfeeCommand;  // mcafee_remover.h

enum class ProgramLineVerdict {
    LineTooLong,       // longer than the line buffer: skipped and logged
    NoCommand,         // nothing after the "=": skipped
    InstallerTooLong,  // Aegira's installer with Clearon's arguments does not fit: not run
    Runs,              // RunProgram follows
};

struct ProgramLineNote {
    std::wstring_view listName;  // kKeyRunBeforeRemoval or kKeyRunAfterRemoval
    std::size_t line = 0;        // in the configuration, counted from 1
    ProgramLineVerdict verdict = ProgramLineVerdict::Runs;
    std::wstring_view command;  // as the line holds it, without Clearon's arguments
    bool installer = false;     // Aegira's installer
};

enum class CandidateVerdict {
    MakersOwn,       // the maker's own product, RemoveTessaral is off
    NoCommand,       // no uninstall value, and the key name is no product code
    Deferred,        // McAfee SecurityCenter, removed in the final pass
    CommandTooLong,  // the stored command does not fit its value buffer: not run, counted
    Removes,         // UninstallProduct follows (after McAfee's components, if any)
};

// A candidate key whose display name contains the product name.
struct CandidateNote {
    std::wstring_view rootPath;  // the root being scanned, below HKEY_LOCAL_MACHINE
    std::wstring_view key;       // the candidate key, below HKEY_LOCAL_MACHINE
    std::wstring_view subkeyName;
    bool view32Bit = false;  // commands are redirected to the 32-bit system directory
    std::wstring_view displayName;
    CandidateVerdict verdict = CandidateVerdict::Removes;
    // The stored command and the value it came from (empty: the product-code
    // fallback). Not looked up for the maker's own products.
    std::wstring_view command;
    std::wstring_view valueName;
    bool mcAfeeComponents = false;  // McAfee's components are removed first
};

struct ProventiaNote {
    std::wstring_view remover;  // the path of AgentRemove.exe
    bool tooLong = false;       // refused; otherwise the file exists and is removed
};

enum class UninstallVerdict {
    Declined,  // declined earlier in this run: nothing is completed or run
    TooLong,   // the completed command does not fit a command line: not run
    Proceeds,  // asked about if so configured, then run
};

struct UninstallNote {
    std::wstring_view displayName;
    std::wstring_view completedCommand;  // empty when declined
    UninstallVerdict verdict = UninstallVerdict::Proceeds;
};

// The McAfee Agent's own remover, after a command run for a McAfee Agent name.
struct AgentRemoverNote {
    std::wstring_view displayName;
    std::wstring_view command;
    bool fits = true;  // otherwise refused, and nothing runs
};

}  // namespace clearon
