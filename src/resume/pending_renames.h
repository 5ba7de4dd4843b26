// Keeping Windows' pending file-rename operations safe while Clearon runs
// its configured programs. The list is a REG_MULTI_SZ of (source, target)
// pairs that Windows applies in order at boot.
//
// Installers and uninstallers rewrite "PendingFileRenameOperations" as they
// please, and some drop what was there before. So before each configured
// program the list is moved aside into a value of our own, and at the end of
// the run it is merged back before whatever the programs added, so the
// operations keep the order in which they were scheduled. No pending
// operation may be lost on the way: a move that cannot complete leaves its
// source where it is.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"
#include "resume/boot_witness.h"

namespace clearon {

inline constexpr std::wstring_view kSessionManagerKey =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\";
inline constexpr std::wstring_view kPendingRenamesValue = L"PendingFileRenameOperations";
inline constexpr std::wstring_view kPendingRenamesAsideValue =
    L"PendingFileRenameOperations_Clearon";

// The first read buffer holds 255 characters; each retry doubles it.
inline constexpr std::size_t kMultiStringFirstReadBytes = 510;
// A read that still does not fit at this size is given up: no real list is
// that long, and an answer of "more data" for ever must not loop for ever.
inline constexpr std::size_t kMultiStringMaxReadBytes = std::size_t{64} * 1024 * 1024;

// Reads the whole value `valueName` of the Session Manager key as counted
// UTF-16 characters (b bytes are b / 2 characters; nothing in them is
// interpreted). Nothing when the key does not open or the value cannot be
// read; an existing value without data reads as the empty text.
[[nodiscard]] std::optional<std::wstring> ReadMultiStringValue(Registry& registry,
                                                               std::wstring_view valueName);

// A value as a move reads it: unreadable (nothing can be said about it),
// missing, or its characters.
struct ListValue {
    bool readable = false;
    bool present = false;
    std::wstring text;
    friend bool operator==(const ListValue&, const ListValue&) = default;
};
[[nodiscard]] ListValue ReadListValue(Registry& registry, std::wstring_view valueName);

// One boot-time operation: `target` empty means "delete source".
struct RenamePair {
    std::wstring source;
    std::wstring target;
    friend bool operator==(const RenamePair&, const RenamePair&) = default;
};

// The pairs of a list as Windows reads them at boot: strings separated by
// NULs, taken two by two; an empty source string ends the list (what follows
// it is never run). A list without its closing NUL, or without its last
// string's terminator, loses nothing: its last string is whole, and a source
// whose target is missing pairs with the empty target that a completed list
// gives it.
[[nodiscard]] std::vector<RenamePair> RenamePairs(std::wstring_view list);

// The pairs a value holds: those of RenamePairs, none in a value of at most
// one character.
[[nodiscard]] std::vector<RenamePair> HeldPairs(std::wstring_view list);

// The list holding `pairs`, each string terminated, with the closing NUL;
// empty when there are none.
[[nodiscard]] std::wstring JoinRenamePairs(const std::vector<RenamePair>& pairs);

// The merged list: the pairs of `first`, then those of `second`, never
// shifted, dropped or invented. An empty list adds nothing.
[[nodiscard]] std::wstring MergeMultiStrings(std::wstring_view first, std::wstring_view second);

// Moves are journaled so that a run cut short at any point can be finished
// or undone by the next start without applying an operation twice. Before
// the list is written to its destination, the journal value records which
// way it moves, the pairs that move and the destination's pairs before the
// move; it goes once the source no longer holds them. A start that finds it
// compares the two values with it: a destination that already holds the
// moved pairs has them taken off the source (compared right before, so pairs
// that others added since stay), one that does not simply keeps its old
// pairs and the source still holds the moved ones.
//
// What no registry order can tell: a restart that falls between the write of
// the destination and the change of the source applies the system value and
// deletes it, with or without the moved pairs. So while the system value
// holds the moved pairs during a move, the deletion of a boot witness
// (boot_witness.h) named in the journal follows them: a witness that is gone
// proves that a boot applied them, and the copy is dropped. Without a witness
// (none could be created) the pairs that were set aside are kept, so nothing
// is lost; they then run a second time only when a restart came in exactly
// that gap. A witness pair stays in the system value only when a write fails
// or another writer rewrote the value mid-move; the boot then deletes a
// witness that is already gone.
inline constexpr std::wstring_view kPendingRenamesJournalValue =
    L"PendingFileRenameOperations_ClearonMove";

// Another writer (an uninstaller tree still running, servicing at shutdown)
// may change the system value at any time; the registry has no
// compare-and-swap. Every write and delete of it is preceded by a fresh read
// and done only when the value is still what the move was planned on;
// otherwise the move is planned again, this many times at most. The gap that
// remains is the one between that read and the write.
inline constexpr int kMoveAttempts = 8;

// Before each configured program: the system's list moves aside, after what
// was set aside before (it was scheduled later). A system value that holds no
// pair (two NULs, an empty source first) is deleted: Windows would append a
// program's new operations after it, where they never run.
void SetPendingRenamesAside(Registry& registry, BootWitness& witness);
// At the end of every run, and when the session ends mid-run: the aside list
// goes back, before what the programs added. Both are serialised with each
// other across threads, and both first finish or undo a move that a run cut
// short left journaled.
void RestorePendingRenames(Registry& registry, BootWitness& witness);
// At the start of every run, before anything else writes: what a run cut
// short left (a journaled move, a set-aside list, in the value names of this
// version and of the one before) is put back into the system value.
void RecoverPendingRenames(Registry& registry, BootWitness& witness);

}  // namespace clearon
