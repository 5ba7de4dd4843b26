#include "startup/last_run.h"

#include <array>
#include <cstdio>

#include "resume/reboot_resume.h"  // kSoftwareKey, kTessaralSubkey, kTessaralKey

namespace clearon {
namespace {

[[nodiscard]] std::wstring Widen(std::string_view text) {
    return {text.begin(), text.end()};
}

void Write(Registry& registry, std::span<const NamedValue> values) {
    for (const NamedValue& value : values) {
        (void)registry.SetValue(RegistryRoot::LocalMachine, kLastRunKey, value.name, value.type,
                                value.data);
    }
}

constexpr std::array<std::wstring_view, 3> kEndOnly{kLastRunExitCode, kLastRunFinished,
                                                    kLastRunProductsRemaining};

}  // namespace

std::wstring FormatUtcTime(const UtcTime& time) {
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", time.year,
                                     time.month, time.day, time.hour, time.minute, time.second);
    return length > 0 ? Widen(std::string_view(text, static_cast<std::size_t>(length))) : L"";
}

std::wstring LowerHex(std::span<const std::uint8_t> bytes) {
    constexpr std::wstring_view kDigits = L"0123456789abcdef";
    std::wstring text;
    text.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0F]);
    }
    return text;
}

std::vector<NamedValue> LastRunStartValues(const LastRunStart& start) {
    return {{kLastRunOutcome, kRegSz, EncodeRegistryString(kLastRunRunning)},
            {kLastRunStarted, kRegSz, EncodeRegistryString(start.started)},
            {kLastRunVersion, kRegSz, EncodeRegistryString(kClearonVersionText)},
            {kLastRunConfigSha256, kRegSz, EncodeRegistryString(start.configSha256)}};
}

std::span<const std::wstring_view> LastRunValuesToClear() noexcept {
    return kEndOnly;
}

std::vector<NamedValue> LastRunEndValues(const LastRunEnd& end) {
    // The outcome goes last: a reader that sees the word sees the rest.
    return {{kLastRunExitCode, kRegDword,
             EncodeRegistryDword(static_cast<std::uint32_t>(end.exitCode))},
            {kLastRunFinished, kRegSz, EncodeRegistryString(end.finished)},
            {kLastRunProductsRemaining, kRegDword, EncodeRegistryDword(end.productsRemaining)},
            {kLastRunOutcome, kRegSz, EncodeRegistryString(OutcomeKindWord(end.outcome))}};
}

void StartLastRun(Registry& registry, const LastRunStart& start) {
    // "Tessaral" stays an ordinary key (see WriteRebootMarker), and so does
    // this one: it must outlive the restart that the volatile marker beside
    // it is there to notice.
    (void)registry.CreateSubkey(RegistryRoot::LocalMachine, kSoftwareKey, kTessaralSubkey,
                                KeyLifetime::Persistent);
    (void)registry.CreateSubkey(RegistryRoot::LocalMachine, kTessaralKey, kLastRunSubkey,
                                KeyLifetime::Persistent);
    // "running" comes first, then the old end goes: a start cut short at any
    // point after the first write never leaves the last run's word beside
    // a half-written start (a detection rule would take it for this run's).
    const std::vector<NamedValue> values = LastRunStartValues(start);
    Write(registry, std::span(values).first(1));
    for (const std::wstring_view name : LastRunValuesToClear()) {
        (void)registry.DeleteValue(RegistryRoot::LocalMachine, kLastRunKey, name);
    }
    Write(registry, std::span(values).subspan(1));
    registry.Flush(RegistryRoot::LocalMachine, kLastRunKey);
}

void FinishLastRun(Registry& registry, const LastRunEnd& end) {
    if (!registry.KeyExists(RegistryRoot::LocalMachine, kLastRunKey)) return;
    Write(registry, LastRunEndValues(end));
    registry.Flush(RegistryRoot::LocalMachine, kLastRunKey);
}

}  // namespace clearon
