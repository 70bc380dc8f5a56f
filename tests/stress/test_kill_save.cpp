// The settings file when its writer dies in the middle of a save, and when
// its directory cannot be written: never a torn or lost file.
#include "Dekl.h"
#include "ProfileFile.h"
#include "SimProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
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

TEST(KillWhileSaving, FileIsAlwaysOldOrNewAndParses)
{
    TempDir dir;
    const fs::path file = fs::path(dir.Path()) / SettingsFileName;
    // The two contents the writer alternates between, each a whole file.
    TData a, b;
    ConnectionDefaults(&a);
    ConnectionDefaults(&b);
    a.Kind = ifLan, a.IpAddress = "127.0.0.5", a.UdpPort = 5000, a.Address = 1;
    b.Kind = ifLan, b.IpAddress = "127.0.0.6", b.UdpPort = 6000, b.Address = 2;
    std::string contents[2];
    {
        ASSERT_TRUE(SaveConnection(&a, file));
        ProfileFile p(file);
        p.WriteString("Test", "Filler", Filler('a'));
        contents[0] = ReadAll(file);
        ASSERT_TRUE(SaveConnection(&b, file));
        p = ProfileFile(file);
        p.WriteString("Test", "Filler", Filler('b'));
        contents[1] = ReadAll(file);
    }

    std::mt19937 random(417);
    const int rounds = 150;
    int killedMidway = 0;
    for (int round = 0; round < rounds; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Saves the other content, key by key as the program does,
            // then the filler, over and over until killed.
            for (int n = round;; ++n) {
                TData &d = (n % 2) ? a : b;
                SaveConnection(&d, file);
                ProfileFile p(file);
                p.WriteString("Test", "Filler", Filler((n % 2) ? 'a' : 'b'));
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 30000));
        ASSERT_EQ(::kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));

        // Every save replaces the whole file: whatever key the writer was
        // at, the file is one it saved completely, and it loads.
        const std::string now = ReadAll(file);
        ProfileFile p(file);
        ASSERT_EQ(p.Bytes(), now);
        const std::string filler = p.ReadString("Test", "Filler", "");
        ASSERT_TRUE(filler == Filler('a') || filler == Filler('b')) << "round " << round;
        TData loaded;
        ConnectionDefaults(&loaded);
        ASSERT_TRUE(LoadConnection(&loaded, file)) << "round " << round;
        ASSERT_EQ(loaded.Kind, ifLan);
        ASSERT_TRUE(loaded.IpAddress == "127.0.0.5" || loaded.IpAddress == "127.0.0.6");
        ASSERT_TRUE(loaded.UdpPort == 5000 || loaded.UdpPort == 6000);
        if (now != contents[0] && now != contents[1])
            ++killedMidway; // between two keys of one SaveConnection
    }
    const auto leftovers = [&] {
        int n = 0;
        for (const auto &e : fs::directory_iterator(dir.Path()))
            n += e.path().filename() != SettingsFileName;
        return n;
    };
    const int left = leftovers();
    std::cout << rounds << " kills, " << killedMidway
              << " between the keys of one save, scratch files left by killed saves: " << left
              << "\n";
    // Once they are old enough to be surely dead, the next save sweeps them.
    for (const auto &e : fs::directory_iterator(dir.Path()))
        fs::last_write_time(e.path(), fs::file_time_type::clock::now() - std::chrono::minutes(2));
    SaveConnection(&a, file);
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
