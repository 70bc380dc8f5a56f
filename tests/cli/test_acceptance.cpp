// korvalctl test as a technician runs it: the binary against the simulator
// with faults wired in, its verdicts, its exit codes, the outputs it
// leaves behind and its report page.
#include "OnTerminal.h"
#include "Report.h"
#include "SimProcess.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>

namespace
{

using Json = nlohmann::json;
using namespace std::chrono_literals;

std::string Slurp(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Every element closed in order (void elements aside), every '&' an entity.
::testing::AssertionResult WellFormed(const std::string &html)
{
    std::vector<std::string> open;
    for (std::size_t i = html.find_first_of("<&"); i != std::string::npos;
         i = html.find_first_of("<&", i + 1)) {
        const std::size_t end = html.find(html[i] == '&' ? ';' : '>', i);
        if (end == std::string::npos || (html[i] == '&' && end - i > 6))
            return ::testing::AssertionFailure() << "bare " << html[i] << " at " << i;
        std::string tag = html.substr(i + 1, end - i - 1);
        if (html[i] == '&' || tag.starts_with("!DOCTYPE") || tag.starts_with("meta "))
            continue;
        const bool closing = tag[0] == '/';
        tag = tag.substr(closing, tag.find(' ') - closing);
        if (!closing)
            open.push_back(tag);
        else if (open.empty() || open.back() != tag)
            return ::testing::AssertionFailure() << "</" << tag << "> at " << i;
        else
            open.pop_back();
    }
    if (!open.empty())
        return ::testing::AssertionFailure() << "<" << open.back() << "> never closed";
    return ::testing::AssertionSuccess();
}

class Acceptance : public ::testing::Test
{
  protected:
    // A simulated module at address 3, healthy or with the faults given.
    void Start(const std::string &faults = {})
    {
        std::vector<std::string> args{"--udp-port", "0", "--timing", "none", "--module", "3"};
        std::istringstream words(faults);
        for (std::string w; words >> w;)
            args.push_back(w);
        sim = std::make_unique<simtest::SimProcess>(SIM_EXE, args);
        ASSERT_TRUE(sim->Ready()) << sim->Failure();
    }
    // korvalctl with `command` through the shell (`{}` stands for it, so a
    // script can signal it), its stdout and stderr read back.
    int Run(const std::string &command, const std::string &script = "{}")
    {
        const std::string ctl = std::string(KORVALCTL_EXE) + " --settings " + dir.Path() +
                                "/W_korval.ini -i lan --ip 127.0.0.1 --udp-port " +
                                std::to_string(sim->UdpPort()) + " -a 3 " + command + " >" +
                                Path("out") + " 2>" + Path("err");
        std::string line = script;
        line.replace(line.find("{}"), 2, ctl);
        const int status = std::system(line.c_str());
        out = Slurp(Path("out"));
        err = Slurp(Path("err"));
        return WEXITSTATUS(status);
    }
    std::string Path(const std::string &name) const { return dir.Path() + "/" + name; }
    // The outputs word of the last write in a text trace.
    std::string LastOutputsWrite() const
    {
        const std::string trace = Slurp(Path("trace.txt"));
        const std::string mark = "zápis výstupů = ";
        const std::size_t at = trace.rfind(mark);
        return at == std::string::npos ? "" : trace.substr(at + mark.size(), 10);
    }

    std::unique_ptr<simtest::SimProcess> sim;
    simtest::TempDir dir;
    std::string out, err;
};

TEST_F(Acceptance, AHealthyModulePassesWithMixedNegations)
{
    Start();
    ASSERT_EQ(Run("config set din-negation=0x0F0F00FF dout-negation=0x3C3C5A5A"), 0) << err;
    EXPECT_EQ(Run("test --json"), 0) << err;
    const Json j = Json::parse(out);
    EXPECT_EQ(j["verdict"], "VYHOVUJE");
    EXPECT_EQ(j["failed_channels"], 0);
    EXPECT_EQ(j["din-negation"], 0x0F0F00FFu);
    EXPECT_EQ(j["dout-negation"], 0x3C3C5A5Au);
}

TEST_F(Acceptance, FaultsAreFoundOnTheirChannelsAndTheReportShowsThem)
{
    Start("--stuck DIN5=1 --stuck DOUT12=0 --stuck DOUT0=1 --swap 30,31");
    EXPECT_EQ(Run("test --json --trace " + Path("trace.txt") + " --report " + Path("report.html")),
              3)
        << err;
    const Json j = Json::parse(out);
    EXPECT_EQ(j["verdict"], "NEVYHOVUJE");
    EXPECT_EQ(j["failed_channels"], 5);
    std::map<int, std::string> seen;
    for (const Json &c : j["channels"]) {
        if (c["verdict"] != "pass")
            seen[c["channel"]] = c["verdict"].get<std::string>() +
                                 (c["source"].is_null() ? "" : ":" + c["source"].dump());
    }
    EXPECT_EQ(seen, (std::map<int, std::string>{{0, "stuck_at_1"},
                                                {5, "stuck_at_1"},
                                                {12, "stuck_at_0"},
                                                {30, "follows:31"},
                                                {31, "follows:30"}}));
    EXPECT_TRUE(j["outputs_off"]);
    EXPECT_EQ(LastOutputsWrite(), "0x00000000");

    const std::string html = Slurp(Path("report.html"));
    EXPECT_TRUE(WellFormed(html));
    EXPECT_NE(html.find("NEVYHOVUJE"), std::string::npos);
    EXPECT_NE(html.find("DIO-3232 v.1.07"), std::string::npos);
    // A row per channel in the last table.
    const std::size_t table = html.find("<table class=\"channels\">");
    ASSERT_NE(table, std::string::npos);
    std::size_t rows = 0;
    for (std::size_t at = html.find("<tr><td>", table); at != std::string::npos;
         at = html.find("<tr><td>", at + 1))
        ++rows;
    EXPECT_EQ(rows, 32u);
    EXPECT_NE(html.find("sleduje DOUT30"), std::string::npos);
}

TEST_F(Acceptance, CtrlCEndsTheTestWithTheOutputsOff)
{
    Start();
    // 66 settle pauses of 300 ms: the signal comes in the middle, once the
    // progress on the terminal shows the second step.
    OnTerminal test(KORVALCTL_EXE,
                    {"--settings", Path("W_korval.ini"), "-i", "lan", "--ip", "127.0.0.1",
                     "--udp-port", std::to_string(sim->UdpPort()), "-a", "3", "test", "--interval",
                     "300", "--trace", Path("trace.txt")});
    ASSERT_TRUE(test.WaitFor("krok 2/", 30s)) << test.err;
    const auto sent = std::chrono::steady_clock::now();
    test.Signal(SIGINT);
    EXPECT_EQ(test.Finish(10s), 130) << test.err;
    EXPECT_LT(std::chrono::steady_clock::now() - sent, 2s);
    EXPECT_EQ(LastOutputsWrite(), "0x00000000");
    EXPECT_NE(test.out.find("NEDOKONČENO"), std::string::npos) << test.out;
}

TEST(AcceptanceReport, EscapesTheModulesTextsAndStaysWellFormed)
{
    TIoTestResult r;
    r.StepsPlanned = 0;
    for (int n = 0; n < 32; ++n)
        r.Channels[std::size_t(n)].Channel = n;
    r.Channels[3].Fault = TChannelFault::Untested;
    cli::TReportPage page;
    page.Module = "<b>A&B \"x\"</b>";
    const std::string html = cli::AcceptanceHtml(page, r);
    EXPECT_TRUE(WellFormed(html));
    EXPECT_EQ(html.find("<b>"), std::string::npos);
    EXPECT_NE(html.find("&lt;b&gt;A&amp;B &quot;x&quot;&lt;/b&gt;"), std::string::npos);
}

} // namespace
