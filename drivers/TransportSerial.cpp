// A module on a COM port: request and reply frames as a byte stream, 8N1,
// no flow control. The line itself is the platform's (SerialLine.h).
#include "Transport.h"

#include "BusTiming.h"
#include "SerialLine.h"
#include "q417drv.h"

#include <algorithm>
#include <chrono>

namespace drv {

namespace {

using Clock = std::chrono::steady_clock;

// The line's rate from Init until SetConfig.
constexpr int32_t OpenRate = bus::DefaultRate;

bool KnownRate(int32_t rate)
{
    return std::find(std::begin(SerialRates), std::end(SerialRates), rate) !=
           std::end(SerialRates);
}

// Puts a scanner's counting of rejected candidates back to plain when the
// exchange that set it returns.
struct CountingUntilReturn {
    wire::FrameScanner &scanner;
    ~CountingUntilReturn() { scanner.CountRejected({}); }
};

class SerialTransport final : public Transport {
public:
    explicit SerialTransport(std::unique_ptr<Line> line) : line_(std::move(line)) {}

    int32_t Configure(int32_t rate, int32_t timeoutMs) override
    {
        if (!KnownRate(rate))
            return Q417_E_RATE;
        if (!TimeoutInRange(timeoutMs))
            return Q417_E_PARAM;
        if (!line_->SetRate(rate))
            return Q417_E_RATE;
        rate_ = rate;
        timeoutMs_ = timeoutMs;
        return Q417_OK;
    }

    int32_t TimeoutMs() const override { return timeoutMs_; }

    int32_t Exchange(const wire::Request &request, wire::Reply &reply) override
    {
        const Clock::time_point start = Clock::now();
        const Clock::time_point deadline = start + std::chrono::milliseconds(timeoutMs_);
        // Bytes still on the line belong to an exchange that gave up: whole
        // frames among them are late replies, and a frame still arriving is
        // kept to be completed while this exchange reads.
        if (!TakeQueued())
            return Q417_E_IO;
        scanner_.ResetCount();
        late_.Sent(request, rate_, start);
        // A damaged frame whose seq and address name an earlier request is
        // that module's late reply, not a sign of trouble with this one.
        scanner_.CountRejected([&](std::span<const uint8_t> c) {
            const LateReplies::Whose whose = late_.Damaged(c[1], c[2], &request, Clock::now());
            return whose.current || !whose.late;
        });
        const CountingUntilReturn counting{scanner_};
        const wire::RequestFrame frame = wire::Encode(request);
        const int wrote = line_->Write(frame.data(), frame.size(), std::max(1, MsLeft(deadline)));
        if (wrote < 0)
            return Q417_E_IO;
        if (std::size_t(wrote) != frame.size())
            return Q417_E_TIMEOUT;

        // With a guard the first wait ends when the reply's first byte is
        // overdue. The request's bytes cannot have left before the write
        // began, so counted from there that byte is never due earlier. Any
        // byte, even a damaged one, is a reply begun: awaited as before.
        const bool guarded = guard_ > guard_.zero();
        const Clock::time_point firstByteBy =
            guarded ? std::min(deadline, start + bus::FirstByteTime(rate_, bus::DefaultTurnaround) +
                                             guard_)
                    : deadline;
        for (bool first = true;; first = false) {
            uint8_t buf[64];
            int n = 0;
            if (first && guarded) {
                n = line_->ReadBy(buf, sizeof buf, firstByteBy);
                if (n == 0)
                    return Q417_E_TIMEOUT;
            } else {
                const int left = MsLeft(deadline);
                if (left <= 0)
                    break;
                n = line_->Read(buf, sizeof buf, left);
            }
            if (n < 0)
                return Q417_E_IO;
            scanner_.Feed(std::span<const uint8_t>(buf, std::size_t(n)));
            wire::ReplyFrame f;
            while (scanner_.Next(f)) {
                wire::Reply r;
                if (wire::Decode(f, r) != wire::Decoded::Ok)
                    continue;
                if (r.seq == request.seq && r.address == request.address) {
                    late_.Answered(request);
                    reply = r;
                    return Q417_OK;
                }
                late_.Heard(r, Clock::now());
            }
        }
        if (scanner_.BadCrcCount() == 0)
            return Q417_E_TIMEOUT;
        late_.Answered(request); // damaged, but answered
        return Q417_E_CRC;
    }

    int32_t Listen(Clock::time_point until) override
    {
        for (;;) {
            if (!TakeQueued())
                return Q417_E_IO;
            if (!late_.Empty() || Clock::now() >= until)
                return Q417_OK;
            uint8_t buf[64];
            const int n = line_->ReadBy(buf, sizeof buf, until);
            if (n < 0)
                return Q417_E_IO;
            Scan(std::span<const uint8_t>(buf, std::size_t(n)));
        }
    }

private:
    // Frames among `bytes` answer no exchange that waits: late, or stale.
    void Scan(std::span<const uint8_t> bytes)
    {
        scanner_.CountRejected([this](std::span<const uint8_t> c) {
            late_.Damaged(c[1], c[2], nullptr, Clock::now());
            return true;
        });
        const CountingUntilReturn counting{scanner_};
        scanner_.Feed(bytes);
        wire::ReplyFrame f;
        while (scanner_.Next(f)) {
            wire::Reply r;
            if (wire::Decode(f, r) == wire::Decoded::Ok)
                late_.Heard(r, Clock::now());
        }
    }

    // Reads what the line holds. A line that keeps babbling beyond a few
    // reads is flushed, as every exchange once flushed it.
    bool TakeQueued()
    {
        constexpr int Reads = 16;
        for (int i = 0; i < Reads; ++i) {
            uint8_t buf[64];
            const int n = line_->ReadQueued(buf, sizeof buf);
            if (n < 0)
                return false;
            Scan(std::span<const uint8_t>(buf, std::size_t(n)));
            if (std::size_t(n) < sizeof buf)
                return true;
        }
        scanner_.Reset();
        return line_->FlushInput();
    }

    std::unique_ptr<Line> line_;
    int32_t timeoutMs_ = DefaultTimeoutMs;
    int32_t rate_ = OpenRate;
    wire::FrameScanner scanner_{wire::ReplyStart, wire::ReplySize};
};

} // namespace

std::unique_ptr<Transport> OpenSerial(int32_t port, int32_t &error)
{
    if (port < 1 || port > 256) {
        error = Q417_E_PARAM;
        return nullptr;
    }
    const std::string path = SerialDevicePath(port);
    std::unique_ptr<Line> line = OpenLine(path, error);
    if (!line)
        return nullptr;
    // 8N1 at the program's default rate until SetConfig, so that a host
    // that skips SetConfig still talks on a defined line.
    if (!line->SetRate(OpenRate)) {
        error = Q417_E_OPEN;
        return nullptr;
    }
    return std::make_unique<SerialTransport>(std::move(line));
}

} // namespace drv
