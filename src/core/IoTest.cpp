#include "IoTest.h"

#include <thread>

namespace
{

uint32_t Bit(uint32_t word, int n)
{
    return (word >> n) & 1u;
}

// The negation settings as words, channel n as bit n.
uint32_t Setting(const std::array<uint8_t, 4> &bytes)
{
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
           uint32_t(bytes[3]) << 24;
}

// Only the negation registers: the power-up state plays no part.
std::vector<TRegisterStep> NegationRegisters()
{
    std::vector<TRegisterStep> list;
    for (const TRegisterStep &r : ChannelRegisters()) {
        if (r.Byte >= offsetof(TModuleConfig, DinNegation) &&
            r.Byte < offsetof(TModuleConfig, DoutInitState))
            list.push_back(r);
    }
    return list;
}

} // namespace

std::vector<uint32_t> IoTestPatterns()
{
    std::vector<uint32_t> list;
    for (int n = 0; n < 32; ++n)
        list.push_back(1u << n);
    for (int n = 0; n < 32; ++n)
        list.push_back(~(1u << n));
    list.push_back(0xFFFFFFFFu);
    list.push_back(0);
    return list;
}

uint32_t LoopbackInputs(uint32_t written, uint32_t doutNegation, uint32_t dinNegation)
{
    return written ^ doutNegation ^ dinNegation;
}

bool TIoTestResult::Passed() const
{
    if (!Module.Ok() || !Complete())
        return false;
    for (const TChannelVerdict &v : Channels) {
        if (v.Fault != TChannelFault::Pass)
            return false;
    }
    return true;
}

std::array<TChannelVerdict, 32> IoTestVerdicts(const std::vector<TIoStep> &steps,
                                               uint32_t doutNegation, uint32_t dinNegation,
                                               bool complete)
{
    std::array<TChannelVerdict, 32> verdicts{};
    for (int n = 0; n < 32; ++n) {
        TChannelVerdict &v = verdicts[std::size_t(n)];
        v.Channel = n;
        for (std::size_t k = 0; k < steps.size(); ++k) {
            if (Bit(steps[k].Seen ^ steps[k].Expected, n) != 0) {
                ++v.Wrong;
                if (v.FirstWrong == 0)
                    v.FirstWrong = k + 1;
            }
        }
        if (v.Wrong == 0) {
            v.Fault = complete ? TChannelFault::Pass : TChannelFault::Untested;
            continue;
        }
        // Judged by terminal levels, not by bits: an input stuck before its
        // negation and an output stuck after its negation both show as a
        // terminal that never moves, and which of the two it is the
        // inputs alone cannot tell.
        auto inputLevel = [&](std::size_t k) { return Bit(steps[k].Seen ^ dinNegation, n); };
        auto outputLevel = [&](std::size_t k, int m) {
            return Bit(steps[k].Written ^ doutNegation, m);
        };
        bool constant = true;
        for (std::size_t k = 1; k < steps.size() && constant; ++k)
            constant = inputLevel(k) == inputLevel(0);
        if (constant) {
            v.Fault = inputLevel(0) != 0 ? TChannelFault::StuckAt1 : TChannelFault::StuckAt0;
            continue;
        }
        v.Fault = TChannelFault::Inconsistent;
        for (int m = 0; m < 32; ++m) {
            if (m == n)
                continue;
            bool same = true;
            for (std::size_t k = 0; k < steps.size() && same; ++k)
                same = inputLevel(k) == outputLevel(k, m);
            if (same) {
                v.Fault = TChannelFault::Follows;
                v.Source = m;
                break;
            }
        }
    }
    return verdicts;
}

TIoTestResult RunIoTest(const TModuleLink &link, const TIoTestOptions &options,
                        const TStepReport &report)
{
    TIoTestResult r;
    const std::vector<uint32_t> patterns = IoTestPatterns();
    r.StepsPlanned = patterns.size();
    const auto begun = std::chrono::steady_clock::now();
    const TStepReport counted = [&](const TModuleStep &step) {
        ++r.Exchanges;
        r.ExchangeTime += step.Duration;
        return !report || report(step);
    };
    // Once stopped, the final off write still goes out; its report cannot
    // stop anything any more.
    const TStepReport finalReport = [&](const TModuleStep &step) {
        counted(step);
        return true;
    };

    auto run = [&]() {
        TModuleConfig config{};
        const std::vector<TRegisterStep> registers = NegationRegisters();
        r.Module = ReadRegisters(link, registers, config, counted);
        if (!r.Module.Ok())
            return;
        r.DinNegation = Setting(config.DinNegation);
        r.DoutNegation = Setting(config.DoutNegation);
        r.Module = ReadStatus(link, r.StatusBefore, counted);
        if (!r.Module.Ok())
            return;
        for (uint32_t written : patterns) {
            r.Module = WriteOutputs(link, written, counted);
            if (!r.Module.Ok())
                return;
            if (options.Settle.count() > 0) {
                const bool go = options.Wait ? options.Wait(options.Settle)
                                             : (std::this_thread::sleep_for(options.Settle), true);
                if (!go) {
                    r.Module = {TOutcome::Stopped, 0, 0, 0};
                    return;
                }
            }
            TIoStep step;
            step.Written = written;
            step.Expected = LoopbackInputs(written, r.DoutNegation, r.DinNegation);
            r.Module = ReadInputs(link, step.Seen, counted);
            if (!r.Module.Ok())
                return;
            r.Steps.push_back(step);
            if (options.Progress && !options.Progress(r)) {
                r.Module = {TOutcome::Stopped, 0, 0, 0};
                return;
            }
        }
    };
    run();
    // Attempted whatever came before, a driver error included: the last
    // exchange may have failed on a line that works again.
    const TModuleResult off = WriteOutputs(link, 0, finalReport);
    r.OutputsOff = off.Ok();
    if (r.Module.Ok() && !off.Ok())
        r.Module = off;
    if (r.Module.Ok()) {
        r.Module = ReadStatus(link, r.StatusAfter, counted);
        r.StatusAfterRead = r.Module.Ok();
    }
    r.Duration = std::chrono::steady_clock::now() - begun;
    r.Channels = IoTestVerdicts(r.Steps, r.DoutNegation, r.DinNegation, r.Complete());
    return r;
}
