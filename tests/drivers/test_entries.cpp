// The seven entries called directly, as a host other than our program
// might call them: argument checks, handle life and the error texts.
#include "SimProcess.h"
#include "Text.h"
#include "q417drv.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

struct KindInfo {
    int kind;
    const char *file;
    const char *prefix;
};

constexpr KindInfo Kinds[] = {{0, "libqcom417.so", "QCOM417_"},
                              {1, "libqpci417.so", "QPCI417_"},
                              {2, "libqpci1417.so", "QPCI1417_"},
                              {3, "libqusb1417.so", "QUSB1417_"},
                              {4, "libqlx1417.so", "QLX1417_"}};

using Array = std::array<int32_t, Q417_ARRAY_LEN>;

// A pseudo-terminal standing in for a COM port: the COM driver opens its
// slave side; nothing in these tests answers on it.
class Pty {
public:
    Pty(int comPort)
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0)
            ::setenv(("Q417_COM" + std::to_string(comPort)).c_str(), ::ptsname(master_), 1);
    }
    ~Pty() { ::close(master_); }

private:
    int master_ = -1;
};

class Library {
public:
    explicit Library(const KindInfo &k) : info_(k)
    {
        const std::string path = std::string(DRIVER_DIR) + "/" + k.file;
        lib_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (lib_ == nullptr)
            return;
        Version = Get<q417_version_fn>("Version");
        SetConfig = Get<q417_setconfig_fn>("SetConfig");
        GetConfig = Get<q417_getconfig_fn>("GetConfig");
        Send = Get<q417_send_fn>("Send");
        Done = Get<q417_done_fn>("Done");
        Error = Get<q417_error_fn>("Error");
        SetGuard = Get<q417_setguard_fn>("SetGuard");
        Late = Get<q417_late_fn>("Late");
        init_ = Get<void (*)()>("Init");
    }
    ~Library()
    {
        if (lib_ != nullptr)
            ::dlclose(lib_);
    }
    bool Complete() const
    {
        return Version && init_ && SetConfig && GetConfig && Send && Done && Error;
    }

    // Init in the kind's own form, with arguments that open successfully.
    // Kind 4 reaches a converter at UDP `lanPort` on 127.0.0.1.
    int32_t Init(int32_t *handle, int32_t comPort = 7, int32_t lanPort = 9)
    {
        switch (info_.kind) {
        case 0:
            return reinterpret_cast<q417_init_port_fn>(init_)(handle, comPort);
        case 1:
            return reinterpret_cast<q417_init_port_fn>(init_)(handle, 0x300);
        case 4: {
            int32_t params[Q417_PARAMS_LEN] = {};
            q417_params_set_text(params, "127.0.0.1");
            params[1] = lanPort;
            params[2] = 200;
            return reinterpret_cast<q417_init_params_fn>(init_)(handle, params);
        }
        default:
            return reinterpret_cast<q417_init_plain_fn>(init_)(handle);
        }
    }

    std::string Text(int32_t code)
    {
        Array t;
        t.fill(-1);
        if (Error(code, t.data()) != 0)
            return "(failed)";
        // Element 0 is left 0; one byte per element up to a 0 element.
        if (t[0] != 0)
            return "(element 0 not 0)";
        std::string bytes;
        for (std::size_t i = 1; i < t.size() && t[i] != 0; ++i) {
            if (t[i] < 1 || t[i] > 255)
                return "(not a byte)";
            bytes.push_back(char(t[i]));
        }
        if (bytes.size() > 99 || std::find(t.begin() + 1, t.end(), 0) == t.end())
            return "(unterminated)";
        return Cp1250ToUtf8(bytes);
    }

    q417_version_fn Version = nullptr;
    q417_setconfig_fn SetConfig = nullptr;
    q417_getconfig_fn GetConfig = nullptr;
    q417_send_fn Send = nullptr;
    q417_done_fn Done = nullptr;
    q417_error_fn Error = nullptr;
    q417_setguard_fn SetGuard = nullptr; // our own, optional
    q417_late_fn Late = nullptr;         // our own, optional

private:
    template <typename Fn> Fn Get(const char *suffix)
    {
        return reinterpret_cast<Fn>(::dlsym(lib_, (std::string(info_.prefix) + suffix).c_str()));
    }

    KindInfo info_;
    void *lib_ = nullptr;
    void (*init_)() = nullptr;
};

class Entries : public ::testing::TestWithParam<KindInfo> {
protected:
    Pty pty_{7};
    Library lib_{GetParam()};

    void SetUp() override { ASSERT_TRUE(lib_.Complete()) << GetParam().file << ": " << dlerror(); }
};

TEST_P(Entries, NullPointersAndOutOfRangeRequestsAreRefused)
{
    EXPECT_EQ(lib_.Init(nullptr), Q417_E_PARAM);
    EXPECT_EQ(lib_.Done(nullptr), Q417_E_PARAM);
    EXPECT_EQ(lib_.Error(0, nullptr), Q417_E_PARAM);

    int32_t h = 0;
    ASSERT_EQ(lib_.Init(&h), Q417_OK);
    Array rq{}, rp{};
    int32_t x = 0, status = 0;
    EXPECT_EQ(lib_.Send(h, nullptr, rp.data(), &x, &status), Q417_E_PARAM);
    EXPECT_EQ(status, Q417_E_PARAM);
    EXPECT_EQ(lib_.Send(h, rq.data(), nullptr, &x, &status), Q417_E_PARAM);
    EXPECT_EQ(lib_.Send(h, rq.data(), rp.data(), nullptr, &status), Q417_E_PARAM);
    EXPECT_EQ(lib_.Send(h, rq.data(), rp.data(), &x, nullptr), Q417_E_PARAM);

    // A value the wire cannot carry is refused before anything is sent.
    for (int i : {0, 1, 7}) {
        for (int32_t v : {256, -1}) {
            Array bad{};
            bad[std::size_t(i)] = v;
            status = 0;
            EXPECT_EQ(lib_.Send(h, bad.data(), rp.data(), &x, &status), Q417_E_PARAM) << i;
            EXPECT_EQ(status, Q417_E_PARAM);
        }
    }
    // Our optional entry: the guard is 0..Q417_GUARD_MAX_US us.
    ASSERT_NE(lib_.SetGuard, nullptr);
    for (int32_t us : {-1, Q417_GUARD_MAX_US + 1})
        EXPECT_EQ(lib_.SetGuard(h, us), Q417_E_PARAM) << us;
    EXPECT_EQ(lib_.SetGuard(h, Q417_GUARD_MAX_US), Q417_OK);
    // And late replies: a wait of 0..60000 ms, both pointers.
    ASSERT_NE(lib_.Late, nullptr);
    Array late{};
    int32_t count = -1;
    for (int32_t ms : {-1, 60001})
        EXPECT_EQ(lib_.Late(h, ms, late.data(), &count), Q417_E_PARAM) << ms;
    EXPECT_EQ(lib_.Late(h, 0, nullptr, &count), Q417_E_PARAM);
    EXPECT_EQ(lib_.Late(h, 0, late.data(), nullptr), Q417_E_PARAM);
    EXPECT_EQ(lib_.Late(h, 0, late.data(), &count), Q417_OK);
    EXPECT_EQ(count, 0) << "nothing was sent";
    EXPECT_EQ(lib_.Done(&h), Q417_OK);
}

// Done ends a handle for good; unknown handles touch nothing.
TEST_P(Entries, DoneEndsTheHandleForGood)
{
    EXPECT_EQ(lib_.Version(), Q417_INTERFACE_VERSION);
    int32_t h = 0;
    ASSERT_EQ(lib_.Init(&h), Q417_OK);
    ASSERT_NE(h, 0);
    const int32_t old = h;
    ASSERT_EQ(lib_.Done(&h), Q417_OK);
    EXPECT_EQ(h, 0);

    // The next connection takes the freed slot but not the old handle.
    int32_t next = 0;
    ASSERT_EQ(lib_.Init(&next), Q417_OK);
    EXPECT_NE(next, old);
    Array rq{}, rp{};
    int32_t x = 0, status = 0;
    for (int32_t bad : {old, 0, -1, next + 1000}) {
        status = 0;
        EXPECT_EQ(lib_.Send(bad, rq.data(), rp.data(), &x, &status), Q417_E_HANDLE);
        EXPECT_EQ(status, Q417_E_HANDLE);
        EXPECT_EQ(lib_.SetConfig(bad, 9600, 200, 2), Q417_E_HANDLE);
        EXPECT_EQ(lib_.GetConfig(bad, nullptr, nullptr, nullptr), Q417_E_HANDLE);
        EXPECT_EQ(lib_.SetGuard(bad, 500), Q417_E_HANDLE);
        int32_t count = 0;
        EXPECT_EQ(lib_.Late(bad, 0, rp.data(), &count), Q417_E_HANDLE);
        h = bad;
        EXPECT_EQ(lib_.Done(&h), Q417_E_HANDLE);
        EXPECT_EQ(h, bad);
    }
    EXPECT_EQ(lib_.Done(&next), Q417_OK);
}

TEST_P(Entries, GetConfigReportsWhatSetConfigSet)
{
    // The LAN driver's SetConfig needs a converter that acknowledges.
    std::optional<simtest::SimProcess> sim;
    if (GetParam().kind == 4) {
        sim.emplace(SIM_EXE, std::vector<std::string>{"--udp-port", "0"});
        ASSERT_TRUE(sim->Ready()) << sim->Failure();
    }
    int32_t h = 0;
    ASSERT_EQ(lib_.Init(&h, 7, sim ? sim->UdpPort() : 9), Q417_OK);
    ASSERT_EQ(lib_.SetConfig(h, 19200, 250, 2), Q417_OK);
    int32_t rate = 0, timeout = 0, retries = 0;
    EXPECT_EQ(lib_.GetConfig(h, &rate, &timeout, &retries), Q417_OK);
    EXPECT_EQ(rate, 19200);
    EXPECT_EQ(timeout, 250);
    EXPECT_EQ(retries, 2);
    timeout = 0;
    EXPECT_EQ(lib_.GetConfig(h, nullptr, &timeout, nullptr), Q417_OK);
    EXPECT_EQ(timeout, 250);
    EXPECT_EQ(lib_.GetConfig(h, nullptr, nullptr, nullptr), Q417_OK);
    if (sim) {
        // A rate the converter refuses leaves the one it runs at in force.
        EXPECT_EQ(lib_.SetConfig(h, 12345, 100, 2), Q417_E_CONV_RATE);
        EXPECT_EQ(lib_.GetConfig(h, &rate, &timeout, nullptr), Q417_OK);
        EXPECT_EQ(rate, 19200);
        EXPECT_EQ(timeout, 250);
    }
    EXPECT_EQ(lib_.Done(&h), Q417_OK);
}

TEST_P(Entries, EveryCodeHasAShortCzechText)
{
    EXPECT_EQ(lib_.Text(0), "V pořádku");
    EXPECT_EQ(lib_.Text(9), "požadavek nelze sestavit");
    EXPECT_EQ(lib_.Text(10), "ovladač není načten nebo chybný typ rozhraní");
    const std::string unknown = lib_.Text(19);
    EXPECT_EQ(unknown, "neznámý chybový kód ovladače");
    for (int32_t other : {15, 24, 99, 100, 255, 1000, -1, INT32_MIN, INT32_MAX})
        EXPECT_EQ(lib_.Text(other), unknown) << other;

    // Each of the library's own codes says something of its own, in
    // characters the code page holds (an unmappable one would come back '?').
    std::set<std::string> seen;
    for (int32_t code : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 20, 21, 22, 23}) {
        const std::string t = lib_.Text(code);
        EXPECT_NE(t, unknown) << code;
        EXPECT_FALSE(t.empty() || t[0] == '(') << code << ": " << t;
        EXPECT_EQ(t.find('?'), std::string::npos) << code << ": " << t;
        EXPECT_TRUE(seen.insert(t).second) << code << " repeats " << t;
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, Entries, ::testing::ValuesIn(Kinds), [](const auto &p) {
    std::string name = p.param.prefix;
    name.pop_back(); // the trailing '_'
    return name;
});

// A full table refuses further connections and leaves the caller's handle
// as it was; closing one makes room again.
TEST(EntriesTable, FullTableIsBusyUntilAConnectionCloses)
{
    Library lib(Kinds[2]);
    ASSERT_TRUE(lib.Complete());
    std::vector<int32_t> open;
    int32_t h = -7;
    int32_t r = Q417_OK;
    while (open.size() < 64 && (r = lib.Init(&h)) == Q417_OK) {
        open.push_back(h);
        h = -7;
    }
    EXPECT_EQ(r, Q417_E_BUSY);
    EXPECT_EQ(h, -7);
    EXPECT_GE(open.size(), 2u);
    EXPECT_EQ(lib.Done(&open.back()), Q417_OK);
    EXPECT_EQ(lib.Init(&h), Q417_OK);
    open.back() = h;
    for (int32_t &o : open)
        EXPECT_EQ(lib.Done(&o), Q417_OK);
}

TEST(ComPort, SecondInitOfTheSamePortIsBusy)
{
    Pty pty(7);
    Library lib(Kinds[0]);
    ASSERT_TRUE(lib.Complete());
    int32_t a = 0, b = -7;
    ASSERT_EQ(lib.Init(&a, 7), Q417_OK);
    EXPECT_EQ(lib.Init(&b, 7), Q417_E_BUSY);
    EXPECT_EQ(b, -7);
    EXPECT_EQ(lib.Done(&a), Q417_OK);
    EXPECT_EQ(lib.Init(&b, 7), Q417_OK);
    EXPECT_EQ(lib.Done(&b), Q417_OK);
}

// Two programs on one port would take each other's replies: the port is
// held from Init to Done, against another program (a child process with
// the library of its own) and against another port number naming the same
// device.
TEST(ComPort, APortIsHeldByOneConnectionAtATime)
{
    Pty pty(7);
    const std::string device = ::getenv("Q417_COM7");
    const std::string link = std::string(::testing::TempDir()) + "/com7-link";
    ::unlink(link.c_str());
    ASSERT_EQ(::symlink(device.c_str(), link.c_str()), 0);
    ::setenv("Q417_COM9", link.c_str(), 1);

    // What a program that does not lock ports meets: opens refused (root's
    // excepted) while a connection holds the port, and no longer after.
    auto exclusive = [&device] {
        const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return errno == EBUSY ? 1 : -1;
        int on = -1;
        ::ioctl(fd, TIOCGEXCL, &on);
        ::close(fd);
        return on;
    };

    // The other program: holds COM7 until told to let go.
    int ready[2], release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Library other(Kinds[0]);
        int32_t h = 0;
        const char ok = other.Complete() && other.Init(&h, 7) == Q417_OK ? 1 : 0;
        (void)!::write(ready[1], &ok, 1);
        char c;
        (void)!::read(release[0], &c, 1);
        ::_exit(other.Done(&h) == Q417_OK ? 0 : 1);
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, 1) << "the other program could not open COM7";

    Library lib(Kinds[0]);
    ASSERT_TRUE(lib.Complete());
    EXPECT_EQ(exclusive(), 1);
    for (int32_t port : {7, 9}) {
        int32_t b = -7;
        EXPECT_EQ(lib.Init(&b, port), Q417_E_PORT_TAKEN) << "COM" << port;
        EXPECT_EQ(b, -7);
    }
    EXPECT_EQ(lib.Text(Q417_E_PORT_TAKEN), "sériový port používá jiný program");

    // Once the other program lets go, the port is ours, and held against
    // our own second name for it.
    ASSERT_EQ(::write(release[1], "x", 1), 1);
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    for (int fd : {ready[0], ready[1], release[0], release[1]})
        ::close(fd);
    int32_t a = 0, b = -7;
    ASSERT_EQ(lib.Init(&a, 7), Q417_OK);
    EXPECT_EQ(lib.Init(&b, 9), Q417_E_PORT_TAKEN);
    EXPECT_EQ(b, -7);
    EXPECT_EQ(lib.Done(&a), Q417_OK);
    EXPECT_EQ(lib.Init(&a, 9), Q417_OK);
    EXPECT_EQ(lib.Done(&a), Q417_OK);
    EXPECT_EQ(exclusive(), 0);
    ::unlink(link.c_str());
}

TEST(ComPort, PortsThatCannotBeOpened)
{
    Library lib(Kinds[0]);
    ASSERT_TRUE(lib.Complete());
    int32_t h = -7;
    ::setenv("Q417_COM8", "/nonexistent/tty", 1);
    EXPECT_EQ(lib.Init(&h, 8), Q417_E_OPEN);
    // A file that is not a terminal is no serial port either.
    ::setenv("Q417_COM8", DRIVER_DIR "/libqcom417.so", 1);
    EXPECT_EQ(lib.Init(&h, 8), Q417_E_OPEN);
    EXPECT_EQ(lib.Init(&h, 0), Q417_E_PARAM);
    EXPECT_EQ(lib.Init(&h, -1), Q417_E_PARAM);
    EXPECT_EQ(h, -7);
}

TEST(ComPort, OnlyTheModuleRatesCanBeSet)
{
    Pty pty(7);
    Library lib(Kinds[0]);
    ASSERT_TRUE(lib.Complete());
    int32_t h = 0;
    ASSERT_EQ(lib.Init(&h, 7), Q417_OK);
    int32_t timeout = 0;
    EXPECT_EQ(lib.GetConfig(h, nullptr, &timeout, nullptr), Q417_OK);
    EXPECT_EQ(timeout, 1000) << "time-out before any SetConfig";

    for (int32_t rate : {600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200})
        EXPECT_EQ(lib.SetConfig(h, rate, 300, 2), Q417_OK) << rate;
    for (int32_t rate : {0, -9600, 300, 1234, 14400, 230400})
        EXPECT_EQ(lib.SetConfig(h, rate, 250, 2), Q417_E_RATE) << rate;
    EXPECT_EQ(lib.SetConfig(h, 9600, 0, 2), Q417_E_PARAM);

    // A refused setting leaves the last good one in force.
    int32_t rate = 0;
    EXPECT_EQ(lib.GetConfig(h, &rate, &timeout, nullptr), Q417_OK);
    EXPECT_EQ(rate, 115200);
    EXPECT_EQ(timeout, 300);
    EXPECT_EQ(lib.Done(&h), Q417_OK);
}

} // namespace
