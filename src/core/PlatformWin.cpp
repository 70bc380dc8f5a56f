#include "Platform.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include <windows.h>

namespace fs = std::filesystem;

namespace platform
{

fs::path ExecutableDirectory()
{
    std::vector<wchar_t> buf(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buf.data(), DWORD(buf.size()));
        if (n == 0)
            return {};
        if (n < buf.size())
            return fs::path(std::wstring(buf.data(), n)).parent_path();
        buf.resize(buf.size() * 2);
    }
}

std::string DriverLibraryFileName(std::string_view windowsName)
{
    return std::string(windowsName);
}

LibraryHandle LoadDriverLibrary(std::string_view windowsName, const fs::path &directory)
{
    const std::string file(windowsName);
    if (!directory.empty() && directory.is_absolute()) {
        // The directory's own dependencies resolve beside the driver, not in
        // the current directory.
        fs::path full = directory / file;
        if (HMODULE h =
                LoadLibraryExW(full.c_str(), nullptr,
                               LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32))
            return h;
    }
    // The application directory and System32 only: never the current
    // directory or PATH, where a planted library could wait.
    return LoadLibraryExA(file.c_str(), nullptr,
                          LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
}

LibraryEntry FindEntry(LibraryHandle library, const char *name)
{
    if (library == nullptr)
        return nullptr;
    return reinterpret_cast<LibraryEntry>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void UnloadLibrary(LibraryHandle library)
{
    if (library != nullptr)
        FreeLibrary(static_cast<HMODULE>(library));
}

namespace {

FileCallObserver fileCallObserver = nullptr;

void Observe(std::string_view call, const fs::path &file)
{
    if (fileCallObserver != nullptr)
        fileCallObserver(call, file);
}

fs::path Absolute(const fs::path &p)
{
    std::error_code ec;
    fs::path a = fs::absolute(p, ec);
    return ec ? p : a;
}

// A read-only settings file is the user's way of protecting it.
bool IsReadOnlyFile(const fs::path &p)
{
    const DWORD attrs = GetFileAttributesW(p.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY);
}

// Others may read, replace or delete the file while it is read.
constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

ReadResult ReadRegular(const fs::path &path, std::string &bytes)
{
    bytes.clear();
    // A directory does not open without FILE_FLAG_BACKUP_SEMANTICS.
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, ShareAll, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // The per-user folder does not exist before the first save.
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? ReadResult::Missing
                   : ReadResult::Unreadable;
    }
    // A device or a pipe ("CON", "\\.\pipe\...") could block or never end.
    bool ok = GetFileType(h) == FILE_TYPE_DISK;
    // Counted as read, not by the file's size: the file may grow.
    char buffer[8192];
    while (ok) {
        DWORD n = 0;
        ok = ReadFile(h, buffer, DWORD(sizeof buffer), &n, nullptr) &&
             bytes.size() + n <= MaxSettingsFileSize;
        if (!ok || n == 0)
            break;
        bytes.append(buffer, n);
    }
    CloseHandle(h);
    if (!ok) {
        bytes.clear();
        return ReadResult::Unreadable;
    }
    return ReadResult::Read;
}

// Saves of one file take turns on a hidden lock file beside it, which
// stays: a lock on the settings file itself would stop the rename over it.
// INVALID_HANDLE_VALUE when there is none to be had (a directory this user
// cannot write, where the save fails anyway).
HANDLE LockBeside(const fs::path &real)
{
    fs::path lockPath = real;
    lockPath += L".lock";
    HANDLE h = CreateFileW(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE, ShareAll, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return h;
    OVERLAPPED whole{};
    if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &whole)) {
        CloseHandle(h);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

void Unlock(HANDLE lock)
{
    if (lock == INVALID_HANDLE_VALUE)
        return;
    OVERLAPPED whole{};
    UnlockFileEx(lock, 0, 1, 0, &whole);
    CloseHandle(lock);
}

// A save killed half-way leaves its temporary file (".tmp<process id>")
// behind. Those older than a minute go; one that a live save still has open
// cannot be deleted, since saves share nothing while the file is open.
void RemoveLeftoverTemporaries(const fs::path &real)
{
    const std::wstring prefix = real.filename().wstring() + L".tmp";
    const auto cutoff = fs::file_time_type::clock::now() - std::chrono::minutes(1);
    std::error_code ec;
    for (fs::directory_iterator it(real.parent_path(), ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::wstring name = it->path().filename().wstring();
        if (name.size() <= prefix.size() || name.size() > prefix.size() + 10 ||
            name.compare(0, prefix.size(), prefix) != 0 ||
            !std::all_of(name.begin() + std::ptrdiff_t(prefix.size()), name.end(),
                         [](wchar_t c) { return c >= L'0' && c <= L'9'; }))
            continue;
        std::error_code timeError;
        const auto written = fs::last_write_time(it->path(), timeError);
        if (!timeError && written < cutoff && it->is_regular_file(timeError))
            DeleteFileW(it->path().c_str());
    }
}

// Writes `bytes` to a new file and renames it over `real`.
bool Replace(const fs::path &real, std::string_view bytes)
{
    fs::path tmp = real;
    tmp += L".tmp" + std::to_wstring(GetCurrentProcessId());
    HANDLE h = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bool ok = true;
    while (ok && !bytes.empty()) {
        DWORD chunk = bytes.size() > 0x10000000 ? 0x10000000 : DWORD(bytes.size());
        DWORD written = 0;
        Observe("write", tmp);
        ok = WriteFile(h, bytes.data(), chunk, &written, nullptr) && written > 0;
        if (ok)
            bytes.remove_prefix(written);
    }
    // Without it the rename could reach the disk before the data.
    Observe("fsync", tmp);
    ok = ok && FlushFileBuffers(h);
    ok = CloseHandle(h) && ok;
    if (ok) {
        Observe("rename", real);
        // A reader outside the lock (another program starting up) keeps the
        // file open for a moment, and Windows refuses to rename over an open
        // file: wait for it rather than fail the save.
        for (int tries = 0;; ++tries) {
            ok = MoveFileExW(tmp.c_str(), real.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
            const DWORD error = ok ? 0 : GetLastError();
            if (ok || tries == 200 ||
                (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION))
                break;
            Sleep(5);
        }
    }
    if (!ok)
        DeleteFileW(tmp.c_str());
    return ok;
}

} // namespace

ReadResult ReadSettingsFile(const fs::path &path, std::string &bytes)
{
    return ReadRegular(path, bytes);
}

void ObserveFileCalls(FileCallObserver observer)
{
    fileCallObserver = observer;
}

bool UpdateFile(const fs::path &target, const FileChange &change)
{
    const fs::path real = Absolute(target);
    const HANDLE lock = LockBeside(real);
    std::string current;
    const ReadResult read = ReadRegular(real, current);
    bool ok = read != ReadResult::Unreadable;
    std::optional<std::string> bytes;
    if (ok)
        bytes = change(read == ReadResult::Read ? &current : nullptr);
    if (ok && bytes) {
        ok = !IsReadOnlyFile(real) && Replace(real, *bytes);
        if (ok)
            RemoveLeftoverTemporaries(real);
    }
    Unlock(lock);
    return ok;
}

bool CanReplaceFile(const fs::path &target)
{
    const fs::path real = Absolute(target);
    if (IsReadOnlyFile(real))
        return false;
    // A file this user cannot read is never replaced: what it holds would
    // be lost. (Backup semantics open a directory too, which is no question
    // of rights.)
    HANDLE file = CreateFileW(real.c_str(), GENERIC_READ, ShareAll, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
        return false;
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    // Access control lists decide who may create a file in a directory;
    // creating one is the only reliable question to ask them.
    fs::path probe = real;
    probe += L".probe" + std::to_wstring(GetCurrentProcessId());
    HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    return true;
}

fs::path UserConfigDirectory()
{
    const wchar_t *local = _wgetenv(L"LOCALAPPDATA");
    if (local == nullptr || *local == L'\0')
        return {};
    fs::path p(local);
    return p.is_absolute() ? p : fs::path();
}

void Pause(std::chrono::microseconds length)
{
    // Sleep ends on the system's timer tick (1 to 15.6 ms), so a sleep to
    // shortly before the end and a spin of the rest, as on POSIX, could
    // spin most of a tick on the window's thread. The pause stays what it
    // always was there, Sleep of the length in whole milliseconds.
    if (length <= std::chrono::microseconds::zero())
        return;
    Sleep(DWORD((length.count() + 999) / 1000));
}

bool LocalTime(std::time_t t, std::tm &parts)
{
    return ::localtime_s(&parts, &t) == 0;
}

bool UtcTime(std::time_t t, std::tm &parts)
{
    return ::gmtime_s(&parts, &t) == 0;
}

} // namespace platform
