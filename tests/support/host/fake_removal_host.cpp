#include "support/host/fake_removal_host.h"

#include "text/wide_string.h"

namespace clearon::test {

std::optional<std::uint32_t> FakeRemovalHost::RunProgram(std::wstring_view commandLine,
                                                         bool showNotice) {
    const std::size_t index = launches.size();
    launches.push_back({std::wstring(commandLine), showNotice});
    // Behaviours may add more behaviours or launches; iterate over a copy.
    const auto current = behaviours;
    for (const auto& [piece, behaviour] : current) {
        if (ContainsNoCase(commandLine, piece)) behaviour(*this);
    }
    return index < exitCodes.size() ? exitCodes[index] : 0;
}

QuestionAnswer FakeRemovalHost::AskQuestion(std::wstring_view text) {
    const std::size_t index = questions.size();
    questions.emplace_back(text);
    return index < answers.size() ? answers[index] : defaultAnswer;
}

std::optional<std::wstring> FakeRemovalHost::EnvironmentVariable(std::wstring_view name) {
    for (const auto& [key, value] : environment) {
        if (EqualsNoCase(key, name)) return value;
    }
    return std::nullopt;
}

void FakeRemovalHost::RemovesKey(const std::wstring& piece, const std::wstring& key) {
    behaviours.emplace_back(piece, [key](FakeRemovalHost& host) {
        host.memory.DeleteKeyTree(RegistryRoot::LocalMachine, key);
    });
}

std::vector<std::wstring> FakeRemovalHost::LaunchedCommands() const {
    std::vector<std::wstring> commands;
    for (const auto& launch : launches) commands.push_back(launch.commandLine);
    return commands;
}

}  // namespace clearon::test
