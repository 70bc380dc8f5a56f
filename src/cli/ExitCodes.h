// korvalctl's exit codes (docs/korvalctl.md, "Exit codes"): one meaning
// each, stable, so that a script learns what happened from these alone.
#pragma once

enum TExitCode : int {
    ExitOk = 0,
    ExitModule = 1,        // a driver or module error, or a file that could not be saved
    ExitUsage = 2,         // bad command line: nothing was sent to the module
    ExitMismatch = 3,      // a register read back other than written, a profile that differs,
                           // a channel that fails the acceptance test
    ExitNotFound = 4,      // scan: every probe made, no module answered
    ExitInterrupted = 130, // Ctrl+C cut short work that had an end (walk --count, a write, scan)
};
