// Serial lines on POSIX systems.
//
// Ports are opened through libserialport. libserialport (0.1.1) refuses a
// pseudo-terminal: its lookup wants a /sys/class/tty entry and its open a
// modem-control ioctl a pty lacks. A pty is how a virtual serial line (the
// module simulator, socat, a serial-over-network daemon) appears, so a
// terminal libserialport refuses is driven through termios directly.
//
// Either way the line is held alone, as serial tools hold one: a second
// program on the port would take our replies and we its.
#include "SerialLine.h"
#include "TermiosRates.h"
#include "Transport.h"
#include "q417drv.h"

#include <libserialport.h>

#if defined(__linux__)
#include <linux/serial.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace drv {

namespace {

using Clock = std::chrono::steady_clock;

// TIOCEXCL turns away every later open but root's; the advisory lock is
// what a second opener running as root finds taken. Other failures of
// either leave the port usable, as it was before anyone locked ports.
int32_t Claim(int fd)
{
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return Q417_E_PORT_TAKEN;
    ::ioctl(fd, TIOCEXCL);
    return Q417_OK;
}

// A USB serial adapter holds received bytes back until its buffer fills or
// its latency timer runs out (16 ms on common chips), which makes a module
// that answers in 1 ms look 16 ms late. The low-latency flag, as `setserial
// low_latency` sets it, asks the kernel to pass bytes on at once, and the
// usual adapter drivers turn it into a 1 ms timer. A port that does not
// take it (a pty, a plain UART driver, a user without the right) keeps
// working as before.
// True when the flag was set here, so that the line clears it again when it
// closes and leaves the port as it found it.
bool RequestLowLatency(int fd)
{
#if defined(__linux__)
    serial_struct s{};
    if (::ioctl(fd, TIOCGSERIAL, &s) != 0 || (s.flags & ASYNC_LOW_LATENCY) != 0)
        return false;
    s.flags |= ASYNC_LOW_LATENCY;
    return ::ioctl(fd, TIOCSSERIAL, &s) == 0;
#else
    (void)fd;
    return false;
#endif
}

void ClearLowLatency(int fd)
{
#if defined(__linux__)
    serial_struct s{};
    if (::ioctl(fd, TIOCGSERIAL, &s) == 0) {
        s.flags &= ~ASYNC_LOW_LATENCY;
        ::ioctl(fd, TIOCSSERIAL, &s);
    }
#else
    (void)fd;
#endif
}

// Only the holder lifts the exclusion, before it closes: a pty whose other
// side stays open would otherwise refuse every later open but root's.
void Release(int fd, bool lowLatencySet)
{
    if (lowLatencySet)
        ClearLowLatency(fd);
    ::ioctl(fd, TIOCNXCL);
}

// Waits until `fd` has bytes or `deadline` passes, in nanoseconds: 1 when
// readable, 0 when the time ran out, -1 on an error. A signal does not end
// the wait early: an early 0 would be taken for silence.
int WaitReadableBy(int fd, Clock::time_point deadline)
{
    for (;;) {
        const auto left = std::max(deadline - Clock::now(), Clock::duration::zero());
        const auto s = std::chrono::duration_cast<std::chrono::seconds>(left);
        const timespec ts{
            time_t(s.count()),
            long(std::chrono::duration_cast<std::chrono::nanoseconds>(left - s).count())};
        pollfd p{fd, POLLIN, 0};
        const int ready = ::ppoll(&p, 1, &ts, nullptr);
        if (ready >= 0)
            return ready;
        if (errno != EINTR)
            return -1;
    }
}

class SpLine final : public Line {
public:
    SpLine(sp_port *port, int fd) : port_(port), fd_(fd), lowLatency_(RequestLowLatency(fd)) {}
    ~SpLine() override
    {
        Release(fd_, lowLatency_);
        sp_close(port_);
        sp_free_port(port_);
    }
    SpLine(const SpLine &) = delete;
    SpLine &operator=(const SpLine &) = delete;

    bool SetRate(int32_t rate) override
    {
        return sp_set_baudrate(port_, rate) == SP_OK && sp_set_bits(port_, 8) == SP_OK &&
               sp_set_parity(port_, SP_PARITY_NONE) == SP_OK &&
               sp_set_stopbits(port_, 1) == SP_OK &&
               sp_set_flowcontrol(port_, SP_FLOWCONTROL_NONE) == SP_OK;
    }
    bool FlushInput() override { return sp_flush(port_, SP_BUF_INPUT) == SP_OK; }
    int ReadQueued(uint8_t *bytes, std::size_t size) override
    {
        const int n = sp_nonblocking_read(port_, bytes, size);
        return n < 0 ? -1 : n;
    }
    int Write(const uint8_t *bytes, std::size_t size, int timeoutMs) override
    {
        return sp_blocking_write(port_, bytes, size, unsigned(timeoutMs));
    }
    int Read(uint8_t *bytes, std::size_t size, int timeoutMs) override
    {
        // Whatever has arrived, at once; the caller looks for a whole frame.
        return sp_blocking_read_next(port_, bytes, size, unsigned(timeoutMs));
    }
    int ReadBy(uint8_t *bytes, std::size_t size, Clock::time_point deadline) override
    {
        const int ready = WaitReadableBy(fd_, deadline);
        if (ready <= 0)
            return ready;
        const int n = sp_nonblocking_read(port_, bytes, size);
        return n < 0 ? -1 : n;
    }

private:
    sp_port *port_;
    int fd_;
    bool lowLatency_; /**< set by us, cleared at close */
};

class TermiosLine final : public Line {
public:
    explicit TermiosLine(int fd) : fd_(fd), lowLatency_(RequestLowLatency(fd)) {}
    ~TermiosLine() override
    {
        Release(fd_, lowLatency_);
        ::close(fd_);
    }
    TermiosLine(const TermiosLine &) = delete;
    TermiosLine &operator=(const TermiosLine &) = delete;

    bool SetRate(int32_t rate) override
    {
        const std::optional<speed_t> speed = bus::TermiosSpeed(rate);
        termios t{};
        if (!speed || ::tcgetattr(fd_, &t) != 0)
            return false;
        ::cfmakeraw(&t);
        t.c_cflag &= ~tcflag_t(CSTOPB | PARENB | CRTSCTS);
        t.c_cflag |= CLOCAL | CREAD | CS8;
        t.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY);
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        return ::cfsetspeed(&t, *speed) == 0 && ::tcsetattr(fd_, TCSANOW, &t) == 0;
    }
    bool FlushInput() override { return ::tcflush(fd_, TCIFLUSH) == 0; }
    int ReadQueued(uint8_t *bytes, std::size_t size) override
    {
        const ssize_t n = ::read(fd_, bytes, size);
        if (n < 0)
            return errno == EAGAIN || errno == EINTR ? 0 : -1;
        return int(n);
    }
    int Write(const uint8_t *bytes, std::size_t size, int timeoutMs) override
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::write(fd_, bytes + done, size - done);
            if (n > 0) {
                done += std::size_t(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return -1;
            const int left = MsLeft(deadline);
            if (left <= 0)
                break;
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, left) < 0 && errno != EINTR)
                return -1;
        }
        return int(done);
    }
    int Read(uint8_t *bytes, std::size_t size, int timeoutMs) override
    {
        return ReadBy(bytes, size, Clock::now() + std::chrono::milliseconds(timeoutMs));
    }
    int ReadBy(uint8_t *bytes, std::size_t size, Clock::time_point deadline) override
    {
        const int ready = WaitReadableBy(fd_, deadline);
        if (ready <= 0)
            return ready;
        const int timeoutMs = std::max(0, MsLeft(deadline));
        const ssize_t n = ::read(fd_, bytes, size);
        if (n < 0)
            return errno == EAGAIN || errno == EINTR ? 0 : -1;
        // A pty whose other side has closed reads as end of file: no module
        // answers there any more, but the poll would spin, so wait it out.
        if (n == 0)
            ::usleep(useconds_t(std::min(timeoutMs, 10)) * 1000);
        return int(n);
    }

private:
    int fd_;
    bool lowLatency_; /**< set by us, cleared at close */
};

// Null with `error` 0 when libserialport cannot open the port, so that the
// termios path tries it and learns why.
std::unique_ptr<Line> OpenWithLibserialport(const std::string &path, int32_t &error)
{
    sp_port *port = nullptr;
    if (sp_get_port_by_name(path.c_str(), &port) != SP_OK)
        return nullptr;
    if (sp_open(port, SP_MODE_READ_WRITE) != SP_OK) {
        sp_free_port(port);
        return nullptr;
    }
    int fd = -1;
    error = sp_get_port_handle(port, &fd) == SP_OK ? Claim(fd) : Q417_E_OPEN;
    if (error != Q417_OK) {
        sp_close(port);
        sp_free_port(port);
        return nullptr;
    }
    return std::make_unique<SpLine>(port, fd);
}

std::unique_ptr<Line> OpenWithTermios(const std::string &path, int32_t &error)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        // The holder's TIOCEXCL.
        error = errno == EBUSY ? Q417_E_PORT_TAKEN : Q417_E_OPEN;
        return nullptr;
    }
    error = ::isatty(fd) ? Claim(fd) : Q417_E_OPEN;
    if (error != Q417_OK) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<TermiosLine>(fd);
}

} // namespace

std::unique_ptr<Line> OpenLine(const std::string &path, int32_t &error)
{
    error = Q417_OK;
    std::unique_ptr<Line> line = OpenWithLibserialport(path, error);
    if (!line && error == Q417_OK)
        line = OpenWithTermios(path, error);
    return line;
}

std::string SerialDevicePath(int32_t port)
{
    const std::string var = "Q417_COM" + std::to_string(port);
    if (const char *mapped = std::getenv(var.c_str()); mapped != nullptr && *mapped != '\0')
        return mapped;
    return "/dev/ttyS" + std::to_string(port - 1);
}

} // namespace drv
