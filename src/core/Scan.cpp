#include "Scan.h"

#include "BusTiming.h"
#include "ExchangeHook.h"
#include "Qxxx417.h"
#include "q417drv.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace
{

using namespace std::chrono;
using namespace std::chrono_literals;

constexpr uint32_t MaxDriverTimeoutMs = 60000;

// What a module or the bus did, as opposed to a connection that failed:
// the scan goes on after these.
bool IsDamaged(uint8_t status)
{
    return status == Q417_E_CRC || status == Q417_E_FRAME;
}

bool IsRefusal(uint8_t status)
{
    return status >= Q417_E_MOD_CMD && status <= Q417_E_MOD_COPY;
}

bool IsBaudCode(uint8_t code)
{
    return code < BaudCodeCount;
}

bool IsModuleSide(uint8_t status)
{
    return status == Q417_E_TIMEOUT || IsDamaged(status) || IsRefusal(status);
}

class TScanner
{
  public:
    TScanner(const TScanLink &link, const TScanOptions &options, const TStepReport &step,
             const TScanReport &progress)
        : link_(link), options_(options), step_(step), progress_(progress)
    {
    }

    ~TScanner() { Close(); }
    TScanner(const TScanner &) = delete;
    TScanner &operator=(const TScanner &) = delete;

    TScanResult Run()
    {
        begun_ = steady_clock::now();
        total_ = options_.Addresses.size() *
                 std::size_t(std::ranges::count_if(options_.BaudCodes, IsBaudCode));
        plannedTotal_ = ScanTimeoutTotal(options_);
        for (uint8_t code : options_.BaudCodes) {
            if (code >= BaudCodeCount)
                continue;
            result_.BaudCode = code;
            if (!Open(code, ProbeTimeoutMs(options_, code), options_.Guard))
                return Finish();
            const nanoseconds cost = EmptyProbeCost(options_, code);
            steady_clock::time_point lastProbe{};
            for (uint8_t address : options_.Addresses) {
                lastProbe = steady_clock::now();
                const bool go = ProbeAddress(address, code);
                ++done_;
                plannedDone_ += cost;
                if (!go)
                    return Finish();
                if (!Report(address, code))
                    return Finish();
                if (options_.StopAtFirst && !result_.Finds.empty())
                    return Finish();
            }
            if (!options_.Addresses.empty())
                AwaitLate(code, lastProbe);
            plannedDone_ += LateWindowCost(options_, code);
            if (!Reprobe(code) || (options_.StopAtFirst && !result_.Finds.empty()))
                return Finish();
        }
        // Heard at a rate whose turn had passed: a reply later than its
        // late window, while the next rate's probes ran.
        for (uint8_t code : options_.BaudCodes) {
            if (code < BaudCodeCount && !late_[code].empty()) {
                result_.BaudCode = code;
                if (!Reprobe(code) || (options_.StopAtFirst && !result_.Finds.empty()))
                    return Finish();
            }
        }
        return Finish();
    }

  private:
    struct Late {
        uint8_t Address;
        microseconds Heard;
    };

    TScanResult Finish()
    {
        Close();
        return std::move(result_);
    }

    bool Fail(TScanStage stage, int32_t status)
    {
        result_.Outcome = TScanOutcome::DriverError;
        result_.Stage = stage;
        result_.Status = uint8_t(std::clamp<int32_t>(status, 0, 255));
        TDataArray text{};
        result_.StatusText = StatusCodeText(link_.Kind, status, text);
        return false;
    }

    bool Stop()
    {
        result_.Outcome = TScanOutcome::Stopped;
        return false;
    }

    // Puts the bus at the rate of `code` with a time-out and silence guard.
    // The LAN driver waits for replies as long as Init said and takes the
    // guard in Init's block, so there each rate gets a connection of its
    // own, as does a change of the guard on any kind; the other kinds take
    // the time-out with the rate.
    bool Open(uint8_t code, uint32_t timeoutMs, microseconds guard)
    {
        if (handle_ == 0 || link_.Kind == ifLan || guard != openGuard_) {
            Close();
            TInitParams params = link_.Params;
            if (link_.Kind == ifLan) {
                params.fill(0);
                q417_params_set_text(params.data(), link_.IpAddress.c_str());
                params[1] = link_.UdpPort;
                params[2] = int32_t(timeoutMs);
            }
            params[Q417_PARAM_GUARD] = int32_t(guard.count());
            const int32_t status = DrvInit(link_.Kind, handle_, params);
            if (status != 0)
                return Fail(TScanStage::Init, status);
            openGuard_ = guard;
            lateHeard_ = true;
            HearLate(0ms);
        }
        // The converter acknowledges within Init's time-out, the short one
        // of a probe: a late acknowledgement is worth another try.
        int32_t status = 0;
        for (unsigned attempt = 0; attempt <= options_.Retries; ++attempt) {
            status = DrvSetConfig(link_.Kind, handle_, BaudCodeToRate(code), timeoutMs, 2);
            if (status != Q417_E_TIMEOUT)
                break;
        }
        return status == 0 || Fail(TScanStage::SetConfig, status);
    }

    void Close()
    {
        if (handle_ != 0)
            DrvDone(link_.Kind, handle_);
        handle_ = 0;
    }

    // Takes the late replies the driver heard, listening up to `wait`;
    // false when it heard none. The driver keeps them until asked, so the
    // late window collects those of the whole rate at once.
    bool HearLate(milliseconds wait)
    {
        if (!lateHeard_)
            return false;
        std::vector<TLateReply> replies;
        const int32_t status =
            DrvLate(link_.Kind, handle_, uint32_t(std::max<int64_t>(wait.count(), 0)), replies);
        // A library without the entry drops late replies; a failing call
        // takes nothing away, the probes still report.
        lateHeard_ = status != DrvNotLoaded;
        if (status != 0)
            return false;
        for (const TLateReply &r : replies) {
            const uint8_t code = RateToBaudCode(r.Rate);
            if (BaudCodeToRate(code) != r.Rate)
                continue;
            std::vector<Late> &queue = late_[code];
            const auto at = std::ranges::find(queue, r.Address, &Late::Address);
            if (at == queue.end())
                queue.push_back({r.Address, r.After});
            else
                at->Heard = std::max(at->Heard, r.After);
        }
        return !replies.empty();
    }

    // The late window: until a reply LateAllowance later than the last
    // probe's time-out would have come.
    void AwaitLate(uint8_t code, steady_clock::time_point lastProbe)
    {
        if (!lateHeard_ || options_.LateAllowance <= 0us)
            return;
        const steady_clock::time_point until =
            lastProbe + milliseconds(ProbeTimeoutMs(options_, code)) + options_.LateAllowance;
        for (;;) {
            const auto left = ceil<milliseconds>(until - steady_clock::now());
            if (left <= 0ms)
                return;
            HearLate(left);
        }
    }

    bool FoundAt(uint8_t address, uint8_t code) const
    {
        return std::ranges::any_of(result_.Finds, [&](const TScanFind &f) {
            return f.Address == address && f.BaudCode == code;
        });
    }

    // Probes each address that answered late at `code` again, at a slow
    // module's pace; false when the scan must end.
    bool Reprobe(uint8_t code)
    {
        std::vector<Late> queue = std::move(late_[code]);
        late_[code].clear();
        std::erase_if(queue, [&](const Late &l) { return FoundAt(l.Address, code); });
        if (queue.empty())
            return true;
        microseconds heard{};
        for (const Late &l : queue)
            heard = std::max(heard, l.Heard);
        // No guard: the converter would report silence before a slow
        // module's first byte, as it did the first time.
        if (!Open(code, SlowProbeTimeoutMs(options_, code, heard), 0us))
            return false;
        slow_ = true;
        for (const Late &l : queue) {
            const bool go = ProbeAddress(l.Address, code);
            if (!go) {
                slow_ = false;
                return false;
            }
            if (!Report(l.Address, code)) {
                slow_ = false;
                return false;
            }
        }
        slow_ = false;
        return true;
    }

    // The identity read's first exchange, the one a module answers with
    // the first four characters of its name. Reported as an operation of
    // one step.
    uint8_t Probe(uint8_t address, uint8_t code, unsigned attempt)
    {
        std::string what = std::string(slow_ ? "ověření pozdní odpovědi" : "hledání modulu") +
                           ": adresa " + std::to_string(address) + ", " +
                           std::to_string(BaudCodeToRate(code)) + " Bd";
        if (attempt > 1)
            what += ", pokus " + std::to_string(attempt);
        const TModuleStep step =
            ExchangeStep({link_.Kind, handle_, address}, std::move(what), CmdReadIdentity, 0);
        NotifyExchange({link_.Kind, handle_, address}, step);
        stopped_ = step_ && !step_(step);
        lastDuration_ = duration_cast<microseconds>(step.Duration);
        return step.Status;
    }

    TScanFind NewFind(uint8_t address, uint8_t code, unsigned tries, uint8_t status) const
    {
        TScanFind find{address, code, {}, false, status, tries};
        find.Slow = slow_;
        find.ReplyTime = lastDuration_;
        return find;
    }

    // Probes one address, retrying damaged replies; false when the scan
    // must end (stopped, or the connection failed).
    bool ProbeAddress(uint8_t address, uint8_t code)
    {
        bool damaged = false;
        for (unsigned tries = 1;; ++tries) {
            const uint8_t status = Probe(address, code, tries);
            if (stopped_) {
                // An answer already in is a find, named or not.
                if (status == 0 || IsRefusal(status))
                    result_.Finds.push_back(NewFind(address, code, tries, status));
                return Stop();
            }
            if (status == 0 || IsRefusal(status))
                return Found(address, code, tries, status);
            if (!IsModuleSide(status))
                return Fail(TScanStage::Probe, status);
            if (status == Q417_E_TIMEOUT && !damaged)
                return true;
            // Something answered, damaged; a reply lost after that counts
            // as another failed try at the same thing.
            damaged = damaged || IsDamaged(status);
            if (tries > options_.Retries) {
                TScanFind find = NewFind(address, code, tries, 0);
                find.Collision = true;
                result_.Finds.push_back(find);
                return true;
            }
        }
    }

    bool Found(uint8_t address, uint8_t code, unsigned tries, uint8_t status)
    {
        TScanFind find = NewFind(address, code, tries, status);
        if (status == 0) {
            const TModuleLink module{link_.Kind, handle_, address};
            bool timedOut = false;
            for (unsigned attempt = 0; attempt <= options_.Retries; ++attempt) {
                const TModuleResult r = ReadIdentity(module, find.Name, step_);
                if (r.Outcome == TOutcome::Stopped) {
                    result_.Finds.push_back(std::move(find));
                    return Stop();
                }
                if (r.Ok()) {
                    find.Collision = false;
                    timedOut = false;
                    break;
                }
                timedOut = r.Status == Q417_E_TIMEOUT;
                // Names that begin alike answer the probe cleanly and
                // collide further on.
                find.Collision = find.Collision || IsDamaged(r.Status);
                if (!IsModuleSide(r.Status)) {
                    result_.Finds.push_back(std::move(find));
                    return Fail(TScanStage::Probe, r.Status);
                }
                // A refusal will not change with another try.
                if (IsRefusal(r.Status))
                    break;
            }
            // A module that answered the probe but whose identity read ran
            // out of time is slower than the probe's pace allows (or was
            // answered on a busy machine): its turn comes with the late
            // ones, where it is read at a slow module's pace.
            if (timedOut && !slow_ && !find.Collision) {
                late_[code].push_back({address, lastDuration_});
                return true;
            }
        }
        result_.Finds.push_back(std::move(find));
        return true;
    }

    bool Report(uint8_t address, uint8_t code)
    {
        if (!progress_)
            return true;
        TScanProgress p;
        p.BaudCode = code;
        p.Address = address;
        p.Done = done_;
        p.Total = total_;
        p.Found = result_.Finds.size();
        p.Finds = &result_.Finds;
        p.Elapsed = steady_clock::now() - begun_;
        // What a probe took beyond its time-out (waking up, the driver's
        // own granularity, a reopened connection) is much the same at every
        // rate, so it is added per probe rather than scaled.
        const nanoseconds beyond = (p.Elapsed - plannedDone_) / int64_t(std::max<std::size_t>(done_, 1));
        p.Left = std::max(nanoseconds::zero(),
                          plannedTotal_ - plannedDone_ + beyond * int64_t(total_ - done_));
        return progress_(p) || Stop();
    }

    const TScanLink &link_;
    const TScanOptions &options_;
    const TStepReport &step_;
    const TScanReport &progress_;
    int32_t handle_ = 0;
    microseconds openGuard_{};
    bool lateHeard_ = false; // the driver keeps late replies
    bool stopped_ = false;
    bool slow_ = false; // re-probing late addresses
    microseconds lastDuration_{};
    std::array<std::vector<Late>, BaudCodeCount> late_; // by baud code, in the order heard
    TScanResult result_;
    steady_clock::time_point begun_;
    std::size_t done_ = 0;
    std::size_t total_ = 0;
    nanoseconds plannedDone_{};
    nanoseconds plannedTotal_{};
};

} // namespace

std::vector<uint8_t> DefaultScanBaudCodes()
{
    std::vector<uint8_t> codes;
    for (uint32_t rate : {9600, 19200, 115200, 57600, 38400, 4800, 2400, 1200, 600})
        codes.push_back(RateToBaudCode(rate));
    return codes;
}

std::vector<uint8_t> AllScanAddresses()
{
    std::vector<uint8_t> addresses(256);
    for (std::size_t a = 0; a < addresses.size(); ++a)
        addresses[a] = uint8_t(a);
    return addresses;
}

microseconds ProbeTimeout(uint32_t rate, microseconds turnaround, microseconds margin,
                          bool wireTimed)
{
    if (!wireTimed)
        return margin;
    return ceil<microseconds>(bus::ExchangeTime(int32_t(rate), turnaround)) + margin;
}

// The one place the probe's time-out meets the drivers' whole milliseconds.
uint32_t DriverTimeoutMs(microseconds timeout)
{
    const int64_t ms = ceil<milliseconds>(timeout).count();
    return uint32_t(std::clamp<int64_t>(ms, 1, MaxDriverTimeoutMs));
}

uint32_t ProbeTimeoutMs(const TScanOptions &options, uint8_t baudCode)
{
    return DriverTimeoutMs(ProbeTimeout(BaudCodeToRate(baudCode), options.Turnaround,
                                        options.Margin, options.WireTimed));
}

nanoseconds ScanWireFloor(const TScanOptions &options)
{
    nanoseconds sum{};
    // A plain loop: clang 14 cannot take libstdc++ 12's filter view here.
    for (uint8_t code : options.BaudCodes) {
        if (IsBaudCode(code))
            sum += int64_t(options.Addresses.size()) *
                   bus::ExchangeTime(int32_t(BaudCodeToRate(code)), options.Turnaround);
    }
    return sum;
}

microseconds DefaultScanGuardFor(uint8_t kind)
{
    return kind == ifCom ? microseconds(0) : DefaultScanGuard;
}

nanoseconds EmptyProbeCost(const TScanOptions &options, uint8_t baudCode)
{
    const nanoseconds timeout = milliseconds(ProbeTimeoutMs(options, baudCode));
    if (options.Guard.count() <= 0)
        return timeout;
    const nanoseconds early =
        options.WireTimed
            ? bus::FirstByteTime(int32_t(BaudCodeToRate(baudCode)), options.Turnaround) +
                  options.Guard
            : nanoseconds(options.Guard);
    return std::min(timeout, early);
}

nanoseconds LateWindowCost(const TScanOptions &options, uint8_t baudCode)
{
    if (options.LateAllowance <= microseconds::zero() || options.Addresses.empty())
        return nanoseconds::zero();
    const nanoseconds end = milliseconds(ProbeTimeoutMs(options, baudCode)) + options.LateAllowance;
    return std::max(nanoseconds::zero(), end - EmptyProbeCost(options, baudCode));
}

uint32_t SlowProbeTimeoutMs(const TScanOptions &options, uint8_t baudCode, microseconds heard)
{
    const microseconds probe = milliseconds(ProbeTimeoutMs(options, baudCode));
    return DriverTimeoutMs(std::max(probe + SlowProbeExtra, 2 * heard));
}

nanoseconds ScanTimeoutTotal(const TScanOptions &options)
{
    nanoseconds sum{};
    for (uint8_t code : options.BaudCodes) {
        if (IsBaudCode(code))
            sum += int64_t(options.Addresses.size()) * EmptyProbeCost(options, code) +
                   LateWindowCost(options, code);
    }
    return sum;
}

long long SlowFindDelayMs(const TScanFind &find, const TScanOptions &options)
{
    const nanoseconds expected =
        options.WireTimed
            ? bus::ExchangeTime(int32_t(BaudCodeToRate(find.BaudCode)), options.Turnaround)
            : nanoseconds::zero();
    return std::max<long long>(1, llround(duration<double, std::milli>(find.ReplyTime - expected).count()));
}

std::string ScanFindNote(const TScanFind &find, const TScanOptions &options)
{
    if (find.Collision)
        return "kolize (odpovídá asi více modulů najednou)";
    if (find.Slow)
        return "odpověď se zpožděním " + std::to_string(SlowFindDelayMs(find, options)) + " ms";
    return {};
}

TScanResult ScanModules(const TScanLink &link, const TScanOptions &options, const TStepReport &step,
                        const TScanReport &progress)
{
    return TScanner(link, options, step, progress).Run();
}

TScanLink ScanLinkOf(const TData &data)
{
    TScanLink link;
    link.Kind = data.Kind;
    switch (data.Kind) {
    case ifCom:
        link.Params[0] = data.ComPort;
        break;
    case ifIsa:
        link.Params[0] = data.BaseAddress;
        break;
    case ifLan:
        link.IpAddress = data.IpAddress;
        link.UdpPort = uint16_t(data.UdpPort);
        break;
    default:
        break;
    }
    return link;
}

bool DriversWireTimed()
{
    const char *timing = std::getenv("Q417_TIMING");
    return timing == nullptr || std::string_view(timing) != "none";
}
