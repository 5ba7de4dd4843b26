// One run at a time on a machine: the single-instance name and the bounded
// wait for a run that holds it.
#pragma once

#include <cstdint>

#include "platform/handles.h"

namespace clearon {

struct RunLock {
    // Held until the process ends; empty when the name could not be made
    // (the start then goes on as it always did).
    UniqueKernelHandle mutex;
    // Kept open while the mutex lives in it.
    UniquePrivateNamespace privateNamespace;
    bool waited = false;    // another run held it when this start began
    bool timedOut = false;  // it still held it when the limit passed
};

// Takes the single-instance name, waiting at most `limitMinutes` (0: not at
// all) for a run that holds it. The waiting line, a name held by someone
// else and a limit that passed are logged into the run log's own path.
[[nodiscard]] RunLock WaitForOtherRuns(std::uint32_t limitMinutes);

}  // namespace clearon
