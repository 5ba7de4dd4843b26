#include "removal/process_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <vector>

namespace clearon {
namespace {

// A simulated machine: processes with ids, parents, creation times, an end,
// and the one rule of Windows the tracker leans on: an id that someone holds
// open is never given to a new process.
class FakeMachine {
public:
    struct Process {
        std::uint32_t id = 0;
        std::uint32_t parent = 0;
        std::uint64_t created = 0;
        bool ended = false;
        int holders = 0;
        bool deniesAccess = false;
    };

    // Starts a process; fails the test if the id is still in use or held.
    std::shared_ptr<Process> Start(std::uint32_t id, std::uint32_t parent) {
        for (const auto& p : processes_) {
            if (p->id == id && (!p->ended || p->holders > 0)) {
                ADD_FAILURE() << "id " << id << " is still in use or held";
            }
        }
        auto process = std::make_shared<Process>();
        process->id = id;
        process->parent = parent;
        process->created = ++clock_;
        processes_.push_back(process);
        return process;
    }

    void End(std::uint32_t id) {
        auto p = Live(id);
        ASSERT_NE(p, nullptr) << "no live process " << id;
        p->ended = true;
        ++clock_;
    }

    [[nodiscard]] std::shared_ptr<Process> Live(std::uint32_t id) const {
        for (const auto& p : processes_) {
            if (p->id == id && !p->ended) return p;
        }
        return nullptr;
    }

    class Held : public HeldProcess {
    public:
        explicit Held(std::shared_ptr<Process> process) : process_(std::move(process)) {
            ++process_->holders;
        }
        ~Held() override { --process_->holders; }
        [[nodiscard]] std::uint64_t CreationTime() const noexcept override {
            return process_->created;
        }
        [[nodiscard]] bool HasEnded() noexcept override { return process_->ended; }

    private:
        std::shared_ptr<Process> process_;
    };

    std::unique_ptr<HeldProcess> Hold(std::uint32_t id) {
        auto p = Live(id);
        return p ? std::make_unique<Held>(p) : nullptr;
    }

    // Snapshot order: as started, or ascending ids (children may then stand
    // before their parents).
    bool sortSnapshotById = false;
    bool snapshotFails = false;
    int opens = 0;
    std::map<std::uint32_t, int> opensById;
    // Called inside OpenProcess before the lookup: lets a test end a process
    // and give its id to a newcomer between the snapshot and the open.
    std::function<void(std::uint32_t id)> beforeOpen;

    TakeSnapshotFn Snapshots() {
        return [this]() -> std::optional<ProcessSnapshot> {
            if (snapshotFails) return std::nullopt;
            ProcessSnapshot snapshot;
            for (const auto& p : processes_) {
                if (!p->ended) snapshot.entries.push_back({p->id, p->parent});
            }
            if (sortSnapshotById) {
                std::sort(snapshot.entries.begin(), snapshot.entries.end(),
                          [](const ProcessEntry& a, const ProcessEntry& b) {
                              return a.processId < b.processId;
                          });
            }
            snapshot.takenAt = ++clock_;
            return snapshot;
        };
    }

    OpenProcessFn Opener() {
        return [this](std::uint32_t id) -> std::unique_ptr<HeldProcess> {
            ++opens;
            ++opensById[id];
            if (beforeOpen) beforeOpen(id);
            auto p = Live(id);
            if (p == nullptr || p->deniesAccess) return nullptr;
            return std::make_unique<Held>(p);
        };
    }

    // Launches `id` as Clearon would and returns its tree.
    ProcessTree Launch(std::uint32_t id, std::uint32_t parent = 4) {
        Start(id, parent);
        return StartProcessTree(id, Hold(id));
    }

    // Runs check cycles until the tree ends, calling `between(cycle)` before
    // each one; returns the number of cycles, or -1 past `limit`.
    int CyclesUntilEnd(ProcessTree& tree, const std::function<void(int)>& between,
                       int limit = 10000) {
        const auto snapshots = Snapshots();
        const auto opener = Opener();
        for (int cycle = 0; cycle < limit; ++cycle) {
            between(cycle);
            if (CheckProcessTree(tree, snapshots, opener)) return cycle;
        }
        return -1;
    }

private:
    std::vector<std::shared_ptr<Process>> processes_;
    std::uint64_t clock_ = 1000;
};

std::vector<std::uint32_t> MemberIds(const ProcessTree& tree) {
    std::vector<std::uint32_t> ids;
    for (const auto& m : tree.treeIds) ids.push_back(m.processId);
    return ids;
}

TEST(ProcessTree, EndsOnlyAfterTheLaunchedProgramEnds) {
    FakeMachine machine;
    auto tree = machine.Launch(100);
    const int cycles = machine.CyclesUntilEnd(tree, [&](int cycle) {
        if (cycle == 5) machine.End(100);
    });
    EXPECT_EQ(cycles, 5);
}

// Relaunch patterns: how the child is started relative to the checks.
struct RelaunchCase {
    const char* name;
    int spawnCycle;      // before which check the child starts
    int parentEndCycle;  // before which check the parent ends
    bool sortById;       // child listed before parent
};

TEST(ProcessTree, ChildIsWaitedForWheneverItWasFirstSeen) {
    const RelaunchCase cases[] = {
        {"child before the first check, parent ends at once", 0, 0, false},
        {"child before the first check, parent lingers", 0, 3, false},
        {"parent ends before the child is first seen", 4, 4, false},
        {"child listed before its parent", 2, 6, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeMachine machine;
        machine.sortSnapshotById = c.sortById;
        auto tree = machine.Launch(500);
        const int cycles = machine.CyclesUntilEnd(tree, [&](int cycle) {
            if (cycle == c.spawnCycle) machine.Start(c.sortById ? 30 : 600, 500);
            if (cycle == c.parentEndCycle) machine.End(500);
            if (cycle == 20) machine.End(c.sortById ? 30 : 600);
        });
        EXPECT_EQ(cycles, 20);
    }
}

TEST(ProcessTree, GrandchildStartedThroughAChildListedFirstIsAdoptedInOneSnapshot) {
    FakeMachine machine;
    machine.sortSnapshotById = true;
    auto tree = machine.Launch(900);
    machine.Start(500, 900);
    machine.Start(40, 500);
    machine.Start(7, 40);
    ASSERT_FALSE(CheckProcessTree(tree, machine.Snapshots(), machine.Opener()));
    EXPECT_EQ(MemberIds(tree), (std::vector<std::uint32_t>{900, 500, 40, 7}));
}

TEST(ProcessTree, OlderProcessNamingTheMembersIdAsParentIsNotAdopted) {
    FakeMachine machine;
    // An unrelated service started process 200 long ago; 200 ended and its
    // id went to the uninstaller we launch.
    machine.Start(200, 4);
    machine.Start(300, 200);
    machine.End(200);
    auto tree = machine.Launch(200);
    const int cycles = machine.CyclesUntilEnd(tree, [&](int cycle) {
        if (cycle == 3) machine.End(200);
    });
    EXPECT_EQ(cycles, 3);
    EXPECT_EQ(MemberIds(tree), (std::vector<std::uint32_t>{200}));
    // Examined once, then remembered while it runs.
    EXPECT_EQ(machine.opensById[300], 1);
}

TEST(ProcessTree, NewcomerThatTookAnIdBetweenSnapshotAndOpenIsNotAdopted) {
    FakeMachine machine;
    auto tree = machine.Launch(100);
    machine.Start(110, 100);
    bool swapped = false;
    machine.beforeOpen = [&](std::uint32_t id) {
        if (id == 110 && !swapped) {
            swapped = true;
            machine.End(110);
            machine.Start(110, 4);  // unrelated newcomer, same id
        }
    };
    const int cycles = machine.CyclesUntilEnd(tree, [&](int cycle) {
        if (cycle == 2) machine.End(100);
    });
    EXPECT_TRUE(swapped);
    EXPECT_EQ(cycles, 2);
    EXPECT_EQ(MemberIds(tree), (std::vector<std::uint32_t>{100}));
}

TEST(ProcessTree, RememberedRejectionIsForgottenWhenTheIdComesBackOnARealChild) {
    FakeMachine machine;
    machine.Start(200, 4);
    machine.Start(300, 200);
    machine.End(200);
    auto tree = machine.Launch(200);
    const int cycles = machine.CyclesUntilEnd(tree, [&](int cycle) {
        if (cycle == 3) machine.End(300);
        if (cycle == 4) machine.Start(300, 200);  // now a genuine child of 200
        if (cycle == 6) machine.End(200);
        if (cycle == 9) machine.End(300);
    });
    EXPECT_EQ(cycles, 9);
    EXPECT_EQ(MemberIds(tree), (std::vector<std::uint32_t>{200, 300}));
}

TEST(ProcessTree, HeldMembersKeepTheirIdsSoEndedParentsStillClaimTheirChildren) {
    FakeMachine machine;
    auto tree = machine.Launch(100);
    const auto snapshots = machine.Snapshots();
    const auto opener = machine.Opener();
    machine.Start(101, 100);
    ASSERT_FALSE(CheckProcessTree(tree, snapshots, opener));
    machine.Start(102, 101);
    machine.End(101);
    machine.End(100);
    // The machine (like Windows) refuses to reuse 100 or 101 while held.
    ASSERT_FALSE(CheckProcessTree(tree, snapshots, opener));
    EXPECT_EQ(MemberIds(tree), (std::vector<std::uint32_t>{100, 101, 102}));
    machine.End(102);
    EXPECT_TRUE(CheckProcessTree(tree, snapshots, opener));
}

TEST(ProcessTree, MoreThan1024ProcessesNeitherEndTheWaitNorOverflow) {
    FakeMachine machine;
    for (std::uint32_t id = 1000; id < 4000; ++id) machine.Start(id, 4);
    auto tree = machine.Launch(8000);
    // 1500 children, most of them listed after the 1024th entry.
    for (std::uint32_t id = 9000; id < 10500; ++id) machine.Start(id, 8000);
    machine.End(8000);
    const int cycles = machine.CyclesUntilEnd(tree, [&](int cycle) {
        if (cycle == 2) {
            for (std::uint32_t id = 9000; id < 10499; ++id) machine.End(id);
        }
        if (cycle == 4) machine.End(10499);
    });
    EXPECT_EQ(cycles, 4);
    EXPECT_EQ(tree.treeIds.size(), 1501u);
}

TEST(ProcessTree, ManyGenerationsEachEndingRightAfterStartingTheNext) {
    FakeMachine machine;
    auto tree = machine.Launch(1);
    std::uint32_t newest = 1;
    const int generations = 300;
    const int cycles = machine.CyclesUntilEnd(tree, [&](int cycle) {
        if (cycle < generations) {
            machine.Start(newest + 1, newest);
            machine.End(newest);
            ++newest;
        } else if (cycle == generations + 2) {
            machine.End(newest);
        }
    });
    EXPECT_EQ(cycles, generations + 2);
    EXPECT_EQ(tree.treeIds.size(), static_cast<std::size_t>(generations + 1));
}

TEST(ProcessTree, FailedSnapshotsHoldBackTheEndForABoundedNumberOfCycles) {
    FakeMachine machine;
    auto tree = machine.Launch(100);
    machine.Start(101, 100);
    machine.End(100);
    machine.snapshotFails = true;
    // The child started before the end is found once snapshots work again.
    const int cycles = machine.CyclesUntilEnd(tree, [&](int cycle) {
        if (cycle == kMaxFailedSnapshots - 2) machine.snapshotFails = false;
        if (cycle == 30) machine.End(101);
    });
    EXPECT_EQ(cycles, 30);

    FakeMachine broken;
    auto lone = broken.Launch(100);
    broken.snapshotFails = true;
    const int brokenCycles = broken.CyclesUntilEnd(lone, [&](int cycle) {
        if (cycle == 3) broken.End(100);
    });
    EXPECT_EQ(brokenCycles, 3 + kMaxFailedSnapshots - 1);
}

TEST(ProcessTree, UnopenableChildIsTriedAgainAtEverySnapshot) {
    FakeMachine machine;
    auto tree = machine.Launch(100);
    auto child = machine.Start(101, 100);
    child->deniesAccess = true;
    const int cycles = machine.CyclesUntilEnd(tree, [&](int cycle) {
        if (cycle == 3) child->deniesAccess = false;
        if (cycle == 5) machine.End(100);
        if (cycle == 8) machine.End(101);
    });
    EXPECT_EQ(cycles, 8);
    EXPECT_EQ(machine.opensById[101], 4);
}

}  // namespace
}  // namespace clearon
