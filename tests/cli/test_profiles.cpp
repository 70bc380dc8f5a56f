// config save, diff, restore and clone: the real binary against simulated
// modules, and restore in-process against the fake driver for a fault at
// each exchange.
#include "FakeCommands.h"
#include "SimProcess.h"

#include "ConfigProfile.h"
#include "Qxxx417.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace
{

using Json = nlohmann::json;

std::string ReadText(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

struct Result {
    int exit;
    std::string out, err;
};

// Modules at addresses 3 and 5, none at 4.
class Profiles : public ::testing::Test
{
  protected:
    void SetUp() override { ASSERT_TRUE(sim.Ready()) << sim.Failure(); }

    // `feed`: a shell command whose output is korvalctl's stdin.
    Result Run(const std::string &address, std::initializer_list<std::string> command,
               const std::string &feed = "true")
    {
        std::string line = feed + " | '" + KORVALCTL_EXE + "' --settings '" + Path("s.ini") +
                           "' -i lan --ip 127.0.0.1 --udp-port " + std::to_string(sim.UdpPort()) +
                           " -a " + address;
        for (const std::string &c : command)
            line += " '" + c + "'";
        line += " 2>'" + Path("err.txt") + "'";
        Result r{-1, {}, {}};
        std::FILE *p = ::popen(line.c_str(), "r");
        if (p == nullptr)
            return r;
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;)
            r.out.append(buffer, n);
        const int status = ::pclose(p);
        r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.err = ReadText(Path("err.txt"));
        return r;
    }
    std::string Path(const std::string &name) const { return dir.Path() + "/" + name; }

    simtest::SimProcess sim{
        SIM_EXE, {"--udp-port", "0", "--timing", "none", "--module", "3", "--module", "5"}};
    simtest::TempDir dir;
};

TEST_F(Profiles, SaveRestoreSaveGivesTheSameFileByteForByte)
{
    ASSERT_EQ(Run("3", {"config", "set", "dout-init.0=1", "dout-negation.20=0",
                        "din-negation=0x12345678"})
                  .exit,
              0);
    const Result saved = Run("3", {"config", "save", Path("a.txt")});
    ASSERT_EQ(saved.exit, 0) << saved.err;
    // The module changes in a register of each setting, then gets the file.
    ASSERT_EQ(
        Run("3", {"config", "set", "dout-init.0=0", "dout-negation.20=1", "din-negation.31=1"})
            .exit,
        0);
    ASSERT_EQ(Run("3", {"config", "diff", Path("a.txt")}).exit, 3);
    const Result restored = Run("3", {"config", "restore", Path("a.txt")});
    ASSERT_EQ(restored.exit, 0) << restored.err;
    ASSERT_EQ(Run("3", {"config", "save", Path("b.txt")}).exit, 0);
    EXPECT_EQ(ReadText(Path("b.txt")), ReadText(Path("a.txt")));
    EXPECT_EQ(Run("3", {"config", "save", "-"}).out, ReadText(Path("a.txt")));
}

TEST_F(Profiles, DiffNamesExactlyTheChangedChannelAndRegister)
{
    ASSERT_EQ(Run("3", {"config", "save", Path("a.txt")}).exit, 0);
    const Result equal = Run("3", {"config", "diff", Path("a.txt"), "--json"});
    EXPECT_EQ(equal.exit, 0) << equal.err;
    EXPECT_TRUE(Json::parse(equal.out)["equal"]);

    // The simulator's modules start with every input negated.
    ASSERT_EQ(Run("3", {"config", "set", "din-negation.13=0"}).exit, 0);
    const Result differs = Run("3", {"config", "diff", Path("a.txt"), "--json"});
    EXPECT_EQ(differs.exit, 3) << differs.err;
    const Json j = Json::parse(differs.out);
    EXPECT_EQ(j["channels"], Json::parse(R"([{"channel":13,"setting":"din-negation",
                                               "module":0,"file":1}])"));
    ASSERT_EQ(j["registers"].size(), 1u);
    EXPECT_EQ(j["registers"][0]["register"], 36);
    EXPECT_EQ(j["registers"][0]["module"], 0xDF);
    EXPECT_EQ(j["registers"][0]["file"], 0xFF);

    const Result text = Run("3", {"config", "diff", Path("a.txt")});
    EXPECT_EQ(text.exit, 3);
    EXPECT_NE(text.out.find("   13  negace DIN"), std::string::npos) << text.out;
}

TEST_F(Profiles, CloneReportsEachModuleAndFailsWhenOneIsMissing)
{
    ASSERT_EQ(Run("3", {"config", "set", "dout-init=0x0000FF01"}).exit, 0);
    ASSERT_EQ(Run("3", {"config", "save", Path("a.txt")}).exit, 0);
    const Result clone = Run("3", {"config", "clone", Path("a.txt"), "--to", "5,4,3", "--json"});
    EXPECT_EQ(clone.exit, 1) << clone.err;
    const Json j = Json::parse(clone.out);
    ASSERT_EQ(j["modules"].size(), 3u);
    EXPECT_EQ(j["modules"][0]["address"], 3);
    EXPECT_EQ(j["modules"][0]["outcome"], "done");
    EXPECT_EQ(j["modules"][1]["address"], 4);
    EXPECT_EQ(j["modules"][1]["outcome"], "driver_error");
    EXPECT_NE(j["modules"][1]["error"].get<std::string>().find("krok 1/3"), std::string::npos);
    EXPECT_EQ(j["modules"][2]["outcome"], "done");
    EXPECT_EQ(j["done"], 2);
    // The module at 5 now holds what clone writes: equal, as diff compares
    // what it writes; the address only shown.
    const Result same = Run("5", {"config", "diff", Path("a.txt"), "--json"});
    EXPECT_EQ(same.exit, 0) << same.out;
    const Json five = Json::parse(same.out);
    EXPECT_TRUE(five["equal"]);
    EXPECT_EQ(five["registers_compared"], 12);
    ASSERT_EQ(five["not_compared"].size(), 1u);
    EXPECT_EQ(five["not_compared"][0]["name"], "address");
    EXPECT_EQ(five["not_compared"][0]["module"], 5);
    const Result sameText = Run("5", {"config", "diff", Path("a.txt")});
    EXPECT_EQ(sameText.exit, 0);
    EXPECT_NE(sameText.out.find("Jen pro informaci"), std::string::npos) << sameText.out;
    EXPECT_NE(sameText.out.find("(12 registrů)"), std::string::npos) << sameText.out;
    // With the address, as restore --with-address would write it.
    const Result withAddress = Run("5", {"config", "diff", Path("a.txt"), "--with-address"});
    EXPECT_EQ(withAddress.exit, 3);
    EXPECT_NE(withAddress.out.find("     63  adresa"), std::string::npos) << withAddress.out;
    EXPECT_NE(withAddress.out.find("Liší se 1 z 14 registrů."), std::string::npos)
        << withAddress.out;

    const Result text = Run("3", {"config", "clone", Path("a.txt"), "--to", "3-5"});
    EXPECT_EQ(text.exit, 1);
    EXPECT_NE(text.out.find("adresa   3  hotovo"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("adresa   4  krok 1/3"), std::string::npos) << text.out;
}

// A profile from stdin is read as a file is: at most 1 MiB, then refused
// with the file's message, nothing sent.
TEST_F(Profiles, StdinIsCappedAsAFileIs)
{
    ASSERT_EQ(Run("3", {"config", "save", Path("a.txt")}).exit, 0);
    const Result good = Run("3", {"config", "diff", "-"}, "cat '" + Path("a.txt") + "'");
    EXPECT_EQ(good.exit, 0) << good.err;
    // Exactly 1 MiB is still a profile; a byte more is not.
    std::string full = ReadText(Path("a.txt"));
    full += std::string((1 << 20) - full.size() - 1, '#') + "\n";
    WriteText(Path("full.txt"), full);
    EXPECT_EQ(Run("3", {"config", "diff", "-"}, "cat '" + Path("full.txt") + "'").exit, 0);
    EXPECT_EQ(Run("3", {"config", "diff", "-"}, "cat '" + Path("full.txt") + "'; echo").exit, 2);
    WriteText(Path("big.txt"), ReadText(Path("a.txt")) + std::string(1 << 20, '#'));
    const Result big = Run("3", {"config", "diff", Path("big.txt")});
    EXPECT_EQ(big.exit, 2);
    const std::string refused = "nelze přečíst (není to čitelný soubor do 1 MiB)";
    EXPECT_NE(big.err.find(refused), std::string::npos) << big.err;
    for (const std::vector<std::string> &command :
         {std::vector<std::string>{"diff"}, {"restore"}, {"clone", "--to", "3"}}) {
        SCOPED_TRACE(command[0]);
        // Endless zeros stand for /dev/zero, but a few MiB of them end a
        // read that knows no cap before it fills the memory.
        for (const std::string &input :
             {std::string("head -c 3000000 /dev/zero"), "cat '" + Path("big.txt") + "'"}) {
            const Result r = command.size() == 1
                                 ? Run("3", {"config", command[0], "-"}, input)
                                 : Run("3", {"config", command[0], "-", "--to", "3"}, input);
            EXPECT_EQ(r.exit, 2) << r.err;
            EXPECT_NE(r.err.find(refused), std::string::npos) << r.err;
        }
    }
}

class ProfileFaults : public fakecli::FakeCommands
{
  protected:
    std::string Profile(const std::string &text)
    {
        const std::string path = (fakecli::fs::temp_directory_path() /
                                  ("korval-profile-" + std::to_string(::getpid()) + ".txt"))
                                     .string();
        WriteText(path, text);
        files.push_back(path);
        return path;
    }
    void TearDown() override
    {
        for (const std::string &f : files)
            std::remove(f.c_str());
        FakeCommands::TearDown();
    }
    std::vector<std::string> files;
};

fake_reply Value(uint8_t v)
{
    return {0, 0, 0, {0, 0, v, v}};
}

// A fault at write or read-back of any of the 12 registers ends the restore
// there: the register named, nothing sent after it, the driver closed.
TEST_F(ProfileFaults, AFaultAtAnyExchangeOfARestoreStopsThereNamingTheRegister)
{
    const std::string file = Profile(FormatProfile({"X", {}}));
    const std::size_t steps = 2 * ChannelRegisters().size();
    for (std::size_t at = 0; at < steps; ++at) {
        // A failed exchange anywhere; a read-back of another value where
        // there is one.
        for (const bool mismatch : {false, true}) {
            if (mismatch && at % 2 == 0)
                continue;
            SCOPED_TRACE(std::to_string(at) + (mismatch ? " mismatch" : " failure"));
            Reset();
            std::vector<fake_reply> replies(steps, Value(0));
            replies[at] = mismatch ? Value(1) : fake_reply{0, 5, 0, {}};
            Script(replies);
            EXPECT_EQ(Invoke({"config", "restore", file}), mismatch ? 3 : 1);
            EXPECT_EQ(fake->send_count, int32_t(3 + at + 1)) << "nothing sent after the fault";
            const TRegisterStep r = ChannelRegisters()[at / 2];
            EXPECT_NE(err.find("registru " + std::to_string(r.Register)), std::string::npos) << err;
            if (at >= 2) {
                EXPECT_NE(
                    err.find("ověřeny registry: " + std::to_string(ChannelRegisters()[0].Register)),
                    std::string::npos)
                    << err;
            }
            EXPECT_TRUE(out.empty());
            EXPECT_TRUE(DoneLast()) << fake->log;
        }
    }
    // All 24 exchanges passing: the profile's values went out.
    Reset();
    Script(std::vector<fake_reply>(steps, Value(0)));
    EXPECT_EQ(Invoke({"config", "restore", file}), 0) << err;
    EXPECT_EQ(fake->send_count, int32_t(3 + steps));
}

// clone's exit: 3 when every failure was a read-back mismatch (the module
// answers but does not keep the value), 1 as soon as one failed otherwise.
TEST_F(ProfileFaults, CloneExitsThreeWhenOnlyReadBacksFailed)
{
    const std::string file = Profile(FormatProfile({"X", {}}));
    const fake_reply id{0, 0, 0, {'A', 'B', 'C', 'D'}};
    const fake_reply failed{0, 5, 0, {}};
    std::vector<fake_reply> mismatchThenDone = {id, id, id, Value(0), Value(1), id, id, id};
    mismatchThenDone.resize(mismatchThenDone.size() + 24, Value(0));
    struct Case {
        std::vector<fake_reply> script;
        int exit;
        std::vector<std::string> outcomes;
    };
    const std::vector<Case> cases = {
        {mismatchThenDone, 3, {"mismatch", "done"}},
        {{id, id, id, Value(0), Value(1), id, id, id, Value(0), Value(1)},
         3,
         {"mismatch", "mismatch"}},
        {{id, id, id, Value(0), Value(1), failed}, 1, {"mismatch", "driver_error"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.exit);
        Reset();
        fake->script_len = int32_t(c.script.size());
        std::copy(c.script.begin(), c.script.end(), fake->script);
        fake->send_status = 9;
        EXPECT_EQ(Invoke({"config", "clone", file, "--to", "6,7", "--json"}), c.exit) << err;
        const Json j = Json::parse(out);
        std::vector<std::string> outcomes;
        for (const Json &m : j["modules"])
            outcomes.push_back(m["outcome"]);
        EXPECT_EQ(outcomes, c.outcomes);
        EXPECT_EQ(j["failed"], 2 - std::count(outcomes.begin(), outcomes.end(), "done"));
    }
}

// --with-address writes the address and the rate first, then the channels.
TEST_F(ProfileFaults, RestoreWithTheAddressWritesItFirst)
{
    const std::string file = Profile(FormatProfile({"X", {}}));
    Script(std::vector<fake_reply>(28, Value(0)));
    ASSERT_EQ(Invoke({"config", "restore", file, "--with-address", "--json"}), 0) << err;
    EXPECT_EQ(fake->send_count, 3 + 28);
    EXPECT_EQ(fake->requests[3][1], CmdWriteRegister);
    EXPECT_EQ(fake->requests[3][4], 63);
    EXPECT_EQ(fake->requests[5][4], 62);
    EXPECT_EQ(fake->requests[7][4], ChannelRegisters()[0].Register);
    const Json j = Json::parse(out);
    EXPECT_EQ(j["registers"].size(), 14u);
    EXPECT_TRUE(j["restart_required"]);
}

// Each kind of bad file: refused with its line, before any driver call.
TEST_F(ProfileFaults, ABadFileIsRefusedWithItsLineBeforeAnythingIsSent)
{
    const std::string good = FormatProfile({"DIO-3232 v.1.07", {}});
    auto without = [&](const std::string &line) {
        std::string text = good;
        return text.erase(text.find(line), line.size());
    };
    auto with = [&](const std::string &line, const std::string &added) {
        std::string text = good;
        return text.insert(text.find(line), added);
    };
    const std::string channel5 = "channel 5: din-negation=0 dout-negation=0 dout-init=0\n";
    struct Case {
        std::string text;
        std::string line;    // "řádek N" expected
        std::string message; // part of the message
    };
    // The good file: line 1 the header, 2-3 comments, 4 module, 5 address,
    // 6 baud-code, 7.. channels 0..31 (38 lines).
    const std::vector<Case> cases = {
        {"", "řádek 1", "první řádek"},
        {"korval-profile 2\n" + good.substr(good.find('\n') + 1), "řádek 1", "verze profilu „2“"},
        {with("address:", "colour: blue\n"), "řádek 5", "neznámý klíč „colour“"},
        {with("address:", "address: 256\n"), "řádek 5", "není adresa 0..255"},
        {with("channel 0:", "baud-code: 9\n"), "řádek 7", "není kód rychlosti"},
        {with("channel 0:", "address: 1\n"), "řádek 7", "poprvé na řádku 5"},
        {with("channel 0:", "baud-code: 4 (19200 Bd)\n"), "řádek 7", "(9600 Bd)"},
        {with(channel5, channel5), "řádek 13", "kanál 5 je podruhé"},
        {without(channel5), "řádek 37", "chybí v něm: kanál 5."},
        {without("address: 0\n"), "řádek 37", "chybí v něm: address."},
        {with(channel5, "channel 32: din-negation=0 dout-negation=0 dout-init=0\n"), "řádek 12",
         "není kanál 0..31"},
        {with(channel5, "channel 6: din-negation=2 dout-negation=0 dout-init=0\n"), "řádek 12",
         "není 0 ani 1"},
        {with(channel5, "channel 6: din-negation=1 dout-negation=0\n"), "řádek 12",
         "chybí dout-init"},
        {with(channel5, "channel 6: din-negation=1 din-negation=1 dout-init=0\n"), "řádek 12",
         "podruhé"},
        {with(channel5, "\x01\x02garbage\n"), "řádek 12", "komentář"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        for (const char *command : {"restore", "diff", "clone"}) {
            Reset();
            std::vector<std::string> args = {"config", command, Profile(c.text)};
            if (std::string(command) == "clone")
                args.insert(args.end(), {"--to", "1-3"});
            EXPECT_EQ(Invoke(args), 2) << command;
            EXPECT_NE(err.find(c.line + ": "), std::string::npos) << err;
            EXPECT_NE(err.find(c.message), std::string::npos) << err;
            EXPECT_STREQ(fake->log, "") << "no driver call for a bad file";
        }
    }
}

} // namespace
