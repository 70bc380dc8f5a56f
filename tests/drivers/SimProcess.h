// The module simulator (q417sim) as a child process of a test or benchmark:
// started with the given options, its start-up lines read until "ready".
#pragma once

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

class SimProcess {
public:
    struct Module {
        int address = 0;
        int baudCode = 0;
        std::string name;    // 8 characters
        std::string version; // 4 characters
    };

    // Waits at most `startMs` for "ready"; Ready() tells whether it came.
    SimProcess(const std::string &executable, const std::vector<std::string> &args,
               int startMs = 5000);
    ~SimProcess(); // SIGTERM, then SIGKILL if it does not exit
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    bool Ready() const { return ready_; }
    // What went wrong when not ready, with the lines read so far.
    const std::string &Failure() const { return failure_; }

    uint16_t UdpPort() const { return udpPort_; }
    const std::string &Pty() const { return pty_; }
    const std::string &Link() const { return link_; }
    const std::vector<Module> &Modules() const { return modules_; }

private:
    void Parse(const std::string &line);

    pid_t pid_ = -1;
    int out_ = -1;
    bool ready_ = false;
    std::string failure_;
    uint16_t udpPort_ = 0;
    std::string pty_;
    std::string link_;
    std::vector<Module> modules_;
    std::thread drain_; // keeps the child's stdout from filling up after "ready"
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
