// The module operations against the fake driver: which exchanges each runs
// and in which order, where it stops, and what its callback hears.
#include "FakeLoader.h"
#include "Module.h"
#include "Qxxx417.h"
#include "fake_driver.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace
{

const fs::path Fakes = FAKES_DIR;

class ModuleOperations : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        DrvSetLibraryDirectory(Fakes / "full");
        ASSERT_EQ(DrvInit(ifUsb, handle, TInitParams{}), 0);
        keep = fakeload::IfLoaded(Fakes / "full" / fakeload::FileName("QUSB1417.DLL"));
        ASSERT_NE(keep, nullptr);
        fake = fakeload::State(keep);
        ASSERT_NE(fake, nullptr);
    }
    void TearDown() override
    {
        DrvDone(ifUsb, handle);
        if (keep != nullptr)
            fakeload::Release(keep);
    }

    TModuleLink Link() const { return {ifUsb, handle, 7}; }

    // Starts a new script: the first answers come from `replies` in order.
    void Script(const std::vector<fake_reply> &replies)
    {
        fake->send_count = 0;
        fake->script_len = int32_t(replies.size());
        for (std::size_t i = 0; i < replies.size(); ++i)
            fake->script[i] = replies[i];
    }

    // Request n as command, sub-command and D0..D3 (the address checked
    // once for all: every request goes to the link's address).
    std::vector<int32_t> Request(int n) const
    {
        const int32_t *r = fake->requests[n];
        EXPECT_EQ(r[0], 7) << n;
        return {r[1], r[2], r[4], r[5], r[6], r[7]};
    }
    int32_t RequestX(int n) const { return fake->requests[n][3]; }

    TStepReport Record()
    {
        return [this](const TModuleStep &step) {
            steps.push_back(step);
            return true;
        };
    }

    int32_t handle = 0;
    fakeload::Handle keep = nullptr;
    fake_state *fake = nullptr;
    std::vector<TModuleStep> steps;
};

fake_reply Answer(uint8_t d2 = 0)
{
    return {0, 0, 0, {0, 0, d2, 0}};
}

const fake_reply Failure{0, 5, 0, {}};

TModuleConfig SampleConfig()
{
    TModuleConfig c{};
    c.Address = 12;
    c.BaudCode = 8;
    for (std::size_t i = 0; i < 4; ++i) {
        c.DinNegation[i] = uint8_t(0x10 + i);
        c.DoutNegation[i] = uint8_t(0x20 + i);
        c.DoutInitState[i] = uint8_t(0x30 + i);
    }
    return c;
}

// The answers of a channel write that passes up to step `failAt` (1-based),
// which fails: with a driver status, or with a read-back one off.
std::vector<fake_reply> ChannelWriteFailingAt(std::size_t failAt, bool mismatch)
{
    const TModuleConfig c = SampleConfig();
    std::vector<fake_reply> replies;
    for (std::size_t n = 1; n <= failAt; ++n) {
        const uint8_t value = ConfigByte(c, ChannelRegisters()[(n - 1) / 2].Byte);
        const bool readBack = n % 2 == 0;
        if (n < failAt)
            replies.push_back(Answer(readBack ? value : 0));
        else
            replies.push_back(mismatch ? Answer(uint8_t(value ^ 1)) : Failure);
    }
    return replies;
}

} // namespace

TEST_F(ModuleOperations, WriteSendsEachRegisterThenReadsItBack)
{
    const TModuleConfig c = SampleConfig();
    Script({Answer(), Answer(12), Answer(), Answer(8)});
    const TModuleResult r = WriteRegisters(Link(), AddressRegisters(), c, Record());

    EXPECT_TRUE(r.Ok());
    ASSERT_EQ(fake->send_count, 4);
    EXPECT_EQ(Request(0), (std::vector<int32_t>{CmdWriteRegister, 0, 63, 63, 12, 12}));
    EXPECT_EQ(Request(1), (std::vector<int32_t>{CmdReadRegister, 0, 63, 63, 0, 0}));
    EXPECT_EQ(Request(2), (std::vector<int32_t>{CmdWriteRegister, 0, 62, 62, 8, 8}));
    EXPECT_EQ(Request(3), (std::vector<int32_t>{CmdReadRegister, 0, 62, 62, 0, 0}));
    ASSERT_EQ(steps.size(), 4u);
    for (std::size_t i = 0; i < steps.size(); ++i) {
        EXPECT_EQ(steps[i].Number, i + 1);
        EXPECT_EQ(steps[i].Total, 4u);
        EXPECT_TRUE(steps[i].Passed());
    }
    EXPECT_EQ(steps[2].What, "zápis registru 62 (rychlost) = 8 (115200 Bd)");
}

TEST_F(ModuleOperations, ChannelWriteStopsAtTheFirstFailingStepWhereverItIs)
{
    const TModuleConfig c = SampleConfig();
    const std::size_t total = 2 * ChannelRegisters().size();
    for (bool mismatch : {false, true}) {
        for (std::size_t failAt = 1; failAt <= total; ++failAt) {
            // A mismatch can only be a read-back.
            if (mismatch && failAt % 2 == 1)
                continue;
            SCOPED_TRACE((mismatch ? "mismatch at " : "failure at ") + std::to_string(failAt));
            Script(ChannelWriteFailingAt(failAt, mismatch));
            steps.clear();
            const TModuleResult r = WriteRegisters(Link(), ChannelRegisters(), c, Record());

            EXPECT_EQ(r.Outcome, mismatch ? TOutcome::Mismatch : TOutcome::DriverError);
            EXPECT_EQ(r.Status, mismatch ? 0 : 5);
            EXPECT_EQ(r.Step, failAt);
            EXPECT_EQ(r.Register, ChannelRegisters()[(failAt - 1) / 2].Register);
            EXPECT_EQ(fake->send_count, int32_t(failAt)); // nothing after the failure
            ASSERT_EQ(steps.size(), failAt);
            EXPECT_FALSE(steps.back().Passed());
            EXPECT_EQ(steps.back().Mismatch, mismatch);
            EXPECT_EQ(steps.back().Total, total);
        }
    }
}

TEST_F(ModuleOperations, CallbackThatStopsEndsTheOperationWithoutAnotherExchange)
{
    Script({Answer(), Answer(12)});
    int calls = 0;
    const TModuleResult r =
        WriteRegisters(Link(), AddressRegisters(), SampleConfig(), [&](const TModuleStep &) {
            ++calls;
            return false;
        });
    EXPECT_EQ(r.Outcome, TOutcome::Stopped);
    EXPECT_EQ(r.Step, 1u);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(fake->send_count, 1);
}

TEST_F(ModuleOperations, ReadKeepsWhatWasReadBeforeAFailure)
{
    TModuleConfig c{};
    c.BaudCode = 99;
    Script({Answer(33), Failure});
    const TModuleResult r = ReadRegisters(Link(), AddressRegisters(), c, Record());
    EXPECT_EQ(r.Outcome, TOutcome::DriverError);
    EXPECT_EQ(r.Step, 2u);
    EXPECT_EQ(c.Address, 33);
    EXPECT_EQ(c.BaudCode, 99);
    EXPECT_EQ(Request(1), (std::vector<int32_t>{CmdReadRegister, 0, 62, 62, 0, 0}));

    // The whole channel image, register by register, into its bytes.
    const TModuleConfig expected = SampleConfig();
    std::vector<fake_reply> replies;
    for (const TRegisterStep &s : ChannelRegisters())
        replies.push_back(Answer(ConfigByte(expected, s.Byte)));
    Script(replies);
    TModuleConfig all = expected;
    all.DinNegation = all.DoutNegation = all.DoutInitState = {};
    EXPECT_TRUE(ReadRegisters(Link(), ChannelRegisters(), all).Ok());
    EXPECT_EQ(all, expected);
    // Power-up states first, then input negations, then output negations.
    EXPECT_EQ(Request(0)[2], 32);
    EXPECT_EQ(Request(4)[2], 33);
    EXPECT_EQ(Request(8)[2], 34);
    EXPECT_EQ(Request(11)[2], 43);
}

TEST_F(ModuleOperations, IdentityReadsNameVersionInThreeStepsAndKeepsTheNameOnFailure)
{
    Script({{0, 0, 0x21, {'K', 'O', 'R', 0x9A}},
            {0, 0, 0x42, {'4', '1', '7', ' '}},
            {0, 0, 0, {'1', '.', '0', '4'}}});
    std::string name;
    EXPECT_TRUE(ReadIdentity(Link(), name, Record()).Ok());
    EXPECT_EQ(name, "KORš417  v.1.04"); // the module's code page is Windows-1250
    ASSERT_EQ(fake->send_count, 3);
    for (int sub = 0; sub < 3; ++sub)
        EXPECT_EQ(Request(sub), (std::vector<int32_t>{CmdReadIdentity, sub, 0, 0, 0, 0}));
    EXPECT_EQ(steps.size(), 3u);
    // Each request sends back the X of the answer before it.
    EXPECT_EQ(RequestX(0), 0);
    EXPECT_EQ(RequestX(1), 0x21);
    EXPECT_EQ(RequestX(2), 0x42);

    Script({Answer(), Failure});
    std::string kept = "before";
    const TModuleResult r = ReadIdentity(Link(), kept);
    EXPECT_EQ(r.Step, 2u);
    EXPECT_EQ(kept, "before");
    EXPECT_EQ(fake->send_count, 2);
}

TEST_F(ModuleOperations, WordsTravelLowByteFirstAndReadsSendZeros)
{
    Script({{0, 0, 0, {0x01, 0x02, 0x03, 0x84}}, {0, 0, 0, {0x11, 0, 0, 0}}, Answer(), Answer()});
    uint32_t inputs = 0, status = 0;
    EXPECT_TRUE(ReadInputs(Link(), inputs).Ok());
    EXPECT_TRUE(ReadStatus(Link(), status).Ok());
    EXPECT_TRUE(WriteOutputs(Link(), 0x80402010u).Ok());
    EXPECT_TRUE(ClearStatus(Link()).Ok());
    EXPECT_EQ(inputs, 0x84030201u);
    EXPECT_EQ(status, 0x11u);
    EXPECT_EQ(Request(0), (std::vector<int32_t>{CmdReadInputs, SubChannels, 0, 0, 0, 0}));
    EXPECT_EQ(Request(1), (std::vector<int32_t>{CmdReadStatus, SubNone, 0, 0, 0, 0}));
    EXPECT_EQ(Request(2),
              (std::vector<int32_t>{CmdWriteOutputs, SubChannels, 0x10, 0x20, 0x40, 0x80}));
    EXPECT_EQ(Request(3), (std::vector<int32_t>{CmdClearStatus, SubNone, 0, 0, 0, 0}));
    for (int n = 0; n < 4; ++n)
        EXPECT_EQ(RequestX(n), 0) << n;

    // A failed read leaves the caller's word alone.
    Script({Failure});
    uint32_t word = 0xDEADBEEF;
    EXPECT_EQ(ReadInputs(Link(), word).Status, 5);
    EXPECT_EQ(word, 0xDEADBEEFu);
}

TEST_F(ModuleOperations, WithoutHandleNothingIsSentAndNothingPasses)
{
    const TModuleLink closed{ifUsb, 0, 7};
    fake->send_count = 0;
    uint32_t word = 0;
    const TModuleResult r = ReadInputs(closed, word);
    EXPECT_EQ(r.Outcome, TOutcome::DriverError);
    EXPECT_EQ(r.Status, DrvNotComposed);
    TModuleConfig c = SampleConfig();
    EXPECT_FALSE(WriteRegisters(closed, AddressRegisters(), c).Ok());
    EXPECT_EQ(fake->send_count, 0);
}
