// Processor time of the program while the digital input view polls a module
// every 100 ms: the main window opens the view from its menu, as for a
// technician, and the view runs on its own timer for a fixed time. Measured
// once with an in-process driver and once with the LAN driver to the
// simulator on 127.0.0.1; every tick is timed, and separately the worst
// label update (all 32 value labels flipped, status text, window painted).
// Prints the table rows of docs/PERFORMANCE.md.
#include "BitColumns.h"
#include "Hlavni.h"
#include "OkamDIN.h"
#include "Program.h"
#include "Qxxx417.h"
#include "SimProcess.h"
#include "TableRow.h"
#include "WindowKit.h"
#include "q417drv.h"

#include <QAction>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Wall time and this thread's processor time: on a loaded machine the wall
// time of a short piece of work also holds the time other processes ran.
class Stopwatch
{
public:
    void Start()
    {
        wall_ = Clock::now();
        cpu_ = ThreadCpu();
    }
    void Stop(std::vector<double> &wall, std::vector<double> &cpu) const
    {
        wall.push_back(std::chrono::duration<double, std::micro>(Clock::now() - wall_).count());
        cpu.push_back(ThreadCpu() - cpu_);
    }

private:
    static double ThreadCpu() // µs
    {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return double(t.tv_sec) * 1e6 + double(t.tv_nsec) / 1e3;
    }
    Clock::time_point wall_;
    double cpu_ = 0;
};

struct Figures {
    double cpu = 0, wall = 0; // s, from the view's showing to its closing
    // µs: a tick as the timer runs it (exchange and labels), and a label
    // update alone (labels and status text set, window painted)
    std::vector<double> tickWall, tickCpu, updateWall, updateCpu;
};

double Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * double(v.size() - 1) + 0.5))];
}

// Watches the view that the menu opens: times each tick from the timer's
// event to the end of the view's own handler, closes the view after
// `seconds`, then times label updates on it.
class Watch : public QObject
{
public:
    Watch(Figures &f, int seconds) : f_(f), seconds_(seconds) {}

protected:
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() == QEvent::Timer && o == timer_) {
            tick_.Start();
            return false;
        }
        if (e->type() != QEvent::Show)
            return false;
        auto *view = qobject_cast<TForm11 *>(o);
        if (view == nullptr || view_ != nullptr)
            return false;
        view_ = view;
        timer_ = view->Timer1;
        // Connected after the view's own handler, so it runs when that ends.
        connect(timer_, &QTimer::timeout, this, [this] { tick_.Stop(f_.tickWall, f_.tickCpu); });
        cpu0_ = CpuSeconds();
        wall_.start();
        QTimer::singleShot(seconds_ * 1000, Qt::PreciseTimer, view, [this, view] {
            f_.cpu = CpuSeconds() - cpu0_;
            f_.wall = double(wall_.nsecsElapsed()) / 1e9;
            timer_ = nullptr;
            view->Timer1->stop();
            MeasureUpdates(view);
            view->close();
        });
        return false;
    }

private:
    // The worst a tick's labels can cost: all 32 change, the status text
    // changes, and what changed is painted at once rather than when the
    // event loop gets to it. The first two rounds (one of each state) only
    // warm the caches and are not kept.
    void MeasureUpdates(TForm11 *view)
    {
        for (int i = 0; i < 202; ++i) {
            const uint8_t b = i % 2 ? 0xFF : 0x00;
            Stopwatch update;
            update.Start();
            view->Columns->ShowBytes({b, b, b, b});
            view->StatusBar1->SetText(i % 2 ? QStringLiteral(" V pořádku") : QStringLiteral(" "));
            QCoreApplication::sendPostedEvents(view, QEvent::UpdateRequest);
            if (i >= 2)
                update.Stop(f_.updateWall, f_.updateCpu);
        }
    }

    Figures &f_;
    int seconds_;
    TForm11 *view_ = nullptr;
    QTimer *timer_ = nullptr;
    Stopwatch tick_;
    double cpu0_ = 0;
    QElapsedTimer wall_;
};

bool Run(TForm1 &w, uint8_t kind, const TInitParams &params, int seconds, Figures &f)
{
    int32_t handle = 0;
    if (DrvInit(kind, handle, params) != 0 || DrvSetConfig(kind, handle, 9600, 200, 2) != 0)
        return false;
    w.Data->Kind = kind;
    w.Data->Address = 1;
    w.Data->Handle = handle;
    w.Data->Connected = true;

    Watch watch(f, seconds);
    qApp->installEventFilter(&watch);
    w.OkamDIN2->trigger();
    qApp->removeEventFilter(&watch);

    DrvDone(kind, handle);
    w.Data->Connected = false;
    w.Data->Handle = 0;
    return !f.tickWall.empty();
}

// The main window alone, nothing polling: what the toolkit costs anyway.
Figures Idle(int seconds)
{
    Figures f;
    const double cpu0 = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
    f.cpu = CpuSeconds() - cpu0;
    f.wall = double(wall.nsecsElapsed()) / 1e9;
    return f;
}

void PrintShare(const char *what, const Figures &f)
{
    std::printf("| %s | %.1f s | %.1f ms | %.2f %% |\n", what, f.wall, f.cpu * 1000,
                100 * f.cpu / f.wall);
}

void PrintTimes(const char *what, const Figures &f)
{
    std::printf("| %s | %zu | %.0f | %.0f | %.0f | %.0f | %.0f | %.0f |\n", what, f.tickWall.size(),
                Percentile(f.tickWall, 0.5), Percentile(f.tickWall, 1.0),
                Percentile(f.tickCpu, 1.0), Percentile(f.updateWall, 0.5),
                Percentile(f.updateWall, 1.0), Percentile(f.updateCpu, 1.0));
}

} // namespace

int main(int argc, char **argv)
{
    int seconds = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::max(1, std::atoi(argv[i + 1]));
    }
    TApplication app(argc, argv);
    // The program's own processor time; the in-process module answers at
    // once, as the simulator started below does (SimProcess: --timing none).
    qputenv("Q417_TIMING", "none");
    DrvSetLibraryDirectory(DRIVER_DIR);

    TForm1 w; // never closed: closing would save the settings file
    if (w.Data == nullptr)
        return 1;
    w.show();
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    const Figures idle = Idle(seconds);
    Figures local;
    if (!Run(w, ifUsb, TInitParams{}, seconds, local)) {
        std::fprintf(stderr, "in-process driver: no poll ran\n");
        return 1;
    }

    // The simulator's inputs walk on every read, so every tick changes two
    // labels rather than none.
    simtest::SimProcess sim(SIM_EXE, {"--udp-port", "0", "--inputs", "pattern"});
    if (!sim.Ready()) {
        std::fprintf(stderr, "q417sim: %s\n", sim.Failure().c_str());
        return 1;
    }
    TInitParams lan{};
    q417_params_set_text(lan.data(), "127.0.0.1");
    lan[1] = sim.UdpPort();
    lan[2] = 1000;
    Figures udp;
    if (!Run(w, ifLan, lan, seconds, udp)) {
        std::fprintf(stderr, "LAN driver: no poll ran\n");
        return 1;
    }

    const char *localName = "in-process (libqusb1417.so)";
    const char *lanName = "LAN (libqlx1417.so) to q417sim";
    std::printf("| driver | polled | CPU time | share of one core |\n|---|---|---|---|\n");
    PrintShare("none: main window only", idle);
    PrintShare(localName, local);
    PrintShare(lanName, udp);
    std::printf("\n| driver | ticks | tick median (µs) | tick max (µs) | tick max CPU (µs) | "
                "label update median (µs) | label update max (µs) | label update max CPU "
                "(µs) |\n|---|---|---|---|---|---|---|---|\n");
    PrintTimes(localName, local);
    PrintTimes(lanName, udp);

    // The table's rows, each against its budget: a share of one core, and
    // the worst label update's processor time.
    std::printf("\n");
    const auto share = [](const Figures &f) { return 100 * f.cpu / f.wall; };
    const std::pair<const char *, const Figures *> runs[] = {{"in-process driver", &local},
                                                             {"LAN to the simulator", &udp}};
    for (const auto &[name, f] : runs) {
        PrintRow(std::string("Input view polling every 100 ms, ") + name +
                     ": processor share of one core (main window alone: " +
                     Figure(share(idle), "%") + ")",
                 Figure(share(*f), "%"), "1 %", share(*f) / 1.0, "< 1 % of one core",
                 share(*f) < 1.0);
        const double worst = Percentile(f->updateCpu, 1.0);
        PrintRow(std::string("Input view label update (32 labels and the status), ") + name +
                     ": worst processor time",
                 Figure(worst, "µs"), "1000 µs", worst / 1000, "< 1 ms", worst < 1000);
    }
    return 0;
}
