#include "Server.h"

#include "TermiosRates.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace q417sim {

namespace {

// Delayed replies beyond this are dropped: a driver that floods a delaying
// simulator learns nothing from the surplus.
constexpr std::size_t MaxPending = 256;

// A poll's time-out lands up to ~100 us late (rounding, timer slack), which
// 24 exchanges at 115200 Bd turn into milliseconds. With real timing the
// poll therefore wakes this much early and the rest is spun: short enough to
// cost little CPU, long enough to cover the usual wake-up latency.
constexpr auto SpinLead = std::chrono::microseconds(150);

std::string SysError(const char *what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

std::string Hex(std::span<const uint8_t> bytes)
{
    std::string s;
    char b[4];
    for (uint8_t v : bytes) {
        std::snprintf(b, sizeof b, " %02X", v);
        s += b;
    }
    return s;
}

// The converter's own answer, not a module's: the bus faults leave it alone.
// A rate no module can run at is refused and the bus keeps its rate.
void AnswerConfig(int fd, SimBus &bus, const wire::ConverterConfig &config,
                  const sockaddr_in &to, const std::string &who)
{
    const bool known = config.rate <= uint32_t(INT32_MAX) && bus::BaudCode(int32_t(config.rate));
    if (known)
        bus.SetRate(int32_t(config.rate));
    const wire::ConverterAck ack{config.seq,
                                 uint8_t(known ? wire::ConfigResult::Accepted
                                               : wire::ConfigResult::InvalidRate),
                                 uint32_t(bus.Rate())};
    if (!who.empty())
        std::fprintf(stderr, "%s > converter rate %u seq %u: %s, bus at %u Bd\n", who.c_str(),
                     config.rate, config.seq, known ? "accepted" : "refused", ack.rate);
    const wire::ConfigAckFrame frame = wire::Encode(ack);
    if (sendto(fd, frame.data(), frame.size(), 0, reinterpret_cast<const sockaddr *>(&to),
               sizeof to) != ssize_t(frame.size()) &&
        !who.empty())
        std::fprintf(stderr, "%s   acknowledgement not sent: %s\n", who.c_str(),
                     std::strerror(errno));
}

} // namespace

uint64_t RequestCounts::Total() const
{
    uint64_t n = 0;
    for (uint64_t c : byCommand)
        n += c;
    return n;
}

uint64_t RequestCounts::Writes() const
{
    uint64_t n = 0;
    for (std::size_t cmd = 0; cmd < byCommand.size(); ++cmd)
        n += IsWriteCommand(uint8_t(cmd)) ? byCommand[cmd] : 0;
    return n;
}

bool IsWriteCommand(uint8_t cmd)
{
    return cmd == 1 || cmd == 101 || cmd == 103;
}

std::string Format(const RequestCounts &counts)
{
    const uint64_t total = counts.Total(), writes = counts.Writes();
    std::string line = "requests total=" + std::to_string(total) +
                       " read=" + std::to_string(total - writes) +
                       " write=" + std::to_string(writes);
    for (std::size_t cmd = 0; cmd < counts.byCommand.size(); ++cmd) {
        if (counts.byCommand[cmd] != 0)
            line += " cmd" + std::to_string(cmd) + "=" + std::to_string(counts.byCommand[cmd]);
    }
    return line;
}

Server::Server(SimBus &bus, const Options &options, uint32_t seed)
    : bus_(bus), faults_(options.faults), timing_(options.timing), verbose_(options.verbose),
      rng_(seed)
{
}

Server::~Server()
{
    if (!link_.empty()) {
        // Only our own link: someone may have put something else there.
        char target[PATH_MAX];
        const ssize_t n = readlink(link_.c_str(), target, sizeof target - 1);
        if (n >= 0 && std::string(target, std::size_t(n)) == slavePath_)
            unlink(link_.c_str());
    }
    for (int fd : {udpFd_, masterFd_, slaveFd_})
        if (fd >= 0)
            close(fd);
}

bool Server::OpenUdp(uint16_t port, std::string &error)
{
    udpFd_ = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (udpFd_ < 0) {
        error = SysError("socket");
        return false;
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK); // never reachable from outside
    if (bind(udpFd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        error = SysError(("bind 127.0.0.1:" + std::to_string(port)).c_str());
        return false;
    }
    socklen_t len = sizeof a;
    if (getsockname(udpFd_, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
        error = SysError("getsockname");
        return false;
    }
    udpPort_ = ntohs(a.sin_port);
    return true;
}

bool Server::OpenPty(std::string &error)
{
    masterFd_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (masterFd_ < 0) {
        error = SysError("posix_openpt");
        return false;
    }
    char name[PATH_MAX];
    if (grantpt(masterFd_) != 0 || unlockpt(masterFd_) != 0 ||
        ptsname_r(masterFd_, name, sizeof name) != 0) {
        error = SysError("pseudo-terminal set-up");
        return false;
    }
    slavePath_ = name;
    slaveFd_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveFd_ < 0) {
        error = SysError(("open " + slavePath_).c_str());
        return false;
    }
    // Raw: no echo of requests back to us, no byte translated or swallowed.
    termios t{};
    if (tcgetattr(slaveFd_, &t) != 0) {
        error = SysError("tcgetattr");
        return false;
    }
    cfmakeraw(&t);
    if (tcsetattr(slaveFd_, TCSANOW, &t) != 0) {
        error = SysError("tcsetattr");
        return false;
    }
    const int flags = fcntl(masterFd_, F_GETFL);
    if (flags < 0 || fcntl(masterFd_, F_SETFL, flags | O_NONBLOCK) != 0) {
        error = SysError("fcntl");
        return false;
    }
    return true;
}

bool Server::MakeLink(const std::string &path, std::string &error)
{
    struct stat st{};
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            error = "refusing to replace " + path + ": not a symbolic link";
            return false;
        }
        if (unlink(path.c_str()) != 0) {
            error = SysError(("unlink " + path).c_str());
            return false;
        }
    }
    if (symlink(slavePath_.c_str(), path.c_str()) != 0) {
        error = SysError(("symlink " + path).c_str());
        return false;
    }
    link_ = path;
    return true;
}

void Server::Run(int signalFd, void (*onRestart)())
{
    bool ptyAlive = masterFd_ >= 0;
    for (;;) {
        pollfd fds[3];
        nfds_t n = 0;
        fds[n++] = {signalFd, POLLIN, 0};
        const nfds_t udpAt = udpFd_ >= 0 ? n++ : 0;
        if (udpFd_ >= 0)
            fds[udpAt] = {udpFd_, POLLIN, 0};
        const nfds_t ptyAt = ptyAlive ? n++ : 0;
        if (ptyAlive)
            fds[ptyAt] = {masterFd_, POLLIN, 0};

        // Nanoseconds: at 115200 Bd a reply's bytes leave 87 us apart.
        const std::optional<timespec> wait = PollTimeout();
        if (ppoll(fds, n, wait ? &*wait : nullptr, nullptr) < 0) {
            if (errno == EINTR)
                continue;
            std::perror("q417sim: poll");
            return;
        }

        bool stop = false;
        if (fds[0].revents & POLLIN) {
            unsigned char sigs[32];
            const ssize_t got = read(signalFd, sigs, sizeof sigs);
            for (ssize_t i = 0; i < got; ++i) {
                if (sigs[i] == SIGHUP) {
                    for (SimModule &m : bus_.Modules())
                        m.Restart();
                    onRestart();
                } else {
                    stop = true;
                }
            }
        }
        if (udpAt && fds[udpAt].revents)
            ReadUdp();
        if (ptyAt && fds[ptyAt].revents) {
            ReadPty();
            // Cannot happen while we hold the slave open; if it does, stop
            // polling a dead master rather than spin on its hang-up.
            if (fds[ptyAt].revents & (POLLHUP | POLLERR) && !(fds[ptyAt].revents & POLLIN)) {
                std::fprintf(stderr, "q417sim: pseudo-terminal hung up\n");
                ptyAlive = false;
            }
        }
        SpinToDue();
        SendDue();
        if (stop)
            return;
    }
}

void Server::ReadUdp()
{
    // One datagram per wake-up: reading on until the queue is empty would
    // cost every exchange a failing call, and a driver has one request out
    // at a time. The poll, level-triggered, comes back for any other.
    uint8_t buf[2048];
    Peer from;
    socklen_t len = sizeof from.addr;
    const ssize_t n =
        recvfrom(udpFd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from.addr), &len);
    if (n < 0)
        return;
    wire::Request request;
    const std::span<const uint8_t> frame(buf, std::size_t(n));
    if (wire::ConverterConfig config; wire::Decode(frame, config) == wire::Decoded::Ok) {
        SetGuard(from.addr, 0);
        AnswerConfig(udpFd_, bus_, config, from.addr, verbose_ ? Describe(from) : std::string());
        return;
    }
    if (wire::GuardedConfig config; wire::Decode(frame, config) == wire::Decoded::Ok) {
        const std::string who = verbose_ ? Describe(from) : std::string();
        if (verbose_)
            std::fprintf(stderr, "%s > silence guard %u us\n", who.c_str(), config.guardUs);
        SetGuard(from.addr, config.guardUs);
        AnswerConfig(udpFd_, bus_, wire::ConverterConfig{config.seq, config.rate}, from.addr, who);
        return;
    }
    if (wire::Decode(frame, request) != wire::Decoded::Ok) {
        if (verbose_)
            std::fprintf(stderr, "%s > ignored %zd bytes:%s\n", Describe(from).c_str(), n,
                         Hex(frame.first(std::min<std::size_t>(frame.size(), 16))).c_str());
        return;
    }
    OnRequest(request, from);
}

void Server::ReadPty()
{
    for (int i = 0; i < 64; ++i) {
        uint8_t buf[256];
        const ssize_t n = read(masterFd_, buf, sizeof buf);
        if (n <= 0)
            return;
        scanner_.Feed(std::span<const uint8_t>(buf, std::size_t(n)));
        wire::RequestFrame frame;
        while (scanner_.Next(frame)) {
            wire::Request request;
            if (wire::Decode(frame, request) == wire::Decoded::Ok)
                OnRequest(request, Peer{true, {}});
        }
    }
}

void Server::OnRequest(const wire::Request &rq, const Peer &from)
{
    const std::string who = verbose_ ? Describe(from) : std::string();
    if (verbose_)
        std::fprintf(stderr, "%s > seq %u addr %u cmd %u sub %u x %u d%s\n", who.c_str(), rq.seq,
                     rq.address, rq.cmd, rq.sub, rq.x, Hex(rq.d).c_str());
    ++counts_.byCommand[rq.cmd];
    if (Chance(faults_.dropRequests)) {
        if (verbose_)
            std::fprintf(stderr, "%s   request dropped\n", who.c_str());
        return;
    }
    // The request's last byte is here now, sooner than on a bus: a pty
    // passes bytes at any rate, and UDP skips the converter's serial leg. So
    // the whole exchange, the request's wire time too, counts from here.
    const Clock::time_point arrived = Clock::now();
    const int32_t bd = from.pty ? PtyRate() : bus_.Rate();
    const SimBus::Heard heard = bus_.Exchange(rq, bd);
    if (heard.modules == 0) {
        if (verbose_) {
            if (const SimModule *m = bus_.Find(rq.address))
                std::fprintf(stderr, "%s   module %u runs at %d Bd, not %d Bd: no reply\n",
                             who.c_str(), rq.address, bus::Rate(m->BaudCode()), bd);
            else
                std::fprintf(stderr, "%s   no module at %u\n", who.c_str(), rq.address);
        }
        if (!from.pty)
            ReportSilence(rq, from, arrived, bd, who);
        return;
    }
    if (verbose_) {
        wire::Reply reply;
        if (heard.modules > 1)
            std::fprintf(stderr, "%s   %u modules answer at once\n", who.c_str(), heard.modules);
        if (wire::Decode(heard.frame, reply) == wire::Decoded::Ok)
            std::fprintf(stderr, "%s < seq %u addr %u status %u x %u d%s\n", who.c_str(),
                         reply.seq, reply.address, reply.status, reply.x, Hex(reply.d).c_str());
        else
            std::fprintf(stderr, "%s < collided replies:%s\n", who.c_str(),
                         Hex(heard.frame).c_str());
    }

    if (Chance(faults_.drop)) {
        if (verbose_)
            std::fprintf(stderr, "%s   reply dropped\n", who.c_str());
        return;
    }
    wire::ReplyFrame frame = heard.frame;
    if (Chance(faults_.corrupt)) {
        const auto at = std::uniform_int_distribution<std::size_t>(0, frame.size() - 1)(rng_);
        const auto bit = std::uniform_int_distribution<int>(0, 7)(rng_);
        frame[at] = uint8_t(frame[at] ^ (1u << bit));
        if (verbose_)
            std::fprintf(stderr, "%s   reply corrupted: byte %zu bit %d\n", who.c_str(), at, bit);
    }
    const int copies = Chance(faults_.duplicate) ? 2 : 1;
    if (verbose_ && copies == 2)
        std::fprintf(stderr, "%s   reply sent twice\n", who.c_str());
    const bool delayed = Chance(faults_.delay);
    if (delayed && verbose_)
        std::fprintf(stderr, "%s   reply delayed %u ms\n", who.c_str(), faults_.delayMs);
    // A slow module keeps its own turnaround even without wire time: it is
    // what a test of late replies needs, and all it needs.
    if (!delayed && !timing_.real && !heard.turnaround) {
        for (int i = 0; i < copies; ++i)
            Send(from, frame);
        return;
    }

    const bus::Duration turnaround = heard.TurnaroundOr(timing_.turnaround);
    Pending p{arrived, from, std::vector<uint8_t>(frame.begin(), frame.end())};
    if (timing_.real) {
        // A datagram leaves when its last byte would have reached the
        // converter; a line's bytes each when its last bit has gone.
        if (from.pty) {
            p.byteTime = bus::WireTime(1, bd);
            p.due += bus::WireTime(wire::RequestSize, bd) + turnaround + p.byteTime;
        } else {
            p.due += bus::ExchangeTime(bd, turnaround);
        }
    } else {
        p.due += turnaround;
    }
    // The converter expects the bus's turnaround: a slower module's first
    // byte may come after the silence it reported, and the reply is
    // forwarded all the same.
    if (!from.pty && heard.turnaround && *heard.turnaround > timing_.turnaround)
        ReportSilence(rq, from, arrived, bd, who,
                      arrived + (timing_.real ? bus::FirstByteTime(bd, turnaround) : turnaround));
    if (delayed)
        p.due += std::chrono::milliseconds(faults_.delayMs);
    for (int i = 0; i < copies; ++i) {
        if (pending_.size() >= MaxPending) {
            if (verbose_)
                std::fprintf(stderr, "%s   reply queue full, reply dropped\n", who.c_str());
            break;
        }
        pending_.push_back(p);
        // On a line the copy follows the reply; two at once would collide.
        p.due += p.byteTime * std::ptrdiff_t(frame.size());
    }
}

uint16_t Server::GuardOf(const sockaddr_in &peer) const
{
    const auto at = guards_.find(uint64_t(peer.sin_addr.s_addr) << 16 | peer.sin_port);
    return at == guards_.end() ? 0 : at->second;
}

void Server::SetGuard(const sockaddr_in &peer, uint16_t guardUs)
{
    const uint64_t key = uint64_t(peer.sin_addr.s_addr) << 16 | peer.sin_port;
    if (guardUs == 0)
        guards_.erase(key);
    else if (guards_.size() < MaxPending || guards_.count(key) != 0)
        guards_[key] = guardUs; // bounded as the reply queue is
}

// The converter's own datagram, as its configuration acknowledgement is:
// the bus faults leave it alone. It leaves when the reply's first byte is
// overdue by the guard, timed like a reply; for a request a slow module
// heard, only when that module's first byte (`replyBegins`) is later still.
void Server::ReportSilence(const wire::Request &rq, const Peer &to, Clock::time_point arrived,
                           int32_t bd, const std::string &who,
                           std::optional<Clock::time_point> replyBegins)
{
    const uint16_t guard = GuardOf(to.addr);
    if (guard == 0)
        return;
    const Clock::time_point at =
        timing_.real ? arrived + bus::FirstByteTime(bd, timing_.turnaround) +
                           std::chrono::microseconds(guard)
                     : arrived;
    if (replyBegins && *replyBegins <= at)
        return;
    const wire::SilenceFrame frame = wire::Encode(wire::Silence{rq.seq, rq.address});
    if (verbose_)
        std::fprintf(stderr, "%s < silence seq %u addr %u\n", who.c_str(), rq.seq, rq.address);
    if (!timing_.real) {
        Send(to, frame);
        return;
    }
    if (pending_.size() >= MaxPending)
        return;
    pending_.push_back(Pending{at, to, std::vector<uint8_t>(frame.begin(), frame.end())});
}

void Server::Send(const Peer &to, std::span<const uint8_t> bytes)
{
    ssize_t n;
    if (to.pty)
        n = write(masterFd_, bytes.data(), bytes.size());
    else
        n = sendto(udpFd_, bytes.data(), bytes.size(), 0,
                   reinterpret_cast<const sockaddr *>(&to.addr), sizeof to.addr);
    // A full pty (nobody reading the slave) loses the reply, as a line would.
    if (n != ssize_t(bytes.size()) && verbose_)
        std::fprintf(stderr, "%s   reply not sent: %s\n", Describe(to).c_str(),
                     n < 0 ? std::strerror(errno) : "short write");
}

void Server::SendDue()
{
    const auto now = Clock::now();
    // In queue order: replies due at the same moment leave in the order
    // they came. Replies delayed onto the line while another is being paced
    // interleave and collide, as two senders on a bus would.
    for (Pending &p : pending_) {
        if (p.due > now)
            continue;
        std::size_t upTo = p.frame.size();
        if (p.byteTime > Clock::duration::zero())
            upTo = std::min(upTo, std::size_t((now - p.due) / p.byteTime) + 1);
        if (upTo > p.sent) {
            Send(p.to, std::span<const uint8_t>(p.frame).subspan(p.sent, upTo - p.sent));
            p.sent = upTo;
        }
    }
    std::erase_if(pending_, [](const Pending &p) { return p.sent == p.frame.size(); });
}

Server::Clock::time_point Server::NextDue() const
{
    Clock::time_point next = Clock::time_point::max();
    for (const Pending &p : pending_)
        next = std::min(next, p.due + p.byteTime * std::ptrdiff_t(p.sent));
    return next;
}

void Server::SpinToDue() const
{
    if (!timing_.real || pending_.empty())
        return;
    const Clock::time_point next = NextDue();
    if (next - Clock::now() > SpinLead)
        return;
    while (Clock::now() < next) {
    }
}

std::optional<timespec> Server::PollTimeout() const
{
    if (pending_.empty())
        return std::nullopt;
    const Clock::time_point next = NextDue() - (timing_.real ? SpinLead : Clock::duration::zero());
    const auto left = std::max(next - Clock::now(), Clock::duration::zero());
    const auto s = std::chrono::duration_cast<std::chrono::seconds>(left);
    return timespec{time_t(s.count()),
                    long(std::chrono::duration_cast<std::chrono::nanoseconds>(left - s).count())};
}

int32_t Server::PtyRate() const
{
    // The master shares the slave's settings (Linux, the BSDs), so the
    // rate the driver set with cfsetospeed is read here.
    termios t{};
    if (tcgetattr(masterFd_, &t) != 0)
        return 0;
    return bus::TermiosRate(cfgetospeed(&t));
}

bool Server::Chance(double percent)
{
    if (percent <= 0)
        return false;
    if (percent >= 100)
        return true;
    return std::uniform_real_distribution<double>(0, 100)(rng_) < percent;
}

std::string Server::Describe(const Peer &peer) const
{
    if (peer.pty)
        return "pty";
    char ip[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &peer.addr.sin_addr, ip, sizeof ip);
    return std::string("udp ") + ip + ":" + std::to_string(ntohs(peer.addr.sin_port));
}

} // namespace q417sim
