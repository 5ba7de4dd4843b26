// What became of one program Clearon launched.
#pragma once

#include <cstdint>
#include <optional>

namespace clearon {

struct LaunchResult {
    // The program was started. A command that was refused, or that Windows
    // could not start, was not: nothing that depends on the program having
    // run (such as the resume for Aegira's installer) may follow from it.
    bool started = false;
    // Its exit code, when the wait saw the whole tree end; nothing when
    // ProgramTimeLimit passed first and the tree was left running.
    std::optional<std::uint32_t> exitCode;
};

}  // namespace clearon
