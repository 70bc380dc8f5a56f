// The module simulator (q417sim) as a child process of a test or benchmark:
// started with the given options, its start-up lines read until "ready".
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

#ifdef _WIN32
#include <csignal>
// Under wine the simulator runs on the build machine (Linux, through the
// launcher): its signals by their numbers there. SIGINT and SIGTERM agree.
#ifndef SIGKILL
#define SIGKILL 9
#endif
#ifndef SIGCONT
#define SIGCONT 18
#endif
#ifndef SIGSTOP
#define SIGSTOP 19
#endif
#endif

namespace simtest {

using namespace std::chrono_literals;
using Ms = std::chrono::milliseconds;

class SimProcess {
public:
    struct Module {
        int address = 0;
        int baudCode = 0;
        std::string name;    // 8 characters
        std::string version; // 4 characters
    };
    // The requests the simulator received, from the line it prints at its end.
    struct Requests {
        uint64_t total = 0;
        uint64_t read = 0;
        uint64_t write = 0;
        std::map<int, uint64_t> byCommand; // only the commands received
    };

    // Runs `executable` with `args` and waits at most `startTimeout` for
    // "ready"; Ready() tells whether it came. Replies come at once
    // (`--timing none`) unless `args` hold a `--timing` of their own: only
    // the tests of the bus's timing wait for it. The wait ends with "ready"
    // or the child's end, so the time-out only bounds a hang, and is long
    // enough for a sanitized start on a busy machine.
    SimProcess(const std::string &executable, const std::vector<std::string> &args,
               Ms startTimeout = 30000ms);
    ~SimProcess(); // Stop(SIGTERM)
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    bool Ready() const { return ready_; }
    // What went wrong when not ready, with what was read so far.
    const std::string &Failure() const { return failure_; }

    // The lines before "ready", and what they announced.
    const std::vector<std::string> &StartLines() const { return startLines_; }
    uint16_t UdpPort() const { return udpPort_; }
    const std::string &Pty() const { return pty_; }
    const std::string &Link() const { return link_; }
    const std::vector<Module> &Modules() const { return modules_; }

    void Signal(int sig) const;
    // Reads stdout lines after "ready" until one equals `line`.
    bool WaitForLine(const std::string &line, Ms timeout);
    // Sends `sig` (harmless if it has already ended), waits for the exit and
    // returns its code; -1 when it did not exit by itself in time and was
    // killed, or was not running.
    int Stop(int sig);
    // Stop(sig), then the simulator's counts line; nullopt when it printed
    // none, or one that does not parse.
    std::optional<Requests> StopAndCount(int sig);
    // What it wrote to stderr so far; complete after Stop.
    std::string Stderr() const;

private:
    // The start-up lines until "ready", the child's end or the time-out.
    void AwaitReady(const std::string &executable, Ms startTimeout);
    void Read(); // the reader thread
    // Stdout bytes into complete lines; under mutex_.
    void TakeOut(const char *data, std::size_t n);
    void Parse(const std::string &line);

#ifdef _WIN32
    // The launcher's connection: the simulator runs on the build machine.
    uintptr_t socket_ = ~uintptr_t(0);
    int exit_ = -1; // the simulator's exit code, as the launcher reports it
#else
    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
#endif
    bool ready_ = false;
    std::string failure_;
    std::vector<std::string> startLines_;
    uint16_t udpPort_ = 0;
    std::string pty_;
    std::string link_;
    std::vector<Module> modules_;

    // Both pipes are read all along, so that the child never blocks on a
    // full one, whether or not anybody waits for its lines.
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> lines_; // complete stdout lines not yet taken
    std::string partial_;           // the stdout line still being written
    std::string stderr_;
    bool ended_ = false;    // stdout reached end of file
    bool finished_ = false; // both pipes did: stderr_ is complete
    std::thread reader_;
};

// A fresh directory under the system's temporary directory, removed with
// its contents on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &Path() const { return path_; }

private:
    std::string path_;
};

} // namespace simtest
