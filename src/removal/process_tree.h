// The process tree of one launched program: which running processes the
// runner must wait for. No Windows calls here; the Windows side hands in
// process snapshots and a way to open a process by its id.
//
// Windows reuses process ids, and an uninstaller's children outlive it (an
// NSIS uninstaller copies itself, starts the copy and ends within
// milliseconds). So a process is adopted by what it is, not by when it was
// first seen: its parent id is the id of a member of the tree, and it was
// created no earlier than that member. Every adopted member stays open until
// the wait is over, ended ones included: a held process keeps its id from
// being handed to a newcomer, so a later process that names a member's id
// as its parent really is that member's child.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace clearon {

// One row of a process snapshot: only these two ids are used.
struct ProcessEntry {
    std::uint32_t processId = 0;
    std::uint32_t parentProcessId = 0;
};

// A process held open by the tracker.
class HeldProcess {
public:
    virtual ~HeldProcess() = default;
    // Creation time in 100-nanosecond units since 1601 (a FILETIME).
    [[nodiscard]] virtual std::uint64_t CreationTime() const noexcept = 0;
    // Has the process ended? Once true, stays true.
    [[nodiscard]] virtual bool HasEnded() noexcept = 0;
};

// Opens the process with the given id, or nothing when it cannot be opened
// (it has ended and nobody holds it, or access is denied).
using OpenProcessFn = std::function<std::unique_ptr<HeldProcess>(std::uint32_t processId)>;

// A process snapshot and the moment it was taken (same units as
// CreationTime); nothing when the snapshot could not be taken.
struct ProcessSnapshot {
    std::vector<ProcessEntry> entries;
    std::uint64_t takenAt = 0;
};
using TakeSnapshotFn = std::function<std::optional<ProcessSnapshot>()>;

struct TreeMember {
    std::uint32_t processId = 0;
    std::unique_ptr<HeldProcess> process;
    bool ended = false;
};

struct ProcessTree {
    // The launched program first, then every adopted descendant in the order
    // adopted. Members are never removed.
    std::vector<TreeMember> treeIds;
    // Snapshot rows already examined and found not to belong (older than the
    // member their parent id names, or not openable). They are not opened
    // again while the same process holds the id; a row whose id is missing
    // from a snapshot is forgotten, since the id may come back on a newcomer.
    std::vector<ProcessEntry> rejected;
    // Consecutive cycles whose snapshot failed (see CheckProcessTree).
    int failedSnapshots = 0;
};

// How many consecutive failed snapshots may hold back the end of a wait
// whose members have all ended: a snapshot is the only way to see a child
// that the last member started just before it ended.
inline constexpr int kMaxFailedSnapshots = 10;

// A tree holding only the launched program.
[[nodiscard]] ProcessTree StartProcessTree(std::uint32_t processId,
                                           std::unique_ptr<HeldProcess> process);

// Adopts every process of `snapshot` whose parent is a member and which was
// created no earlier than that member and no later than the snapshot (a later
// creation time belongs to a newcomer that took the id of a process which
// ended after the snapshot). Walks the snapshot again until a walk adopts
// nothing, since a child may stand before its parent. Returns how many
// processes were adopted.
std::size_t ClassifyNewProcesses(ProcessTree& tree, const ProcessSnapshot& snapshot,
                                 const OpenProcessFn& openProcess);

// Marks the members whose process has ended.
void MarkEndedProcesses(ProcessTree& tree);

// True while any member has not been marked ended.
[[nodiscard]] bool IsAnyProcessAlive(const ProcessTree& tree) noexcept;

// One check cycle: marks ended members, then takes a snapshot and adopts
// new descendants. Returns true when the tree has ended: every member had
// ended before the snapshot and the snapshot showed no new member. (Marking
// first closes the race in which the last member starts a child and ends
// between the snapshot and the check.)
[[nodiscard]] bool CheckProcessTree(ProcessTree& tree, const TakeSnapshotFn& takeSnapshot,
                                    const OpenProcessFn& openProcess);

}  // namespace clearon
