// The acceptance test from its window against korvalctl test over the same
// simulator (real timing, 9600 Bd, 127.0.0.1), run in turns so that both
// meet the same machine load. Both sides are timed over the same span, the
// test's own first exchange to its last (RunIoTest's Duration, which
// korvalctl prints as duration_s): the window's connection is made once
// outside it, korvalctl's start-up and connection are outside it too. The
// window's click-to-end wall time is printed beside it, since that is what
// a person waits for.
#include "Prejimka.h"
#include "Session.h"
#include "SimProcess.h"
#include "WindowBench.h"

#include <QApplication>
#include <QElapsedTimer>


#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using windowbench::List;
using windowbench::Median;

// korvalctl --json test's duration_s; negative when it did not pass.
double CliRun(uint16_t port, const std::string &settings)
{
    const std::string command = std::string(KORVALCTL_EXE) + " --settings " + settings +
                                " -i lan --ip 127.0.0.1 --udp-port " + std::to_string(port) +
                                " -a 1 -b 9600 --json test";
    const std::optional<nlohmann::json> answer = windowbench::KorvalctlJson(command);
    if (!answer)
        return -1;
    const nlohmann::json &j = *answer;
    return j["passed"].get<bool>() ? j["duration_s"].get<double>() : -1;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    simtest::SimProcess sim(SIM_EXE, {"--udp-port", "0", "--timing", "real", "--module", "1:4"});
    if (!sim.Ready()) {
        std::fprintf(stderr, "simulator: %s\n", sim.Failure().c_str());
        return 1;
    }
    simtest::TempDir dir;
    Session lan(ifLan);
    if (lan.OpenLan("127.0.0.1", sim.UdpPort(), 1000) != 0 || lan.Configure(9600, 1000) != 0) {
        std::fprintf(stderr, "no LAN connection to the simulator\n");
        return 1;
    }
    TData data;
    data.Kind = ifLan;
    data.IpAddress = "127.0.0.1";
    data.UdpPort = sim.UdpPort();
    data.Address = 1;
    data.BaudRate = 9600;
    data.Handle = lan.Handle();
    data.Connected = true;
    data.ModuleName = lan.Identity(1);
    TPrejimka window;
    window.Data = &data;
    window.show();

    std::vector<double> windowTest, windowClick, cliTest;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer click;
        click.start();
        window.Button1Click();
        const double clicked = double(click.nsecsElapsed()) / 1e9;
        if (!window.Result() || !window.Result()->Passed()) {
            std::fprintf(stderr, "the window's test did not pass\n");
            return 1;
        }
        windowClick.push_back(clicked);
        windowTest.push_back(double(window.Result()->Duration.count()) / 1e9);
        const double cli = CliRun(sim.UdpPort(), dir.Path() + "/W_korval.ini");
        if (cli < 0) {
            std::fprintf(stderr, "korvalctl test did not pass\n");
            return 1;
        }
        cliTest.push_back(cli);
    }
    const double w = Median(windowTest), c = Median(cliTest);
    std::printf("window, test span:   median %.3f s of %d (%s)\n", w, runs, List(windowTest).c_str());
    std::printf("window, click to end: median %.3f s (%s)\n", Median(windowClick),
                List(windowClick).c_str());
    std::printf("korvalctl test, duration_s: median %.3f s of %d (%s)\n", c, runs,
                List(cliTest).c_str());
    std::printf("ratio window/korvalctl: %.3f (test span), %.3f (click to end)\n", w / c,
                Median(windowClick) / c);
    return 0;
}
