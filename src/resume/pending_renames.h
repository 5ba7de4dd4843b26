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

// The list holding `pairs`, each string terminated, with the closing NUL;
// empty when there are none.
[[nodiscard]] std::wstring JoinRenamePairs(const std::vector<RenamePair>& pairs);

// The merged list: the pairs of `first`, then those of `second`, never
// shifted, dropped or invented. An empty list adds nothing.
[[nodiscard]] std::wstring MergeMultiStrings(std::wstring_view first, std::wstring_view second);

// Where the moving list's pairs go in the destination.
enum class MovedPairs { BeforeDestination, AfterDestination };

// Moves `source` into `destination` within the Session Manager key, merged
// with what the destination holds, the older operations first: `order` says
// whether the moving ones are the older. A source that is missing or holds
// no pair is left alone, and then nothing is written. The source is deleted
// only after the destination was written. Returns true in every case: a move
// that could not be done simply leaves the source.
bool MoveMultiStringValue(Registry& registry, std::wstring_view source,
                          std::wstring_view destination, MovedPairs order);

// Before each configured program: the system's list moves aside, after what
// was set aside before (it was scheduled later).
void SetPendingRenamesAside(Registry& registry);
// At the end of every run, and when the session ends mid-run: the aside list
// goes back, before what the programs added. Both are serialised with each
// other across threads.
void RestorePendingRenames(Registry& registry);

}  // namespace clearon
