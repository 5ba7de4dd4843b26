// Keeping Windows' pending file-rename operations safe while Clearon runs
// its configured programs.
//
// Installers and uninstallers rewrite "PendingFileRenameOperations" as they
// please, and some drop what was there before. So before each configured
// program the list is moved aside into a value of our own, and at the end of
// the run it is merged back behind whatever the programs added. No pending
// operation may be lost on the way: a move that cannot complete leaves its
// source where it is.
#pragma once

#include <optional>
#include <string>
#include <string_view>

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

// The merged list: every string of `source` before every string of
// `destination`, empty strings included, ending with one closing NUL. A list
// whose data lack the closing NUL (or even its last string's terminator) is
// completed first, so that its last string is never cut or joined to the
// next one.
[[nodiscard]] std::wstring MergeMultiStrings(std::wstring_view source,
                                             std::wstring_view destination);

// Moves `source` into `destination` within the Session Manager key, merging
// with a destination of more than one character. A source that is missing,
// empty or one character long is left alone, and then nothing is written.
// The source is deleted only after the destination was written. Returns true
// in every case: a move that could not be done simply leaves the source.
bool MoveMultiStringValue(Registry& registry, std::wstring_view source,
                          std::wstring_view destination);

// Before each configured program: the system's list moves aside.
void SetPendingRenamesAside(Registry& registry);
// At the end of every run: the aside list goes back, merged before what the
// programs added.
void RestorePendingRenames(Registry& registry);

}  // namespace clearon
