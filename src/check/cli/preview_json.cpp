// preview --json: what a detection or remediation script needs from a
// preview, without the printed layout.
#include <nlohmann/json.hpp>

#include "check/cli/check_json.h"
#include "check/cli/check_text.h"

namespace clearon::check {
namespace {

using Json = nlohmann::ordered_json;

[[nodiscard]] std::string_view KindName(PreviewKind kind) noexcept {
    switch (kind) {
        case PreviewKind::BeforeProgram:
            return "before-program";
        case PreviewKind::McAfeeComponent:
            return "mcafee-component";
        case PreviewKind::Entry:
            return "entry";
        case PreviewKind::Proventia:
            return "proventia";
        case PreviewKind::McAfeeAgent:
            return "mcafee-agent";
        case PreviewKind::AfterProgram:
            return "after-program";
    }
    return "unknown";
}

[[nodiscard]] std::string_view OutcomeName(PreviewOutcome outcome) noexcept {
    switch (outcome) {
        case PreviewOutcome::Runs:
            return "runs";
        case PreviewOutcome::RunsAgain:
            return "runs-again";
        case PreviewOutcome::MakersOwn:
            return "makers-own";
        case PreviewOutcome::Deferred:
            return "deferred";
        case PreviewOutcome::ShortName:
            return "short-name";
        case PreviewOutcome::NoCommand:
            return "no-command";
        case PreviewOutcome::TooLong:
            return "too-long";
        case PreviewOutcome::EmptyCommand:
            return "empty-command";
        case PreviewOutcome::ProgramTooLong:
            return "program-too-long";
        case PreviewOutcome::ProgramNotFound:
            return "program-not-found";
        case PreviewOutcome::NotInSafeFolders:
            return "not-in-safe-folders";
        case PreviewOutcome::UserWritable:
            return "user-writable";
    }
    return "unknown";
}

}  // namespace

std::wstring PreviewJson(const std::wstring& configFile, const PreviewResult& result,
                         int exitCode) {
    Json items = Json::array();
    for (const PreviewItem& item : result.items) {
        items.push_back({{"kind", KindName(item.kind)},
                         {"outcome", OutcomeName(item.outcome)},
                         {"line", item.line},
                         {"product_name", ToUtf8(item.productName)},
                         {"display_name", ToUtf8(item.displayName)},
                         {"root", ToUtf8(item.root)},
                         {"view_32bit", item.view32Bit},
                         {"key", ToUtf8(item.key)},
                         {"value_name", ToUtf8(item.valueName)},
                         {"stored_command", ToUtf8(item.storedCommand)},
                         {"command_line", ToUtf8(item.commandLine)},
                         {"refusal_reason", ToUtf8(item.refusalReason)},
                         {"asks", item.asks},
                         {"installer", item.installer}});
    }
    Json refused = Json::array();
    for (const std::wstring& key : result.refusedSettings) refused.push_back(ToUtf8(key));
    const Json json = {{"schema", kPreviewSchema},
                       {"config_file", ToUtf8(configFile)},
                       {"exit_code", exitCode},
                       {"would_remove", RemovalsInPreview(result)},
                       {"refused_settings", std::move(refused)},
                       {"items", std::move(items)}};
    return FromUtf8(json.dump(2, ' ', false, Json::error_handler_t::replace)) + L"\n";
}

}  // namespace clearon::check
