#include "Platform.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <ctime>
#include <system_error>
#include <vector>

#include <dlfcn.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace platform
{

fs::path ExecutableDirectory()
{
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec)
        return {};
    return exe.parent_path();
}

std::string DriverLibraryFileName(std::string_view windowsName)
{
    std::string stem(windowsName.substr(0, windowsName.rfind('.')));
    std::transform(stem.begin(), stem.end(), stem.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return "lib" + stem + ".so";
}

namespace
{

// Where the system keeps shared libraries, in the order of Debian's loader
// configuration (/etc/ld.so.conf.d). A fixed list: the loader's own search
// would also walk LD_LIBRARY_PATH, whose relative entries name directories
// below wherever the user started the program.
std::vector<fs::path> SystemLibraryDirectories()
{
    std::vector<fs::path> dirs{"/usr/local/lib"};
    const std::string_view arch = KORVAL_LIBRARY_ARCH;
    if (!arch.empty()) {
        for (const char *root : {"/usr/local/lib/", "/lib/", "/usr/lib/"})
            dirs.emplace_back(std::string(root).append(arch));
    }
    dirs.emplace_back("/lib");
    dirs.emplace_back("/usr/lib");
    return dirs;
}

} // namespace

LibraryHandle LoadDriverLibrary(std::string_view windowsName, const fs::path &directory)
{
    const std::string file = DriverLibraryFileName(windowsName);
    std::vector<fs::path> dirs = SystemLibraryDirectories();
    if (!directory.empty() && directory.is_absolute())
        dirs.insert(dirs.begin(), directory);
    // Always a whole path: only a bare name sends dlopen down the loader's
    // search.
    for (const fs::path &dir : dirs) {
        if (void *h = dlopen((dir / file).c_str(), RTLD_NOW | RTLD_LOCAL))
            return h;
    }
    return nullptr;
}

LibraryEntry FindEntry(LibraryHandle library, const char *name)
{
    if (library == nullptr)
        return nullptr;
    return std::bit_cast<LibraryEntry>(dlsym(library, name));
}

void UnloadLibrary(LibraryHandle library)
{
    if (library != nullptr)
        dlclose(library);
}

namespace
{

FileCallObserver fileCallObserver = nullptr;

void Observe(std::string_view call, const fs::path &file)
{
    if (fileCallObserver != nullptr)
        fileCallObserver(call, file);
}

// Closes its descriptor, and with it any lock held on it, on every way out.
struct Descriptor {
    int fd;
    explicit Descriptor(int f) : fd(f) {}
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

bool WriteAll(int fd, std::string_view bytes, const fs::path &file)
{
    while (!bytes.empty()) {
        Observe("write", file);
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(std::size_t(n));
    }
    return true;
}

// Without it the rename could reach the disk before the data, and a power
// loss would leave an empty file where the settings were.
bool SyncFile(int fd, const fs::path &file)
{
    Observe("fsync", file);
    return ::fsync(fd) == 0;
}

bool Rename(const fs::path &from, const fs::path &to)
{
    Observe("rename", to);
    return ::rename(from.c_str(), to.c_str()) == 0;
}

// The rename is durable only once the directory entry itself is on disk.
void SyncDirectory(int lockedFd, const fs::path &dir)
{
    Observe("fsync", dir);
    if (lockedFd >= 0) {
        ::fsync(lockedFd);
        return;
    }
    Descriptor fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.fd >= 0)
        ::fsync(fd.fd);
}

// ReadSettingsFile, with the opened file's status when it was read.
ReadResult ReadRegular(const fs::path &path, std::string &bytes, struct stat &st)
{
    bytes.clear();
    // Opening a FIFO without O_NONBLOCK waits for a writer that never comes.
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.fd < 0)
        return errno == ENOENT ? ReadResult::Missing : ReadResult::Unreadable;
    // The type of what was opened, not of what the name said a moment ago.
    if (::fstat(fd.fd, &st) != 0 || !S_ISREG(st.st_mode))
        return ReadResult::Unreadable;
    // Counted as read, not by the size fstat told: the file may grow.
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd.fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || bytes.size() + std::size_t(n) > MaxSettingsFileSize) {
            bytes.clear();
            return ReadResult::Unreadable;
        }
        if (n == 0)
            return ReadResult::Read;
        bytes.append(buffer, std::size_t(n));
    }
}

// Saving as root must not hand another user's file to root. Anyone else
// may only keep the group, and only one of their own; the file then
// becomes theirs, as any file they write does.
bool KeepOwner(int fd, const struct stat &st)
{
    if (::fchown(fd, st.st_uid, st.st_gid) == 0)
        return true;
    if (errno != EPERM || ::geteuid() == 0)
        return false;
    // Failing that, the user's own group, as for a file they create.
    const bool groupKept = ::fchown(fd, uid_t(-1), st.st_gid) == 0;
    return groupKept || errno == EPERM;
}

fs::path RealPath(const fs::path &target)
{
    std::error_code ec;
    fs::path real = fs::weakly_canonical(fs::absolute(target, ec), ec);
    return ec ? target : real;
}

constexpr char TemporarySuffix[] = ".XXXXXX";

// A save killed half-way leaves its temporary file behind. One is a leftover
// when it has the temporary name of `real`, belongs to this user, is older
// than a minute and no live save holds its lock (a save locks its file from
// creation to rename, so even a save stalled on a slow disk is left alone).
void RemoveLeftoverTemporaries(const fs::path &real)
{
    const std::string name = real.filename().string();
    const std::size_t length = name.size() + sizeof TemporarySuffix - 1;
    std::error_code ec;
    for (fs::directory_iterator it(real.parent_path(), ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string entry = it->path().filename().string();
        if (entry.size() != length || entry.compare(0, name.size() + 1, name + ".") != 0 ||
            !std::all_of(entry.end() - 6, entry.end(),
                         [](unsigned char c) { return std::isalnum(c) != 0; }))
            continue;
        const int fd = ::open(it->path().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            continue;
        struct stat st;
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            st.st_mtime < ::time(nullptr) - 60 && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlink(it->path().c_str());
        ::close(fd);
    }
}

} // namespace

ReadResult ReadSettingsFile(const fs::path &path, std::string &bytes)
{
    struct stat st;
    return ReadRegular(path, bytes, st);
}

void ObserveFileCalls(FileCallObserver observer)
{
    fileCallObserver = observer;
}

bool UpdateFile(const fs::path &target, const FileChange &change)
{
    const fs::path real = RealPath(target);
    const fs::path dir = real.parent_path();

    // The directory lock: a lock on the file itself would stay on the inode
    // the rename replaces, where the next save no longer looks. A directory
    // this user cannot list is updated without it.
    Descriptor lock(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (lock.fd >= 0) {
        while (::flock(lock.fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }

    std::string current;
    struct stat st;
    const ReadResult read = ReadRegular(real, current, st);
    if (read == ReadResult::Unreadable)
        return false;
    const bool exists = read == ReadResult::Read;
    const std::optional<std::string> bytes = change(exists ? &current : nullptr);
    if (!bytes)
        return true;

    // A read-only settings file is the user's way of protecting it.
    mode_t mode;
    if (exists) {
        if (::access(real.c_str(), W_OK) != 0)
            return false;
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }

    std::string tmp = real.string() + TemporarySuffix;
    int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    // Held until the rename: it tells the leftover sweep this file is live.
    ::flock(fd, LOCK_EX);
    // The owner first: changing it may clear set-id bits the mode restores.
    bool ok = (!exists || KeepOwner(fd, st)) && ::fchmod(fd, mode) == 0 &&
              WriteAll(fd, *bytes, tmp) && SyncFile(fd, tmp);
    ok = ok && Rename(tmp, real);
    if (!ok)
        ::unlink(tmp.c_str());
    ::close(fd); // after fsync, closing cannot lose the data any more
    if (!ok)
        return false;
    SyncDirectory(lock.fd, dir);
    RemoveLeftoverTemporaries(real);
    return true;
}

bool CanReplaceFile(const fs::path &target)
{
    const fs::path real = RealPath(target);
    std::error_code ec;
    // The effective user's rights, as the writes themselves will have.
    const auto allowed = [](const fs::path &p, int mode) {
        return ::faccessat(AT_FDCWD, p.c_str(), mode, AT_EACCESS) == 0;
    };
    if (!allowed(real.parent_path(), W_OK | X_OK))
        return false;
    // A file this user cannot read is never replaced: what it holds would
    // be lost.
    return !fs::exists(real, ec) || allowed(real, R_OK | W_OK);
}

fs::path UserConfigDirectory()
{
    if (const char *xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr) {
        // A relative value is to be ignored, says the base-directory rule.
        if (fs::path p(xdg); p.is_absolute())
            return p;
    }
    const char *home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') {
        const passwd *pw = ::getpwuid(::geteuid());
        home = pw != nullptr ? pw->pw_dir : nullptr;
    }
    if (home == nullptr || *home == '\0')
        return {};
    return fs::path(home) / ".config";
}

namespace
{

// A timed sleep ends up to the timer slack (50 µs by default) plus the
// wake-up latency late, ~100 µs on a virtual machine: 24 pauses of a
// register write turn that into milliseconds. So the sleep ends this much
// early and the rest is spun, as the simulator times its replies; the
// thread's timer slack is left alone, the lead covers it.
constexpr int64_t PauseSpinNs = 150'000;

int64_t MonotonicNs()
{
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

} // namespace

void Pause(std::chrono::microseconds length)
{
    const int64_t start = MonotonicNs();
    const int64_t end = start + std::chrono::nanoseconds(length).count();
    // An absolute deadline: a signal's interruption resumes towards the
    // same end instead of starting the length anew.
    if (const int64_t wake = end - PauseSpinNs; wake > start) {
        const timespec at{time_t(wake / 1'000'000'000), long(wake % 1'000'000'000)};
        while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
        }
    }
    while (MonotonicNs() < end) {
    }
}

bool LocalTime(std::time_t t, std::tm &parts)
{
    return ::localtime_r(&t, &parts) != nullptr;
}

bool UtcTime(std::time_t t, std::tm &parts)
{
    return ::gmtime_r(&t, &parts) != nullptr;
}

} // namespace platform
