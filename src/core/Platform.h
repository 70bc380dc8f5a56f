// The few operating-system services the core needs. Each platform has its
// own implementation file (PlatformPosix.cpp, PlatformWin.cpp).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace platform
{

// Directory holding the running executable, absolute; empty when the
// system cannot tell.
std::filesystem::path ExecutableDirectory();

using LibraryHandle = void *;
using LibraryEntry = void (*)();

// Loads a driver library named by its Windows file name ("QCOM417.DLL").
// Looks in `directory` first, then in the system's own library locations
// (on Windows only System32). Never looks in the current working
// directory, so a library planted where the user started the program is
// not loaded. Returns null when no library could be loaded.
LibraryHandle LoadDriverLibrary(std::string_view windowsName,
                                const std::filesystem::path &directory);

// File name a driver library has on this platform ("libqcom417.so").
std::string DriverLibraryFileName(std::string_view windowsName);

// Exported entry of a loaded library, or null when it has none.
LibraryEntry FindEntry(LibraryHandle library, const char *name);

void UnloadLibrary(LibraryHandle library);

// Replaces `target` with `bytes` so that any reader, also after a crash or
// power loss at any point, finds either the old or the new content: the
// bytes go to a new file beside the target, reach the disk, and the new
// file is renamed over the target. A symbolic link is followed and its
// target replaced. Returns false, with the target untouched, when the file
// cannot be written (the target itself read-only counts as such).
bool ReplaceFileContents(const std::filesystem::path &target, std::string_view bytes);

// Whether ReplaceFileContents may write `target` as far as the system's
// permissions tell: its directory takes a new file and the target, when it
// exists, is not read-only.
bool CanReplaceFile(const std::filesystem::path &target);

// The per-user directory for programs' settings: $XDG_CONFIG_HOME when it
// is an absolute path, else ~/.config (POSIX); %LOCALAPPDATA% (Windows).
// Empty when the system names none.
std::filesystem::path UserConfigDirectory();

} // namespace platform
