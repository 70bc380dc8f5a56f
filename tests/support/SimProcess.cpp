#include "SimProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace simtest {

namespace {

using Clock = std::chrono::steady_clock;

// How long a signalled simulator may take to exit before SIGKILL: it only
// bounds a hang, since the wait ends when the child does.
constexpr Ms StopGrace = 10000ms;

} // namespace

SimProcess::SimProcess(const std::string &executable, const std::vector<std::string> &args,
                       Ms startTimeout)
{
    // Built before fork: the child of a threaded process may only exec.
    // First, so that a --timing in `args` comes later and wins.
    static const std::string timing = "--timing", none = "none";
    std::vector<char *> argv{const_cast<char *>(executable.c_str()),
                             const_cast<char *>(timing.c_str()), const_cast<char *>(none.c_str())};
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        failure_ = "pipe failed";
        return;
    }
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        failure_ = "pipe failed";
        return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        ::execv(executable.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
    if (pid_ < 0) {
        failure_ = "fork failed";
        return;
    }
    reader_ = std::thread(&SimProcess::Read, this);

    const auto deadline = Clock::now() + startTimeout;
    std::unique_lock lock(mutex_);
    while (!ready_) {
        if (!changed_.wait_until(lock, deadline, [this] { return !lines_.empty() || ended_; })) {
            failure_ = "no \"ready\" from " + executable + " in time";
            break;
        }
        if (lines_.empty()) {
            failure_ = executable + " ended before \"ready\"";
            // Its complaint on stderr may still be on the way.
            changed_.wait_until(lock, deadline, [this] { return finished_; });
            break;
        }
        std::string line = std::move(lines_.front());
        lines_.pop_front();
        if (line == "ready") {
            ready_ = true;
        } else {
            Parse(line);
            startLines_.push_back(std::move(line));
        }
    }
    if (!ready_) {
        failure_ += "; read:\n";
        for (const std::string &line : startLines_)
            failure_ += line + '\n';
        failure_ += partial_;
        if (!stderr_.empty())
            failure_ += "\nstderr:\n" + stderr_;
    }
}

SimProcess::~SimProcess()
{
    Stop(SIGTERM);
    if (reader_.joinable())
        reader_.join();
    for (int fd : {out_, err_})
        if (fd >= 0)
            ::close(fd);
}

void SimProcess::Read()
{
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    for (int open = 2; open > 0;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (pollfd &p : fds) {
            if (p.fd < 0 || p.revents == 0)
                continue;
            char buf[512];
            const ssize_t n = ::read(p.fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR)
                continue;
            const bool isOut = p.fd == out_;
            std::lock_guard lock(mutex_);
            if (n <= 0) {
                ended_ = ended_ || isOut;
                p.fd = -1; // poll skips it from now on
                --open;
            } else if (isOut) {
                partial_.append(buf, std::size_t(n));
                for (std::size_t eol; (eol = partial_.find('\n')) != std::string::npos;) {
                    lines_.push_back(partial_.substr(0, eol));
                    partial_.erase(0, eol + 1);
                }
            } else {
                stderr_.append(buf, std::size_t(n));
            }
            changed_.notify_all();
        }
    }
    // Also after a failed poll: nobody may wait for lines that cannot come.
    std::lock_guard lock(mutex_);
    ended_ = finished_ = true;
    changed_.notify_all();
}

void SimProcess::Parse(const std::string &line)
{
    std::istringstream in(line);
    std::string word;
    in >> word;
    if (word == "udp") {
        std::string where;
        in >> where;
        if (const auto colon = where.rfind(':'); colon != std::string::npos)
            udpPort_ = uint16_t(std::atoi(where.c_str() + colon + 1));
    } else if (word == "pty") {
        in >> pty_;
    } else if (word == "link") {
        in >> link_;
    } else if (word == "module") {
        Module m;
        std::string key;
        in >> m.address >> key >> m.baudCode >> key >> m.name >> key >> m.version;
        modules_.push_back(m);
    }
}

void SimProcess::Signal(int sig) const
{
    if (pid_ > 0)
        ::kill(pid_, sig);
}

bool SimProcess::WaitForLine(const std::string &line, Ms timeout)
{
    const auto deadline = Clock::now() + timeout;
    std::unique_lock lock(mutex_);
    for (;;) {
        if (!changed_.wait_until(lock, deadline, [this] { return !lines_.empty() || ended_; }) ||
            lines_.empty())
            return false;
        const bool found = lines_.front() == line;
        lines_.pop_front();
        if (found)
            return true;
    }
}

int SimProcess::Stop(int sig)
{
    if (pid_ <= 0)
        return -1;
    ::kill(pid_, sig);
    const auto deadline = Clock::now() + StopGrace;
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(5ms);
    }
    pid_ = -1;
    // The child is gone, so the reader meets end of file on both pipes and
    // has everything the child wrote.
    if (reader_.joinable())
        reader_.join();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::optional<SimProcess::Requests> SimProcess::StopAndCount(int sig)
{
    Stop(sig);
    std::lock_guard lock(mutex_);
    for (const std::string &line : lines_) {
        if (!line.starts_with("requests total="))
            continue;
        Requests r;
        std::istringstream in(line.substr(9));
        for (std::string word; in >> word;) {
            const auto eq = word.find('=');
            if (eq == std::string::npos)
                return std::nullopt;
            const char *value = word.c_str() + eq + 1;
            char *end = nullptr;
            const uint64_t n = std::strtoull(value, &end, 10);
            const std::string key = word.substr(0, eq);
            if (end == value || *end != '\0')
                return std::nullopt;
            if (key == "total")
                r.total = n;
            else if (key == "read")
                r.read = n;
            else if (key == "write")
                r.write = n;
            else if (key.starts_with("cmd"))
                r.byCommand[std::atoi(key.c_str() + 3)] = n;
            else
                return std::nullopt;
        }
        return r;
    }
    return std::nullopt;
}

std::string SimProcess::Stderr() const
{
    std::lock_guard lock(mutex_);
    return stderr_;
}

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "q417drv-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr)
        path_ = pattern;
}

TempDir::~TempDir()
{
    if (!path_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
}

} // namespace simtest
