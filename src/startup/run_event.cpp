#include "startup/run_event.h"

#include <array>
#include <vector>

namespace clearon {
namespace {

struct OutcomeEvent {
    OutcomeKind kind;
    std::uint32_t id;
    RunEventType type;
    std::wstring_view sentence;
};

// A restart still to come and a run to be tried again are warnings: the
// deployment has more to do, nothing failed. A product left behind, a
// failed installer and Clearon's own codes are errors.
constexpr std::array<OutcomeEvent, 6> kOutcomeEvents{{
    {OutcomeKind::Done, kEventDone, RunEventType::Information, L"every product found was removed."},
    {OutcomeKind::RestartNeeded, kEventRestartNeeded, RunEventType::Warning,
     L"Aegira's installer needs a restart to finish."},
    {OutcomeKind::RetryLater, kEventRetryLater, RunEventType::Warning,
     L"the run could not be done now; start Clearon again later."},
    {OutcomeKind::ProductStayed, kEventProductStayed, RunEventType::Error,
     L"at least one product was still installed after its uninstaller ran."},
    {OutcomeKind::InstallerFailed, kEventInstallerFailed, RunEventType::Error,
     L"Aegira's installer failed."},
    {OutcomeKind::ClearonCode, kEventClearonCode, RunEventType::Error,
     L"Clearon ended with a code of its own; its log says why."},
}};

[[nodiscard]] const OutcomeEvent& EventFor(OutcomeKind kind) noexcept {
    for (const OutcomeEvent& event : kOutcomeEvents) {
        if (event.kind == kind) return event;
    }
    return kOutcomeEvents.back();
}

}  // namespace

RunEvent BuildRunEvent(const RunEventFacts& facts) {
    const OutcomeEvent& event = EventFor(facts.outcome);
    RunEvent result{event.id, event.type, {}};
    // One fact a line, each "name: value", so that a collector can split
    // them without knowing the sentences.
    std::wstring& text = result.text;
    text = L"Clearon finished: ";
    text += event.sentence;
    text += L"\r\nOutcome: ";
    text += OutcomeKindWord(facts.outcome);
    text += L"\r\nExit code: ";
    text += std::to_wstring(facts.exitCode);
    text += L"\r\nProducts removed: ";
    text += std::to_wstring(facts.productsRemoved);
    text += L"\r\nProducts left: ";
    text += std::to_wstring(facts.productsLeft);
    return result;
}

bool RegisterRunEventSource(Registry& registry, std::wstring_view messageFile) {
    constexpr RegistryRoot kMachine = RegistryRoot::LocalMachine;
    return registry.CreateSubkey(kMachine, kEventLogApplicationKey, kEventSourceName,
                                 KeyLifetime::Persistent) == RegistryStatus::Ok &&
           registry.SetValue(kMachine, kEventSourceKey, kEventMessageFileValue, kRegExpandSz,
                             EncodeRegistryString(messageFile)) == RegistryStatus::Ok &&
           registry.SetValue(kMachine, kEventSourceKey, kTypesSupportedValue, kRegDword,
                             EncodeRegistryDword(kTypesSupported)) == RegistryStatus::Ok;
}

}  // namespace clearon
