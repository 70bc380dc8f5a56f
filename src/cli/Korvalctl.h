// korvalctl: the module operations of the program from a command line, for
// scripts and for a technician at a terminal. One entry runs one command
// line to its exit code; results go to `Out`, messages to `Err`.
#pragma once

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>

// Exit codes; a script learns what happened from these alone.
enum TExitCode : int {
    ExitOk = 0,
    ExitModule = 1,        // a driver or module error, or a file that could not be saved
    ExitUsage = 2,         // bad command line: nothing was sent to the module
    ExitMismatch = 3,      // a register read back other than written
    ExitNotFound = 4,      // scan: every probe made, no module answered
    ExitInterrupted = 130, // Ctrl+C cut short work that had an end (walk --count, a write, scan)
};

struct TCliEnvironment {
    // Where the driver libraries are looked for first and where the
    // default settings file lives (beside the program, or the per-user
    // fallback SettingsFilesOf chooses).
    std::filesystem::path ProgramDirectory;
    std::FILE *Out = stdout;
    std::FILE *Err = stderr;
    // SIGINT, SIGTERM and SIGHUP end waits and loops cleanly; off for
    // callers that own the process's signals (tests running the command
    // in-process).
    bool HandleSignals = true;
    // The clock that paces walk and inputs --watch, and the wait until a
    // time on it (false: interrupted). Empty: the steady clock and a wait
    // that those signals end; a test gives a clock of its own.
    std::function<std::chrono::steady_clock::time_point()> Now;
    std::function<bool(std::chrono::steady_clock::time_point)> WaitUntil;
};

int RunKorvalctl(int argc, const char *const *argv, const TCliEnvironment &env);

// RunKorvalctl for the running executable on stdout/stderr.
int KorvalctlMain(int argc, const char *const *argv);
