// The profile file: what a person may change by hand and still have it
// read, and the diff's naming. The strict refusals are tested through
// korvalctl (tests/cli/test_profiles.cpp), with nothing sent.
#include "ConfigProfile.h"
#include "ConfigText.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

TConfigProfile Sample()
{
    TConfigProfile p;
    p.Module = "DIO-3232 v.1.07";
    p.Config.Address = 200;
    p.Config.BaudCode = 8;
    p.Config.DinNegation = {0x01, 0x80, 0x00, 0xFF};
    p.Config.DoutNegation = {0x5A, 0x00, 0x0F, 0x81};
    p.Config.DoutInitState = {0x00, 0x21, 0xF0, 0x80};
    return p;
}

std::string Replace(std::string text, const std::string &from, const std::string &to)
{
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

TEST(ConfigProfile, HandEditsThatKeepTheMeaningAreAccepted)
{
    std::string text = FormatProfile(Sample());
    // Windows line ends, extra blanks and comments, the settings of a
    // channel in another order, the rate note left out, no module line.
    std::string crlf;
    for (char c : text)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    text = Replace(crlf, "channel 15: din-negation=1 dout-negation=0 dout-init=0",
                   "  channel 15 :dout-init=0\tdin-negation=1   dout-negation=0  ");
    text = Replace(text, "baud-code: 8 (115200 Bd)", "\r\n# rychlost\r\nbaud-code:8");
    text = Replace(text, "module: DIO-3232 v.1.07\r\n", "");
    const TProfileParse back = ParseProfile(text);
    ASSERT_TRUE(back.Profile) << back.ErrorText();
    EXPECT_EQ(back.Profile->Config, Sample().Config);
    EXPECT_EQ(back.Profile->Module, "");
    // And as written, with the rate of the highest code for the reader.
    EXPECT_NE(FormatProfile(Sample()).find("baud-code: 8 (115200 Bd)\n"), std::string::npos);
    EXPECT_EQ(ParseProfile(FormatProfile(Sample())).Profile->Module, Sample().Module);
}

TEST(ConfigProfile, TheDiffNamesEachChannelSettingAndEachRegister)
{
    TModuleConfig a = Sample().Config;
    TModuleConfig b = a;
    b.DinNegation[1] ^= 0x20;   // channel 13
    b.DoutInitState[3] ^= 0x81; // channels 24 and 31
    b.Address = 7;
    const TConfigDifference d = DiffConfigs(a, b, ChannelRegisters());
    ASSERT_EQ(d.Channels.size(), 3u);
    EXPECT_EQ(d.Channels[0].Channel, 13);
    EXPECT_STREQ(d.Channels[0].Setting->Key, "din-negation");
    EXPECT_EQ(d.Channels[0].Left, 0);
    EXPECT_EQ(d.Channels[0].Right, 1);
    EXPECT_EQ(d.Channels[1].Channel, 24);
    EXPECT_STREQ(d.Channels[2].Setting->Key, "dout-init");
    // The address lies outside the registers compared.
    ASSERT_EQ(d.Registers.size(), 2u);
    EXPECT_EQ(d.Registers[0].Register.Register, 41); // dout-init comes first in the module's order
    EXPECT_EQ(d.Registers[1].Register.Register, 36);
    EXPECT_TRUE(DiffConfigs(a, a, ChannelRegisters()).Equal());
}

// Diff and restore agree on what counts: after a restore without the
// address the modules are equal, the address shown apart.
TEST(ConfigProfile, TheDiffComparesWhatARestoreWrites)
{
    const TModuleConfig file = Sample().Config;
    TModuleConfig module = file;
    module.Address = 2;
    module.BaudCode = 4;
    const TConfigDifference plain = DiffProfile(module, file, false);
    EXPECT_TRUE(plain.Equal());
    ASSERT_EQ(plain.Uncompared.size(), 2u);
    EXPECT_EQ(plain.Uncompared[0].Register.Register, 63);
    EXPECT_EQ(plain.Uncompared[0].Left, 2);
    EXPECT_EQ(plain.Uncompared[0].Right, 200);
    EXPECT_EQ(plain.Uncompared[1].Register.Register, 62);

    const TConfigDifference all = DiffProfile(module, file, true);
    EXPECT_FALSE(all.Equal());
    EXPECT_TRUE(all.Uncompared.empty());
    ASSERT_EQ(all.Registers.size(), 2u);
    EXPECT_EQ(all.Registers[0].Register.Register, 63);

    module.DoutNegation[3] ^= 0x80; // channel 31
    const TConfigDifference channel = DiffProfile(module, file, false);
    ASSERT_EQ(channel.Registers.size(), 1u);
    EXPECT_EQ(channel.Registers[0].Register.Register, 43);
    ASSERT_EQ(channel.Channels.size(), 1u);
    EXPECT_EQ(channel.Channels[0].Channel, 31);
    EXPECT_EQ(RestoredRegisters(false).size(), 12u);
    EXPECT_EQ(RestoredRegisters(true).front().Register, 63);
}

// The last address and the last channel are as good as any.
TEST(ConfigProfile, Address255AndChannel31RoundTrip)
{
    TConfigProfile p = Sample();
    p.Config.Address = 255;
    p.Config.DinNegation = {0, 0, 0, 0x80};
    p.Config.DoutInitState = {0, 0, 0, 0x80};
    const TProfileParse back = ParseProfile(FormatProfile(p));
    ASSERT_TRUE(back.Profile) << back.ErrorText();
    EXPECT_EQ(back.Profile->Config, p.Config);
    const TProfileParse last = ParseProfile(
        Replace(FormatProfile(p), "channel 31: din-negation=1 dout-negation=1 dout-init=1",
                "channel 31: din-negation=0 dout-negation=1 dout-init=1"));
    ASSERT_TRUE(last.Profile) << last.ErrorText();
    EXPECT_EQ(last.Profile->Config.DinNegation[3], 0);
}

} // namespace

namespace
{

// Which registers a clone's row names as written: a stop comes after a
// read-back, a failure at the step itself (a write or a read-back), so the
// two count differently from the same last step.
TEST(ConfigProfile, ACloneRowNamesTheRegistersThatWereWrittenAndChecked)
{
    const auto regs = ChannelRegisters();
    auto step = [](std::size_t number) {
        TModuleStep s;
        s.Number = number;
        s.Total = 24;
        s.What = "x";
        return s;
    };
    auto result = [](TOutcome o, uint8_t reg = 0) {
        TModuleResult r;
        r.Outcome = o;
        r.Step = 6;
        r.Register = reg;
        return r;
    };
    const std::string first3 = " Zapsány a ověřeny registry: " + std::to_string(regs[0].Register) +
                               ", " + std::to_string(regs[1].Register) + ", " +
                               std::to_string(regs[2].Register) + ".";
    const std::string first2 = " Zapsány a ověřeny registry: " + std::to_string(regs[0].Register) +
                               ", " + std::to_string(regs[1].Register) + ".";
    EXPECT_EQ(CloneErrorText(regs, result(TOutcome::Stopped), true, step(6), "", "zastaveno"),
              "zastaveno po krok 6/24 (x)." + first3);
    EXPECT_EQ(CloneErrorText(regs, result(TOutcome::Mismatch, regs[2].Register), true, step(6), "",
                             "zastaveno"),
              "zpětné čtení nesouhlasí: krok 6/24 (x)." + first2);
    EXPECT_EQ(CloneErrorText(regs, result(TOutcome::DriverError, regs[2].Register), true, step(5),
                             "chyba", "zastaveno"),
              "krok 5/24 (x) selhal: chyba." + first2);
    // The identity failed: no register was reached.
    EXPECT_EQ(CloneErrorText(regs, result(TOutcome::DriverError), true, step(1), "chyba", "z"),
              "krok 1/24 (x) selhal: chyba. Nic nezapsáno.");
    EXPECT_EQ(CloneErrorText(regs, TModuleResult{}, false, step(1), "", "zastaveno"),
              "zastaveno, nic nezapsáno.");
    EXPECT_EQ(CloneErrorText(regs, TModuleResult{}, true, step(24), "", "zastaveno"), "");
    EXPECT_EQ(WrittenText(regs, result(TOutcome::DriverError, regs[0].Register), step(1)),
              " Žádný registr nebyl zapsán a ověřen.");
}

} // namespace
