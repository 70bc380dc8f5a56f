// korvalctl's commands in-process against the fake driver, which fails or
// answers wrongly at exactly the exchange a test names.
#include "FakeCommands.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace
{

using Commands = fakecli::FakeCommands;

TEST_F(Commands, ConnectsWithTheParametersOfTheConnectionDialog)
{
    fake_state *lan = Hold("QLX1417.DLL");
    ASSERT_NE(lan, nullptr);
    ASSERT_EQ(Invoke({"-i", "lan", "--ip", "127.0.0.1", "--udp-port", "5123", "--timeout", "1500",
                      "-b", "19200", "info"}),
              0)
        << err;
    EXPECT_STREQ(lan->init_ip_text, "127.0.0.1");
    EXPECT_EQ(lan->init_params[1], 5123);
    EXPECT_EQ(lan->init_params[2], 1500);
    // The rate, its reply time-out and the dialog's 2.
    EXPECT_EQ(lan->setconfig_args[1], 19200);
    EXPECT_EQ(lan->setconfig_args[2], 150);
    EXPECT_EQ(lan->setconfig_args[3], 2);
    EXPECT_STREQ(lan->log, "Init SetConfig Send Send Send Done");
    fakeload::Release(other);

    for (const char *base : {"2A0", "0x2a0", "2A0h"}) {
        fake_state *isa = Hold("QPCI417.DLL");
        ASSERT_NE(isa, nullptr);
        EXPECT_EQ(Invoke({"-i", "isa", "--base", base, "info"}), 0) << base << err;
        EXPECT_EQ(isa->init_param, 0x2A0) << base;
        fakeload::Release(other);
    }
    other = nullptr;
}

fake_reply Value(uint8_t v)
{
    return {0, 0, 0, {0, 0, v, v}};
}
const fake_reply Failure{0, 5, 0, {}};

// address=5 dout-init.0=1: reads of registers 63 and 32, then write and
// read-back of each.
const std::vector<fake_reply> GoodSet = {Value(7), Value(0), Value(5),
                                         Value(5), Value(1), Value(1)};

TEST_F(Commands, AFailingStepAnywhereInAConfigWriteStopsThereAndSaysWhere)
{
    for (std::size_t at = 0; at < GoodSet.size(); ++at) {
        SCOPED_TRACE(at);
        Reset();
        std::vector<fake_reply> replies = GoodSet;
        replies[at] = Failure;
        Script(replies);
        EXPECT_EQ(Invoke({"config", "set", "address=5", "dout-init.0=1"}), 1);
        EXPECT_EQ(fake->send_count, int32_t(3 + at + 1)) << "nothing sent after the failure";
        EXPECT_NE(err.find("fake error 5"), std::string::npos) << err;
        const std::size_t step = at < 2 ? at + 1 : at - 1;
        EXPECT_NE(err.find("krok " + std::to_string(step) + "/"), std::string::npos) << err;
        if (at < 2) {
            EXPECT_NE(err.find("Nic nebylo zapsáno"), std::string::npos) << err;
        } else if (at >= 4) {
            EXPECT_NE(err.find("ověřeny registry: 63."), std::string::npos) << err;
        }
        EXPECT_TRUE(out.empty());
        EXPECT_TRUE(DoneLast()) << fake->log;
    }
}

TEST_F(Commands, AWriteReadBackOtherwiseEndsWithThreeNamingTheRegister)
{
    std::vector<fake_reply> replies = GoodSet;
    replies[5] = Value(0); // register 32 keeps its old value
    Script(replies);
    EXPECT_EQ(Invoke({"config", "set", "address=5", "dout-init.0=1"}), 3);
    EXPECT_NE(err.find("kontrola registru 32"), std::string::npos) << err;
    EXPECT_NE(err.find("ověřeny registry: 63."), std::string::npos) << err;
    EXPECT_EQ(fake->send_count, 9);
    EXPECT_TRUE(DoneLast()) << fake->log;
}

TEST_F(Commands, ABitChangeWritesTheRegisterWithItsOtherBitsKept)
{
    Script({Value(0xA0), Value(0xA8), Value(0xA8)});
    ASSERT_EQ(Invoke({"config", "set", "din-negation.11=1"}), 0) << err;
    // Read register 36 (channels 8-15), then write 0xA8 to it.
    EXPECT_EQ(fake->requests[3][4], 36);
    EXPECT_EQ(fake->requests[4][1], 103);
    EXPECT_EQ(fake->requests[4][4], 36);
    EXPECT_EQ(fake->requests[4][6], 0xA8);
}

TEST_F(Commands, StatusNamesTheBitsAsTheStatusWindow)
{
    Script({{0, 0, 0, {0x72, 0, 0x01, 0}}});
    ASSERT_EQ(Invoke({"status", "--json"}), 0) << err;
    const nlohmann::json j = nlohmann::json::parse(out);
    EXPECT_EQ(j["status"], 0x010072);
    EXPECT_EQ(j["flags"], nlohmann::json::parse(R"({"FN":1,"PRF":0,"PWR":1,"RST":1,"ERR24":1})"));
    EXPECT_EQ(j["bits"][16], 1);
}

TEST_F(Commands, WalkWrapsAfterDout31AndLeavesTheOutputsOff)
{
    fake->send_x = 0; // every exchange passes
    ASSERT_EQ(Invoke({"walk", "--count", "33", "--interval", "10"}), 0) << err;
    ASSERT_EQ(fake->send_count, 3 + 33 + 1);
    auto word = [&](int n) {
        const int32_t *r = fake->requests[n];
        return uint32_t(r[4]) | uint32_t(r[5]) << 8 | uint32_t(r[6]) << 16 | uint32_t(r[7]) << 24;
    };
    EXPECT_EQ(word(3), 1u);
    EXPECT_EQ(word(3 + 31), 0x80000000u);
    EXPECT_EQ(word(3 + 32), 1u);
    EXPECT_EQ(word(3 + 33), 0u);
    EXPECT_TRUE(DoneLast()) << fake->log;
}

// A driver failure in the middle of a scan ends it there: exit 1, the step
// named, the finds before it printed all the same, the driver closed.
TEST_F(Commands, ADriverFailureEndsAScanWithTheFindsSoFar)
{
    // At 9600 Bd the probe and the identity read pass; at 19200 Bd the
    // probe fails as no module could make it fail.
    Script({{0, 0, 0, {'A', 'B', 'C', 'D'}}});
    EXPECT_EQ(Invoke({"scan", "--rates", "9600,19200", "--json"}), 1);
    EXPECT_EQ(fake->send_count, 5);
    EXPECT_NE(err.find("hledání modulu: adresa 7, 19200 Bd"), std::string::npos) << err;
    EXPECT_NE(err.find("fake error 9"), std::string::npos) << err;
    const nlohmann::json j = nlohmann::json::parse(out);
    EXPECT_EQ(j["outcome"], "driver_error");
    EXPECT_EQ(j["error"]["stage"], "probe");
    ASSERT_EQ(j["finds"].size(), 1u);
    EXPECT_EQ(j["finds"][0]["baud_rate"], 9600);
    EXPECT_TRUE(DoneLast()) << fake->log;
}

} // namespace
