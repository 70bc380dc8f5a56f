#include "SimHarness.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace simtest {

namespace {

using Clock = std::chrono::steady_clock;

bool Readable(int fd, Clock::time_point deadline)
{
    pollfd p{fd, POLLIN, 0};
    const auto left = std::chrono::ceil<Ms>(deadline - Clock::now()).count();
    return poll(&p, 1, left > 0 ? int(left) : 0) > 0;
}

sockaddr_in Loopback(uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

} // namespace

SimProcess::SimProcess(std::vector<std::string> args)
{
    args.insert(args.begin(), {"--udp-port", "0"});
    std::vector<char *> argv{const_cast<char *>(SIM_PATH)};
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        return;
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        execv(SIM_PATH, argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];

    while (const auto line = ReadLine(5000ms)) {
        if (*line == "ready") {
            ready_ = true;
            break;
        }
        startLines_.push_back(*line);
        if (line->starts_with("udp 127.0.0.1:"))
            udpPort_ = uint16_t(std::stoi(line->substr(14)));
        if (line->starts_with("pty "))
            pty_ = line->substr(4);
    }
}

SimProcess::~SimProcess()
{
    Stop(SIGTERM);
    for (int fd : {out_, err_})
        if (fd >= 0)
            close(fd);
}

void SimProcess::Signal(int sig) const
{
    if (pid_ > 0)
        kill(pid_, sig);
}

std::optional<std::string> SimProcess::ReadLine(Ms timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (const auto nl = buffered_.find('\n'); nl != std::string::npos) {
            std::string line = buffered_.substr(0, nl);
            buffered_.erase(0, nl + 1);
            return line;
        }
        char buf[512];
        const ssize_t n = Readable(out_, deadline) ? read(out_, buf, sizeof buf) : 0;
        if (n <= 0)
            return std::nullopt;
        buffered_.append(buf, std::size_t(n));
    }
}

bool SimProcess::WaitForLine(const std::string &line, Ms timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (const auto got = ReadLine(std::chrono::ceil<Ms>(deadline - Clock::now())))
        if (*got == line)
            return true;
    return false;
}

int SimProcess::Stop(int sig)
{
    if (pid_ <= 0)
        return -1;
    kill(pid_, sig);
    const auto deadline = Clock::now() + 3000ms;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(5ms);
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string SimProcess::Stderr() const
{
    std::string text;
    char buf[512];
    ssize_t n;
    while (Readable(err_, Clock::now()) && (n = read(err_, buf, sizeof buf)) > 0)
        text.append(buf, std::size_t(n));
    return text;
}

Endpoint Endpoint::Udp(uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in self = Loopback(0);
    bind(fd, reinterpret_cast<const sockaddr *>(&self), sizeof self);
    return Endpoint(fd, port);
}

Endpoint Endpoint::Pty(const std::string &path)
{
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios t{};
    if (fd >= 0 && tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
    }
    return Endpoint(fd, 0);
}

Endpoint::~Endpoint()
{
    if (fd_ >= 0)
        close(fd_);
}

void Endpoint::Send(std::span<const uint8_t> bytes) const
{
    const sockaddr_in to = Loopback(port_);
    [[maybe_unused]] const ssize_t n =
        port_ ? sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr *>(&to),
                       sizeof to)
              : write(fd_, bytes.data(), bytes.size());
}

std::vector<uint8_t> Endpoint::Receive(Ms timeout, std::size_t max) const
{
    const auto deadline = Clock::now() + timeout;
    std::vector<uint8_t> got;
    uint8_t buf[2048];
    // A datagram is whole; the pty's byte stream is gathered up to `max`.
    while (got.size() < max && Readable(fd_, deadline)) {
        const ssize_t n = port_ ? recv(fd_, buf, sizeof buf, 0)
                                : read(fd_, buf, std::min(sizeof buf, max - got.size()));
        if (n > 0)
            got.insert(got.end(), buf, buf + n);
        if (port_ || (n < 0 && errno != EAGAIN))
            break;
    }
    return got;
}

std::optional<wire::Reply> Endpoint::Ask(const wire::Request &r, Ms timeout) const
{
    Send(r);
    wire::Reply reply;
    if (wire::Decode(Receive(timeout), reply) != wire::Decoded::Ok)
        return std::nullopt;
    return reply;
}

wire::Request MakeRequest(uint8_t seq, uint8_t address, uint8_t cmd, uint8_t sub,
                          std::array<uint8_t, 4> d)
{
    wire::Request r;
    r.seq = seq;
    r.address = address;
    r.cmd = cmd;
    r.sub = sub;
    r.d = d;
    return r;
}

} // namespace simtest
