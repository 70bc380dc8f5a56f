#include "Platform.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <ctime>
#include <system_error>

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

bool SameDirectory(const fs::path &a, const fs::path &b)
{
    std::error_code ec;
    return fs::equivalent(a, b, ec);
}

// The loader searches LD_LIBRARY_PATH before its cache; an empty or relative
// entry there makes it search the current directory. Such a search is only
// refused when it could actually find a planted file, so ordinary settings
// keep working.
bool LoaderWouldSearchCwd(const std::string &file, const fs::path &allowed)
{
    std::error_code ec;
    fs::path cwd = fs::current_path(ec);
    if (ec || SameDirectory(cwd, allowed) || !fs::exists(cwd / file, ec))
        return false;
    const char *env = std::getenv("LD_LIBRARY_PATH");
    if (env == nullptr)
        return false;
    std::string list(env);
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find_first_of(":;", start);
        if (end == std::string::npos)
            end = list.size();
        fs::path entry = list.substr(start, end - start);
        if (entry.empty() || entry.is_relative() || SameDirectory(entry, cwd))
            return true;
        start = end + 1;
    }
    return false;
}

} // namespace

LibraryHandle LoadDriverLibrary(std::string_view windowsName, const fs::path &directory)
{
    const std::string file = DriverLibraryFileName(windowsName);
    if (!directory.empty() && directory.is_absolute()) {
        if (void *h = dlopen((directory / file).c_str(), RTLD_NOW | RTLD_LOCAL))
            return h;
    }
    // A bare name makes the loader search its ordinary places, which do not
    // include the current directory unless LD_LIBRARY_PATH says so.
    if (LoaderWouldSearchCwd(file, directory))
        return nullptr;
    return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
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

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
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

// The rename is durable only once the directory entry itself is on disk.
void SyncDirectory(const fs::path &dir)
{
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
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

bool ReplaceFileContents(const fs::path &target, std::string_view bytes)
{
    std::error_code ec;
    fs::path real = fs::weakly_canonical(fs::absolute(target, ec), ec);
    if (ec)
        real = target;

    // A read-only settings file is the user's way of protecting it.
    mode_t mask = ::umask(0);
    ::umask(mask);
    mode_t mode = 0666 & ~mask;
    struct stat st;
    if (::stat(real.c_str(), &st) == 0) {
        if (::access(real.c_str(), W_OK) != 0)
            return false;
        mode = st.st_mode & 07777;
    }

    std::string tmp = real.string() + TemporarySuffix;
    int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    // Held until the rename: it tells the leftover sweep this file is live.
    ::flock(fd, LOCK_EX);
    bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, bytes) && ::fsync(fd) == 0;
    ok = ok && ::rename(tmp.c_str(), real.c_str()) == 0;
    if (!ok)
        ::unlink(tmp.c_str());
    ::close(fd); // after fsync, closing cannot lose the data any more
    if (!ok)
        return false;
    SyncDirectory(real.parent_path());
    RemoveLeftoverTemporaries(real);
    return true;
}

bool CanReplaceFile(const fs::path &target)
{
    std::error_code ec;
    fs::path real = fs::weakly_canonical(fs::absolute(target, ec), ec);
    if (ec)
        real = target;
    // The effective user's rights, as the writes themselves will have.
    const auto allowed = [](const fs::path &p, int mode) {
        return ::faccessat(AT_FDCWD, p.c_str(), mode, AT_EACCESS) == 0;
    };
    if (!allowed(real.parent_path(), W_OK | X_OK))
        return false;
    return !fs::exists(real, ec) || allowed(real, W_OK);
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

} // namespace platform
