#include "log/run_log.h"

#include "log/log_texts.h"
#include "text/wide_string.h"

namespace clearon {

std::wstring DosPathOf(std::wstring_view finalPath) {
    constexpr std::wstring_view kUncPrefix = L"\\\\?\\UNC\\";
    constexpr std::wstring_view kLocalPrefix = L"\\\\?\\";
    if (finalPath.starts_with(kUncPrefix)) {
        return L"\\\\" + std::wstring(finalPath.substr(kUncPrefix.size()));
    }
    if (finalPath.starts_with(kLocalPrefix))
        return std::wstring(finalPath.substr(kLocalPrefix.size()));
    return std::wstring(finalPath);
}

void RunLogWriter::Hold() {
    if (held_) return;
    std::wstring finalPath;
    const LogOpen outcome = files_.OpenRunLog(finalPath);
    if (outcome == LogOpen::Opened) {
        held_ = true;
        return;
    }
    NoteRefusal(outcome, finalPath);
}

bool RunLogWriter::WriteHeld(std::wstring_view entry) {
    if (files_.WriteRunLog(entry)) return true;
    // A network volume drops its handles when the connection is renewed;
    // one fresh open per run is worth a try. A local failure (a full disk)
    // is not mended by opening again.
    if (reopened_ || !files_.RunLogOnNetwork()) return false;
    reopened_ = true;
    files_.CloseRunLog();
    std::wstring finalPath;
    const LogOpen outcome = files_.OpenRunLog(finalPath);
    if (outcome != LogOpen::Opened) {
        held_ = false;
        NoteRefusal(outcome, finalPath);
        return false;
    }
    return files_.WriteRunLog(entry);
}

bool RunLogWriter::WriteWithShortOpen(std::wstring_view entry) {
    std::wstring finalPath;
    const LogOpen outcome = files_.OpenRunLog(finalPath);
    if (outcome != LogOpen::Opened) {
        NoteRefusal(outcome, finalPath);
        return false;
    }
    const bool written = files_.WriteRunLog(entry);
    files_.CloseRunLog();
    if (!written) ++unwritten_;
    return written;
}

void RunLogWriter::NoteRefusal(LogOpen outcome, const std::wstring& finalPath) {
    if (outcome != LogOpen::Refused && outcome != LogOpen::Moved) return;
    if (refusalLogged_) return;
    refusalLogged_ = true;
    std::wstring line = files_.Timestamp();
    if (outcome == LogOpen::Refused) {
        line += kLogRefusedLinkedLog;
    } else {
        line += kLogRefusedMovedLog;
        line += VisibleText(finalPath);
        line += kLogRefusedMovedLogEnd;
    }
    (void)files_.AppendToErrorLog(line);
}

void RunLogWriter::Append(std::wstring_view entry, bool runLogHasPath) {
    if (runLogHasPath) {
        if (held_) {
            if (WriteHeld(entry)) return;
            ++unwritten_;
        } else if (WriteWithShortOpen(entry)) {
            return;
        }
    }
    (void)files_.AppendToErrorLog(entry);
}

}  // namespace clearon
