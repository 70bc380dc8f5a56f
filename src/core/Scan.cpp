#include "Scan.h"

#include "BusTiming.h"
#include "Qxxx417.h"
#include "q417drv.h"

#include <algorithm>

namespace
{

using namespace std::chrono;

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
            if (!Open(code))
                return Finish();
            const nanoseconds cost = EmptyProbeCost(options_, code);
            for (uint8_t address : options_.Addresses) {
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
        }
        return Finish();
    }

  private:
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

    // Puts the bus at the rate of `code` with the probe time-out of that
    // rate. The LAN driver waits for replies as long as Init said, so there
    // each rate gets a connection of its own; the other kinds take the
    // time-out with the rate.
    bool Open(uint8_t code)
    {
        const uint32_t timeoutMs = ProbeTimeoutMs(options_, code);
        if (handle_ == 0 || link_.Kind == ifLan) {
            Close();
            TInitParams params = link_.Params;
            if (link_.Kind == ifLan) {
                params.fill(0);
                q417_params_set_text(params.data(), link_.IpAddress.c_str());
                params[1] = link_.UdpPort;
                params[2] = int32_t(timeoutMs);
            }
            params[Q417_PARAM_GUARD] = int32_t(options_.Guard.count());
            const int32_t status = DrvInit(link_.Kind, handle_, params);
            if (status != 0)
                return Fail(TScanStage::Init, status);
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

    // The identity read's first exchange, the one a module answers with
    // the first four characters of its name. Reported as an operation of
    // one step.
    uint8_t Probe(uint8_t address, uint8_t code, unsigned attempt)
    {
        std::string what = "hledání modulu: adresa " + std::to_string(address) + ", " +
                           std::to_string(BaudCodeToRate(code)) + " Bd";
        if (attempt > 1)
            what += ", pokus " + std::to_string(attempt);
        const TModuleStep step =
            ExchangeStep({link_.Kind, handle_, address}, std::move(what), CmdReadIdentity, 0);
        stopped_ = step_ && !step_(step);
        return step.Status;
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
                    result_.Finds.push_back({address, code, {}, false, status, tries});
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
                result_.Finds.push_back({address, code, {}, true, 0, tries});
                return true;
            }
        }
    }

    bool Found(uint8_t address, uint8_t code, unsigned tries, uint8_t status)
    {
        TScanFind find{address, code, {}, false, status, tries};
        if (status == 0) {
            const TModuleLink module{link_.Kind, handle_, address};
            for (unsigned attempt = 0; attempt <= options_.Retries; ++attempt) {
                const TModuleResult r = ReadIdentity(module, find.Name, step_);
                if (r.Outcome == TOutcome::Stopped) {
                    result_.Finds.push_back(std::move(find));
                    return Stop();
                }
                if (r.Ok()) {
                    find.Collision = false;
                    break;
                }
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
        p.Elapsed = steady_clock::now() - begun_;
        // What a probe took beyond its time-out (waking up, the driver's
        // own granularity, a reopened connection) is much the same at every
        // rate, so it is added per probe rather than scaled.
        const nanoseconds beyond = (p.Elapsed - plannedDone_) / int64_t(done_);
        p.Left = std::max(nanoseconds::zero(),
                          plannedTotal_ - plannedDone_ + beyond * int64_t(total_ - done_));
        return progress_(p) || Stop();
    }

    const TScanLink &link_;
    const TScanOptions &options_;
    const TStepReport &step_;
    const TScanReport &progress_;
    int32_t handle_ = 0;
    bool stopped_ = false;
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

nanoseconds ScanTimeoutTotal(const TScanOptions &options)
{
    nanoseconds sum{};
    for (uint8_t code : options.BaudCodes) {
        if (IsBaudCode(code))
            sum += int64_t(options.Addresses.size()) * EmptyProbeCost(options, code);
    }
    return sum;
}

TScanResult ScanModules(const TScanLink &link, const TScanOptions &options, const TStepReport &step,
                        const TScanReport &progress)
{
    return TScanner(link, options, step, progress).Run();
}
