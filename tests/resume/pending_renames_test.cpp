#include "resume/pending_renames.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "support/host/memory_registry.h"

namespace clearon {
namespace {

using test::MemoryRegistry;
using test::Utf16Bytes;

// These moves run without a witness; the cut-short sweep runs them with one.
NoBootWitness noWitness;

constexpr RegistryRoot kMachine = RegistryRoot::LocalMachine;

// Lists as Windows keeps them: pairs of source and target, an empty target
// for a deletion, and the closing NUL.
template <std::size_t N>
std::wstring List(const wchar_t (&characters)[N]) {
    return {characters, N - 1};  // every character written, not the literal's own NUL
}
const std::wstring kStartList = List(L"\\??\\C:\\s.tmp\0\\??\\C:\\s.dll\0\0");
const std::wstring kUninstallList = List(L"\\??\\C:\\u.dll\0\0\0");  // a deletion
const std::wstring kInstallerList = List(L"\\??\\C:\\i.new\0\\??\\C:\\i.sys\0\0");

// A list without its closing NUL: `list` minus its last character.
std::wstring Body(const std::wstring& list) {
    return list.substr(0, list.size() - 1);
}

class PendingRenames : public ::testing::Test {
protected:
    PendingRenames() { registry.CreateKey(kMachine, kSessionManagerKey); }

    void SetSystem(const std::wstring& list) {
        registry.SetMultiString(kMachine, kSessionManagerKey, kPendingRenamesValue, list);
    }
    void SetAside(const std::wstring& list) {
        registry.SetMultiString(kMachine, kSessionManagerKey, kPendingRenamesAsideValue, list);
    }
    std::optional<std::wstring> System() const {
        return registry.GetCharacters(kMachine, kSessionManagerKey, kPendingRenamesValue);
    }
    std::optional<std::wstring> Aside() const {
        return registry.GetCharacters(kMachine, kSessionManagerKey, kPendingRenamesAsideValue);
    }
    std::uint32_t TypeOf(std::wstring_view value) const {
        return registry.Get(kMachine, kSessionManagerKey, value)->type;
    }

    MemoryRegistry registry;
};

TEST_F(PendingRenames, OneRunKeepsEveryListInOrder) {
    struct Step {
        const char* moment;
        std::function<void()> action;
        std::optional<std::wstring> system;
        std::optional<std::wstring> aside;
    };
    const Step steps[] = {
        {"start", [&] { SetSystem(kStartList); }, kStartList, std::nullopt},
        {"before the first program", [&] { SetPendingRenamesAside(registry, noWitness); },
         std::nullopt, kStartList},
        {"after the uninstallers", [&] { SetSystem(kUninstallList); }, kUninstallList, kStartList},
        // Scheduled first, applied first: the older list stays in front.
        {"before the installer", [&] { SetPendingRenamesAside(registry, noWitness); }, std::nullopt,
         Body(kStartList) + kUninstallList},
        {"after the installer", [&] { SetSystem(kInstallerList); }, kInstallerList,
         Body(kStartList) + kUninstallList},
        {"end of the run", [&] { RestorePendingRenames(registry, noWitness); },
         Body(kStartList) + Body(kUninstallList) + kInstallerList, std::nullopt},
    };
    for (const Step& step : steps) {
        step.action();
        EXPECT_EQ(System(), step.system) << step.moment;
        EXPECT_EQ(Aside(), step.aside) << step.moment;
    }
    EXPECT_EQ(TypeOf(kPendingRenamesValue), kRegMultiSz);
    // Each change is on disk before the next is made.
    EXPECT_EQ(registry.flushes, registry.writes);
}

TEST_F(PendingRenames, NothingPendingTouchesNothing) {
    SetPendingRenamesAside(registry, noWitness);
    RestorePendingRenames(registry, noWitness);
    EXPECT_EQ(System(), std::nullopt);
    EXPECT_EQ(Aside(), std::nullopt);
    EXPECT_EQ(registry.writes, 0);

    MemoryRegistry noKey;
    SetPendingRenamesAside(noKey, noWitness);
    RestorePendingRenames(noKey, noWitness);
    EXPECT_EQ(noKey.writes, 0);
}

// Windows would append a program's operations after such a value, behind
// an empty source where they never run: it goes, and nothing moves.
TEST_F(PendingRenames, SystemValueWithoutAPairIsDeleted) {
    const std::wstring sources[] = {std::wstring(), std::wstring(1, L'\0'), L"x",
                                    std::wstring(2, L'\0'), List(L"\0a\0b\0\0")};
    for (const std::wstring& source : sources) {
        MemoryRegistry machine;
        machine.SetMultiString(kMachine, kSessionManagerKey, kPendingRenamesValue, source);
        machine.SetMultiString(kMachine, kSessionManagerKey, kPendingRenamesAsideValue, kStartList);
        SetPendingRenamesAside(machine, noWitness);
        EXPECT_EQ(machine.GetCharacters(kMachine, kSessionManagerKey, kPendingRenamesValue),
                  std::nullopt);
        EXPECT_EQ(machine.GetCharacters(kMachine, kSessionManagerKey, kPendingRenamesAsideValue),
                  kStartList);
        EXPECT_EQ(machine.writes, 1) << source.size() << " characters";
    }
}

TEST_F(PendingRenames, DestinationOfOneCharacterIsOverwrittenNotMerged) {
    for (const std::wstring& destination : {std::wstring(1, L'\0'), std::wstring(L"x")}) {
        SetSystem(kStartList);
        SetAside(destination);
        SetPendingRenamesAside(registry, noWitness);
        EXPECT_EQ(Aside(), kStartList);
        EXPECT_EQ(System(), std::nullopt);
    }
}

TEST_F(PendingRenames, AnyTypeIsReadAndWrittenAsMultiString) {
    registry.SetRaw(kMachine, kSessionManagerKey, kPendingRenamesValue, kRegBinary,
                    Utf16Bytes(kStartList));
    SetPendingRenamesAside(registry, noWitness);
    EXPECT_EQ(Aside(), kStartList);
    EXPECT_EQ(TypeOf(kPendingRenamesAsideValue), kRegMultiSz);
}

TEST(MergeMultiStrings, ThePairsOfTheFirstListThenThoseOfTheSecond) {
    struct Case {
        const char* what;
        std::wstring first;
        std::wstring second;
        std::wstring merged;
    };
    const Case cases[] = {
        {"well formed", List(L"a\0b\0\0"), List(L"c\0d\0\0"), List(L"a\0b\0c\0d\0\0")},
        {"deletions in both lists", List(L"a\0\0\0"), List(L"d\0\0\0"), List(L"a\0\0d\0\0\0")},
        {"a deletion without its closing NUL stays a deletion", List(L"a\0\0"), List(L"c\0d\0\0"),
         List(L"a\0\0c\0d\0\0")},
        {"odd number of strings: the last source is a deletion", List(L"a\0b\0c\0\0"),
         List(L"d\0e\0\0"), List(L"a\0b\0c\0\0d\0e\0\0")},
        {"first without any terminator", List(L"a\0bb"), List(L"c\0d\0\0"),
         List(L"a\0bb\0c\0d\0\0")},
        {"second without any terminator", List(L"a\0b\0\0"), List(L"cc"), List(L"a\0b\0cc\0\0\0")},
        {"two NULs add nothing, first", List(L"\0\0"), List(L"d\0e\0\0"), List(L"d\0e\0\0")},
        {"two NULs add nothing, second", List(L"a\0b\0\0"), List(L"\0\0"), List(L"a\0b\0\0")},
        {"what follows an empty source is never run", List(L"a\0b\0\0x\0y\0\0"), List(L"c\0d\0\0"),
         List(L"a\0b\0c\0d\0\0")},
        {"nothing at all", std::wstring(), List(L"\0"), std::wstring()},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MergeMultiStrings(c.first, c.second), c.merged) << c.what;
    }
}

TEST_F(PendingRenames, UnterminatedSourceIsMergedWithoutCuttingItsLastString) {
    SetSystem(List(L"\\??\\C:\\x.tmp"));
    SetAside(kStartList);
    SetPendingRenamesAside(registry, noWitness);
    EXPECT_EQ(Aside(), Body(kStartList) + List(L"\\??\\C:\\x.tmp\0\0\0"));
}

TEST_F(PendingRenames, LongListsAreReadWholeWithADoublingBuffer) {
    // 1,500 characters = 3,000 bytes: 510, 1,020 and 2,040 bytes say "more
    // data", 4,080 bytes hold it.
    std::wstring longList;
    while (longList.size() < 1497) longList += L"\\??\\C:\\f.tmp" + std::wstring(1, L'\0');
    longList.resize(1498, L'y');
    longList += std::wstring(2, L'\0');
    SetSystem(longList);
    const int before = registry.queries;
    EXPECT_EQ(ReadMultiStringValue(registry, kPendingRenamesValue), longList);
    EXPECT_EQ(registry.queries - before, 4);

    registry.SetRaw(kMachine, kSessionManagerKey, L"Odd", kRegMultiSz, {'a', 0, 'b'});
    EXPECT_EQ(ReadMultiStringValue(registry, L"Odd"), L"a");
    registry.SetRaw(kMachine, kSessionManagerKey, L"Empty", kRegMultiSz, {});
    EXPECT_EQ(ReadMultiStringValue(registry, L"Empty"), L"");
    EXPECT_EQ(ReadMultiStringValue(registry, L"Missing"), std::nullopt);
}

// Every failure leaves the operations where they were: nothing is lost.
TEST_F(PendingRenames, FailuresNeverLoseAnOperation) {
    using Hook = MemoryRegistry::Fault;
    const auto failing = [](std::wstring_view onValue, int atCall, RegistryStatus status) {
        auto calls = std::make_shared<int>(0);
        return Hook(
            [=](std::wstring_view, std::wstring_view value) -> std::optional<RegistryStatus> {
                if (value != onValue) return std::nullopt;
                return ++*calls == atCall ? std::optional(status) : std::nullopt;
            });
    };
    const auto always = [](RegistryStatus status) {
        return Hook([=](std::wstring_view, std::wstring_view) { return std::optional(status); });
    };
    struct Case {
        const char* what;
        std::function<void(MemoryRegistry&)> fault;
        bool systemKept;  // otherwise it moved and is deleted
        std::wstring aside;
    };
    const std::wstring merged = Body(kStartList) + kUninstallList;
    const Case cases[] = {
        {"destination not written",
         [&](MemoryRegistry& r) { r.onSet = always(RegistryStatus::Failed); }, true, kStartList},
        {"source read fails after the probe",
         [&](MemoryRegistry& r) {
             r.onQuery = failing(kPendingRenamesValue, 2, RegistryStatus::Failed);
         },
         true, kStartList},
        {"source answers more data for ever",
         [&](MemoryRegistry& r) {
             r.onQuery = [](std::wstring_view,
                            std::wstring_view value) -> std::optional<RegistryStatus> {
                 if (value == kPendingRenamesValue) return RegistryStatus::MoreData;
                 return std::nullopt;
             };
         },
         true, kStartList},
        {"set-aside value unreadable",
         [&](MemoryRegistry& r) {
             r.onQuery = failing(kPendingRenamesAsideValue, 1, RegistryStatus::Failed);
         },
         true, kStartList},
        {"journal not written",
         [&](MemoryRegistry& r) {
             r.onSet = [](std::wstring_view, std::wstring_view value) {
                 return value == kPendingRenamesJournalValue ? std::optional(RegistryStatus::Failed)
                                                             : std::nullopt;
             };
         },
         true, kStartList},
        {"key does not open", [&](MemoryRegistry& r) { r.onOpen = always(RegistryStatus::Failed); },
         true, kStartList},
        // Never in both values: the copy goes again (the journal that stays
        // says the copy was taken back).
        {"source not deleted: the copy goes again",
         [&](MemoryRegistry& r) { r.onDelete = always(RegistryStatus::Failed); }, true, kStartList},
        {"no fault", [](MemoryRegistry&) {}, false, merged},
    };
    for (const Case& c : cases) {
        MemoryRegistry machine;
        machine.SetMultiString(kMachine, kSessionManagerKey, kPendingRenamesValue, kUninstallList);
        machine.SetMultiString(kMachine, kSessionManagerKey, kPendingRenamesAsideValue, kStartList);
        c.fault(machine);
        SetPendingRenamesAside(machine, noWitness);
        machine.onOpen = nullptr;
        EXPECT_EQ(machine.GetCharacters(kMachine, kSessionManagerKey, kPendingRenamesValue),
                  c.systemKept ? std::optional(kUninstallList) : std::nullopt)
            << c.what;
        EXPECT_EQ(machine.GetCharacters(kMachine, kSessionManagerKey, kPendingRenamesAsideValue),
                  c.aside)
            << c.what;
    }
}

// Another writer appends to the system value while a move is planned: its
// operation is neither overwritten nor moved twice.
TEST_F(PendingRenames, AnotherWritersChangeIsNeverOverwritten) {
    struct Case {
        const char* what;
        std::function<void()> move;
        int changeAtRead;  // the read of the system value after which it changes
        std::wstring system;
        std::optional<std::wstring> aside;
    };
    const Case cases[] = {
        {"set aside: the added pair stays", [&] { SetPendingRenamesAside(registry, noWitness); }, 1,
         kInstallerList, Body(kStartList) + kUninstallList},
        {"put back: planned again on what it holds",
         [&] { RestorePendingRenames(registry, noWitness); }, 1,
         Body(kStartList) + Body(kUninstallList) + kInstallerList, std::nullopt},
    };
    for (const Case& c : cases) {
        SetAside(kStartList);
        SetSystem(kUninstallList);
        int reads = 0;
        registry.afterQuery = [&](std::wstring_view, std::wstring_view value) {
            if (value != kPendingRenamesValue || ++reads != c.changeAtRead) return;
            SetSystem(Body(*System()) + kInstallerList);
        };
        c.move();
        registry.afterQuery = nullptr;
        EXPECT_EQ(System(), c.system) << c.what;
        EXPECT_EQ(Aside(), c.aside) << c.what;
        EXPECT_EQ(registry.Get(kMachine, kSessionManagerKey, kPendingRenamesJournalValue),
                  std::nullopt)
            << c.what;
    }
}

}  // namespace
}  // namespace clearon
