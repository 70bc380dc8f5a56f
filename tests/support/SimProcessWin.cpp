// The simulator for tests that run under wine: wine cannot start the build
// machine's programs, so a launcher on it (sim_launcher.py, its port in
// KORVAL_SIM_LAUNCHER) starts q417sim for us and relays its output over a
// loopback TCP connection, a line at a time: "o LINE" stdout, "e LINE"
// stderr, "x CODE" its exit. We send the executable and its arguments a
// line each, an empty line, then "k SIGNAL" to signal it; closing the
// connection ends it.
#include "SimProcess.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <random>

#include <winsock2.h>
#include <ws2tcpip.h>

namespace simtest {

namespace {

SOCKET Sock(uintptr_t s)
{
    return SOCKET(s);
}

bool SendAll(uintptr_t s, const std::string &text)
{
    for (std::size_t sent = 0; sent < text.size();) {
        const int n = ::send(Sock(s), text.data() + sent, int(text.size() - sent), 0);
        if (n <= 0)
            return false;
        sent += std::size_t(n);
    }
    return true;
}

} // namespace

SimProcess::SimProcess(const std::string &executable, const std::vector<std::string> &args,
                       Ms startTimeout)
{
    const char *launcher = std::getenv("KORVAL_SIM_LAUNCHER");
    if (launcher == nullptr || *launcher == '\0') {
        failure_ = "KORVAL_SIM_LAUNCHER is not set: under wine the simulator runs on the build "
                   "machine, started by tests/support/sim_launcher.py (scripts/windows.sh test)";
        return;
    }
    WSADATA wsa;
    if (::WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        failure_ = "WSAStartup failed";
        return;
    }
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(uint16_t(std::atoi(launcher)));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s == INVALID_SOCKET || ::connect(s, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0) {
        if (s != INVALID_SOCKET)
            ::closesocket(s);
        failure_ = std::string("no simulator launcher on 127.0.0.1:") + launcher;
        return;
    }
    socket_ = uintptr_t(s);
    // First, so that a --timing in `args` comes later and wins.
    std::string request = executable + "\n--timing\nnone\n";
    for (const std::string &a : args)
        request += a + "\n";
    request += "\n";
    if (!SendAll(socket_, request)) {
        failure_ = "the simulator launcher closed the connection";
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
    if (socket_ != ~uintptr_t(0))
        ::closesocket(Sock(socket_));
}

void SimProcess::Read()
{
    std::string pending;
    char buf[512];
    for (int n; (n = ::recv(Sock(socket_), buf, sizeof buf, 0)) > 0;) {
        pending.append(buf, std::size_t(n));
        std::lock_guard lock(mutex_);
        for (std::size_t eol; (eol = pending.find('\n')) != std::string::npos;) {
            const std::string line = pending.substr(0, eol);
            pending.erase(0, eol + 1);
            if (line.starts_with("o ")) {
                TakeOut(line.data() + 2, line.size() - 2);
                TakeOut("\n", 1);
            } else if (line.starts_with("e ")) {
                stderr_ += line.substr(2) + "\n";
            } else if (line.starts_with("x ")) {
                exit_ = std::atoi(line.c_str() + 2);
            }
        }
        changed_.notify_all();
    }
    std::lock_guard lock(mutex_);
    ended_ = finished_ = true;
    changed_.notify_all();
}

void SimProcess::Signal(int sig) const
{
    if (socket_ != ~uintptr_t(0))
        SendAll(socket_, "k " + std::to_string(sig) + "\n");
}

int SimProcess::Stop(int sig)
{
    if (socket_ == ~uintptr_t(0) || !reader_.joinable())
        return -1;
    Signal(sig);
    // The launcher kills what does not exit in time and then closes, so
    // the reader meets the end with everything the simulator wrote.
    reader_.join();
    std::lock_guard lock(mutex_);
    return exit_;
}

TempDir::TempDir()
{
    std::random_device random;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int i = 0; i < 100 && path_.empty(); ++i) {
        const std::filesystem::path p = base / ("q417drv-" + std::to_string(random()));
        std::error_code ec;
        if (std::filesystem::create_directory(p, ec))
            path_ = p.string();
    }
}

} // namespace simtest
