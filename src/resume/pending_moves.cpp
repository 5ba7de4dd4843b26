// The journaled moves of the pending file renames between the system value
// and Clearon's own (pending_renames.h says why and what remains).
#include <algorithm>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "resume/pending_renames.h"

namespace clearon {
namespace {

using Pairs = std::vector<RenamePair>;

// Which way a journaled move goes.
constexpr std::wstring_view kJournalAside = L"Aside";
constexpr std::wstring_view kJournalBack = L"Back";

struct MoveJournal {
    bool aside = true;     // system value -> set-aside value; otherwise back
    Pairs moved;           // the pairs that move
    Pairs before;          // the destination's pairs before the move
    std::wstring witness;  // the boot witness of the move; empty: none
};

std::mutex g_movesLock;

std::vector<std::uint8_t> ToBytes(std::wstring_view characters) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(characters.size() * 2);
    for (wchar_t c : characters) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>((c >> 8) & 0xFF));
    }
    return bytes;
}

Pairs Joined(Pairs first, const Pairs& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// The moved pairs as the system value holds them during a move: followed by
// the deletion of the move's witness, so that a boot that applies them
// removes it.
Pairs Marked(const MoveJournal& journal) {
    Pairs marked = journal.moved;
    if (!journal.witness.empty()) marked.push_back({journal.witness, L""});
    return marked;
}

bool StartsWith(const Pairs& pairs, const Pairs& prefix) {
    return pairs.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), pairs.begin());
}

// Every change is flushed before the next: a power loss must not keep a
// later step of a move and lose an earlier one.
bool Write(Registry& registry, std::wstring_view value, std::wstring_view list) {
    const bool written = registry.SetValue(RegistryRoot::LocalMachine, kSessionManagerKey, value,
                                           kRegMultiSz, ToBytes(list)) == RegistryStatus::Ok;
    registry.Flush(RegistryRoot::LocalMachine, kSessionManagerKey);
    return written;
}

bool Delete(Registry& registry, std::wstring_view value) {
    const RegistryStatus status =
        registry.DeleteValue(RegistryRoot::LocalMachine, kSessionManagerKey, value);
    registry.Flush(RegistryRoot::LocalMachine, kSessionManagerKey);
    return status == RegistryStatus::Ok || status == RegistryStatus::NotFound;
}

// Sets `value` to `pairs`, or deletes it when there are none: a value
// holding no pair must never stay behind.
bool Store(Registry& registry, std::wstring_view value, const Pairs& pairs) {
    return pairs.empty() ? Delete(registry, value) : Write(registry, value, JoinRenamePairs(pairs));
}

// The journal as strings: the direction, the two counts, the pairs, then the
// witness (an empty string when there is none, which a journal of the
// version before simply lacks).
std::wstring EncodeJournal(const MoveJournal& journal) {
    std::wstring text(journal.aside ? kJournalAside : kJournalBack);
    text.push_back(L'\0');
    for (std::size_t count : {journal.moved.size(), journal.before.size()}) {
        text += std::to_wstring(count);
        text.push_back(L'\0');
    }
    for (const Pairs* pairs : {&journal.moved, &journal.before}) {
        for (const RenamePair& pair : *pairs) {
            ((text += pair.source) += L'\0') += pair.target;
            text.push_back(L'\0');
        }
    }
    text += journal.witness;
    text.push_back(L'\0');
    text.push_back(L'\0');
    return text;
}

std::optional<std::size_t> Count(const std::wstring& text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    std::size_t count = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return std::nullopt;
        count = count * 10 + static_cast<std::size_t>(c - L'0');
    }
    return count;
}

// Nothing when the text is not a journal this code wrote.
std::optional<MoveJournal> DecodeJournal(std::wstring_view text) {
    std::vector<std::wstring> strings(1);
    for (wchar_t c : text) {
        if (c == L'\0') {
            strings.emplace_back();
        } else {
            strings.back().push_back(c);
        }
    }
    if (strings.size() < 3 || (strings[0] != kJournalAside && strings[0] != kJournalBack)) {
        return std::nullopt;
    }
    const std::optional<std::size_t> moved = Count(strings[1]);
    const std::optional<std::size_t> before = Count(strings[2]);
    if (!moved || !before || strings.size() < 3 + 2 * (*moved + *before)) return std::nullopt;
    MoveJournal journal{strings[0] == kJournalAside, {}, {}, {}};
    std::size_t at = 3;
    for (Pairs* pairs : {&journal.moved, &journal.before}) {
        for (std::size_t i = 0; i < (pairs == &journal.moved ? *moved : *before); ++i, at += 2) {
            pairs->push_back({strings[at], strings[at + 1]});
        }
    }
    if (at < strings.size()) journal.witness = strings[at];
    return journal;
}

enum class Taken { Yes, NotThere, Failed };

// Replaces `prefix` at the front of the system value with `replacement`. The
// value is read right before it is changed, so pairs another writer added
// after the prefix stay; when it no longer begins with it, nothing changes.
Taken ReplaceInSystem(Registry& registry, const Pairs& prefix, const Pairs& replacement) {
    const ListValue now = ReadListValue(registry, kPendingRenamesValue);
    if (!now.readable) return Taken::Failed;
    const Pairs pairs = HeldPairs(now.text);
    if (!now.present || !StartsWith(pairs, prefix)) return Taken::NotThere;
    return Store(registry, kPendingRenamesValue,
                 Joined(replacement, Pairs(pairs.begin() + prefix.size(), pairs.end())))
               ? Taken::Yes
               : Taken::Failed;
}

// The witness pair has done its work once the move no longer needs it; it
// must not pile up in the machine's list.
bool DropWitnessPair(Registry& registry, const MoveJournal& journal) {
    return journal.witness.empty() ||
           ReplaceInSystem(registry, Marked(journal), journal.moved) != Taken::Failed;
}

// Did a boot apply the system value while it held the moved pairs? Only a
// witness can tell; without one, no.
bool BootAppliedMoved(BootWitness& witness, const MoveJournal& journal) {
    return !journal.witness.empty() && !witness.Exists(journal.witness);
}

// A move that the journal shows under way is finished or undone; then the
// journal and the witnesses go. A journal that cannot be read or removed
// stays for the next start.
void SettleJournal(Registry& registry, BootWitness& witness) {
    const ListValue read = ReadListValue(registry, kPendingRenamesJournalValue);
    if (!read.readable) return;
    const std::optional<MoveJournal> journal =
        read.present ? DecodeJournal(read.text) : std::nullopt;
    if (journal && journal->aside) {
        const ListValue aside = ReadListValue(registry, kPendingRenamesAsideValue);
        if (!aside.readable) return;
        if (HeldPairs(aside.text) == Joined(journal->before, journal->moved)) {
            // Copied aside. A boot that applied them leaves them to nobody
            // else; otherwise the system value must no longer hold them.
            if (BootAppliedMoved(witness, *journal)) {
                if (!Store(registry, kPendingRenamesAsideValue, journal->before)) return;
            } else if (ReplaceInSystem(registry, Marked(*journal), {}) == Taken::Failed) {
                return;
            }
        } else if (!DropWitnessPair(registry, *journal)) {
            // Not copied: the system value still holds them (or a boot
            // applied them), and the set-aside value is as it was.
            return;
        }
    } else if (journal) {
        const ListValue system = ReadListValue(registry, kPendingRenamesValue);
        if (!system.readable) return;
        const Pairs held = HeldPairs(system.text);
        // Put back (and so applied, when a boot took the witness): the
        // set-aside copy goes. Not put back: it stays, and the restore that
        // follows puts it back.
        const bool putBack =
            BootAppliedMoved(witness, *journal) ||
            StartsWith(held, journal->witness.empty() ? Joined(journal->moved, journal->before)
                                                      : Marked(*journal));
        if (putBack &&
            !(Delete(registry, kPendingRenamesAsideValue) && DropWitnessPair(registry, *journal))) {
            return;
        }
    }
    if (read.present && !Delete(registry, kPendingRenamesJournalValue)) return;
    witness.RemoveAll();
}

// Deletes the system value when it still holds exactly `seen`, which holds
// no pair.
void DeleteEmptySystemValue(Registry& registry, const ListValue& seen) {
    if (ReadListValue(registry, kPendingRenamesValue) == seen) {
        static_cast<void>(Delete(registry, kPendingRenamesValue));
    }
}

// Ends a move: the journal goes, then its witness.
void EndMove(Registry& registry, BootWitness& witness) {
    if (Delete(registry, kPendingRenamesJournalValue)) witness.RemoveAll();
}

// Starts a move: a new witness, then the journal that names it. Nothing
// moves when the journal cannot be written.
std::optional<MoveJournal> BeginMove(Registry& registry, BootWitness& witness, bool aside,
                                     const Pairs& moved, const Pairs& before) {
    MoveJournal journal{aside, moved, before, witness.Create().value_or(L"")};
    if (!Write(registry, kPendingRenamesJournalValue, EncodeJournal(journal))) {
        witness.RemoveAll();
        return std::nullopt;
    }
    return journal;
}

void SetAsideLocked(Registry& registry, BootWitness& witness) {
    SettleJournal(registry, witness);
    if (ReadListValue(registry, kPendingRenamesJournalValue).present) return;
    for (int attempt = 0; attempt < kMoveAttempts; ++attempt) {
        const ListValue system = ReadListValue(registry, kPendingRenamesValue);
        if (!system.readable || !system.present) return;
        const Pairs moved = HeldPairs(system.text);
        if (moved.empty()) return DeleteEmptySystemValue(registry, system);
        const ListValue aside = ReadListValue(registry, kPendingRenamesAsideValue);
        // Set-aside pairs that cannot be read would be overwritten: nothing
        // moves.
        if (!aside.readable) return;
        const std::optional<MoveJournal> journal =
            BeginMove(registry, witness, true, moved, HeldPairs(aside.text));
        if (!journal) return;
        // The witness pair goes in before the copy is written, so that a
        // boot between the copy and the take tells whether it ran them.
        const Taken marked = journal->witness.empty()
                                 ? Taken::Yes
                                 : ReplaceInSystem(registry, moved, Marked(*journal));
        const bool copied =
            marked == Taken::Yes && Write(registry, kPendingRenamesAsideValue,
                                          JoinRenamePairs(Joined(journal->before, moved)));
        const Taken taken = copied ? ReplaceInSystem(registry, Marked(*journal), {})
                                   : (marked == Taken::Yes ? Taken::Failed : marked);
        // Not taken (a write failed, or another writer rewrote the value
        // since it was read): the system value keeps what it holds (its
        // witness pair deletes a witness that is gone by then) and the
        // set-aside copy goes again. When even that fails, the journal stays
        // and the next move settles it.
        if (taken != Taken::Yes && !Store(registry, kPendingRenamesAsideValue, journal->before)) {
            return;
        }
        if (taken == Taken::Failed) static_cast<void>(DropWitnessPair(registry, *journal));
        EndMove(registry, witness);
        if (taken != Taken::NotThere) return;
    }
}

void RestoreLocked(Registry& registry, BootWitness& witness) {
    SettleJournal(registry, witness);
    if (ReadListValue(registry, kPendingRenamesJournalValue).present) return;
    const ListValue aside = ReadListValue(registry, kPendingRenamesAsideValue);
    if (!aside.readable || !aside.present) return;
    const Pairs moved = HeldPairs(aside.text);
    if (moved.empty()) {
        static_cast<void>(Delete(registry, kPendingRenamesAsideValue));
        return;
    }
    for (int attempt = 0; attempt < kMoveAttempts; ++attempt) {
        const ListValue system = ReadListValue(registry, kPendingRenamesValue);
        // Operations that cannot be read would be overwritten: nothing moves.
        if (!system.readable) return;
        const std::optional<MoveJournal> journal =
            BeginMove(registry, witness, false, moved, HeldPairs(system.text));
        if (!journal) return;
        if (ReadListValue(registry, kPendingRenamesValue) != system) {
            // Another writer changed it since: plan again on what it holds.
            EndMove(registry, witness);
            continue;
        }
        if (!Write(registry, kPendingRenamesValue,
                   JoinRenamePairs(Joined(Marked(*journal), journal->before)))) {
            EndMove(registry, witness);
            return;
        }
        // A set-aside copy that cannot be deleted keeps the journal, which
        // tells the next move that it is a copy.
        if (Delete(registry, kPendingRenamesAsideValue) && DropWitnessPair(registry, *journal)) {
            EndMove(registry, witness);
        }
        return;
    }
}

}  // namespace

void SetPendingRenamesAside(Registry& registry, BootWitness& witness) {
    const std::lock_guard<std::mutex> lock(g_movesLock);
    SetAsideLocked(registry, witness);
}

void RestorePendingRenames(Registry& registry, BootWitness& witness) {
    const std::lock_guard<std::mutex> lock(g_movesLock);
    RestoreLocked(registry, witness);
}

void RecoverPendingRenames(Registry& registry, BootWitness& witness) {
    RestorePendingRenames(registry, witness);
}

}  // namespace clearon
