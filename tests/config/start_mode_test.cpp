// How a start goes on by its settings and who can see it.
#include <gtest/gtest.h>

#include "config/start_mode.h"

namespace clearon {
namespace {

// A person at the screen sees what the settings ask for; where nobody can,
// only a run that needs nobody goes ahead.
TEST(DecideStartMode, NobodyAtTheScreenNeverGetsADialogToWaitOn) {
    const struct {
        bool showGui, autoRun, personCanSee;
        StartMode mode;
        MessageSink sink;
    } cases[] = {
        {false, false, true, StartMode::Silent, MessageSink::StandardOutput},
        {false, true, false, StartMode::Silent, MessageSink::StandardOutput},
        {true, false, true, StartMode::Dialog, MessageSink::Box},
        {true, true, true, StartMode::Dialog, MessageSink::Box},
        {true, true, false, StartMode::SilentNobodySees, MessageSink::StandardOutput},
        {true, false, false, StartMode::NeedsPerson, MessageSink::LogOnly},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        const StartMode mode = DecideStartMode(c.showGui, c.autoRun, c.personCanSee);
        EXPECT_EQ(mode, c.mode);
        // Messages follow the mode the start ends up in.
        EXPECT_EQ(MessageSinkFor(mode != StartMode::Dialog && mode != StartMode::NeedsPerson,
                                 c.personCanSee),
                  c.sink);
    }
}

}  // namespace
}  // namespace clearon
