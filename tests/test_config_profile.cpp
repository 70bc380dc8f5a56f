// The profile file: what a person may change by hand and still have it
// read, and the diff's naming. The strict refusals are tested through
// korvalctl (tests/cli/test_profiles.cpp), with nothing sent.
#include "ConfigProfile.h"

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

} // namespace
