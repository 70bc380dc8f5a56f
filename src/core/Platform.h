// The few operating-system services the core needs. Each platform has its
// own implementation file (PlatformPosix.cpp, PlatformWin.cpp).
#pragma once

#include <chrono>
#include <cstddef>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
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
// Looks in `directory` first (ignored unless absolute), then in the
// system's fixed library directories (on Windows only System32), always by
// absolute path. Never looks in the current working directory or in any
// directory an environment variable names (PATH, LD_LIBRARY_PATH), so a
// library planted where the user started the program is not loaded.
// Returns null when no library could be loaded.
LibraryHandle LoadDriverLibrary(std::string_view windowsName,
                                const std::filesystem::path &directory);

// File name a driver library has on this platform ("libqcom417.so").
std::string DriverLibraryFileName(std::string_view windowsName);

// Exported entry of a loaded library, or null when it has none.
LibraryEntry FindEntry(LibraryHandle library, const char *name);

void UnloadLibrary(LibraryHandle library);

// A settings file is far smaller; anything larger is not one.
inline constexpr std::size_t MaxSettingsFileSize = 1 << 20;

enum class ReadResult {
    Read,
    Missing,
    // Exists but is no regular file of at most MaxSettingsFileSize bytes
    // that this user may read: a FIFO, a device, a directory, no permission.
    Unreadable,
};

// Reads the whole of `path` into `bytes` (emptied otherwise). Never blocks
// on a FIFO or device and never reads more than the size cap.
ReadResult ReadSettingsFile(const std::filesystem::path &path, std::string &bytes);

// New contents for a file from its current ones (null when it does not
// exist); nothing leaves the file as it is.
using FileChange = std::function<std::optional<std::string>(const std::string *current)>;

// Replaces the contents of `target` with what `change` makes of them, so
// that any reader, also after a crash or power loss at any point, finds
// either the old or the new content: the bytes go to a new file beside the
// target, reach the disk, and the new file is renamed over the target,
// keeping the target's permission bits, owner and group. A lock held from
// the read to the rename makes concurrent updates of the same file, also by
// other processes, apply one on top of the other. A symbolic link is
// followed and its target replaced. Returns false, with the target
// untouched, when it exists but cannot be read (nothing that was in it may
// be lost) or when it cannot be written (the target itself read-only counts
// as such); `change` is not called for an unreadable file.
bool UpdateFile(const std::filesystem::path &target, const FileChange &change);

// Whether UpdateFile may write `target` as far as the system's permissions
// tell: its directory takes a new file and the target, when it exists, may
// be read and written by this user.
bool CanReplaceFile(const std::filesystem::path &target);

// Tests watch the file-system calls of UpdateFile through this: "write",
// "fsync" and "rename" with the file they act on ("rename" with its new
// name), "fsync" of a directory after a rename. Null, the default, watches
// nothing; set it only while no update runs.
using FileCallObserver = void (*)(std::string_view call, const std::filesystem::path &file);
void ObserveFileCalls(FileCallObserver observer);

// The per-user directory for programs' settings: $XDG_CONFIG_HOME when it
// is an absolute path, else ~/.config (POSIX); %LOCALAPPDATA% (Windows).
// Empty when the system names none.
std::filesystem::path UserConfigDirectory();

// Blocks the calling thread for `length`. On POSIX it never returns
// earlier and returns within a few µs after, unless the system gives the
// thread no processor then; the last ~150 µs are spun. On Windows it is
// Sleep of the length in whole milliseconds, rounded up, which ends on the
// system's timer tick.
void Pause(std::chrono::microseconds length);

// `t` broken down in local time or in UTC, as the C library's reentrant
// forms give it (localtime_r, localtime_s); false when it cannot.
bool LocalTime(std::time_t t, std::tm &parts);
bool UtcTime(std::time_t t, std::tm &parts);

} // namespace platform
