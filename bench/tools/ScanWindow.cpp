// The module finder from its window against korvalctl scan over the same
// simulator (real timing, 256 addresses at 9600 Bd, 127.0.0.1), in turns so
// that both meet the same machine load. Both are timed over the scan's own
// span (what korvalctl prints as elapsed_s); the window's click-to-end wall
// time is printed beside it. Meanwhile a 1 ms timer on the UI thread
// measures the event loop's longest stall: the gap between two of its
// ticks beyond the interval.
#include "Hledani.h"
#include "Qxxx417.h"
#include "SimProcess.h"
#include "WindowBench.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>


#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using windowbench::List;
using windowbench::Median;

// korvalctl --json scan's elapsed_s; negative when it did not find the module.
double CliRun(uint16_t port, const std::string &settings)
{
    const std::string command = std::string(KORVALCTL_EXE) + " --settings " + settings +
                                " -i lan --ip 127.0.0.1 --udp-port " + std::to_string(port) +
                                " --json scan --addresses 0-255 --rates 9600 2>/dev/null";
    const std::optional<nlohmann::json> answer = windowbench::KorvalctlJson(command);
    if (!answer)
        return -1;
    const nlohmann::json &j = *answer;
    return j["finds"].size() == 1 ? j["elapsed_s"].get<double>() : -1;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    simtest::SimProcess sim(SIM_EXE, {"--udp-port", "0", "--timing", "real", "--module", "17"});
    if (!sim.Ready()) {
        std::fprintf(stderr, "simulator: %s\n", sim.Failure().c_str());
        return 1;
    }
    DrvSetLibraryDirectory(DRIVER_DIR);
    simtest::TempDir dir;
    TData data;
    data.Kind = ifLan;
    data.IpAddress = "127.0.0.1";
    data.UdpPort = sim.UdpPort();
    data.UdpTimeout = 1000;
    THledani window;
    window.Data = &data;
    window.show();
    window.Edit1->setText(QStringLiteral("0-255"));
    for (QCheckBox *box : window.CheckBox)
        box->setChecked(box->property("baudCode").toInt() == 4);

    QElapsedTimer tick;
    qint64 last = 0, stall = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = tick.nsecsElapsed();
        stall = std::max(stall, now - last - 1000000);
        last = now;
    });

    std::vector<double> windowScan, windowClick, stalls, cliScan;
    for (int i = 0; i < runs; ++i) {
        QEventLoop loop;
        QObject::connect(&window, &THledani::ScanEnded, &loop, &QEventLoop::quit);
        stall = 0;
        tick.start();
        last = 0;
        ticker.start();
        QElapsedTimer click;
        click.start();
        window.Button1->click();
        loop.exec();
        const double clicked = double(click.nsecsElapsed()) / 1e9;
        ticker.stop();
        if (window.Finds().size() != 1) {
            std::fprintf(stderr, "the window's scan did not find the module\n");
            return 1;
        }
        // The same clock korvalctl reads, taken around ScanModules.
        windowClick.push_back(clicked);
        windowScan.push_back(window.ScanSeconds());
        stalls.push_back(double(stall) / 1e6);
        const double cli = CliRun(sim.UdpPort(), dir.Path() + "/W_korval.ini");
        if (cli < 0) {
            std::fprintf(stderr, "korvalctl scan did not find the module\n");
            return 1;
        }
        cliScan.push_back(cli);
    }
    const double w = Median(windowScan), c = Median(cliScan);
    std::printf("window, scan span:    median %.3f s of %d (%s)\n", w, runs, List(windowScan).c_str());
    std::printf("window, click to end: median %.3f s (%s)\n", Median(windowClick),
                List(windowClick).c_str());
    std::printf("event loop, longest stall: %.1f ms (%s)\n",
                *std::max_element(stalls.begin(), stalls.end()), List(stalls, "%.1f").c_str());
    std::printf("korvalctl scan, elapsed_s: median %.3f s of %d (%s)\n", c, runs,
                List(cliScan).c_str());
    std::printf("ratio window/korvalctl: %.3f (scan span), %.3f (click to end)\n", w / c,
                Median(windowClick) / c);
    return 0;
}
