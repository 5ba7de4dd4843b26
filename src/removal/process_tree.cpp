#include "removal/process_tree.h"

#include <algorithm>

namespace clearon {
namespace {

[[nodiscard]] const TreeMember* FindMember(const ProcessTree& tree,
                                           std::uint32_t processId) noexcept {
    for (const auto& member : tree.treeIds) {
        if (member.processId == processId) return &member;
    }
    return nullptr;
}

[[nodiscard]] bool SameRow(const ProcessEntry& a, const ProcessEntry& b) noexcept {
    return a.processId == b.processId && a.parentProcessId == b.parentProcessId;
}

[[nodiscard]] bool Listed(const std::vector<ProcessEntry>& rows, const ProcessEntry& row) noexcept {
    return std::any_of(rows.begin(), rows.end(),
                       [&](const ProcessEntry& other) { return SameRow(other, row); });
}

// One walk over the snapshot; returns how many processes it adopted.
std::size_t AdoptChildren(ProcessTree& tree, const ProcessSnapshot& snapshot,
                          const OpenProcessFn& openProcess) {
    std::size_t adopted = 0;
    for (const auto& entry : snapshot.entries) {
        // Process 0 names itself as its parent.
        if (entry.processId == entry.parentProcessId) continue;
        if (FindMember(tree, entry.processId) != nullptr) continue;
        const TreeMember* parent = FindMember(tree, entry.parentProcessId);
        if (parent == nullptr || Listed(tree.rejected, entry)) continue;
        const std::uint64_t parentCreated = parent->process->CreationTime();

        std::unique_ptr<HeldProcess> process = openProcess(entry.processId);
        // Not openable: ended already (and held by nobody) or out of reach.
        // It is tried again at the next snapshot while it is listed.
        if (!process) continue;
        const std::uint64_t created = process->CreationTime();
        if (created < parentCreated) {
            // Started by an older process that had the member's id before.
            tree.rejected.push_back(entry);
            continue;
        }
        // A newcomer that took the id after the snapshot; the next snapshot
        // shows who its parent really is.
        if (created > snapshot.takenAt) continue;
        tree.treeIds.push_back(TreeMember{entry.processId, std::move(process), false});
        ++adopted;
    }
    return adopted;
}

}  // namespace

ProcessTree StartProcessTree(std::uint32_t processId, std::unique_ptr<HeldProcess> process) {
    ProcessTree tree;
    tree.treeIds.push_back(TreeMember{processId, std::move(process), false});
    return tree;
}

std::size_t ClassifyNewProcesses(ProcessTree& tree, const ProcessSnapshot& snapshot,
                                 const OpenProcessFn& openProcess) {
    std::erase_if(tree.rejected,
                  [&](const ProcessEntry& row) { return !Listed(snapshot.entries, row); });
    std::size_t total = 0;
    for (;;) {
        const std::size_t adopted = AdoptChildren(tree, snapshot, openProcess);
        if (adopted == 0) return total;
        total += adopted;
    }
}

void MarkEndedProcesses(ProcessTree& tree) {
    for (auto& member : tree.treeIds) {
        if (!member.ended && member.process->HasEnded()) member.ended = true;
    }
}

bool IsAnyProcessAlive(const ProcessTree& tree) noexcept {
    return std::any_of(tree.treeIds.begin(), tree.treeIds.end(),
                       [](const TreeMember& member) { return !member.ended; });
}

bool CheckProcessTree(ProcessTree& tree, const TakeSnapshotFn& takeSnapshot,
                      const OpenProcessFn& openProcess) {
    MarkEndedProcesses(tree);
    const bool aliveBeforeSnapshot = IsAnyProcessAlive(tree);
    const std::optional<ProcessSnapshot> snapshot = takeSnapshot();
    if (!snapshot) {
        if (aliveBeforeSnapshot) return false;
        return ++tree.failedSnapshots >= kMaxFailedSnapshots;
    }
    tree.failedSnapshots = 0;
    const std::size_t adopted = ClassifyNewProcesses(tree, *snapshot, openProcess);
    return !aliveBeforeSnapshot && adopted == 0;
}

}  // namespace clearon
