// korvalctl: the module operations of the program from a command line, for
// scripts and for a technician at a terminal. One entry runs one command
// line to its exit code; results go to `Out`, messages to `Err`.
#pragma once

#include "ExitCodes.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>

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
