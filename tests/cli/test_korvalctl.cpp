// korvalctl as a user runs it: the real binary against the simulator on
// 127.0.0.1, its output, its exit codes and what reaches the module.
#include "Dekl.h"
#include "OnTerminal.h"
#include "SimProcess.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace
{

using Json = nlohmann::json;
using namespace std::chrono_literals;

// The binary as a child process with stdout and stderr on pipes.
class Cli
{
  public:
    explicit Cli(const std::vector<std::string> &args)
    {
        int outPipe[2], errPipe[2];
        if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
        posix_spawn_file_actions_addclose(&actions, outPipe[0]);
        posix_spawn_file_actions_addclose(&actions, errPipe[0]);
        std::vector<std::string> all{KORVALCTL_EXE};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char *> argv;
        for (std::string &a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, KORVALCTL_EXE, &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(outPipe[1]);
        ::close(errPipe[1]);
        fds_[0] = outPipe[0];
        fds_[1] = errPipe[0];
    }
    ~Cli()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        for (int fd : fds_)
            if (fd >= 0)
                ::close(fd);
    }

    // Reads until stdout holds `lines` complete lines or `timeout` passes.
    bool WaitForLines(std::size_t lines, std::chrono::milliseconds timeout)
    {
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (std::count(out.begin(), out.end(), '\n') < std::ptrdiff_t(lines)) {
            if (std::chrono::steady_clock::now() >= until || !ReadSome(until))
                return false;
        }
        return true;
    }
    void Signal(int sig) const { ::kill(pid_, sig); }
    // Reads both pipes to their end, then the exit code (-1: still running
    // at the time-out, then killed).
    int Finish(std::chrono::milliseconds timeout = 10s)
    {
        const auto until = std::chrono::steady_clock::now() + timeout;
        while ((fds_[0] >= 0 || fds_[1] >= 0) && ReadSome(until)) {
        }
        if (fds_[0] >= 0 || fds_[1] >= 0)
            return -1;
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    std::string out, err;

  private:
    bool ReadSome(std::chrono::steady_clock::time_point until)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (left <= 0ms)
            return false;
        pollfd p[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
        if (::poll(p, 2, int(left.count())) <= 0)
            return false;
        for (int i = 0; i < 2; ++i) {
            if (p[i].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::read(fds_[i], buffer, sizeof buffer);
            if (n <= 0) {
                ::close(fds_[i]);
                fds_[i] = -1;
            } else {
                (i == 0 ? out : err).append(buffer, std::size_t(n));
            }
        }
        return true;
    }

    pid_t pid_ = -1;
    int fds_[2] = {-1, -1};
};

struct Result {
    int exit;
    std::string out, err;
};

Result Invoke(const std::vector<std::string> &args)
{
    Cli cli(args);
    const int exit = cli.Finish();
    return {exit, cli.out, cli.err};
}

// A simulated module at address 3 and a settings file of the test's own.
class Korvalctl : public ::testing::Test
{
  protected:
    void SetUp() override { ASSERT_TRUE(sim.Ready()) << sim.Failure(); }

    std::vector<std::string> Args(std::initializer_list<std::string> command) const
    {
        std::vector<std::string> args{
            "--settings", Settings(),  "-i",         "lan",
            "--ip",       "127.0.0.1", "--udp-port", std::to_string(sim.UdpPort()),
            "-a",         "3"};
        args.insert(args.end(), command);
        return args;
    }
    std::string Settings() const { return dir.Path() + "/W_korval.ini"; }
    Json JsonOf(std::initializer_list<std::string> command)
    {
        std::vector<std::string> args = Args(command);
        args.push_back("--json");
        const Result r = Invoke(args);
        EXPECT_EQ(r.exit, 0) << r.err;
        return Json::parse(r.out);
    }

    simtest::SimProcess sim{SIM_EXE,
                            {"--udp-port", "0", "--timing", "none", "--module", "3", "--verbose"}};
    simtest::TempDir dir;
};

TEST_F(Korvalctl, InfoNamesTheModuleInTextAndJson)
{
    const Result text = Invoke(Args({"info"}));
    EXPECT_EQ(text.exit, 0) << text.err;
    EXPECT_NE(text.out.find("DIO-3232 v.1.07"), std::string::npos) << text.out;

    const Json j = JsonOf({"info"});
    EXPECT_EQ(j["module"], "DIO-3232 v.1.07");
    EXPECT_EQ(j["address"], 3);
    EXPECT_EQ(j["baud_rate"], 9600);
    EXPECT_EQ(j["interface"]["kind"], "lan");
    EXPECT_EQ(j["interface"]["udp_port"], sim.UdpPort());

    // A module that does not answer: the driver's text and the step.
    const Result none = Invoke(Args({"-a", "4", "info"}));
    EXPECT_EQ(none.exit, 1);
    EXPECT_NE(none.err.find("krok 1/3"), std::string::npos) << none.err;
    EXPECT_TRUE(none.out.empty());
}

TEST_F(Korvalctl, ConfigSetChangesOnlyTheNamedBitsAndDryRunWritesNothing)
{
    const Json before = JsonOf({"config", "show"});
    ASSERT_EQ(before["channels"].size(), 32u);

    const Json plan = JsonOf({"config", "set", "dout-init.9=1", "--dry-run"});
    EXPECT_EQ(plan["registers"][0]["register"], 35);
    EXPECT_EQ(JsonOf({"config", "show"}), before);

    const Json set = JsonOf(
        {"config", "set", "dout-init.2=1", "dout-init.9=1", "din-negation.31=0", "address=9"});
    EXPECT_TRUE(set["restart_required"]);
    // Address first, then the groups touched, in the module's order.
    std::vector<int> registers;
    for (const Json &r : set["registers"])
        registers.push_back(r["register"]);
    EXPECT_EQ(registers, (std::vector<int>{63, 32, 35, 42}));

    const Json after = JsonOf({"config", "show"});
    EXPECT_EQ(after["address"], 9);
    EXPECT_EQ(after["dout-init"], before["dout-init"].get<uint32_t>() | 0x204u);
    EXPECT_EQ(after["din-negation"], before["din-negation"].get<uint32_t>() & 0x7FFFFFFFu);
    EXPECT_EQ(after["dout-negation"], before["dout-negation"]);
    EXPECT_EQ(after["channels"][9]["dout-init"], 1);
    EXPECT_EQ(after["channels"][31]["din-negation"], 0);
}

TEST_F(Korvalctl, OutputsWalkAndStatusReachTheModule)
{
    // The simulator wires the outputs back to the inputs.
    ASSERT_EQ(Invoke(Args({"outputs", "0,3,5-7"})).exit, 0);
    EXPECT_EQ(JsonOf({"inputs"})["inputs"], 0xE9);

    const Result walk = Invoke(Args({"walk", "--count", "3", "--interval", "10", "--json"}));
    EXPECT_EQ(walk.exit, 0) << walk.err;
    std::istringstream lines(walk.out);
    std::vector<int> channels;
    for (std::string line; std::getline(lines, line);)
        channels.push_back(Json::parse(line)["channel"]);
    EXPECT_EQ(channels, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(JsonOf({"inputs"})["inputs"], 0) << "the walk leaves every output off";

    const Json status = JsonOf({"status", "--clear"});
    EXPECT_EQ(status["flags"]["PWR"], (status["status"].get<uint32_t>() >> 4) & 1);
    EXPECT_EQ(status["status_after_clear"], 0);
}

// --trace - mixes the exchanges with the results, each in its place.
TEST_F(Korvalctl, ATraceOnStdoutKeepsItsPlaceAmongTheResults)
{
    const Result r = Invoke(Args({"--trace", "-", "walk", "--count", "2", "--interval", "10"}));
    ASSERT_EQ(r.exit, 0) << r.err;
    std::vector<std::size_t> at;
    for (const char *mark :
         {"zápis výstupů = 0x00000001", "     1  DOUT0 ", "zápis výstupů = 0x00000002",
          "     2  DOUT1 ", "zápis výstupů = 0x00000000"})
        at.push_back(r.out.find(mark));
    EXPECT_TRUE(std::is_sorted(at.begin(), at.end()) && at.back() != std::string::npos) << r.out;
}

TEST_F(Korvalctl, CtrlCEndsAWatchAtOnceWithCompleteLines)
{
    Cli watch(Args({"inputs", "--watch", "--interval", "10000", "--json"}));
    ASSERT_TRUE(watch.WaitForLines(1, 5s)) << watch.err;
    // The first line is there and the watch is well into its wait; the
    // next poll is 10 s away.
    std::this_thread::sleep_for(300ms);
    const auto sent = std::chrono::steady_clock::now();
    watch.Signal(SIGINT);
    EXPECT_EQ(watch.Finish(), 0) << watch.err;
    EXPECT_LT(std::chrono::steady_clock::now() - sent, 2s);
    ASSERT_FALSE(watch.out.empty());
    EXPECT_EQ(watch.out.back(), '\n');
    std::istringstream lines(watch.out);
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(Json::parse(line).contains("inputs")) << line;
}

TEST_F(Korvalctl, WatchPrintsALineOnEachChange)
{
    Cli watch(Args({"inputs", "--watch", "--interval", "10", "--json"}));
    ASSERT_TRUE(watch.WaitForLines(1, 5s)) << watch.err;
    ASSERT_EQ(Invoke(Args({"outputs", "0x00000100"})).exit, 0);
    ASSERT_TRUE(watch.WaitForLines(2, 5s)) << watch.out;
    watch.Signal(SIGTERM);
    EXPECT_EQ(watch.Finish(), 0);
    std::istringstream lines(watch.out);
    std::string first, second;
    std::getline(lines, first);
    std::getline(lines, second);
    EXPECT_EQ(Json::parse(second)["inputs"], 0x100);
    EXPECT_EQ(Json::parse(second)["channels"][8], 1);
}

TEST_F(Korvalctl, UseWritesASettingsFileTheProgramReads)
{
    const Result r =
        Invoke({"--settings", Settings(), "-i", "lan", "--ip", "127.0.0.1", "--udp-port", "5123",
                "--timeout", "1500", "-a", "7", "-b", "19200", "use"});
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_NE(r.out.find(Settings()), std::string::npos);
    // A later use changes what it is given and keeps the rest.
    ASSERT_EQ(Invoke({"--settings", Settings(), "-a", "8", "use"}).exit, 0);

    TData d;
    ConnectionDefaults(&d);
    ASSERT_TRUE(LoadConnection(&d, std::filesystem::path(Settings())));
    EXPECT_EQ(d.Kind, ifLan);
    EXPECT_EQ(d.IpAddress, "127.0.0.1");
    EXPECT_EQ(d.UdpPort, 5123u);
    EXPECT_EQ(d.UdpTimeout, 1500u);
    EXPECT_EQ(d.Address, 8);
    EXPECT_EQ(d.BaudRate, 19200u);
}

// The module finder over a few addresses: modules at two rates, two alike in
// address and rate but not in name (a collision), and nobody elsewhere.
// With every module's timing off the margin is a probe's whole time-out;
// the guard reports silence at once, so the longest margin costs nothing
// and keeps a loaded machine from missing a reply.
class KorvalctlScan : public ::testing::Test
{
  protected:
    void SetUp() override { ASSERT_TRUE(sim.Ready()) << sim.Failure(); }

    std::vector<std::string> Args(std::initializer_list<std::string> options) const
    {
        std::vector<std::string> args{
            "--settings", Settings(),  "-i",         "lan",
            "--ip",       "127.0.0.1", "--udp-port", std::to_string(sim.UdpPort()),
            "scan",       "--margin",  "1000"};
        args.insert(args.end(), options);
        return args;
    }
    std::string Settings() const { return dir.Path() + "/W_korval.ini"; }
    static std::string Read(const std::string &path)
    {
        std::ifstream in(path);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    simtest::SimProcess sim{SIM_EXE,
                            {"--udp-port", "0", "--timing", "none", "--module", "3", "--module",
                             "7:8:ALPHA-01", "--module", "9:4:ALPHA-01", "--module",
                             "9:4:BRAVO-02"}};
    simtest::TempDir dir;
};

TEST_F(KorvalctlScan, FindsEachModuleAtItsAddressAndRateAndOnlyReads)
{
    const std::string csv = dir.Path() + "/finds.csv";
    const std::string trace = dir.Path() + "/trace.csv";
    const Result r = Invoke(Args({"--addresses", "0-15", "--rates", "9600,115200", "--json",
                                  "--csv", csv, "--trace", trace, "--trace-format", "csv"}));
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.err.find('\r'), std::string::npos) << "no progress line into a pipe";
    const Json j = Json::parse(r.out);
    EXPECT_EQ(j["outcome"], "done");
    EXPECT_EQ(j["probed"], 32);
    EXPECT_EQ(j["total"], 32);
    EXPECT_EQ(j["plan"]["addresses"], "0-15");
    EXPECT_EQ(j["plan"]["rates"][1]["baud_rate"], 115200);
    EXPECT_EQ(j["settings_file"], nullptr);
    // In the order found: rate by rate, address by address. The reply
    // times are measured: a number each, left out of the comparison.
    const Json expected = Json::parse(R"([
        {"address":3,"baud_rate":9600,"baud_code":4,"module":"DIO-3232 v.1.07","collision":false,"tries":1,"status":0,"slow":false},
        {"address":9,"baud_rate":9600,"baud_code":4,"module":null,"collision":true,"tries":3,"status":0,"slow":false},
        {"address":7,"baud_rate":115200,"baud_code":8,"module":"ALPHA-01 v.1.07","collision":false,"tries":1,"status":0,"slow":false}])");
    Json finds = j["finds"];
    for (Json &f : finds) {
        EXPECT_TRUE(f["reply_ms"].is_number()) << f;
        f.erase("reply_ms");
    }
    EXPECT_EQ(finds, expected);

    std::string table = Read(csv);
    // The last column, the reply time, is measured.
    table = std::regex_replace(table, std::regex(",[0-9]+\\.[0-9]{2}\n"), ",T\n");
    EXPECT_EQ(table, "address,baud_rate,baud_code,module,collision,tries,status,slow,reply_ms\n"
                     "3,9600,4,DIO-3232 v.1.07,0,1,0,0,T\n"
                     "9,9600,4,,1,3,0,0,T\n"
                     "7,115200,8,ALPHA-01 v.1.07,0,1,0,0,T\n");

    // Every probe is a trace line at the address it went to.
    std::istringstream lines(Read(trace));
    std::size_t probes = 0;
    const std::string probe = "hledání modulu: adresa ";
    for (std::string line; std::getline(lines, line);) {
        const std::size_t at = line.find(probe);
        if (at == std::string::npos)
            continue;
        ++probes;
        const std::size_t from = at + probe.size();
        const std::string address = line.substr(from, line.find(',', from) - from);
        EXPECT_NE(line.find(",lan," + address + ",200,0,"), std::string::npos) << line;
    }
    EXPECT_EQ(probes, 32u + 2); // the collision's two further tries

    const std::optional<simtest::SimProcess::Requests> counts = sim.StopAndCount(SIGTERM);
    ASSERT_TRUE(counts);
    EXPECT_EQ(counts->write, 0u);
    EXPECT_EQ(counts->total, counts->byCommand.at(200));
}

TEST_F(KorvalctlScan, TableNamesACollisionAndAnEmptyRangeExitsFour)
{
    const Result r = Invoke(Args({"--addresses", "3,7-9", "--rates", "9600,115200"}));
    ASSERT_EQ(r.exit, 0) << r.err;
    std::istringstream lines(r.out);
    std::vector<std::string> rows;
    for (std::string line; std::getline(lines, line);)
        rows.push_back(line);
    ASSERT_EQ(rows.size(), 4u) << r.out;
    EXPECT_NE(rows[1].find("     3    9600 Bd  DIO-3232 v.1.07"), std::string::npos) << rows[1];
    EXPECT_NE(rows[2].find("     9    9600 Bd  kolize"), std::string::npos) << rows[2];
    EXPECT_NE(rows[3].find("     7  115200 Bd  ALPHA-01 v.1.07"), std::string::npos) << rows[3];

    const Result none = Invoke(Args({"--addresses", "20-23", "--rates", "9600", "--json"}));
    EXPECT_EQ(none.exit, 4) << none.err;
    EXPECT_EQ(Json::parse(none.out)["finds"], Json::array());
    EXPECT_NE(none.err.find("žádný modul neodpověděl"), std::string::npos) << none.err;
}

TEST_F(KorvalctlScan, UseWritesTheOneModuleFoundAndRefusesOtherwise)
{
    // Two modules, then a collision alone: nothing is written either time.
    const Result two = Invoke(Args({"--addresses", "0-15", "--rates", "9600", "--use"}));
    EXPECT_EQ(two.exit, 1) << two.err;
    EXPECT_NE(two.err.find("zapsat lze jen jediný modul"), std::string::npos) << two.err;
    const Result collision = Invoke(Args({"-a", "9", "-b", "9600", "--use"}));
    EXPECT_EQ(collision.exit, 1) << collision.err;
    EXPECT_NE(collision.err.find("kolize"), std::string::npos) << collision.err;
    EXPECT_FALSE(std::filesystem::exists(Settings()));

    // The rates in the order given: 115200 Bd first, so 7 is the first find.
    const Result first = Invoke(
        Args({"--addresses", "0-15", "--rates", "115200,9600", "--first", "--use", "--json"}));
    ASSERT_EQ(first.exit, 0) << first.err;
    const Json j = Json::parse(first.out);
    EXPECT_EQ(j["probed"], 8);
    EXPECT_EQ(j["settings_file"], Settings());
    TData d;
    ConnectionDefaults(&d);
    ASSERT_TRUE(LoadConnection(&d, std::filesystem::path(Settings())));
    EXPECT_EQ(d.Kind, ifLan);
    EXPECT_EQ(d.UdpPort, sim.UdpPort());
    EXPECT_EQ(d.Address, 7);
    EXPECT_EQ(d.BaudRate, 115200u);
}

TEST_F(KorvalctlScan, CtrlCEndsWithinAProbeAndPrintsTheFindsSoFar)
{
    // 256 addresses × 9 rates at 200 ms a probe would take two hours; with
    // the guard the simulator (timing off) would tell silence at once.
    OnTerminal scan(KORVALCTL_EXE, Args({"--margin", "200", "--guard", "0", "--json"}));
    // Module 3 is found after four probes; the progress line says so.
    ASSERT_TRUE(scan.WaitFor("nalezeno 1", 30s)) << scan.err;
    const auto sent = std::chrono::steady_clock::now();
    scan.Signal(SIGINT);
    EXPECT_EQ(scan.Finish(10s), 130) << scan.err;
    EXPECT_LT(std::chrono::steady_clock::now() - sent, 1s);
    const Json j = Json::parse(scan.out);
    EXPECT_EQ(j["outcome"], "interrupted");
    ASSERT_FALSE(j["finds"].empty()) << scan.out;
    EXPECT_EQ(j["finds"][0]["module"], "DIO-3232 v.1.07");
    EXPECT_LT(j["probed"].get<int>(), 20);
    EXPECT_NE(scan.err.find("přerušeno"), std::string::npos) << scan.err;
}

// A person at a terminal sees a progress line on stderr, rewritten in place
// and wiped before the closing message; stdout keeps only the table.
TEST_F(KorvalctlScan, ShowsProgressOnATerminal)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    int outPipe[2];
    ASSERT_EQ(::pipe(outPipe), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, terminal, 2);
    std::vector<std::string> all = Args({"--addresses", "0-15", "--rates", "9600"});
    all.insert(all.begin(), KORVALCTL_EXE);
    std::vector<char *> argv;
    for (std::string &a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    ASSERT_EQ(::posix_spawn(&pid, KORVALCTL_EXE, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(terminal);
    ::close(outPipe[1]);
    // The terminal ends (EIO) once the child has closed it.
    std::string err, out;
    char buffer[4096];
    for (pollfd p{master, POLLIN, 0}; ::poll(&p, 1, 10000) > 0;) {
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0)
            break;
        err.append(buffer, std::size_t(n));
    }
    for (ssize_t n; (n = ::read(outPipe[0], buffer, sizeof buffer)) > 0;)
        out.append(buffer, std::size_t(n));
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(master);
    ::close(outPipe[0]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << err;

    EXPECT_NE(err.find("\r  9600 Bd  adresa "), std::string::npos) << err;
    EXPECT_NE(err.find("nalezeno 2"), std::string::npos) << err;
    const std::size_t wiped = err.rfind('\r', err.find("korvalctl: nalezeno: 2"));
    ASSERT_NE(wiped, std::string::npos) << err;
    EXPECT_EQ(err.find_first_not_of(' ', err.rfind('\r', wiped - 1) + 1), wiped) << err;
    EXPECT_EQ(out.find('\r'), std::string::npos);
    EXPECT_NE(out.find("DIO-3232 v.1.07"), std::string::npos) << out;
}

// Bad usage: exit 2, the option and its range named, and not one request
// at the simulator.
// Modules that all turn around in 20 ms where the finder expects 1 ms:
// every probe gives up before its reply. Today's figures of a real bus, not
// of the simulator's quick mode: the finder times its probes by the wire.
TEST(KorvalctlScanLate, ModulesThatAnswerLateAreFoundAndSaySo)
{
    ::unsetenv("Q417_TIMING");
    simtest::SimProcess sim{SIM_EXE,
                            {"--udp-port", "0", "--timing", "real", "--turnaround", "20",
                             "--module", "5", "--module", "9:8"}};
    ASSERT_TRUE(sim.Ready()) << sim.Failure();
    simtest::TempDir dir;
    const std::vector<std::string> args{"--settings", dir.Path() + "/W_korval.ini", "-i", "lan",
                                        "--ip", "127.0.0.1", "--udp-port",
                                        std::to_string(sim.UdpPort()), "scan", "--addresses",
                                        "0-15", "--rates", "9600,115200"};
    const Result r = Invoke(args);
    ASSERT_EQ(r.exit, 0) << r.err;
    std::istringstream lines(r.out);
    std::vector<std::string> rows;
    for (std::string line; std::getline(lines, line);)
        rows.push_back(line);
    ASSERT_EQ(rows.size(), 3u) << r.out;
    EXPECT_NE(rows[1].find("     5    9600 Bd  DIO-3232 v.1.07  odpověď se zpožděním "),
              std::string::npos)
        << rows[1];
    EXPECT_NE(rows[2].find("     9  115200 Bd  DIO-3232 v.1.07  odpověď se zpožděním "),
              std::string::npos)
        << rows[2];

    std::vector<std::string> json = args;
    json.insert(json.end(), {"--json", "--csv", dir.Path() + "/finds.csv"});
    const Result j = Invoke(json);
    ASSERT_EQ(j.exit, 0) << j.err;
    const Json doc = Json::parse(j.out);
    ASSERT_EQ(doc["finds"].size(), 2u);
    for (const Json &f : doc["finds"]) {
        EXPECT_EQ(f["slow"], true) << f;
        EXPECT_GE(f["reply_ms"].get<double>(), 20.0) << f;
    }
    EXPECT_EQ(doc["plan"]["late_window_ms"], 100.0);
    std::ifstream csv(dir.Path() + "/finds.csv");
    std::string header, row;
    std::getline(csv, header);
    ASSERT_TRUE(std::getline(csv, row));
    EXPECT_TRUE(std::regex_match(row, std::regex("5,9600,4,DIO-3232 v.1.07,0,1,0,1,[0-9.]+")))
        << row;

    // Without the window the plan says so.
    std::vector<std::string> none = args;
    none.insert(none.end(), {"--json", "--late-window", "0", "--addresses", "20-21"});
    const Result n = Invoke(none);
    EXPECT_EQ(n.exit, 4) << n.err;
    EXPECT_EQ(Json::parse(n.out)["plan"]["late_window_ms"], 0.0);
}

struct BadUsage {
    const char *name;
    std::vector<std::string> command;
    std::string named; // in the message
};

void PrintTo(const BadUsage &row, std::ostream *os)
{
    *os << row.name;
}

class KorvalctlBadUsage : public Korvalctl, public ::testing::WithParamInterface<BadUsage>
{
};

TEST_P(KorvalctlBadUsage, SendsNothing)
{
    std::vector<std::string> args = Args({});
    args.insert(args.end(), GetParam().command.begin(), GetParam().command.end());
    const Result r = Invoke(args);
    EXPECT_EQ(r.exit, 2) << r.err;
    EXPECT_NE(r.err.find(GetParam().named), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Nic nebylo odesláno do modulu"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
    sim.Stop(SIGTERM);
    EXPECT_EQ(sim.Stderr().find(" > seq"), std::string::npos) << sim.Stderr();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, KorvalctlBadUsage,
    ::testing::Values(
        BadUsage{
            "AddressAbove255", {"-a", "256", "info"}, "--address: „256“ není celé číslo 0..255"},
        BadUsage{"UnknownRate", {"-b", "1234", "info"}, "--baud"},
        BadUsage{"TimeoutBelow1000", {"--timeout", "999", "info"}, "1000..65535"},
        BadUsage{"IpPartAbove255", {"--ip", "127.0.0.256", "info"}, "--ip"},
        BadUsage{"UnknownOption", {"--frobnicate", "info"}, "--frobnicate"},
        // A mistyped command is named, not taken for a missing one.
        BadUsage{"UnknownCommand", {"infoo"}, "neznámý příkaz „infoo“"},
        BadUsage{"UnknownConfigCommand", {"config", "shwo"}, "config: neznámý příkaz „shwo“"},
        BadUsage{"UnknownKey", {"config", "set", "dout-init.2=1", "colour=1"}, "colour"},
        BadUsage{"ChannelAbove31", {"config", "set", "dout-init.32=1"}, "0..31"},
        BadUsage{
            "WordWithoutPrefix", {"config", "set", "din-negation=FFFF"}, "0x00000000..0xFFFFFFFF"},
        BadUsage{"OutputRangeAbove31", {"outputs", "3-40"}, "outputs: „3-40“"},
        BadUsage{"ZeroCount", {"walk", "--count", "0"}, "--count"},
        BadUsage{"IntervalBelow10", {"inputs", "--watch", "--interval", "5"}, "10..60000"},
        BadUsage{"NoConfigCommand", {"config"}, "chybí příkaz"},
        BadUsage{"ScanAddressAbove255",
                 {"scan", "--addresses", "1-32,256"},
                 "„1-32,256“ není seznam adres 0..255"},
        BadUsage{"ScanUnknownRate", {"scan", "--rates", "9600,1234"}, "--rates"},
        BadUsage{"ScanMarginTooSmall", {"scan", "--margin", "0.4"}, "0.5..1000"},
        BadUsage{"ScanMarginNotANumber", {"scan", "--margin", "2ms"}, "--margin"},
        BadUsage{"ScanRetriesAbove10", {"scan", "--retries", "11"}, "0..10"},
        // The fixture gives -a 3.
        BadUsage{"ScanAddressTwice", {"scan", "--addresses", "1-5"}, "ne obojí"},
        BadUsage{"ScanCsvNotWritable", {"scan", "--csv", "/nonexistent/finds.csv"}, "--csv"}),
    [](const ::testing::TestParamInfo<BadUsage> &row) { return std::string(row.param.name); });

} // namespace
