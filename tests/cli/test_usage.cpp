// korvalctl's command line as a user meets it when it is wrong: every
// refusal in Czech, naming what is missing, and made before any driver
// call. Run in-process against the fake driver, whose log shows whether
// anything was loaded or sent.
#include "CommandLine.h"
#include "ConfigProfile.h"
#include "FakeCommands.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace
{

using Usage = fakecli::FakeCommands;

// A good profile for the commands that read one.
std::string ProfileFile()
{
    const std::string path = (fakecli::fs::temp_directory_path() /
                              ("korval-usage-" + std::to_string(::getpid()) + ".txt"))
                                 .string();
    std::ofstream(path) << FormatProfile({"X", {}});
    return path;
}

// Every command with the least it needs to run, found from the command line
// itself, so that an option added later is checked too.
struct Leaf {
    std::vector<std::string> path, needs;
    CLI::App *app;
};

std::vector<Leaf> Leaves(CLI::App &app, const std::string &profile)
{
    std::vector<Leaf> leaves;
    const std::map<std::string, std::vector<std::string>> needs = {
        {"config set", {"dout-init.0=1"}},
        {"config save", {profile + ".new"}},
        {"config diff", {profile}},
        {"config restore", {profile}},
        {"config clone", {profile, "--to", "1"}},
        {"inputs", {"--watch"}},
        {"outputs", {"none"}}};
    for (CLI::App *sub : app.get_subcommands({})) {
        std::vector<CLI::App *> below = sub->get_subcommands({});
        if (below.empty())
            below.push_back(nullptr);
        for (CLI::App *leaf : below) {
            Leaf l{{sub->get_name()}, {}, leaf != nullptr ? leaf : sub};
            if (leaf != nullptr)
                l.path.push_back(leaf->get_name());
            std::string key = l.path[0] + (l.path.size() > 1 ? " " + l.path[1] : "");
            if (const auto found = needs.find(key); found != needs.end())
                l.needs = found->second;
            leaves.push_back(l);
        }
    }
    return leaves;
}

// Options that take a value, of the program and of `leaf`.
std::vector<const CLI::Option *> ValueOptions(const CLI::App &app, const CLI::App &leaf)
{
    std::vector<const CLI::Option *> options;
    for (const CLI::App *level : {&app, &leaf}) {
        for (const CLI::Option *o : level->get_options()) {
            if (o->get_expected_min() > 0)
                options.push_back(o);
        }
    }
    return options;
}

TEST_F(Usage, AnEmptyValueOfAnyOptionIsRefusedWithNothingSent)
{
    CLI::App app;
    cli::TCommandLine cl;
    cli::BuildCommandLine(app, cl);
    cli::BuildTestCommand(app, cl);
    const std::string profile = ProfileFile();
    // An empty value taken as the default must not hang the test: a wait
    // ends the run.
    environment.WaitUntil = [](std::chrono::steady_clock::time_point) { return false; };
    std::size_t checked = 0;
    for (const Leaf &leaf : Leaves(app, profile)) {
        for (const CLI::Option *o : ValueOptions(app, *leaf.app)) {
            std::vector<std::string> args = leaf.path;
            if (o->get_positional()) {
                // The argument itself empty, the rest as needed.
                args.push_back("");
                for (std::size_t i = 1; i < leaf.needs.size(); ++i)
                    args.push_back(leaf.needs[i]);
            } else {
                args.insert(args.end(), leaf.needs.begin(), leaf.needs.end());
                args.insert(args.end(), {o->get_name(), ""});
            }
            SCOPED_TRACE(::testing::PrintToString(args));
            Reset();
            EXPECT_EQ(Invoke(args), 2) << err;
            EXPECT_STREQ(fake->log, "") << "a driver call for an empty value";
            EXPECT_NE(err.find("prázdná hodnota"), std::string::npos) << err;
            EXPECT_NE(err.find(o->get_positional() ? o->get_type_name() : o->get_name()),
                      std::string::npos)
                << err;
            EXPECT_TRUE(out.empty()) << out;
            ++checked;
        }
    }
    std::remove(profile.c_str());
    EXPECT_GT(checked, 100u) << "the commands were not found";
}

struct Refusal {
    std::vector<std::string> args;
    std::string named; // in the message
};

TEST_F(Usage, ARefusalNamesWhatIsMissingOrWrongInCzech)
{
    const std::vector<Refusal> rows = {
        {{"outputs", "32"}, "outputs: „32“ není slovo"},
        {{"outputs", "0x1FFFFFFFF"}, "outputs: „0x1FFFFFFFF“"},
        {{"outputs"}, "outputs: chybí HODNOTA"},
        {{"config", "set"}, "config set: chybí KLÍČ=HODNOTA"},
        {{"config", "set", "--dry-run"}, "config set: chybí KLÍČ=HODNOTA"},
        {{"config", "save"}, "config save: chybí SOUBOR"},
        {{"config", "clone", "p.txt"}, "config clone: chybí volba --to SEZNAM"},
        // A value left out swallows the command.
        {{"--udp-port", "config", "set", "dout-init.0=1"},
         "volba --udp-port: chybí hodnota N („config“ je příkaz"},
        {{"--ip", "info"}, "volba --ip: chybí hodnota ADRESA („info“ je příkaz"},
        {{"config"}, "config: chybí příkaz (show, set, save, diff, restore, clone)"},
        {{}, "chybí příkaz (info, config show/set/save/diff/restore/clone, inputs"},
        {{"info", "--json=x"}, "--json: „x“ není hodnota přepínače"},
        {{"walk", "--count"}, "volba --count potřebuje hodnotu"},
        {{"inputs", "--interval", "100"}, "--interval platí jen s --watch"},
    };
    for (const Refusal &row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.args));
        Reset();
        EXPECT_EQ(Invoke(row.args), 2);
        EXPECT_NE(err.find(row.named), std::string::npos) << err;
        EXPECT_EQ(err.find("()"), std::string::npos) << err;
        EXPECT_STREQ(fake->log, "");
    }
}

// The help of every command: CLI11's English words replaced, the
// descriptions in one column counted in characters.
TEST_F(Usage, EveryHelpIsCzechAndAligned)
{
    CLI::App app;
    cli::TCommandLine cl;
    cli::BuildCommandLine(app, cl);
    cli::BuildTestCommand(app, cl);
    std::vector<std::vector<std::string>> commands = {{}};
    for (const Leaf &leaf : Leaves(app, "p.txt")) {
        commands.push_back(leaf.path);
        if (leaf.path.size() > 1)
            commands.push_back({leaf.path[0]});
    }
    for (std::vector<std::string> args : commands) {
        args.push_back("--help");
        SCOPED_TRACE(::testing::PrintToString(args));
        ASSERT_EQ(Invoke(args), 0) << err;
        for (const char *english : {"Usage", "OPTIONS", "SUBCOMMAND", "Positionals", "REQUIRED",
                                    "FILE", "VALUE", "SETTING", "TEXT", "Options", "Subcommands"})
            EXPECT_EQ(out.find(english), std::string::npos) << english << "\n" << out;
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line) && line != "Příklady:";) {
            // An option or argument line with its description beside it.
            if (line.size() < 36 || line.compare(0, 2, "  ") != 0 || line[2] == ' ' ||
                line.find("   ") == std::string::npos || line.rfind("  korvalctl", 0) == 0)
                continue;
            const std::size_t gap = line.find("   ");
            const std::size_t text = line.find_first_not_of(' ', gap);
            EXPECT_EQ(Utf8Length(line.substr(0, text)), 34u) << line;
        }
    }
}

TEST(CommandLineValues, TheLastAddressAndChannelAreAccepted)
{
    EXPECT_EQ(cli::Number("-a", "255", 0, 255), 255u);
    EXPECT_EQ(cli::AddressList("--to", "255"), std::vector<uint8_t>{255});
    EXPECT_EQ(cli::AddressList("--to", "250-255").size(), 6u);
    EXPECT_EQ(cli::AddressList("--to", "0-255").size(), 256u);
    EXPECT_EQ(cli::OutputsValue("31"), 0x80000000u);
    EXPECT_EQ(cli::OutputsValue("0-31"), 0xFFFFFFFFu);
    EXPECT_EQ(cli::OutputsValue("0xFFFFFFFF"), 0xFFFFFFFFu);
    const std::vector<cli::TChange> c = cli::ParseChanges({"din-negation.31=1", "address=255"});
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0].Byte, offsetof(TModuleConfig, DinNegation) + 3);
    EXPECT_EQ(c[0].Mask, 0x80);
    EXPECT_EQ(c[1].Value, 255);
    EXPECT_THROW(cli::Number("-a", "256", 0, 255), cli::TUsageError);
    EXPECT_THROW(cli::AddressList("--to", "255-256"), cli::TUsageError);
    EXPECT_THROW(cli::OutputsValue("32"), cli::TUsageError);
    EXPECT_THROW(cli::ParseChanges({"dout-init.32=1"}), cli::TUsageError);
}

// Binary as people read it: the group's highest channel on the left.
TEST(CommandLineValues, ARegisterValueShowsItsBitsMostSignificantFirst)
{
    const TRegisterStep dinNegation8{36, offsetof(TModuleConfig, DinNegation) + 1};
    EXPECT_EQ(cli::RegisterValueText(dinNegation8, 127), "127 (01111111)");
    EXPECT_EQ(cli::RegisterValueText(dinNegation8, 1), "1 (00000001)");
    EXPECT_EQ(cli::RegisterValueText(dinNegation8, 0xA0), "160 (10100000)");
    const TRegisterStep baud{62, offsetof(TModuleConfig, BaudCode)};
    EXPECT_EQ(cli::RegisterValueText(baud, 8), "8 (115200 Bd)");
    EXPECT_EQ(cli::RegisterValueText(baud, 9), "9 (neznámý kód)");
}

TEST(CommandLineValues, AnIpv4AddressHasFourPartsOf0To255)
{
    EXPECT_TRUE(cli::IsIpv4("255.255.255.255"));
    EXPECT_TRUE(cli::IsIpv4("0.0.0.0"));
    for (const char *bad : {"1.2.3", "1.2.3.4.5", "1.2.3.256", "1..3.4", "1.2.3.4.", "0001.2.3.4"})
        EXPECT_FALSE(cli::IsIpv4(bad)) << bad;
}

} // namespace
