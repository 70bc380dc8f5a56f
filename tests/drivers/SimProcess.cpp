#include "SimProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

SimProcess::SimProcess(const std::string &executable, const std::vector<std::string> &args,
                       int startMs)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        failure_ = "pipe failed";
        return;
    }
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(executable.c_str()));
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::execv(executable.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    out_ = fds[0];
    if (pid_ < 0) {
        failure_ = "fork failed";
        return;
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(startMs);
    std::string pending;
    std::string seen;
    while (!ready_) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            failure_ = "no \"ready\" from " + executable + " in time; read:\n" + seen;
            return;
        }
        pollfd p{out_, POLLIN, 0};
        if (::poll(&p, 1, int(left.count())) <= 0)
            continue;
        char buf[512];
        const ssize_t n = ::read(out_, buf, sizeof buf);
        if (n <= 0) {
            failure_ = executable + " ended before \"ready\"; read:\n" + seen;
            return;
        }
        pending.append(buf, std::size_t(n));
        seen.append(buf, std::size_t(n));
        for (std::size_t eol; !ready_ && (eol = pending.find('\n')) != std::string::npos;) {
            Parse(pending.substr(0, eol));
            pending.erase(0, eol + 1);
        }
    }
    drain_ = std::thread([fd = out_] {
        char buf[512];
        while (::read(fd, buf, sizeof buf) > 0) {
        }
    });
}

void SimProcess::Parse(const std::string &line)
{
    std::istringstream in(line);
    std::string word;
    in >> word;
    if (word == "ready") {
        ready_ = true;
    } else if (word == "udp") {
        std::string where;
        in >> where;
        const auto colon = where.rfind(':');
        if (colon != std::string::npos)
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

SimProcess::~SimProcess()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        bool gone = false;
        for (int i = 0; i < 200 && !gone; ++i) {
            gone = ::waitpid(pid_, &status, WNOHANG) == pid_;
            if (!gone)
                ::usleep(10000);
        }
        if (!gone) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
    }
    // The child is gone, so the drain thread sees end of file.
    if (drain_.joinable())
        drain_.join();
    if (out_ >= 0)
        ::close(out_);
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
