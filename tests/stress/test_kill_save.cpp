// The settings file when its writer dies in the middle of a save, and when
// its directory cannot be written: never a torn, half-updated or lost file.
#include "Dekl.h"
#include "ProfileFile.h"
#include "SimProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <thread>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using simtest::TempDir;

std::string ReadAll(const fs::path &p)
{
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

// A value long enough that a save takes a while, so kills land inside one.
std::string Filler(char c)
{
    return std::string(64 * 1024, c);
}

TEST(KillWhileSaving, FileIsAlwaysOneThatASaveWroteWhole)
{
    TempDir dir;
    const fs::path file = fs::path(dir.Path()) / SettingsFileName;
    TData a, b;
    ConnectionDefaults(&a);
    ConnectionDefaults(&b);
    a.Kind = ifLan, a.IpAddress = "127.0.0.5", a.UdpPort = 5000, a.Address = 1;
    b.Kind = ifLan, b.IpAddress = "127.0.0.6", b.UdpPort = 6000, b.Address = 2;
    const auto fill = [&](char c) { ProfileFile(file).WriteString("Test", "Filler", Filler(c)); };
    // The writer saves a connection, then a filler, each in a save of its
    // own, so the file is one of four whole contents: [connection][filler].
    std::map<std::string, std::string> states;
    const auto keep = [&](const char *name) { states[ReadAll(file)] = name; };
    ASSERT_TRUE(SaveConnection(&a, file));
    fill('a');
    keep("aa");
    ASSERT_TRUE(SaveConnection(&b, file));
    keep("ba");
    fill('b');
    keep("bb");
    ASSERT_TRUE(SaveConnection(&a, file));
    keep("ab");
    ASSERT_EQ(states.size(), 4u);

    std::mt19937 random(417);
    const int rounds = 150;
    std::map<std::string, int> seen;
    for (int round = 0; round < rounds; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // As the program does on closing, then a 64 KiB save of its own,
            // over and over until killed.
            for (int n = round;; ++n) {
                SaveConnection((n % 2) ? &a : &b, file);
                fill((n % 2) ? 'a' : 'b');
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 30000));
        ASSERT_EQ(::kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));

        // Whatever the writer was doing, the file is one it saved whole:
        // never the new IP address beside the old port or module address.
        const auto state = states.find(ReadAll(file));
        ASSERT_NE(state, states.end()) << "round " << round << ": a partly saved connection";
        ++seen[state->second];
        TData loaded;
        ConnectionDefaults(&loaded);
        ASSERT_TRUE(LoadConnection(&loaded, file)) << "round " << round;
    }
    const auto leftovers = [&] {
        int n = 0;
        for (const auto &e : fs::directory_iterator(dir.Path()))
            n += e.path().filename() != SettingsFileName;
        return n;
    };
    const int left = leftovers();
    std::cout << rounds << " kills, files found (connection, filler):";
    for (const auto &[name, n] : seen)
        std::cout << " " << name << " " << n;
    std::cout << "; scratch files left by killed saves: " << left << "\n";
    // Once they are old enough to be surely dead, the next save sweeps them
    // (a save that changes something: an unchanged file is not saved).
    for (const auto &e : fs::directory_iterator(dir.Path()))
        fs::last_write_time(e.path(), fs::file_time_type::clock::now() - std::chrono::minutes(2));
    ProfileFile(file).WriteString("Test", "Filler", "swept");
    EXPECT_EQ(leftovers(), 0);
}

// Runs `f` in a child without root's right to write anywhere (as nobody);
// the child's exit code is f's result.
template <typename F> int AsUnprivileged(F f)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(99);
        ::_exit(f());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
}

TEST(ReadOnlyDirectory, FailedWriteLosesNothing)
{
    TempDir dir;
    const fs::path file = fs::path(dir.Path()) / SettingsFileName;
    TData d;
    ConnectionDefaults(&d);
    d.Kind = ifCom, d.ComPort = 3, d.Address = 9;
    ASSERT_TRUE(SaveConnection(&d, file));
    const std::string before = ReadAll(file);
    ::chmod(file.c_str(), 0644);
    ::chmod(dir.Path().c_str(), 0555);

    const int result = AsUnprivileged([&] {
        ProfileFile p(file);
        const std::string held = p.Bytes();
        try {
            p.WriteString("Připojení", "Adresa", "77");
            return 1; // the write claimed success
        } catch (const ProfileWriteError &e) {
            if (std::string(e.what()).find(SettingsFileName) == std::string::npos)
                return 2;
        }
        if (p.Bytes() != held)
            return 3; // the object took a value the file did not
        TData again = d;
        again.Address = 77;
        try {
            SaveConnection(&again, file);
            return 4;
        } catch (const ProfileWriteError &) {
        }
        return 0;
    });
    ::chmod(dir.Path().c_str(), 0755);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadAll(file), before);
    // Nothing half-written is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
    TData loaded;
    ConnectionDefaults(&loaded);
    ASSERT_TRUE(LoadConnection(&loaded, file));
    EXPECT_EQ(loaded.Address, 9);
    EXPECT_EQ(loaded.ComPort, 3);
}

} // namespace
