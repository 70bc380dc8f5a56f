// What korvalctl needs of the operating system beyond the core's platform
// layer: Ctrl+C and its kin, a wait they cut short, and whether a stream is
// a terminal. One implementation file per system, chosen by CMake
// (CliPlatformPosix.cpp, CliPlatformWin.cpp), so the commands stay free of system calls.
#pragma once

#include <chrono>
#include <cstdio>

namespace cli
{

// Ctrl+C, a termination request and a closed terminal (a dropped SSH
// session; on Windows the console's close, logoff and shutdown) set the
// interrupt flag and end a wait, and nothing else: the
// work in progress, one exchange, always finishes, and the command then
// leaves the outputs as it promises. A closed pipe downstream ends a loop
// through ferror, never by a kill. Once per process is enough; again does
// no harm.
void InstallSignalHandlers();

// Whether one of them came since ClearInterrupted.
bool Interrupted();
void ClearInterrupted();

// Waits until `until` on the steady clock, or until one of them comes;
// false when interrupted.
bool WaitUntil(std::chrono::steady_clock::time_point until);

// Whether `stream` is a terminal a person watches (progress lines, a
// trace flushed line by line); false for a pipe, a file, a memory stream.
bool IsTerminal(std::FILE *stream);

// A console shows korvalctl's UTF-8 as written (on Windows it switches the
// console's output code page for the run; elsewhere there is nothing to do).
void PrepareConsole();

} // namespace cli
