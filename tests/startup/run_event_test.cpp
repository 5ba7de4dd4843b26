// The Application event of a run's end: which ID and type each outcome word
// gets, and the text a collector reads.
#include <gtest/gtest.h>

#include <string>

#include "startup/run_event.h"

namespace clearon {
namespace {

TEST(BuildRunEvent, EachOutcomeHasItsIdTypeAndText) {
    const struct {
        OutcomeKind kind;
        int exitCode;
        std::int32_t removed;
        std::int32_t left;
        std::uint32_t id;
        RunEventType type;
        const wchar_t* text;
    } cases[] = {
        {OutcomeKind::Done, 0, 3, 0, 1000, RunEventType::Information,
         L"Clearon finished: every product found was removed.\r\nOutcome: done\r\n"
         L"Exit code: 0\r\nProducts removed: 3\r\nProducts left: 0"},
        {OutcomeKind::RestartNeeded, 0, 1, 0, 1001, RunEventType::Warning,
         L"Clearon finished: Aegira's installer needs a restart to finish.\r\n"
         L"Outcome: restart-needed\r\nExit code: 0\r\nProducts removed: 1\r\nProducts left: 0"},
        {OutcomeKind::RetryLater, 1618, 0, 0, 1002, RunEventType::Warning,
         L"Clearon finished: the run could not be done now; start Clearon again later.\r\n"
         L"Outcome: retry-later\r\nExit code: 1618\r\nProducts removed: 0\r\nProducts left: 0"},
        {OutcomeKind::ProductStayed, 1, 2, 1, 1003, RunEventType::Error,
         L"Clearon finished: at least one product was still installed after its uninstaller "
         L"ran.\r\nOutcome: product-stayed\r\nExit code: 1\r\nProducts removed: 2\r\n"
         L"Products left: 1"},
        {OutcomeKind::InstallerFailed, 0, 0, 0, 1004, RunEventType::Error,
         L"Clearon finished: Aegira's installer failed.\r\nOutcome: installer-failed\r\n"
         L"Exit code: 0\r\nProducts removed: 0\r\nProducts left: 0"},
        {OutcomeKind::ClearonCode, 112, 0, 0, 1005, RunEventType::Error,
         L"Clearon finished: Clearon ended with a code of its own; its log says why.\r\n"
         L"Outcome: clearon-code\r\nExit code: 112\r\nProducts removed: 0\r\nProducts left: 0"},
        // An outcome only ClearonCheck gives still leaves an event, and names it.
        {OutcomeKind::NoRun, -1, 0, 2, 1005, RunEventType::Error,
         L"Clearon finished: Clearon ended with a code of its own; its log says why.\r\n"
         L"Outcome: no-run\r\nExit code: -1\r\nProducts removed: 0\r\nProducts left: 2"},
    };
    for (const auto& c : cases) {
        const RunEvent event = BuildRunEvent({c.kind, c.exitCode, c.removed, c.left});
        EXPECT_EQ(event.id, c.id) << c.text;
        EXPECT_EQ(event.type, c.type) << c.text;
        EXPECT_EQ(event.text, c.text);
    }
}

}  // namespace
}  // namespace clearon
