#include "check/logs/run_log_reader.h"

#include <algorithm>
#include <array>

#include "check/cli/check_text.h"
#include "log/log_format.h"
#include "platform/disk_space.h"
#include "removal/command_line.h"
#include "removal/mcafee_remover.h"
#include "removal/product_discovery.h"
#include "removal/program_path.h"
#include "removal/program_list.h"
#include "removal/removal_run.h"
#include "removal/uninstall_command.h"
#include "resume/reboot_resume.h"

namespace clearon::check {
namespace {

// A log text as it stands in a line: the constants end with the line end
// their writer appends.
[[nodiscard]] constexpr std::wstring_view Bare(std::wstring_view text) noexcept {
    return text.ends_with(kLineEnd) ? text.substr(0, text.size() - kLineEnd.size()) : text;
}

// Looks like single-byte text (ASCII, ANSI, UTF-8) rather than UTF-16 LE: no
// zero byte, where every ASCII character of UTF-16 has one, and printable
// bytes almost throughout.
[[nodiscard]] bool LooksLikeByteText(std::span<const std::uint8_t> bytes) noexcept {
    const std::size_t sample = std::min<std::size_t>(bytes.size(), 4096);
    if (sample < 2) return false;
    std::size_t printable = 0;
    for (std::size_t i = 0; i < sample; ++i) {
        const std::uint8_t b = bytes[i];
        if (b == 0) return false;
        if ((b >= 0x20 && b < 0x7F) || b == '\r' || b == '\n' || b == '\t' || b >= 0x80)
            ++printable;
    }
    return printable * 10 >= sample * 9;
}

struct Shape {
    std::wstring_view text;
    EntryKind kind;
    bool prefix;  // the field follows the text; otherwise the message is the text
};

// In the order they are tried.
constexpr std::array kShapes{
    Shape{Bare(kLogStarting), EntryKind::Starting, false},
    Shape{Bare(kLogStopping), EntryKind::Stopping, false},
    Shape{kLogRemoving, EntryKind::Removing, true},
    Shape{kLogFailedToRemove, EntryKind::FailedToRemove, true},
    Shape{kLogUserDeclined, EntryKind::UserDeclined, true},
    Shape{kLogAttemptingToRun, EntryKind::AttemptingToRun, true},
    Shape{kLogExitCode, EntryKind::ExitCode, true},
    Shape{Bare(kLogFailedToLaunch), EntryKind::FailedToLaunch, false},
    Shape{kLogCommandTooLong, EntryKind::CommandTooLong, true},
    Shape{kLogProgramNotFound, EntryKind::ProgramNotFound, true},
    Shape{kLogProgramLookedUp, EntryKind::ProgramLookedUp, true},
    Shape{kLogProgramNotInSafeFolders, EntryKind::ProgramNotInSafeFolders, true},
    Shape{Bare(kLogAegiraNotInstalled), EntryKind::AegiraNotInstalled, false},
    Shape{Bare(kLogAddedUserRunOnce), EntryKind::RestartRegistered, false},
    Shape{Bare(kLogAddedMachineRunOnce), EntryKind::RestartRegistered, false},
    Shape{Bare(kLogFailedUserRunOnce), EntryKind::RestartNotRegistered, false},
    Shape{Bare(kLogFailedMachineRunOnce), EntryKind::RestartNotRegistered, false},
    Shape{Bare(kLogResumeCommandRefused), EntryKind::RestartNotRegistered, false},
};

// Entries that say what Clearon left out; each begins with its constant text,
// some with more after it.
constexpr std::array kSkipped{
    kLogNotRemoving,
    Bare(kLogProductLineTooLong),
    Bare(kLogProgramLineTooLong),
    kLogInstallerTooLong,
    kLogMcAfeeEmptyBase,
    Bare(kLogUninstallPathTooLong),
    Bare(kLogFreeSpaceUnknown),
};

void ClassifyTimestamped(LogLine& line) noexcept {
    const std::wstring_view message = line.message;
    for (const Shape& shape : kShapes) {
        if (shape.prefix ? message.starts_with(shape.text) : message == shape.text) {
            line.kind = shape.kind;
            if (shape.prefix) line.field = message.substr(shape.text.size());
            return;
        }
    }
    if (message.starts_with(kLogProgramUserWritable)) {
        // "(<who may do what>): <command>"
        line.kind = EntryKind::ProgramUserWritable;
        const std::size_t end = message.find(kLogProgramUserWritableEnd);
        if (end != std::wstring_view::npos)
            line.field = message.substr(end + kLogProgramUserWritableEnd.size());
        return;
    }
    // Since the worker's failure is written like every other entry, it may
    // stand behind a timestamp too.
    if (TrimBlanks(message) == kLogWorkerNotStarted) {
        line.kind = EntryKind::WorkerNotStarted;
        return;
    }
    if (message.starts_with(kLogAegira) && message.ends_with(Bare(kLogIsInstalled))) {
        line.kind = EntryKind::AegiraInstalled;
        // " Aegira is installed." overlaps the two texts: the version is
        // what follows " Aegira ", as it stands.
        const std::wstring_view rest = message.substr(kLogAegira.size());
        const std::size_t suffix = Bare(kLogIsInstalled).size();
        line.field = rest.size() >= suffix ? rest.substr(0, rest.size() - suffix) : rest;
        return;
    }
    for (const std::wstring_view skipped : kSkipped) {
        if (message.starts_with(skipped)) {
            line.kind = EntryKind::Skipped;
            return;
        }
    }
    line.kind = EntryKind::Other;
}

constexpr int kInformation = 1;
constexpr int kWarning = 2;
constexpr int kError = 3;

// A line of no kind this reader knows: the start-up's own notes, which sit
// above this layer, and texts of other versions. Their first words tell.
[[nodiscard]] int GuessSeverity(std::wstring_view message) noexcept {
    constexpr std::array kErrors{kLogFailedToRemove, Bare(kLogFailedToLaunch),
                                 Bare(kLogFailedUserRunOnce), Bare(kLogFailedMachineRunOnce),
                                 Bare(kLogResumeCommandRefused)};
    for (const std::wstring_view prefix : kErrors) {
        if (message.starts_with(prefix)) return kError;
    }
    if (message.starts_with(kLogExitCode)) {
        return message.substr(kLogExitCode.size()) == L"0" ? kInformation : kWarning;
    }
    constexpr std::array kWarnings{kLogUserDeclined,
                                   Bare(kLogAegiraNotInstalled),
                                   std::wstring_view(L" Not "),
                                   std::wstring_view(L" Skipping "),
                                   std::wstring_view(L" Ignored "),
                                   std::wstring_view(L" Could not "),
                                   std::wstring_view(L" The ")};
    for (const std::wstring_view prefix : kWarnings) {
        if (message.starts_with(prefix)) return kWarning;
    }
    return kInformation;
}

}  // namespace

RunLogReader::RunLogReader(std::span<const std::uint8_t> bytes)
    : bytes_(bytes), singleByteText_(LooksLikeByteText(bytes)) {
    if (bytes_.size() >= 2 && (bytes_[0] | (bytes_[1] << 8)) == kByteOrderMark) {
        byteOrderMark_ = true;
        at_ = 2;
    }
}

bool RunLogReader::Next(LogLine& line) {
    const std::size_t end = bytes_.size() & ~std::size_t{1};  // an odd last byte is no character
    if (at_ >= end) return false;
    const std::uint8_t* const data = bytes_.data();
    std::size_t stop = at_;
    while (stop < end && !(data[stop] == '\n' && data[stop + 1] == 0)) stop += 2;
    buffer_.resize((stop - at_) / 2);
    for (std::size_t i = at_, o = 0; i < stop; i += 2, ++o)
        buffer_[o] = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    line.ended = stop < end;
    at_ = line.ended ? stop + 2 : end;
    std::wstring_view text = buffer_;
    if (line.ended && text.ends_with(L'\r')) text.remove_suffix(1);
    line.text = text;
    ClassifyLine(line);
    return true;
}

void ClassifyLine(LogLine& line) noexcept {
    const std::wstring_view text = line.text;
    line.timestamp = {};
    line.message = text;
    line.field = {};
    if (text.empty()) {
        line.kind = EntryKind::Blank;
        return;
    }
    if (text.size() >= kTimestampLength && IsTimestamp(text.substr(0, kTimestampLength))) {
        line.timestamp = text.substr(0, kTimestampLength);
        line.message = text.substr(kTimestampLength);
    }
    if (line.message.starts_with(kLogComputerName)) {
        // After a timestamp: the run that wrote it ended before its message,
        // and the next run's first line follows directly.
        line.kind = EntryKind::ComputerName;
        line.field = line.message.substr(kLogComputerName.size());
        return;
    }
    if (!line.timestamp.empty()) {
        ClassifyTimestamped(line);
        return;
    }
    line.kind = text == kLogWorkerNotStarted ? EntryKind::WorkerNotStarted : EntryKind::UserMessage;
}

int CmTraceSeverity(const LogLine& line) noexcept {
    switch (line.kind) {
        case EntryKind::FailedToRemove:
        case EntryKind::FailedToLaunch:
        case EntryKind::RestartNotRegistered:
            return kError;
        case EntryKind::ExitCode:
            return line.field == L"0" ? kInformation : kWarning;
        case EntryKind::UserDeclined:
        case EntryKind::CommandTooLong:
        case EntryKind::ProgramNotFound:
        case EntryKind::ProgramNotInSafeFolders:
        case EntryKind::ProgramUserWritable:
        case EntryKind::AegiraNotInstalled:
        case EntryKind::Skipped:
        case EntryKind::WorkerNotStarted:
        case EntryKind::UserMessage:
            return kWarning;
        case EntryKind::Other:
            return GuessSeverity(line.message);
        case EntryKind::Blank:
        case EntryKind::ComputerName:
        case EntryKind::Starting:
        case EntryKind::Stopping:
        case EntryKind::Removing:
        case EntryKind::AttemptingToRun:
        case EntryKind::ProgramLookedUp:
        case EntryKind::AegiraInstalled:
        case EntryKind::RestartRegistered:
            break;
    }
    return kInformation;
}

}  // namespace clearon::check
