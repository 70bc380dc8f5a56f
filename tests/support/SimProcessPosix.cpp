// The simulator as a child of this process: fork and exec, its two pipes
// read by a thread of ours.
#include "SimProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>

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
    AwaitReady(executable, startTimeout);
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
                TakeOut(buf, std::size_t(n));
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

void SimProcess::Signal(int sig) const
{
    if (pid_ > 0)
        ::kill(pid_, sig);
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

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "q417drv-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr)
        path_ = pattern;
}

} // namespace simtest
