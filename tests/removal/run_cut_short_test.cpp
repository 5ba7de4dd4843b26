// A run cut short loses nothing. Each path below runs once as it should,
// then again stopped after its N-th change, for every N: a registry write,
// delete or key creation, a log append, a write a program makes. Once
// stopped, every further change is refused, so nothing the process still does
// (guards unwinding included) reaches the machine. The world then goes on as
// it would: a restart (Windows applies the pending renames pair by pair and
// forgets the volatile keys), a logon (RunOnce values are deleted, then run),
// the next start of Clearon (stopped once more inside its recovery, for a few
// M), until nothing changes; the boot deletes the witness files that the moves
// create; a deployment may also start Clearon again before
// any restart. The programs schedule chains such as "delete T;
// replace T with T.new", which show any operation applied twice.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "log/log_texts.h"
#include "removal/product_discovery.h"
#include "removal/program_list.h"
#include "removal/removal_run.h"
#include "resume/pending_renames.h"
#include "resume/reboot_resume.h"
#include "support/host/fake_removal_host.h"
#include "support/host/fake_resume_host.h"

namespace clearon {
namespace {

using test::FakeRemovalHost;
using test::FakeResumeHost;
using Pairs = std::vector<RenamePair>;

constexpr RegistryRoot kMachine = RegistryRoot::LocalMachine;
constexpr RegistryRoot kUser = RegistryRoot::CurrentUser;
constexpr int kNoStop = -1;
constexpr std::wstring_view kWitnessFolder = L"\\??\\C:\\Witness\\";

bool IsWitness(const RenamePair& pair) {
    return pair.source.rfind(kWitnessFolder, 0) == 0 && pair.target.empty();
}

// Windows at boot, written for this test: strings two by two, up to the first
// empty source.
Pairs BootPairs(const std::wstring& list) {
    std::vector<std::wstring> strings(1);
    for (wchar_t c : list) {
        if (c == L'\0') {
            strings.emplace_back();
        } else {
            strings.back().push_back(c);
        }
    }
    Pairs pairs;
    for (std::size_t i = 0; i + 1 < strings.size() && !strings[i].empty(); i += 2) {
        pairs.push_back({strings[i], strings[i + 1]});
    }
    return pairs;
}

// The arguments of a command line that begins with a quoted path.
std::wstring ArgumentsOf(const std::wstring& command) {
    const std::size_t end = command.find(L'"', 1);
    return end + 2 <= command.size() ? command.substr(end + 2) : std::wstring();
}

struct World {
    FakeRemovalHost machine;
    FakeResumeHost resume{machine};
    Settings settings;
    std::wstring config;
    int allowed = kNoStop;   // changes the running process may still make
    int nextStop = kNoStop;  // the stop of the next process started
    bool stopped = false;
    int changes = 0;
    int nextOp = 0;
    int setupRuns = 0;
    bool installerLaunched = false;
    Pairs scheduled;
    std::vector<std::size_t> scheduledBeforeBoot;  // boots that came before each
    struct Boot {
        Pairs applied;
        Pairs aside;
    };
    std::vector<Boot> boots;
    std::vector<std::size_t> resumedAfterBoot;
    bool resumeCutBeforeWrite = false;
    std::size_t registeredAtBoot = 0;  // restarts before the last registration
    int registrations = 0;
    std::wstring sweptLog;
    std::vector<std::string> faults;

    World() {
        machine.memory.mayChange = [this] {
            if (allowed == 0) return !(stopped = true);
            if (allowed > 0) --allowed;
            ++changes;
            return true;
        };
        machine.memory.afterChange = [this](RegistryRoot root, std::wstring_view key,
                                            std::wstring_view value) {
            if (key == kRunOnceKey && value == kRunOnceValue &&
                machine.memory.Get(root, key, value)) {
                registeredAtBoot = boots.size();
                ++registrations;
            }
        };
        for (const auto& key : {kSessionManagerKey, kSoftwareKey, kAegiraKey, kRunOnceKey}) {
            machine.memory.CreateKey(kMachine, key);
        }
        machine.memory.CreateKey(kUser, kRunOnceKey);
        settings.AskBeforeRemoval = false;
    }

    std::optional<std::wstring> Value(std::wstring_view name) const {
        return machine.memory.GetCharacters(kMachine, kSessionManagerKey, name);
    }
    bool Registered(RegistryRoot root) const {
        return machine.memory.Get(root, kRunOnceKey, kRunOnceValue).has_value();
    }
    bool AegiraInstalled() const {
        return machine.memory.Get(kMachine, kAegiraKey, kProductVersionValue).has_value();
    }
    void Fault(const std::string& what) { faults.push_back(what); }

    // A program scheduling one operation as MoveFileEx does: appended after
    // the last string of the list.
    void ScheduleOne(const RenamePair& pair) {
        std::wstring list = Value(kPendingRenamesValue).value_or(L"");
        if (!list.empty() && list.back() == L'\0') list.pop_back();
        ((list += pair.source) += L'\0') += pair.target;
        list += std::wstring(2, L'\0');
        if (machine.memory.SetValue(kMachine, kSessionManagerKey, kPendingRenamesValue, kRegMultiSz,
                                    test::Utf16Bytes(list)) == RegistryStatus::Ok) {
            scheduled.push_back(pair);
            scheduledBeforeBoot.push_back(boots.size());
        }
    }
    void ScheduleChain() {
        const std::wstring t = L"\\??\\C:\\t" + std::to_wstring(nextOp++);
        ScheduleOne({t, L""});
        ScheduleOne({t + L".new", L"!" + t});
    }

    // One process of Clearon, from its arguments; the relaunch of a
    // "/RunOnce" start is a process of its own.
    void Start(const std::wstring& arguments) {
        stopped = false;
        allowed = nextStop;
        nextStop = kNoStop;
        machine.log.clear();
        machine.sessionEnded = false;
        resume.started.clear();
        std::wstring saved;
        const std::size_t registered = registeredAtBoot;
        const int registrationsBefore = registrations;
        // Windows deleted the value before it started a resumed start (or a
        // deferral): until it has written it again, a cut loses the resume.
        const auto cutBeforeRenewal = [&] {
            if (arguments.find(L"AfterRunOnce") != std::wstring::npos && stopped &&
                registrations == registrationsBefore) {
                resumeCutBeforeWrite = true;
            }
        };
        switch (HandleResumeSwitches(resume, arguments, saved)) {
            case ResumeOutcome::ExitNow: {
                cutBeforeRenewal();
                const std::vector<std::wstring> relaunched = resume.started;
                nextStop = allowed;
                for (const std::wstring& command : relaunched) Start(ArgumentsOf(command));
                return;
            }
            case ResumeOutcome::ResumedStart:
                if (boots.size() == registered) Fault("a resumed run before a restart");
                resumedAfterBoot.push_back(boots.size());
                cutBeforeRenewal();
                break;
            case ResumeOutcome::NormalStart:
                break;
        }
        RecoverPendingRenames(machine.memory, machine.witness);
        RemovalState state;
        RemovalContext context{machine, state, settings, config, false};
        static_cast<void>(RunRemoval(context, resume, saved, false));
        sweptLog += machine.log;
        if (!stopped) CheckCompletedStart();
    }

    void CheckCompletedStart() {
        if (Value(kPendingRenamesAsideValue) || Value(kPendingRenamesJournalValue)) {
            Fault("a set-aside or journal value after a completed start");
        }
        Pairs pending = BootPairs(Value(kPendingRenamesValue).value_or(L""));
        if (!machine.witness.files.empty() ||
            std::any_of(pending.begin(), pending.end(), IsWitness)) {
            Fault("a witness or its pair left after a completed start");
        }
        std::sort(pending.begin(), pending.end(), [](const auto& a, const auto& b) {
            return a.source + L"|" + a.target < b.source + L"|" + b.target;
        });
        if (std::adjacent_find(pending.begin(), pending.end()) != pending.end()) {
            Fault("an operation twice in the system value after a completed start");
        }
        const bool needed = installerLaunched && !AegiraInstalled();
        if (Registered(kUser) + Registered(kMachine) != (needed ? 1 : 0)) {
            Fault("resume registered while not needed, or missing while needed");
        }
    }

    void Restart() {
        Boot boot;
        if (const auto list = Value(kPendingRenamesValue)) {
            boot.applied = BootPairs(*list);
            for (const RenamePair& pair : boot.applied) {
                // Only witnesses exist as files here.
                if (pair.target.empty()) machine.witness.files.erase(pair.source);
            }
            static_cast<void>(
                machine.memory.DeleteValue(kMachine, kSessionManagerKey, kPendingRenamesValue));
        }
        boot.aside = BootPairs(Value(kPendingRenamesAsideValue).value_or(L""));
        boots.push_back(boot);
        machine.memory.Restart();
    }

    // Windows deletes each value before it runs it.
    void Logon() {
        for (const RegistryRoot root : {kMachine, kUser}) {
            const auto value = machine.memory.Get(root, kRunOnceKey, kRunOnceValue);
            if (!value) continue;
            static_cast<void>(machine.memory.DeleteValue(root, kRunOnceKey, kRunOnceValue));
            Start(ArgumentsOf(DecodeRegistryString(*value)));
        }
    }

    bool Quiet() const {
        return !Value(kPendingRenamesValue) && !Value(kPendingRenamesAsideValue) &&
               !Value(kPendingRenamesJournalValue) && !Registered(kUser) && !Registered(kMachine) &&
               machine.witness.files.empty();
    }
};

struct Path {
    const char* name;
    std::function<void(World&)> prepare;
    std::function<void(World&)> run;
    bool retriedByDeployment;  // a deployment starts Clearon again after a cut
};

void Programs(World& w) {
    w.machine.behaviours.emplace_back(L"before.exe", [&w](FakeRemovalHost&) { w.ScheduleChain(); });
    w.machine.behaviours.emplace_back(L"after.exe", [&w](FakeRemovalHost&) { w.ScheduleChain(); });
    w.machine.behaviours.emplace_back(L"two.exe", [&w](FakeRemovalHost&) { w.ScheduleChain(); });
    w.machine.behaviours.emplace_back(L"{A1}", [&w](FakeRemovalHost& h) {
        w.ScheduleChain();
        h.memory.DeleteKeyTree(kMachine, std::wstring(kUninstallRoot) + L"\\{A1}");
    });
    // Aegira's installer needs a restart: it is there after its second run.
    w.machine.behaviours.emplace_back(L"setup.exe", [&w](FakeRemovalHost& h) {
        if (w.stopped) return;
        w.installerLaunched = true;
        w.ScheduleChain();
        if (++w.setupRuns >= 2) {
            static_cast<void>(h.memory.SetValue(kMachine, kAegiraKey, kProductVersionValue, kRegSz,
                                                EncodeRegistryString(L"12.0")));
        }
    });
    // The end-of-session notice arrives while the first program runs, and
    // the notice's handler puts the list back.
    w.machine.behaviours.emplace_back(L"one.exe", [&w](FakeRemovalHost& h) {
        w.ScheduleChain();
        h.sessionEnded = true;
        RestorePendingRenames(h.memory, h.witness);
    });
}

void Configure(World& w, const std::wstring& programs) {
    Programs(w);
    w.config = L"[Settings]\r\n" + programs + L"[ProductNames]\r\nAcme\r\n";
}

void OwnListAndUninstaller(World& w) {
    Configure(w, L"RunBeforeRemoval=before.exe\r\nRunAfterRemoval=after.exe\r\n");
    const std::wstring key = std::wstring(kUninstallRoot) + L"\\{A1}";
    w.machine.memory.SetString(kMachine, key, L"DisplayName", L"Acme AntiVirus");
    w.machine.memory.SetString(kMachine, key, L"UninstallString", L"MsiExec.exe /I{A1}");
    w.ScheduleChain();  // the machine's own list, there before the run
}

void Installer(World& w) {
    Configure(w, L"RunAfterRemoval=setup.exe\r\n");
}

const Path kPaths[] = {
    {"own list, programs and an uninstaller that schedule more", OwnListAndUninstaller,
     [](World& w) { w.Start(L""); }, true},
    {"a system value holding no pair",
     [](World& w) {
         Configure(w, L"RunBeforeRemoval=before.exe\r\n");
         w.machine.memory.SetMultiString(kMachine, kSessionManagerKey, kPendingRenamesValue,
                                         std::wstring(2, L'\0'));
     },
     [](World& w) { w.Start(L""); }, true},
    {"the installer registers the resume", Installer, [](World& w) { w.Start(L""); }, true},
    {"the resumed run",
     [](World& w) {
         Installer(w);
         w.Start(L"");
         w.Restart();
     },
     [](World& w) { w.Logon(); }, false},
    {"the session ends between two programs",
     [](World& w) {
         Configure(w, L"RunBeforeRemoval=one.exe\r\nRunBeforeRemoval=two.exe\r\n");
         w.ScheduleChain();
     },
     [](World& w) { w.Start(L""); }, true},
};

// What one swept world shows: the faults found, and whether a restart found
// an operation in both values (inside a move), which only the witness tells
// apart.
struct Outcome {
    std::vector<std::string> faults;
    bool restartInsideMove = false;
};

Outcome Sweep(const Path& path, int stop, int secondStop, bool retryBeforeRestart,
              const std::wstring& cleanLog) {
    World w;
    path.prepare(w);
    w.sweptLog.clear();
    w.nextStop = stop;
    path.run(w);
    const bool cut = w.stopped;
    if (cleanLog.compare(0, w.sweptLog.size(), w.sweptLog) != 0 ||
        (w.sweptLog.size() < cleanLog.size() && cleanLog.compare(w.sweptLog.size(), 2, L"TS"))) {
        w.Fault("the log is not its crash-free log cut between two lines");
    }
    // A resume the killed run needs is there when it dies, except for a
    // resumed start stopped before its first write: Windows deleted the value
    // before it started it.
    if (w.installerLaunched && !w.AegiraInstalled() && !w.Registered(kUser) &&
        !w.Registered(kMachine) && !w.resumeCutBeforeWrite) {
        w.Fault("a run cut short after the installer started left no resume");
    }
    w.allowed = kNoStop;
    w.nextStop = secondStop;
    bool lastCut = cut;
    if (retryBeforeRestart) {
        // A logon before any restart, and a deployment that starts the run
        // again at once.
        w.Logon();
        lastCut = lastCut || w.stopped;
        if (lastCut && path.retriedByDeployment) {
            w.Start(L"");
            lastCut = w.stopped;
        }
        w.allowed = w.nextStop = kNoStop;
    }
    for (int round = 0; round < 8 && !(round > 0 && w.Quiet()); ++round) {
        w.Restart();
        w.Logon();
        lastCut = lastCut || w.stopped;
        // A deployment starts a run that was cut short again.
        if (lastCut && path.retriedByDeployment) {
            w.Start(L"");
            lastCut = w.stopped;
        }
        w.allowed = w.nextStop = kNoStop;
    }
    if (!w.Quiet()) w.Fault("the world never settles");
    Outcome outcome;
    if (w.installerLaunched && !w.AegiraInstalled() && !w.resumeCutBeforeWrite) {
        w.Fault("resume lost");
    }
    for (std::size_t i = 1; i < w.resumedAfterBoot.size(); ++i) {
        if (w.resumedAfterBoot[i] == w.resumedAfterBoot[i - 1]) {
            w.Fault("two resumed runs without a restart between them");
        }
    }

    for (std::size_t op = 0; op < w.scheduled.size(); ++op) {
        const RenamePair& pair = w.scheduled[op];
        int applied = 0;
        for (std::size_t b = w.scheduledBeforeBoot[op]; b < w.boots.size(); ++b) {
            const auto& boot = w.boots[b];
            const auto times = std::count(boot.applied.begin(), boot.applied.end(), pair);
            const bool now = times > 0;
            const bool aside = std::count(boot.aside.begin(), boot.aside.end(), pair) > 0;
            outcome.restartInsideMove = outcome.restartInsideMove || (now && aside);
            // Applied at the first restart after it was scheduled, unless it
            // was set aside by a run cut short at that restart.
            if (applied == 0 && !now && !aside) w.Fault("an operation neither applied nor aside");
            applied += static_cast<int>(times);
        }
        if (applied == 0) w.Fault("an operation lost");
        if (applied > 1) w.Fault("an operation applied twice");
    }
    // In the order scheduled, within each restart; nothing else but the
    // deletions of witnesses.
    for (const auto& boot : w.boots) {
        std::vector<std::size_t> order;
        for (const RenamePair& pair : boot.applied) {
            const auto at = std::find(w.scheduled.begin(), w.scheduled.end(), pair);
            if (at != w.scheduled.end()) {
                order.push_back(static_cast<std::size_t>(at - w.scheduled.begin()));
            } else if (!IsWitness(pair)) {
                w.Fault("an operation applied that nobody scheduled");
            }
        }
        if (!std::is_sorted(order.begin(), order.end())) w.Fault("applied out of order");
    }
    const auto launches = w.machine.LaunchedCommands();
    if (std::count(launches.begin(), launches.end(), L"two.exe") > 0) {
        w.Fault("a program started after the session-end notice");
    }
    outcome.faults = w.faults;
    return outcome;
}

TEST(RunCutShort, EveryStopLosesNothing) {
    int restartsInsideMoves = 0;
    for (const Path& path : kPaths) {
        World clean;
        path.prepare(clean);
        clean.sweptLog.clear();
        clean.changes = 0;
        path.run(clean);
        ASSERT_TRUE(clean.faults.empty()) << path.name << ": " << clean.faults.front();
        const int changes = clean.changes;
        for (int stop = 0; stop <= changes; ++stop) {
            for (const int secondStop : {kNoStop, 0, 1, 2, 3, 4}) {
                for (const bool retryFirst : {false, true}) {
                    const Outcome outcome =
                        Sweep(path, stop, secondStop, retryFirst, clean.sweptLog);
                    restartsInsideMoves += outcome.restartInsideMove ? 1 : 0;
                    for (const std::string& fault : outcome.faults) {
                        ADD_FAILURE() << path.name << ", stopped after change " << stop
                                      << (retryFirst ? ", logon and start before a restart" : "")
                                      << ", then after change " << secondStop << ": " << fault;
                    }
                }
            }
        }
    }
    // The sweep reaches the gap no order of registry writes closes: a restart
    // between the write of a move's destination and the change of its source.
    EXPECT_GT(restartsInsideMoves, 0);
}

TEST(RunCutShort, SessionEndIsLoggedOnALineOfItsOwn) {
    World w;
    kPaths[4].prepare(w);
    kPaths[4].run(w);
    EXPECT_NE(w.sweptLog.find(std::wstring(L"TS") + std::wstring(kLogSessionEndedNoPrograms)),
              std::wstring::npos);
    EXPECT_EQ(w.machine.LaunchedCommands(), std::vector<std::wstring>{L"one.exe"});
}

}  // namespace
}  // namespace clearon
