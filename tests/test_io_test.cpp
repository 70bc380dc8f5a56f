// The I/O acceptance test: its verdicts against the simulator's own model
// of faulty wiring (every channel, every kind of fault, plain and mixed
// negations), and its sequence against the fake driver where it must
// leave the outputs off.
#include "FakeLoader.h"
#include "IoTest.h"
#include "Qxxx417.h"
#include "SimModule.h"
#include "fake_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace
{

// The non-passing channels as "kind" or "kind:source".
std::map<int, std::string> Faulty(const ChannelFaults &faults, uint32_t din, uint32_t dout)
{
    std::vector<TIoStep> steps;
    for (uint32_t written : IoTestPatterns())
        steps.push_back({written, LoopbackInputs(written, dout, din),
                         faults.InputLevels(written ^ dout) ^ din});
    std::map<int, std::string> found;
    for (const TChannelVerdict &v : IoTestVerdicts(steps, dout, din, true)) {
        const char *kinds[] = {"pass", "0", "1", "follows", "inconsistent", "untested"};
        if (v.Fault != TChannelFault::Pass)
            found[v.Channel] = kinds[int(v.Fault)] +
                               (v.Source >= 0 ? ":" + std::to_string(v.Source) : std::string());
    }
    return found;
}

TEST(IoTestVerdicts, FindEveryStuckTerminalAndCrossedPairOnItsChannel)
{
    // Plain, and a mix where every combination of the two negations occurs.
    for (const auto &[din, dout] : {std::pair{0u, 0u}, std::pair{0x0F0F00FFu, 0x3C3C5A5Au}}) {
        EXPECT_TRUE(Faulty({}, din, dout).empty());
        for (int n = 0; n < 32; ++n) {
            for (const bool output : {false, true}) {
                for (const bool level : {false, true}) {
                    ChannelFaults f;
                    f.Stick(output, unsigned(n), level);
                    EXPECT_EQ(Faulty(f, din, dout),
                              (std::map<int, std::string>{{n, level ? "1" : "0"}}))
                        << (output ? "DOUT" : "DIN") << n << "=" << level << ", negations " << din
                        << "/" << dout;
                }
            }
            const int m = (n + 1) % 32;
            ChannelFaults crossed;
            crossed.Swap(unsigned(n), unsigned(m));
            EXPECT_EQ(Faulty(crossed, din, dout),
                      (std::map<int, std::string>{{n, "follows:" + std::to_string(m)},
                                                  {m, "follows:" + std::to_string(n)}}))
                << "swap " << n << "," << m << ", negations " << din << "/" << dout;
        }
    }
}

TEST(IoTestVerdicts, AnIntermittentBitAndAnUnfinishedRunAreNotPasses)
{
    std::vector<TIoStep> steps;
    for (uint32_t written : IoTestPatterns())
        steps.push_back({written, written, written});
    steps[40].Seen ^= 1u << 7; // one bad reading on DIN7
    const auto verdicts = IoTestVerdicts(steps, 0, 0, true);
    EXPECT_EQ(int(verdicts[7].Fault), int(TChannelFault::Inconsistent));
    EXPECT_EQ(verdicts[7].FirstWrong, 41u);
    EXPECT_EQ(int(verdicts[8].Fault), int(TChannelFault::Pass));
    // Cut short: channels never wrong so far are not passed.
    steps.resize(10);
    for (const TChannelVerdict &v : IoTestVerdicts(steps, 0, 0, false))
        EXPECT_EQ(int(v.Fault), int(TChannelFault::Untested)) << v.Channel;
}

// Every request the fake answered: command, sub-command, D0..D3.
std::vector<std::array<int32_t, 6>> Sent;
void Record(const char *entry, int32_t, const int32_t *request, const int32_t *)
{
    if (request != nullptr && std::string(entry) == "Send")
        Sent.push_back({request[1], request[2], request[4], request[5], request[6], request[7]});
}
const std::array<int32_t, 6> OutputsOff{CmdWriteOutputs, SubChannels, 0, 0, 0, 0};

TEST(IoTestSequence, ADriverErrorOrAStopStillEndsWithTheOutputsOff)
{
    const std::filesystem::path fakes = std::string(FAKES_DIR) + "/full";
    DrvSetLibraryDirectory(fakes);
    int32_t handle = 0;
    ASSERT_EQ(DrvInit(ifUsb, handle, TInitParams{}), 0);
    void *keep = fakeload::IfLoaded(fakes / fakeload::FileName("QUSB1417.DLL"));
    ASSERT_NE(keep, nullptr);
    fake_state *fake = fakeload::State(keep);
    fake->on_answer = Record;
    const TModuleLink link{ifUsb, handle, 7};

    // Inputs that always read 0: every terminal stuck at 0. The off write,
    // then the status.
    const TIoTestResult done = RunIoTest(link);
    EXPECT_TRUE(done.Module.Ok() && done.Complete() && !done.Passed());
    EXPECT_EQ(int(done.Channels[9].Fault), int(TChannelFault::StuckAt0));
    ASSERT_EQ(Sent.size(), 8u + 1u + 2u * 66u + 1u + 1u);
    EXPECT_EQ(Sent[Sent.size() - 2], OutputsOff);
    EXPECT_EQ(Sent.back()[0], CmdReadStatus);

    // The 20th exchange (a write of the walking one) fails.
    Sent.clear();
    fake->send_count = 0;
    fake->script_len = 20;
    for (int i = 0; i < 20; ++i)
        fake->script[i] = fake_reply{0, i == 19 ? 7 : 0, 0, {0, 0, 0, 0}};
    const TIoTestResult failed = RunIoTest(link);
    EXPECT_EQ(int(failed.Module.Outcome), int(TOutcome::DriverError));
    ASSERT_EQ(Sent.size(), 21u);
    EXPECT_EQ(Sent.back(), OutputsOff);
    EXPECT_TRUE(failed.OutputsOff);

    // Stopped by the callback after exchange 30: one more, the off write.
    Sent.clear();
    std::size_t heard = 0;
    const TIoTestResult stopped =
        RunIoTest(link, {}, [&](const TModuleStep &) { return ++heard < 30; });
    EXPECT_EQ(int(stopped.Module.Outcome), int(TOutcome::Stopped));
    ASSERT_EQ(Sent.size(), 31u);
    EXPECT_EQ(Sent.back(), OutputsOff);
    EXPECT_TRUE(stopped.OutputsOff) << "a stop does not stop the off write";

    // Stopped in the third settle wait: nothing is read after it.
    Sent.clear();
    TIoTestOptions settle;
    settle.Settle = std::chrono::milliseconds(1);
    int waits = 0;
    settle.Wait = [&](std::chrono::milliseconds) { return ++waits < 3; };
    const TIoTestResult waited = RunIoTest(link, settle);
    EXPECT_EQ(int(waited.Module.Outcome), int(TOutcome::Stopped));
    EXPECT_EQ(waited.Steps.size(), 2u);
    ASSERT_EQ(Sent.size(), 8u + 1u + 2u * 2u + 1u + 1u);
    EXPECT_EQ(Sent.back(), OutputsOff);

    fake->on_answer = nullptr;
    DrvDone(ifUsb, handle);
    fakeload::Release(keep);
}

// The fixture: each output written comes back on its input, and the
// exchange numbered FailAt fails.
fake_state *Fixture = nullptr;
int FailAt = 0;
void Loopback(const char *entry, int32_t, const int32_t *request, const int32_t *)
{
    if (std::string(entry) != "Send")
        return;
    if (request[1] == CmdWriteOutputs)
        std::copy(request + 4, request + 8, Fixture->send_reply);
    Fixture->send_status = Fixture->send_count + 1 == FailAt ? 5 : 0;
}

// Every channel right but the outputs left on: the test has not passed.
TEST(IoTestSequence, AFailedOffWriteFailsATestWhoseChannelsAllPassed)
{
    const std::filesystem::path fakes = std::string(FAKES_DIR) + "/full";
    DrvSetLibraryDirectory(fakes);
    int32_t handle = 0;
    ASSERT_EQ(DrvInit(ifUsb, handle, TInitParams{}), 0);
    void *keep = fakeload::IfLoaded(fakes / fakeload::FileName("QUSB1417.DLL"));
    ASSERT_NE(keep, nullptr);
    Fixture = fakeload::State(keep);
    Fixture->on_answer = Loopback;
    const TModuleLink link{ifUsb, handle, 7};

    const TIoTestResult good = RunIoTest(link);
    EXPECT_TRUE(good.Passed());
    EXPECT_TRUE(good.OutputsOff && good.StatusAfterRead);

    const int off = 8 + 1 + 2 * 66 + 1;
    Fixture->send_count = 0;
    FailAt = off;
    const TIoTestResult r = RunIoTest(link);
    EXPECT_TRUE(r.Complete());
    for (const TChannelVerdict &v : r.Channels)
        EXPECT_EQ(int(v.Fault), int(TChannelFault::Pass)) << v.Channel;
    EXPECT_FALSE(r.Passed());
    EXPECT_FALSE(r.OutputsOff);
    EXPECT_EQ(int(r.Module.Outcome), int(TOutcome::DriverError));
    EXPECT_EQ(r.Module.Status, 5);
    EXPECT_FALSE(r.StatusAfterRead) << "nothing more after the failed off write";
    EXPECT_EQ(Fixture->send_count, off);
    EXPECT_EQ(r.Exchanges, std::size_t(off));

    Fixture->on_answer = nullptr;
    DrvDone(ifUsb, handle);
    fakeload::Release(keep);
}

} // namespace
