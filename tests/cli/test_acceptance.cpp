// korvalctl test as a technician runs it: the binary against the simulator
// with faults wired in, its verdicts, its exit codes, the outputs it
// leaves behind and its report page.
#include "FakeCommands.h"
#include "OnTerminal.h"
#include "Qxxx417.h"
#include "IoTestText.h"
#include "Report.h"
#include "SimProcess.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <algorithm>
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
    // "ve čtyřech", as Czech reads the count.
    EXPECT_NE(j["channels"][30]["text"].get<std::string>().find("chybně ve 4 z 66 kroků"),
              std::string::npos)
        << j["channels"][30]["text"];

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
    EXPECT_EQ(j["report"], Path("report.html"));
}

// The person, the module's number and a note go onto the page; the text
// output says where the page went, and an empty value is refused before
// anything is sent.
TEST_F(Acceptance, TheReportCarriesTheTesterSerialAndNote)
{
    Start("--stuck DIN9=0");
    EXPECT_EQ(Run("test --report " + Path("r.html") +
                  " --tester 'Eva <Malá>' --serial SN-417/8 --note 'po výměně relé & pojistky'"),
              3)
        << err;
    EXPECT_NE(out.find("\nProtokol zapsán do " + Path("r.html") + "\n"), std::string::npos) << out;
    const std::string html = Slurp(Path("r.html"));
    EXPECT_TRUE(WellFormed(html));
    EXPECT_NE(html.find("<th>Zkoušel</th><td>Eva &lt;Malá&gt;</td>"), std::string::npos);
    EXPECT_NE(html.find("<th>Výrobní číslo</th><td>SN-417/8</td>"), std::string::npos);
    EXPECT_NE(html.find("<th>Poznámka</th><td>po výměně relé &amp; pojistky</td>"),
              std::string::npos);
    // The verdict and the grid lead, the rows per channel follow.
    const std::size_t verdict = html.find("NEVYHOVUJE");
    const std::size_t grid = html.find("<table class=\"grid\">");
    EXPECT_LT(verdict, grid);
    EXPECT_LT(grid, html.find("<table class=\"settings\">"));
    EXPECT_NE(html.find("<td class=\"fail\" bgcolor=\"#f2a8a8\"><span class=\"ch\">9</span> "
                        "trvale 0</td>"),
              std::string::npos);

    for (const char *option : {"--tester", "--serial", "--note"}) {
        SCOPED_TRACE(option);
        EXPECT_EQ(Run(std::string("test ") + option + " ''"), 2);
        EXPECT_NE(err.find(std::string(option) + ": prázdná hodnota není platná"),
                  std::string::npos)
            << err;
    }
}

// Ctrl+C, or SIGHUP from a terminal that closed (a dropped SSH session).
TEST_F(Acceptance, CtrlCOrAClosedTerminalEndsTheTestWithTheOutputsOff)
{
    Start();
    const std::vector<std::string> connection{"--settings", Path("W_korval.ini"), "-i", "lan",
                                              "--ip", "127.0.0.1", "--udp-port",
                                              std::to_string(sim->UdpPort()), "-a", "3"};
    auto with = [&](std::vector<std::string> command) {
        std::vector<std::string> args = connection;
        args.insert(args.end(), command.begin(), command.end());
        return args;
    };
    for (const int signal : {SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        // 66 settle pauses of 300 ms: the signal comes in the middle, once
        // the progress on the terminal shows the second step.
        OnTerminal test(KORVALCTL_EXE,
                        with({"test", "--interval", "300", "--trace", Path("trace.txt")}));
        ASSERT_TRUE(test.WaitFor("krok 2/", 30s)) << test.err;
        const auto sent = std::chrono::steady_clock::now();
        test.Signal(signal);
        EXPECT_EQ(test.Finish(10s), 130) << test.err;
        EXPECT_LT(std::chrono::steady_clock::now() - sent, 2s);
        EXPECT_EQ(LastOutputsWrite(), "0x00000000");
        EXPECT_NE(test.out.find("NEDOKONČENO"), std::string::npos) << test.out;
    }
    // A walk until Ctrl+C ends with 0 and the outputs off; the signal comes
    // once its trace on stdout shows the second step written.
    for (const int signal : {SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        OnTerminal walk(KORVALCTL_EXE, with({"walk", "--interval", "100", "--trace", "-"}));
        ASSERT_TRUE(walk.WaitFor("0x00000002", 30s, true)) << walk.err;
        walk.Signal(signal);
        EXPECT_EQ(walk.Finish(10s), 0) << walk.err;
        EXPECT_NE(walk.err.find("všechny výstupy vypnuty"), std::string::npos) << walk.err;
        EXPECT_NE(walk.out.rfind("0x00000000"), std::string::npos) << walk.out;
    }
}

// The module on the fixture: each output written comes back on its input;
// the exchange numbered FailAt fails.
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

using AcceptanceFaults = fakecli::FakeCommands;

// A test whose every channel passed but whose outputs could not be switched
// off has not passed: the module is left driving an output.
TEST_F(AcceptanceFaults, AFailedFinalOffWriteFailsAPassingTest)
{
    // 3 identity reads, 8 negation reads, the status, 66 writes and reads,
    // the off write, the status again.
    const int off = 3 + 8 + 1 + 2 * 66 + 1;
    for (const int at : {0, off}) {
        SCOPED_TRACE(at);
        Reset();
        Fixture = fake;
        FailAt = at;
        fake->on_answer = Loopback;
        const int exit = Invoke({"test", "--json"});
        fake->on_answer = nullptr;
        const nlohmann::json j = nlohmann::json::parse(out);
        if (at == 0) {
            EXPECT_EQ(exit, 0) << err;
            EXPECT_EQ(j["verdict"], "VYHOVUJE");
            EXPECT_EQ(fake->send_count, off + 1);
            continue;
        }
        EXPECT_EQ(exit, 1) << err;
        EXPECT_NE(j["verdict"], "VYHOVUJE");
        EXPECT_FALSE(j["passed"]);
        EXPECT_FALSE(j["outputs_off"]);
        EXPECT_NE(err.find("zápis výstupů = 0x00000000) selhal"), std::string::npos) << err;
        EXPECT_NE(err.find("Výstupy se nepodařilo vypnout."), std::string::npos) << err;
        EXPECT_EQ(fake->send_count, off);
    }
}

TEST(AcceptanceReport, EscapesTheModulesTextsAndStaysWellFormed)
{
    TIoTestResult r;
    r.StepsPlanned = 0;
    for (int n = 0; n < 32; ++n)
        r.Channels[std::size_t(n)].Channel = n;
    r.Channels[3].Fault = TChannelFault::Untested;
    TReportPage page;
    page.Module = "<b>A&B \"x\" 'y'</b>";
    const std::string html = AcceptanceHtml(page, r);
    EXPECT_TRUE(WellFormed(html));
    EXPECT_EQ(html.find("<b>"), std::string::npos);
    EXPECT_NE(html.find("&lt;b&gt;A&amp;B &quot;x&quot; &#39;y&#39;&lt;/b&gt;"), std::string::npos);
}

// Crossed wires on 30 and 31 and one bad reading of DIN7: each channel's
// words and the page's rows say what was seen, and where.
TEST(AcceptanceReport, TextsAndPageNameEachChannelsFaultAndTheRun)
{
    TIoTestResult r;
    for (const uint32_t written : IoTestPatterns()) {
        uint32_t seen = written & 0x3FFFFFFFu;
        seen |= (written >> 31 & 1u) << 30 | (written >> 30 & 1u) << 31;
        r.Steps.push_back({written, written, seen});
    }
    r.Steps[40].Seen ^= 1u << 7; // the walking zero of DOUT8
    r.StepsPlanned = r.Steps.size();
    r.OutputsOff = true;
    r.Channels = IoTestVerdicts(r.Steps, 0, 0, true);
    EXPECT_EQ(FaultText(r.Channels[30]), "sleduje DOUT31");
    EXPECT_EQ(FaultText(r.Channels[31]), "sleduje DOUT30");
    EXPECT_EQ(SeenText(r.Channels[7], r),
              "chybně v 1 z 66 kroků, poprvé v kroku 41: zapsáno 0xFFFFFEFF, očekáváno 1, čteno 0");
    EXPECT_STREQ(VerdictText(r), "NEVYHOVUJE");
    const std::string html = AcceptanceHtml({}, r);
    EXPECT_NE(html.find("<tr><td>0</td><td class=\"ok\">v pořádku</td>"), std::string::npos);
    EXPECT_NE(html.find("<tr><td>7</td><td class=\"bad\">nesouhlasí</td>"), std::string::npos);
    EXPECT_NE(html.find("<th>Výstupy na konci</th><td>vypnuty</td>"), std::string::npos);
    EXPECT_NE(html.find("<th>Kroky</th><td>66 z 66</td>"), std::string::npos);

    // Cut short after ten steps, the outputs left on.
    r.Steps.resize(10);
    r.OutputsOff = false;
    r.Channels = IoTestVerdicts(r.Steps, 0, 0, false);
    EXPECT_STREQ(VerdictText(r), "NEDOKONČENO");
    EXPECT_EQ(SeenText(r.Channels[0], r), "bez chyby v 10 z 66 kroků; test nedokončen");
    const std::string cut = AcceptanceHtml({}, r);
    EXPECT_NE(cut.find("<th>Kroky</th><td>10 z 66</td>"), std::string::npos);
    EXPECT_NE(cut.find("<th>Výstupy na konci</th><td>vypnutí se nepodařilo</td>"),
              std::string::npos);
}

} // namespace
