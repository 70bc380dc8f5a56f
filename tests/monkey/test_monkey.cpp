// Thousands of random clicks, keystrokes and menu commands across every
// window of the program, once against the simulator and once against a
// driver that fails at random (Monkey.h). A failure names the seed and the
// event count that repeat it.
#include "AppTest.h"
#include "BusTiming.h"
#include "Endpoint.h"
#include "Monkey.h"
#include "Qxxx417.h"
#include "SimProcess.h"
#include "guard_driver.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>

namespace
{

using monkey::Record;

constexpr int Events = 8000;
const char *const Windows[] = {"Form2", "Form9", "Form11", "Form12", "Form14", "Form15"};

// The guard libraries of the five kinds, held so that their state outlives
// the binding's unloads, and the binding pointed at them.
class GuardDrivers
{
  public:
    explicit GuardDrivers(uint16_t udpPort)
    {
        static const char *files[] = {"libqcom417.so", "libqpci417.so", "libqpci1417.so",
                                      "libqusb1417.so", "libqlx1417.so"};
        for (uint8_t kind = 0; kind < 5; ++kind) {
            const std::filesystem::path file = std::filesystem::path(GUARD_DIR) / files[kind];
            libs_[kind] = dlopen(file.c_str(), RTLD_NOW);
            if (libs_[kind] == nullptr)
                continue;
            auto get = reinterpret_cast<guard_state *(*)()>(dlsym(libs_[kind], "guard_get_state"));
            states_[kind] = get();
            *states_[kind] = guard_state{};
            states_[kind]->udp_port = udpPort;
            states_[kind]->on_answer = monkey::Hooks[kind];
        }
        DrvSetLibraryDirectory(GUARD_DIR);
    }
    ~GuardDrivers()
    {
        for (uint8_t kind = 0; kind < 5; ++kind) {
            if (libs_[kind] != nullptr) {
                states_[kind]->on_answer = nullptr;
                dlclose(libs_[kind]);
            }
        }
    }
    GuardDrivers(const GuardDrivers &) = delete;
    GuardDrivers &operator=(const GuardDrivers &) = delete;

    bool Loaded() const
    {
        return std::all_of(libs_.begin(), libs_.end(), [](void *l) { return l != nullptr; });
    }
    // The record reads each kind's bus rate from its guard. A fresh bus
    // runs at the rate modules leave the factory with.
    void ShareRates(monkey::Exchanges &record)
    {
        for (uint8_t kind = 0; kind < 5; ++kind) {
            if (states_[kind] != nullptr) {
                states_[kind]->rate = bus::DefaultRate;
                record.rates[kind] = &states_[kind]->rate;
            }
        }
    }
    int Refused() const
    {
        int n = 0;
        for (const guard_state *s : states_)
            n += s != nullptr ? s->refused : 0;
        return n;
    }

  private:
    std::array<void *, 5> libs_{};
    std::array<guard_state *, 5> states_{};
};

// The settings a first start finds: the LAN converter at 127.0.0.1.
void WriteSettings(uint16_t udpPort)
{
    TData d;
    ConnectionDefaults(&d);
    d.Kind = ifLan;
    d.IpAddress = "127.0.0.1";
    d.UdpPort = udpPort;
    d.Address = 1;
    ASSERT_TRUE(SaveConnection(&d));
}

void Report(const char *setUp, const monkey::Monkey &m, const monkey::Options &o)
{
    std::ostringstream out;
    out << "monkey " << setUp << ": seed " << o.seed << ", " << m.Steps() << " of " << o.events
        << " events in " << m.Elapsed().count() << " ms, " << m.Starts() << " program starts\n"
        << "  windows shown:";
    for (const auto &[name, n] : m.Shown())
        out << " " << name.toStdString() << "=" << n;
    const monkey::Exchanges &x = Record();
    out << "\n  connections opened by kind:";
    for (int n : x.opened)
        out << " " << n;
    out << "\n  driver calls " << x.calls << ", failed " << x.failures
        << "; good/failed by command:";
    for (const auto &[cmd, n] : x.good)
        out << " " << cmd << "=" << n << "/" << (x.failed.count(cmd) ? x.failed.at(cmd) : 0);
    for (const auto &[cmd, n] : x.failed) {
        if (!x.good.count(cmd))
            out << " " << cmd << "=0/" << n;
    }
    std::cout << out.str() << std::endl;
}

// What every run must end with, whatever the set-up.
void ExpectClean(const monkey::Monkey &m)
{
    std::string faults;
    for (const std::string &f : m.Faults())
        faults += "\n  " + f;
    for (const std::string &f : Record().faults)
        faults += "\n  " + f;
    if (!faults.empty())
        ADD_FAILURE() << "faults:" << faults << "\n" << m.Recent();
    // The program shows a message box only for an error that escaped a
    // handler or for settings it could not write; neither may happen here.
    for (const QString &text : m.Boxes())
        ADD_FAILURE() << "message box: " << text.toStdString() << "\n" << m.Recent();
    ASSERT_TRUE(m.Saved().has_value()) << "the program was never closed";
    // A short run (KORVAL_MONKEY_EVENTS) need not reach every window.
    if (m.Steps() >= 1000) {
        for (const char *name : Windows)
            EXPECT_GT(m.Shown().count(name), 0u) << name << " never opened\n" << m.Recent();
    }
}

// The outputs the simulator's module at `address` holds: the inputs read
// back through the loopback wiring, with the module's input and output
// negation (registers 33.. and 34.., four groups three apart) undone.
std::optional<uint32_t> SimOutputs(const simtest::Endpoint &link, uint8_t address)
{
    uint8_t seq = 0;
    auto ask = [&](uint8_t cmd, uint8_t sub, uint8_t reg) -> std::optional<uint32_t> {
        const auto r = link.Ask(simtest::MakeRequest(++seq, address, cmd, sub, {reg, reg, 0, 0}));
        if (!r || r->status != 0)
            return std::nullopt;
        return cmd == CmdReadRegister ? uint32_t(r->d[2])
                                      : uint32_t(r->d[0]) | uint32_t(r->d[1]) << 8 |
                                            uint32_t(r->d[2]) << 16 | uint32_t(r->d[3]) << 24;
    };
    auto group = [&](uint8_t first) -> std::optional<uint32_t> {
        uint32_t word = 0;
        for (int n = 0; n < 4; ++n) {
            const auto v = ask(CmdReadRegister, SubNone, uint8_t(first + 3 * n));
            if (!v)
                return std::nullopt;
            word |= *v << (8 * n);
        }
        return word;
    };
    const auto dinNegation = group(RegDinNegation(0));
    const auto doutNegation = group(RegDoutNegation(0));
    const auto inputs = ask(CmdReadInputs, SubChannels, 0);
    if (!dinNegation || !doutNegation || !inputs)
        return std::nullopt;
    return *inputs ^ *dinNegation ^ *doutNegation;
}

TEST(Monkey, WithTheSimulator)
{
    // A module at every address and every rate, so that no address typed
    // and no rate chosen makes a time-out; COM1 is the simulator's
    // pseudo-terminal.
    simtest::TempDir dir;
    const std::string tty = dir.Path() + "/com1";
    std::vector<std::string> args{"--udp-port", "0", "--link", tty};
    for (int address = 0; address < 256; ++address) {
        for (int code = 0; code <= 8; ++code) {
            const std::string module = std::to_string(address) + ':' + std::to_string(code);
            args.insert(args.end(), {"--module", module});
        }
    }
    simtest::SimProcess sim(SIM_EXE, args);
    ASSERT_TRUE(sim.Ready()) << sim.Failure();
    ::setenv("Q417_COM1", tty.c_str(), 1);
    GuardDrivers guard(sim.UdpPort());
    ASSERT_TRUE(guard.Loaded());
    WriteSettings(sim.UdpPort());
    Record() = {};
    guard.ShareRates(Record());

    monkey::Options options = monkey::FromEnvironment(Events);
    options.okText = QStringLiteral("V pořádku");
    options.goodValues = {{"Form2.Edit1", "1"},
                          {"Form2.Edit2", "127.0.0.1"},
                          {"Form2.Edit3", QString::number(sim.UdpPort())},
                          {"Form2.Edit4", "1000"}};
    {
        monkey::Monkey m(options);
        m.Run();
        Report("with the simulator", m, options);
        std::cout << "  connections refused by the guard: " << guard.Refused() << std::endl;
        ExpectClean(m);
        if (m.Steps() >= 1000) {
            EXPECT_GT(Record().calls - Record().failures, 0) << "never connected\n" << m.Recent();
        }
    }

    // The module at each address and rate holds the last word written to
    // it, over either of the simulator's ways in.
    std::map<std::pair<uint8_t, int32_t>, monkey::Exchanges::Written> last;
    for (const auto &[key, written] : Record().outputs) {
        const auto [kind, address, bd] = key;
        if (kind == ifCom || kind == ifLan) {
            auto &l = last[{address, bd}];
            if (written.order > l.order)
                l = written;
        }
    }
    const simtest::Endpoint link = simtest::Endpoint::Udp(sim.UdpPort());
    for (const auto &[at, written] : last) {
        const auto [address, bd] = at;
        ASSERT_TRUE(link.SetRate(bd)) << bd << " Bd";
        EXPECT_EQ(SimOutputs(link, address), written.word)
            << "module " << int(address) << " at " << bd << " Bd";
    }

    ::unsetenv("Q417_COM1");
    std::filesystem::remove(SettingsFilePath());
}

TEST(Monkey, WithAFailingDriver)
{
    monkey::Options options = monkey::FromEnvironment(Events);
    options.okText = QStringLiteral("fake error 0");
    options.goodValues = {{"Form2.Edit3", "5000"}, {"Form2.Edit4", "1000"}};
    std::vector<std::unique_ptr<FakeDriver>> fakes;
    for (uint8_t kind = 0; kind < 5; ++kind) {
        fakes.push_back(std::make_unique<FakeDriver>(kind));
        ASSERT_NE(fakes.back()->State(), nullptr);
        fake_state &s = *fakes.back()->State();
        // From one call in twenty failing to one in four, by the seed.
        s.fail_percent = int32_t(5 + options.seed % 21);
        s.random_seed = uint32_t(options.seed) + kind + 1;
        s.on_answer = monkey::Hooks[kind];
    }
    std::cout << "fake driver: " << fakes[0]->State()->fail_percent << " % of calls fail"
              << std::endl;
    WriteSettings(5000);
    Record() = {};
    {
        monkey::Monkey m(options);
        m.Run();
        Report("with a failing driver", m, options);
        ExpectClean(m);
    }
    for (auto &f : fakes)
        f->State()->on_answer = nullptr;
    std::filesystem::remove(SettingsFilePath());
}

} // namespace
