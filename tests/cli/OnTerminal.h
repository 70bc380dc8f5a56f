// korvalctl as a child process with stderr on a pseudo-terminal, where it
// shows its progress, and stdout on a pipe. A test that signals it waits
// for a progress text, not for a time: a busy machine may take seconds to
// start a sanitized binary.
#pragma once

#include <algorithm>
#include <chrono>
#include <csignal>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

class OnTerminal
{
  public:
    OnTerminal(const std::string &exe, std::vector<std::string> args)
    {
        terminal_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (terminal_ < 0 || ::grantpt(terminal_) != 0 || ::unlockpt(terminal_) != 0)
            return;
        const int slave = ::open(::ptsname(terminal_), O_RDWR | O_NOCTTY | O_CLOEXEC);
        int outPipe[2];
        if (slave < 0 || ::pipe2(outPipe, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
        posix_spawn_file_actions_adddup2(&actions, slave, 2);
        args.insert(args.begin(), exe);
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(slave);
        ::close(outPipe[1]);
        out_ = outPipe[0];
    }
    ~OnTerminal()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        for (int fd : {terminal_, out_})
            if (fd >= 0)
                ::close(fd);
    }
    OnTerminal(const OnTerminal &) = delete;
    OnTerminal &operator=(const OnTerminal &) = delete;

    // Reads until the terminal (or, with `onStdout`, the output) shows
    // `text`; false at `limit` or the end.
    bool WaitFor(const std::string &text, std::chrono::milliseconds limit, bool onStdout = false)
    {
        const auto until = std::chrono::steady_clock::now() + limit;
        while ((onStdout ? out : err).find(text) == std::string::npos) {
            if (!ReadSome(until))
                return false;
        }
        return true;
    }
    void Signal(int sig) const { ::kill(pid_, sig); }
    // Reads both to their end (the terminal ends, EIO, once the child has
    // closed it), then the exit code; -1 when still running at `limit`.
    int Finish(std::chrono::milliseconds limit)
    {
        const auto until = std::chrono::steady_clock::now() + limit;
        while ((terminal_ >= 0 || out_ >= 0) && ReadSome(until)) {
        }
        if (terminal_ >= 0 || out_ >= 0)
            return -1;
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    std::string out, err;

  private:
    bool ReadSome(std::chrono::steady_clock::time_point until)
    {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0 || (terminal_ < 0 && out_ < 0))
            return false;
        pollfd p[2] = {{terminal_, POLLIN, 0}, {out_, POLLIN, 0}};
        if (::poll(p, 2, int(left.count())) <= 0)
            return false;
        int *fds[2] = {&terminal_, &out_};
        for (int i = 0; i < 2; ++i) {
            if (p[i].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::read(*fds[i], buffer, sizeof buffer);
            if (n <= 0) {
                ::close(*fds[i]);
                *fds[i] = -1;
            } else {
                (i == 0 ? err : out).append(buffer, std::size_t(n));
            }
        }
        return true;
    }

    pid_t pid_ = -1;
    int terminal_ = -1, out_ = -1;
};
