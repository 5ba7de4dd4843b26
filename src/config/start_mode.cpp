#include "config/start_mode.h"

namespace clearon {

StartMode DecideStartMode(bool showGui, bool autoRun, bool personCanSee) noexcept {
    if (!showGui) return StartMode::Silent;
    if (personCanSee) return StartMode::Dialog;
    return autoRun ? StartMode::SilentNobodySees : StartMode::NeedsPerson;
}

MessageSink MessageSinkFor(bool silent, bool personCanSee) noexcept {
    if (silent) return MessageSink::StandardOutput;
    return personCanSee ? MessageSink::Box : MessageSink::LogOnly;
}

}  // namespace clearon
