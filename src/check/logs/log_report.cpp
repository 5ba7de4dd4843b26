#include "check/logs/log_report.h"

#include <algorithm>
#include <functional>
#include <utility>

#include "check/cli/check_text.h"
#include "check/logs/run_log_reader.h"
#include "config/settings.h"
#include "text/wide_string.h"

namespace clearon::check {
namespace {

// The display names met in a run, each once, in the order first met. A run
// may meet a quarter of a million products: their characters stand one after
// another in one string and are found again through an open-addressing table
// of indices, so a name costs no allocation of its own and a look-up no chase
// through scattered nodes.
class NameSet {
public:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    // The index of `name`; `added` tells whether it was new.
    std::size_t Add(std::wstring_view name, bool& added) {
        if ((names_ + 1) * 2 > slots_.size()) Grow();
        const std::size_t hash = std::hash<std::wstring_view>{}(name);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
            const std::size_t index = slots_[slot];
            if (index == kNone) {
                slots_[slot] = names_;
                hashes_.push_back(hash);
                ends_.push_back(chars_.size() + name.size());
                chars_.append(name);
                added = true;
                return names_++;
            }
            if (hashes_[index] == hash && Name(index) == name) {
                added = false;
                return index;
            }
        }
    }

    [[nodiscard]] std::wstring_view Name(std::size_t index) const noexcept {
        const std::size_t begin = index == 0 ? 0 : ends_[index - 1];
        return std::wstring_view(chars_).substr(begin, ends_[index] - begin);
    }

    [[nodiscard]] std::size_t size() const noexcept { return names_; }

    // Emptied for the next run. The room is kept for runs of ordinary size;
    // an outsized run gives it back while its row is written.
    void clear() noexcept {
        if (names_ == 0) return;
        if (names_ > 64 * 1024) {
            *this = NameSet();
            return;
        }
        std::fill(slots_.begin(), slots_.end(), kNone);
        hashes_.clear();
        ends_.clear();
        chars_.clear();
        names_ = 0;
    }

private:
    void Grow() {
        slots_.assign(std::max<std::size_t>(64, slots_.size() * 2), kNone);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t index = 0; index < names_; ++index) {
            std::size_t slot = hashes_[index] & mask;
            while (slots_[slot] != kNone) slot = (slot + 1) & mask;
            slots_[slot] = index;
        }
    }

    std::wstring chars_;
    std::vector<std::size_t> ends_;    // where each name ends in chars_
    std::vector<std::size_t> hashes_;  // each name's hash
    std::vector<std::size_t> slots_;   // name indices, kNone where free; a power of two
    std::size_t names_ = 0;
};

class RunReader {
public:
    RunReader(LogFileReport& report, const RunHandler& onRun) : report_(report), onRun_(onRun) {}

    void Line(const LogLine& line) {
        if (line.kind == EntryKind::Blank) return;
        if (line.kind == EntryKind::ComputerName) {
            // After a timestamp: the run that wrote it ended before its message.
            if (!line.timestamp.empty()) ++timestampsWithoutMessage_;
            ComputerLine(line.field);
            return;
        }
        if (!line.timestamp.empty()) {
            ++recognised_;
            Timestamped(line);
            return;
        }
        // A message Clearon reported to the user, logged without timestamp.
        if (inRun_) {
            run_.messages.push_back(line.text);
        } else {
            ++outsideRuns_;
        }
    }

    void Finish(bool cutMidLine) {
        if (cutMidLine) {
            report_.problems.push_back(
                L"the file ends in the middle of a line (partly written, or "
                L"cut)");
        }
        if (timestampsWithoutMessage_ > 0) {
            report_.problems.push_back(std::to_wstring(timestampsWithoutMessage_) +
                                       L" timestamp(s) without their message: a run ended "
                                       L"between the two writes of a line");
        }
        if (outsideRuns_ > 0) {
            report_.problems.push_back(std::to_wstring(outsideRuns_) +
                                       L" line(s) stand before the first run");
        }
        report_.isClearonLog = recognised_ > 0;
    }

private:
    void ComputerLine(std::wstring_view name) {
        ++recognised_;
        StartRun();
        run_.computer = name;
        awaitingStart_ = true;
    }

    void StartRun() {
        // The run before it is not the last: it goes out now.
        if (closed_) {
            onRun_(report_, *closed_, false);
            closed_.reset();
        }
        run_ = LogRun{};
        inRun_ = true;
        products_.clear();
        outcomes_.clear();
        declined_.clear();
        hasPending_ = false;
        pendingProgram_.reset();
    }

    // Every timestamped line, by its kind.
    void Timestamped(const LogLine& line) {
        if (line.kind == EntryKind::Starting) {
            if (!inRun_ || !awaitingStart_) StartRun();
            run_.start = line.timestamp;
            awaitingStart_ = false;
            return;
        }
        awaitingStart_ = false;
        if (!inRun_) {
            ++outsideRuns_;
            return;
        }
        LogRun& run = run_;
        switch (line.kind) {
            case EntryKind::Stopping:
                run.stop = line.timestamp;
                run.stopped = true;
                break;
            case EntryKind::Removing:
                ConcludePending();
                pendingProduct_ = Product(line.field);
                hasPending_ = true;
                pendingProgram_.reset();
                break;
            case EntryKind::FailedToRemove:
                Failure(line.field);
                break;
            case EntryKind::UserDeclined: {
                bool added = false;
                declined_.Add(line.field, added);
                if (added) run.declined.emplace_back(line.field);
                break;
            }
            case EntryKind::AttemptingToRun:
                Program(line.field, ProgramRun::Status::Running);
                break;
            case EntryKind::ExitCode:
                if (ProgramRun* program = Unfinished()) {
                    program->status = ProgramRun::Status::Exited;
                    program->exitCode = line.field;
                }
                break;
            case EntryKind::FailedToLaunch:
                if (ProgramRun* program = Unfinished())
                    program->status = ProgramRun::Status::FailedToLaunch;
                break;
            case EntryKind::CommandTooLong:
                Program(line.field, ProgramRun::Status::Refused);
                break;
            case EntryKind::ProgramNotFound:
                Program(line.field, ProgramRun::Status::NotFound);
                break;
            case EntryKind::ProgramLookedUp:
                lookedUp_ = true;
                break;
            case EntryKind::ProgramNotInSafeFolders:
                lookedUp_ = true;
                Program(line.field, ProgramRun::Status::NotInSafeFolders);
                break;
            case EntryKind::ProgramUserWritable:
                Program(line.field, ProgramRun::Status::UserWritable);
                break;
            case EntryKind::WorkerNotStarted:
                // Written like any other entry since it got its timestamp:
                // still the message that says why nothing ran.
                run.messages.push_back(TrimBlanks(line.message));
                break;
            case EntryKind::AegiraNotInstalled:
                run.aegira = AegiraState::NotInstalled;
                break;
            case EntryKind::AegiraInstalled:
                run.aegira = AegiraState::Installed;
                run.aegiraVersion = line.field;
                break;
            case EntryKind::RestartRegistered:
                run.restartRequested = true;
                break;
            case EntryKind::RestartNotRegistered:
                run.restartRegistrationFailed = true;
                break;
            default:
                break;
        }
    }

    // A program run or refused. The first after a " Removing: " line is that
    // product's uninstaller, even when it was refused: the program after it
    // (another product's, or Aegira's installer) is not.
    void Program(std::wstring_view commandLine, ProgramRun::Status status) {
        LogRun& run = run_;
        run.programs.push_back({std::wstring(commandLine), status, {}, false, lookedUp_});
        lookedUp_ = false;
        if (hasPending_ && !pendingProgram_) {
            pendingProgram_ = run.programs.size() - 1;
            run.programs.back().uninstaller = true;
        }
    }

    // The last program that has no outcome yet.
    [[nodiscard]] ProgramRun* Unfinished() {
        if (!inRun_ || run_.programs.empty()) return nullptr;
        ProgramRun& last = run_.programs.back();
        return last.status == ProgramRun::Status::Running ? &last : nullptr;
    }

    // The index of a product met in this run.
    std::size_t Product(std::wstring_view name) {
        bool added = false;
        const std::size_t product = products_.Add(name, added);
        if (added) outcomes_.emplace_back();
        return product;
    }

    // Two attempts ran the same uninstaller: the same entry, or another
    // registration of the same product, which that uninstaller removes with
    // it. Attempts without one (a command too long, no answer, programs
    // stopped) are alike only among themselves.
    [[nodiscard]] bool SameUninstaller(std::size_t a, std::size_t b) const {
        if (a == NameSet::kNone || b == NameSet::kNone) return a == b;
        return run_.programs[a].commandLine == run_.programs[b].commandLine;
    }

    // " Failed to remove ": the entry stayed. When it ends the attempt under
    // way, it is that attempt's uninstaller that failed.
    void Failure(std::wstring_view name) {
        const bool pending = hasPending_ && products_.Name(pendingProduct_) == name;
        if (!pending) ConcludePending();  // that attempt ended without a failure
        const std::size_t product = pending ? pendingProduct_ : Product(name);
        FailedAttempt failure;
        if (pending && pendingProgram_) {
            failure.uninstaller = *pendingProgram_;
            for (std::size_t i = run_.programs.size(); i-- > *pendingProgram_;) {
                if (run_.programs[i].status == ProgramRun::Status::Exited) {
                    failure.exitProgram = i;
                    break;
                }
            }
        }
        hasPending_ = false;
        pendingProgram_.reset();
        std::vector<FailedAttempt>& standing = outcomes_[product].standing;
        std::erase_if(standing, [&](const FailedAttempt& earlier) {
            return SameUninstaller(earlier.uninstaller, failure.uninstaller);
        });
        standing.push_back(failure);
    }

    // The attempt under way ended without " Failed to remove ": its entry is
    // gone. Clearon takes a failure of that name back only when the entry
    // that failed is gone too, so only failures of the same uninstaller are
    // taken back; another entry of the same name that stayed still counts.
    void ConcludePending() {
        if (!hasPending_) return;
        const std::size_t uninstaller = pendingProgram_ ? *pendingProgram_ : NameSet::kNone;
        std::erase_if(outcomes_[pendingProduct_].standing, [&](const FailedAttempt& failure) {
            return SameUninstaller(failure.uninstaller, uninstaller);
        });
        hasPending_ = false;
        pendingProgram_.reset();
    }

public:
    // Called whenever a run is complete (the next begins, or the file ends).
    void CloseCurrent() {
        if (!inRun_) return;
        LogRun& run = run_;
        // The log ends before the verdict of the attempt under way, and its
        // uninstaller did not run to an exit code (still running, refused, or
        // never started): nobody knows whether that entry was removed.
        // Otherwise the attempt ended without a failure.
        std::size_t interruptedProduct = NameSet::kNone;
        if (hasPending_ && !run.stopped &&
            (!pendingProgram_ ||
             run.programs[*pendingProgram_].status != ProgramRun::Status::Exited)) {
            const std::size_t uninstaller = pendingProgram_ ? *pendingProgram_ : NameSet::kNone;
            const auto& standing = outcomes_[pendingProduct_].standing;
            // Another entry of the name that stayed settles it: stayed.
            if (std::all_of(standing.begin(), standing.end(), [&](const FailedAttempt& failure) {
                    return SameUninstaller(failure.uninstaller, uninstaller);
                })) {
                interruptedProduct = pendingProduct_;
            }
        } else {
            ConcludePending();
        }
        const auto removedCount = static_cast<std::size_t>(
            std::count_if(outcomes_.begin(), outcomes_.end(),
                          [](const ProductOutcome& o) { return o.standing.empty(); }));
        run.removed.reserve(removedCount);
        run.failed.reserve(outcomes_.size() - removedCount);
        run.failedExitCodes.reserve(outcomes_.size() - removedCount);
        for (std::size_t product = 0; product < outcomes_.size(); ++product) {
            const ProductOutcome& outcome = outcomes_[product];
            const bool interrupted = product == interruptedProduct;
            const bool removed = outcome.standing.empty();
            if (!interrupted && !removed) {
                const std::size_t program = outcome.standing.back().exitProgram;
                run.failedExitCodes.emplace_back(
                    program == NameSet::kNone ? std::wstring() : run.programs[program].exitCode);
            }
            (interrupted ? run.interrupted
             : removed   ? run.removed
                         : run.failed)
                .emplace_back(products_.Name(product));
        }
        products_.clear();
        outcomes_.clear();
        declined_.clear();
        closed_ = std::move(run_);
        inRun_ = false;
    }

    // The last run, once the file's problems are known.
    void HandOverLast() {
        if (closed_) onRun_(report_, *closed_, true);
        closed_.reset();
    }

    void BeforeLine(const LogLine& line) {
        // A new run closes the one before it.
        if (line.kind == EntryKind::ComputerName ||
            (line.kind == EntryKind::Starting && !awaitingStart_))
            CloseCurrent();
    }

private:
    LogFileReport& report_;
    const RunHandler& onRun_;
    LogRun run_;  // the run being read, when inRun_
    bool inRun_ = false;
    std::optional<LogRun> closed_;  // read to its end, not yet handed over
    bool awaitingStart_ = false;
    std::size_t recognised_ = 0;
    std::size_t outsideRuns_ = 0;
    std::size_t timestampsWithoutMessage_ = 0;
    // One " Failed to remove " that still stands. Programs keep their place
    // and their exit code in a run, so both are indices into its programs.
    struct FailedAttempt {
        std::size_t uninstaller = NameSet::kNone;  // the attempt's uninstaller
        std::size_t exitProgram = NameSet::kNone;  // the last program of it with an exit code
    };
    struct ProductOutcome {
        // Empty for most products, and then without an allocation: removed.
        std::vector<FailedAttempt> standing;
    };
    NameSet products_;                      // every product met, in order...
    std::vector<ProductOutcome> outcomes_;  // ...and its outcome, by the same index
    NameSet declined_;
    std::size_t pendingProduct_ = 0;  // the last " Removing: " product, when hasPending_
    bool hasPending_ = false;
    std::optional<std::size_t> pendingProgram_;  // ...and its uninstaller
    bool lookedUp_ = false;                      // the next program was named without a folder
};

}  // namespace

void TextList::push_back(std::wstring_view text) {
    // A text may run on into the next block: ForEach joins them.
    constexpr std::size_t kBlockUnits = 256 * 1024;
    for (std::size_t at = 0; at <= text.size(); ++at) {
        if (blocks_.empty() || blocks_.back().size() == kBlockUnits) {
            blocks_.emplace_back();
            blocks_.back().reserve(kBlockUnits);
        }
        blocks_.back().push_back(at < text.size() ? static_cast<char16_t>(text[at]) : u'\n');
    }
    ++count_;
}

bool IsRunLogName(std::wstring_view fileName) noexcept {
    return fileName.size() > kLogFilePrefix.size() + kLogFileSuffix.size() &&
           EqualsNoCase(fileName.substr(0, kLogFilePrefix.size()), kLogFilePrefix) &&
           EqualsNoCase(fileName.substr(fileName.size() - kLogFileSuffix.size()), kLogFileSuffix);
}

LogFileReport UnreadableRunLog(std::wstring_view fileName, std::wstring_view why) {
    LogFileReport report;
    report.fileName = fileName;
    report.problems.emplace_back(why);
    return report;
}

LogFileReport ReadRunLog(std::wstring_view fileName, std::span<const std::uint8_t> bytes,
                         const RunHandler& onRun) {
    LogFileReport report;
    report.fileName = fileName;
    if (bytes.empty()) {
        report.problems.push_back(L"the file is empty");
        return report;
    }
    RunLogReader lines(bytes);
    if (lines.oddByteCount()) {
        report.problems.push_back(
            L"an odd number of bytes: the file was cut in the middle of a "
            L"character");
    }
    if (lines.byteOrderMark())
        report.problems.push_back(L"starts with a byte-order mark, which Clearon never writes");

    RunReader reader(report, onRun);
    bool cutMidLine = false;
    LogLine line;
    while (lines.Next(line)) {
        cutMidLine = !line.ended;
        reader.BeforeLine(line);
        reader.Line(line);
    }
    reader.CloseCurrent();
    reader.Finish(cutMidLine);
    if (!report.isClearonLog) {
        // Every run begins with a recognised line: a file that has none has
        // no run to hand over either.
        report.problems.clear();
        report.problems.push_back(
            lines.singleByteText()
                ? L"not a Clearon log: single-byte text (ASCII, ANSI or UTF-8), where Clearon "
                  L"writes UTF-16 LE"
                : L"not a Clearon log: no computer-name or timestamped line in it");
    }
    reader.HandOverLast();
    return report;
}

LogFileReport ReadRunLog(std::wstring_view fileName, std::span<const std::uint8_t> bytes) {
    std::vector<LogRun> runs;
    LogFileReport report = ReadRunLog(
        fileName, bytes,
        [&](const LogFileReport&, LogRun& run, bool) { runs.push_back(std::move(run)); });
    report.runs = std::move(runs);
    return report;
}

}  // namespace clearon::check
