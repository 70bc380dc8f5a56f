// The in-process stand-in for the ISA, PCI and USB interfaces: a simulated
// module at address 1, so the program can be tried without hardware. An
// exchange takes as long as it would on the bus (BusTiming.h) unless the
// environment turns timing off (Q417_TIMING=none, for tests).
#include "Transport.h"

#include "BusTiming.h"
#include "SimModule.h"
#include "q417drv.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

namespace drv {

namespace {

using Clock = std::chrono::steady_clock;

// One bus per loaded library: connections share it, and it keeps the
// module's registers and outputs from one connection to the next until the
// program unloads the library.
SimBus &Bus()
{
    static SimBus bus = [] {
        SimBus b;
        b.Add(SimModule(1, bus::DefaultBaudCode));
        return b;
    }();
    return bus;
}

// Read at each Init, so a host can change it between connections. An
// unknown value keeps the default rather than failing Init: the variable is
// a test aid, not part of the interface.
bus::Timing TimingFromEnvironment()
{
    bus::Timing t;
    if (const char *mode = std::getenv("Q417_TIMING"); mode != nullptr) {
        if (const auto real = bus::ParseTimingMode(mode))
            t.real = *real;
    }
    if (const char *ms = std::getenv("Q417_TURNAROUND_MS"); ms != nullptr) {
        if (const auto turnaround = bus::ParseTurnaroundMs(ms))
            t.turnaround = *turnaround;
    }
    return t;
}

// Some platforms' sleeps come back early (mingw's rounds down to whole
// milliseconds), so sleep again until the deadline has really passed.
void SleepUntil(Clock::time_point deadline)
{
    while (Clock::now() < deadline)
        std::this_thread::sleep_until(deadline);
}

class LocalTransport final : public Transport {
public:
    explicit LocalTransport(bus::Timing timing) : timing_(timing) {}

    int32_t Configure(int32_t rate, int32_t timeoutMs) override
    {
        if (!bus::BaudCode(rate))
            return Q417_E_RATE;
        if (!TimeoutInRange(timeoutMs))
            return Q417_E_PARAM;
        Bus().SetRate(rate);
        timeoutMs_ = timeoutMs;
        return Q417_OK;
    }

    int32_t TimeoutMs() const override { return timeoutMs_; }

    int32_t Exchange(const wire::Request &request, wire::Reply &reply) override
    {
        // Deadlines from the call's start: the model's time is the whole
        // exchange, not something added after our own work.
        const Clock::time_point start = Clock::now();
        const auto timeout = std::chrono::milliseconds(timeoutMs_);
        Arrived(start);
        late_.Sent(request, Bus().Rate(), start);
        const auto r = Bus().Handle(request);
        if (!r) {
            // Nobody heard (one module cannot collide with itself). The
            // model knows it at once; with a guard the master gives up when
            // the first byte is overdue, as it would on the wire.
            if (guard_ > guard_.zero())
                return Silence(std::min(
                    start + timeout,
                    start + bus::FirstByteTime(Bus().Rate(), timing_.turnaround) + guard_));
            return Silence(start + timeout);
        }
        const auto cost = bus::ExchangeTime(Bus().Rate(), timing_.turnaround);
        // The module acted on the request even when its reply comes too
        // late for the master, as on the bus; the reply still arrives then.
        if (timing_.real && cost > timeout) {
            if (coming_.size() < LateReplies::Kept)
                coming_.push_back({start + cost, *r});
            return Silence(start + timeout);
        }
        if (timing_.real)
            SleepUntil(start + cost);
        late_.Answered(request);
        reply = *r;
        return Q417_OK;
    }

    // Only replies the model has on their way can come: with none, there
    // is nothing to wait for.
    int32_t Listen(Clock::time_point until) override
    {
        Arrived(Clock::now());
        if (!late_.Empty() || coming_.empty())
            return Q417_OK;
        const Clock::time_point next =
            std::min_element(coming_.begin(), coming_.end(),
                             [](const Coming &a, const Coming &b) { return a.due < b.due; })
                ->due;
        SleepUntil(std::min(next, until));
        Arrived(Clock::now());
        return Q417_OK;
    }

private:
    struct Coming {
        Clock::time_point due; /**< when its last byte would have arrived */
        wire::Reply reply;
    };

    // Replies whose time has come are heard, at the moment they arrived.
    void Arrived(Clock::time_point now)
    {
        std::erase_if(coming_, [&](const Coming &c) {
            if (c.due > now)
                return false;
            late_.Heard(c.reply, c.due);
            return true;
        });
    }

    int32_t Silence(Clock::time_point deadline) const
    {
        if (timing_.real)
            SleepUntil(deadline);
        return Q417_E_TIMEOUT;
    }

    bus::Timing timing_;
    int32_t timeoutMs_ = DefaultTimeoutMs;
    std::vector<Coming> coming_;
};

} // namespace

std::unique_ptr<Transport> OpenLocal()
{
    // A defined rate from Init on, as a serial line gets.
    Bus().SetRate(bus::DefaultRate);
    return std::make_unique<LocalTransport>(TimingFromEnvironment());
}

} // namespace drv
