// Feeds arbitrary argument strings to the handling of the resume switches
// (/RunOnce, -RunOnce, /AfterRunOnce, -AfterRunOnce), which a deployment
// system or a person may hand Clearon in any case and any mix. Besides the
// sanitizers' checks, the promises the restart cycle rests on:
//   - a resumed start keeps no resume switch in its saved arguments, and the
//     rest of the text is kept in its order;
//   - a relaunch always becomes a resumed start, never another relaunch (a
//     relaunch that relaunched again would loop for ever);
//   - every command fits its 254 characters or is not built at all;
//   - a start touches the registry only where it must.
//
// The first byte chooses the machine: bit 0 a reboot marker still there,
// bit 1 no module path, bit 2 a long module path, bit 3 the user's RunOnce
// key, bit 4 the argument text as raw UTF-16 LE. Without bit 4 every byte
// from 0xE0 up stands for a piece of switch text, so the fuzzer builds
// switches and near-switches quickly; the other bytes are characters.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "resume/reboot_resume.h"
#include "support/host/memory_registry.h"
#include "text/wide_string.h"

namespace {

using namespace clearon;
using clearon::test::MemoryRegistry;

void Require(bool condition) {
    if (!condition) __builtin_trap();
}

constexpr std::array<std::wstring_view, 14> kPieces{L"/RunOnce",
                                                    L"-RunOnce",
                                                    L"/AfterRunOnce",
                                                    L"-AfterRunOnce",
                                                    L"RunOnce",
                                                    L"runonce",
                                                    L"AFTERRUNONCE",
                                                    L"After",
                                                    L"/",
                                                    L"-",
                                                    L" ",
                                                    L"/aFtErRuNoNcE",
                                                    L"\"",
                                                    L"Once"};

std::wstring ArgumentText(const std::uint8_t* data, std::size_t size, bool raw) {
    std::wstring text;
    if (raw) {
        for (std::size_t i = 0; i + 1 < size; i += 2) {
            text.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
        }
        return text;
    }
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] >= 0xE0) {
            text.append(kPieces[(data[i] - 0xE0) % kPieces.size()]);
        } else {
            text.push_back(static_cast<wchar_t>(data[i]));
        }
    }
    return text;
}

// Is `part` what remains of `whole` after some characters were taken out?
bool IsSubsequence(std::wstring_view part, std::wstring_view whole) {
    std::size_t at = 0;
    for (const wchar_t c : whole) {
        if (at < part.size() && part[at] == c) ++at;
    }
    return at == part.size();
}

bool HoldsResumeSwitch(std::wstring_view text) {
    return ContainsNoCase(text, kSwitchAfterRunOnce) ||
           ContainsNoCase(text, kSwitchAfterRunOnceDash);
}

class Host final : public ResumeHost {
public:
    MemoryRegistry machine;
    std::optional<std::wstring> modulePath;
    std::vector<std::wstring> started;
    int sleeps = 0;

    Registry& registry() override { return machine; }
    std::optional<std::wstring> ModulePath() override { return modulePath; }
    bool StartWithoutWaiting(std::wstring_view commandLine) override {
        started.emplace_back(commandLine);
        return true;
    }
    void Sleep(std::uint32_t /*milliseconds*/) override { ++sleeps; }
    void AppendToLog(std::wstring_view /*text*/) override {}
    std::wstring CurrentTimestamp() override { return {}; }
};

void CheckStrip(std::wstring_view arguments) {
    const std::wstring stripped = StripResumeSwitches(arguments);
    if (arguments.size() > kReplaceCapacity) {
        // Kept whole: every command built from it is refused by its length.
        Require(stripped == arguments);
        return;
    }
    Require(!HoldsResumeSwitch(stripped));
    Require(IsSubsequence(stripped, arguments));
    // Only whole switches go, and both are 13 characters long.
    Require((arguments.size() - stripped.size()) % kSwitchAfterRunOnce.size() == 0);
    if (!HoldsResumeSwitch(arguments)) Require(stripped == arguments);
}

void CheckCommands(std::wstring_view modulePath, std::wstring_view arguments) {
    // Clearon's own path, always quoted: unquoted, a blank in it would let
    // Windows try a shorter, planted program first.
    const std::wstring prefix = L"\"" + std::wstring(modulePath) + L"\" ";
    const std::optional<std::wstring> relaunch = BuildRelaunchCommand(modulePath, arguments);
    if (relaunch) {
        Require(relaunch->size() <= kMaxResumeCommandLength);
        Require(relaunch->starts_with(prefix));
        const std::wstring_view relaunched = std::wstring_view(*relaunch).substr(prefix.size());
        Require(ClassifyStart(relaunched) != StartKind::Relaunch);
        if (ClassifyStart(arguments) == StartKind::Relaunch) {
            Require(ClassifyStart(relaunched) == StartKind::Resumed);
        }
    }
    const std::optional<std::wstring> resume = BuildResumeCommand(modulePath, arguments);
    if (resume) {
        Require(resume->size() <= kMaxResumeCommandLength);
        Require(*resume == prefix + std::wstring(kSwitchRunOnce) +
                               (arguments.empty() ? L"" : L" " + std::wstring(arguments)));
    } else {
        const std::size_t length =
            prefix.size() + kSwitchRunOnce.size() + (arguments.empty() ? 0 : 1 + arguments.size());
        Require(length > kMaxResumeCommandLength);
    }
}

void CheckStart(std::uint8_t flags, std::wstring_view arguments) {
    Host host;
    if ((flags & 2) == 0) {
        host.modulePath = (flags & 4) != 0 ? L"C:\\" + std::wstring(200, L'd') + L"\\Clearon.exe"
                                           : std::wstring(L"C:\\Tools\\Clearon.exe");
    }
    if ((flags & 1) != 0) {
        host.machine.SetString(RegistryRoot::LocalMachine, kClearonMarkerKey, kRebootRequiredValue,
                               kRebootRequiredMarker);
    }
    if ((flags & 8) != 0) host.machine.CreateKey(RegistryRoot::CurrentUser, kRunOnceKey);
    const int writesBefore = host.machine.writes;

    const std::wstring untouched = L"(untouched)";
    std::wstring saved = untouched;
    const ResumeOutcome outcome = HandleResumeSwitches(host, arguments, saved);
    const std::optional<std::wstring> runOnce =
        host.machine.GetCharacters(RegistryRoot::CurrentUser, kRunOnceKey, kRunOnceValue);

    switch (ClassifyStart(arguments)) {
        case StartKind::Relaunch: {
            Require(outcome == ResumeOutcome::ExitNow);
            Require(saved == untouched);
            Require(host.machine.writes == writesBefore);
            const std::optional<std::wstring> command =
                host.modulePath ? BuildRelaunchCommand(*host.modulePath, arguments) : std::nullopt;
            Require(host.started.size() == (command ? 1u : 0u));
            if (command) Require(host.started.front() == *command);
            break;
        }
        case StartKind::Resumed: {
            Require(saved == StripResumeSwitches(arguments));
            Require(host.started.empty());
            // After a restart the run goes on; without one it waits for the
            // next logon. Either way it is registered again, in the user's
            // key (this machine has no RunOnce key of its own).
            const bool restarted = (flags & 1) == 0;
            Require(outcome == (restarted ? ResumeOutcome::ResumedStart : ResumeOutcome::ExitNow));
            Require(host.sleeps == (restarted ? 0 : 1));
            const std::optional<std::wstring> command =
                host.modulePath ? BuildResumeCommand(*host.modulePath, saved) : std::nullopt;
            if (command && (flags & 8) != 0) {
                Require(runOnce.has_value());
                Require(runOnce->starts_with(*command));
            } else {
                Require(!runOnce.has_value());
            }
            Require(!host.machine.Get(RegistryRoot::LocalMachine, kRunOnceKey, kRunOnceValue));
            break;
        }
        case StartKind::Ordinary:
            Require(outcome == ResumeOutcome::NormalStart);
            Require(saved == untouched);
            Require(host.started.empty() && host.sleeps == 0);
            Require(host.machine.writes == writesBefore);
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t flags = data[0];
    const std::wstring arguments = ArgumentText(data + 1, size - 1, (flags & 16) != 0);
    CheckStrip(arguments);
    CheckCommands(L"C:\\Tools\\Clearon.exe", arguments);
    CheckStart(flags, arguments);
    return 0;
}
