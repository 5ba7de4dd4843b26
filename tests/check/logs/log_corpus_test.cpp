// Every reader of the run log over the gold corpus: each tests/check/logs/corpus/
// <name>.log is reported (text, CSV, JSON), judged (`result`, text and JSON)
// and converted (`log`, UTF-8 and CMTrace) as Clearon.<name>.log, and all of
// it must equal <name>.expected byte for byte.
//
// A new log, or a change of output made on purpose: run the test with
// CLEARON_REWRITE_EXPECTED=1 to write the .expected files anew, then read
// their diff line by line before committing it.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "check/cli/check_cli.h"
#include "check/cli/check_text.h"

namespace clearon::check {
namespace {

namespace fs = std::filesystem;

[[nodiscard]] std::string ReadBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Each command's status and output; the temporary folder stands as <dir>.
[[nodiscard]] std::string Outputs(const fs::path& dir, const fs::path& log) {
    const std::vector<std::vector<std::wstring>> commands = {
        {L"report", dir.wstring()},
        {L"report", dir.wstring(), L"--csv"},
        {L"report", dir.wstring(), L"--json"},
        {L"result", log.wstring()},
        {L"result", log.wstring(), L"--json"},
        {L"log", log.wstring()},
        {L"log", log.wstring(), L"--cmtrace"},
    };
    std::string all;
    for (const auto& arguments : commands) {
        std::wstring out;
        std::wstring err;
        const int status = RunCheck(arguments, CheckPlatform{}, out, err);
        std::wstring shown = arguments[0];
        for (std::size_t i = 2; i < arguments.size(); ++i) shown += L" " + arguments[i];
        std::wstring text = L"=== " + shown + L": exit " + std::to_wstring(status) + L"\n" + out;
        if (!err.empty()) text += L"--- stderr\n" + err;
        for (std::size_t at; (at = text.find(dir.wstring())) != std::wstring::npos;)
            text.replace(at, dir.wstring().size(), L"<dir>");
        all += ToUtf8(text);
    }
    return all;
}

TEST(LogCorpus, EveryReaderGivesTheExpectedOutput) {
    const fs::path corpus = fs::path(CLEARON_SOURCE_DIR) / "tests/check/logs/corpus";
    const bool rewrite = std::getenv("CLEARON_REWRITE_EXPECTED") != nullptr;
    const fs::path dir =
        fs::temp_directory_path() / ("clearon_corpus_" + std::to_string(std::random_device{}()));
    std::size_t logs = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(corpus)) {
        if (entry.path().extension() != ".log") continue;
        ++logs;
        const std::string name = entry.path().stem().string();
        SCOPED_TRACE(name);
        fs::remove_all(dir);
        fs::create_directories(dir);
        const fs::path log = dir / ("Clearon." + name + ".log");
        fs::copy_file(entry.path(), log);
        const std::string outputs = Outputs(dir, log);
        const fs::path expected = corpus / (name + ".expected");
        if (rewrite) std::ofstream(expected, std::ios::binary) << outputs;
        EXPECT_EQ(outputs, ReadBytes(expected));
    }
    EXPECT_GE(logs, 30u);

    // All of them in one folder: the report, written a run at a time, is the
    // document a JSON library would write.
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (const fs::directory_entry& entry : fs::directory_iterator(corpus)) {
        if (entry.path().extension() == ".log")
            fs::copy_file(entry.path(), dir / ("Clearon." + entry.path().filename().string()));
    }
    std::wstring out;
    std::wstring err;
    (void)RunCheck({L"report", dir.wstring(), L"--json"}, CheckPlatform{}, out, err);
    const std::string json = ToUtf8(out);
    EXPECT_EQ(nlohmann::ordered_json::parse(json).dump(2) + "\n", json);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace clearon::check
