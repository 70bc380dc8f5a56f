// The connection record, its settings file and the data-array texts.
#include "Dekl.h"
#include "Platform.h"
#include "ProfileFile.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <stdlib.h>
#else
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>

namespace fs = std::filesystem;

namespace
{

class Settings : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() /
              ("korval-settings-" + std::to_string(std::random_device{}()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        file = dir / "W_korval.ini";
        ConnectionDefaults(&d);
    }
    // Tests leave read-only files and directories, which Windows does not
    // remove and POSIX does not descend into.
    void TearDown() override
    {
        std::error_code ec;
        fs::permissions(dir, fs::perms::owner_all, ec);
        for (auto it = fs::recursive_directory_iterator(dir, ec);
             it != fs::recursive_directory_iterator(); it.increment(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir);
    }

    void Put(const std::string &bytes) { std::ofstream(file, std::ios::binary) << bytes; }
    std::string Get() const
    {
        std::ifstream in(file, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    fs::path dir, file;
    TData d;
};

// A file as Windows writes it: Windows-1250, CRLF.
const std::string WindowsFile = "; nastaveni\r\n"
                                "[P\xF8ipojen\xED]\r\n"
                                "Rozhran\xED=LX-1417\r\n"
                                "Adresa=12\r\n"
                                "Rychlost=19200\r\n"
                                "\r\n"
                                "[COMx]\r\n"
                                "\xC8\xEDslo portu=3\r\n"
                                "\r\n"
                                "[PCI-417]\r\n"
                                "B\xE1zov\xE1 adresa=672\r\n"
                                "\r\n"
                                "[LX-1417]\r\n"
                                "IP adresa=127.0.0.1\r\n"
                                "UDP port=5017\r\n"
                                "UDP timeout=1500\r\n";

#ifdef _WIN32
// A read-only attribute holds for every user, administrators included.
int AsOrdinaryUser(const std::function<int()> &body)
{
    return body();
}
#else
// Runs `body` in a child process with the rights of an ordinary user, so
// that file permissions hold even when the tests run as root. Returns the
// child's exit code.
int AsOrdinaryUser(const std::function<int()> &body)
{
    pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(97);
        int rc = 98;
        try {
            rc = body();
        } catch (...) {
            rc = 99;
        }
        _exit(rc);
    }
    int st = 0;
    waitpid(pid, &st, 0);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}
#endif

const fs::path UserFile = fs::path(SettingsFolderName) / SettingsFileName;

// Points the per-user settings directory at `path` while it lives.
class UserConfigAt
{
  public:
#ifdef _WIN32
    explicit UserConfigAt(const fs::path &path)
    {
        const wchar_t *old = _wgetenv(L"LOCALAPPDATA");
        old_ = old != nullptr ? old : L"";
        _wputenv_s(L"LOCALAPPDATA", path.c_str());
    }
    ~UserConfigAt()
    {
        _wputenv_s(L"LOCALAPPDATA", old_.c_str());
    }

  private:
    std::wstring old_;
#else
    explicit UserConfigAt(const fs::path &path)
    {
        const char *old = std::getenv("XDG_CONFIG_HOME");
        old_ = old != nullptr ? old : "";
        ::setenv("XDG_CONFIG_HOME", path.c_str(), 1);
    }
    ~UserConfigAt()
    {
        if (old_.empty())
            ::unsetenv("XDG_CONFIG_HOME");
        else
            ::setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
    }

  private:
    std::string old_;
#endif
};

} // namespace

TEST(Defaults, RecordAndModuleConfig)
{
    TData d;
    d.ModuleName = "kept";
    d.Handle = 5;
    d.Connected = true;
    d.InitParams[7] = 1;
    ConnectionDefaults(&d);
    EXPECT_EQ(d.Kind, ifCom);
    EXPECT_EQ(d.Address, 0);
    EXPECT_EQ(d.BaudRate, 9600u);
    EXPECT_EQ(d.BaseAddress, 0x300);
    EXPECT_EQ(d.ComPort, 1);
    EXPECT_EQ(d.UdpPort, 5000u);
    EXPECT_EQ(d.UdpTimeout, 1000u);
    EXPECT_EQ(d.StatusText, "Připojení modulu dosud neinicializováno");
    EXPECT_EQ(d.Handle, 0);
    EXPECT_FALSE(d.Connected);
    EXPECT_EQ(d.InitParams, TInitParams{});
    EXPECT_EQ(d.ModuleName, "kept");
    EXPECT_EQ(d.ModuleConfig, ModuleConfigDefaults());

    const TModuleConfig c = ModuleConfigDefaults();
    const uint8_t expected[14] = {1, 4, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(&c, expected, 14), 0);

    ConnectionDefaults(nullptr);
    EXPECT_FALSE(LoadConnection(nullptr));
    EXPECT_FALSE(SaveConnection(nullptr));
}

// The tests' own directory is writable for whoever builds them.
TEST(Defaults, SettingsFileSitsBesideAWritableExecutable)
{
    ASSERT_TRUE(platform::CanReplaceFile(platform::ExecutableDirectory() / "W_korval.ini"));
    EXPECT_EQ(SettingsFilePath(), platform::ExecutableDirectory() / "W_korval.ini");
    EXPECT_TRUE(SettingsFilePath().is_absolute());
}

TEST_F(Settings, NoFileKeepsDefaultsAndSavingCreatesIt)
{
    TData before = d;
    EXPECT_FALSE(LoadConnection(&d, file));
    EXPECT_EQ(d.Address, before.Address);
    EXPECT_EQ(d.IpAddress, before.IpAddress);

    EXPECT_TRUE(SaveConnection(&d, file));
    EXPECT_EQ(Get(), "[P\xF8ipojen\xED]\r\n"
                     "Rozhran\xED=COMx\r\n"
                     "Adresa=0\r\n"
                     "Rychlost=9600\r\n"
                     "[COMx]\r\n"
                     "\xC8\xEDslo portu=1\r\n");
}

TEST_F(Settings, WindowsWrittenFileIsReadWhole)
{
    Put(WindowsFile);
    EXPECT_TRUE(LoadConnection(&d, file));
    EXPECT_EQ(d.Kind, ifLan);
    EXPECT_EQ(d.Address, 12);
    EXPECT_EQ(d.BaudRate, 19200u);
    EXPECT_EQ(d.ComPort, 3);
    EXPECT_EQ(d.BaseAddress, 672);
    EXPECT_EQ(d.IpAddress, "127.0.0.1");
    EXPECT_EQ(d.UdpPort, 5017u);
    EXPECT_EQ(d.UdpTimeout, 1500u);
}

TEST_F(Settings, EveryInterfaceRoundTrips)
{
    for (uint8_t kind = 0; kind <= 4; ++kind) {
        fs::remove(file);
        TData out;
        ConnectionDefaults(&out);
        out.Kind = kind;
        out.Address = 200;
        out.BaudRate = 115200;
        out.ComPort = 7;
        out.BaseAddress = 0x2A0;
        out.IpAddress = "127.0.0.1";
        out.UdpPort = 6000;
        out.UdpTimeout = 3000;
        ASSERT_TRUE(SaveConnection(&out, file));

        TData in;
        ConnectionDefaults(&in);
        ASSERT_TRUE(LoadConnection(&in, file));
        EXPECT_EQ(in.Kind, kind);
        EXPECT_EQ(in.Address, 200);
        EXPECT_EQ(in.BaudRate, 115200u);
        // Only the chosen interface's own section is written.
        EXPECT_EQ(in.ComPort, kind == ifCom ? 7 : 1);
        EXPECT_EQ(in.BaseAddress, kind == ifIsa ? 0x2A0 : 0x300);
        EXPECT_EQ(in.IpAddress, kind == ifLan ? "127.0.0.1" : DefaultIpAddress);
        EXPECT_EQ(in.UdpPort, kind == ifLan ? 6000u : 5000u);
        EXPECT_EQ(in.UdpTimeout, kind == ifLan ? 3000u : 1000u);
    }
}

TEST_F(Settings, SavingReplacesInPlaceAndKeepsOtherSections)
{
    Put(WindowsFile);
    d.Kind = ifPci;
    d.Address = 5;
    d.BaudRate = 600;
    d.ComPort = 9;     // not written: the COMx section stays
    d.IpAddress = "x"; // nor the LAN one
    ASSERT_TRUE(SaveConnection(&d, file));

    std::string expected = WindowsFile;
    auto replace = [&](const std::string &from, const std::string &to) {
        expected.replace(expected.find(from), from.size(), to);
    };
    replace("Rozhran\xED=LX-1417", "Rozhran\xED=PCI-1417");
    replace("Adresa=12", "Adresa=5");
    replace("Rychlost=19200", "Rychlost=600");
    EXPECT_EQ(Get(), expected);
}

// One save of the whole record lays the file out as writing it key by key
// always did: replaced in place in the first of duplicate sections whatever
// the key's letter case, new keys after the section's last line, a missing
// section appended with no blank line before it (as Windows appends one),
// comments and unterminated lines kept.
TEST_F(Settings, SavingAFileEditedByHandKeepsItsLayout)
{
    Put("; nastaveni\r\n"
        "[p\xF8ipojen\xED]\r\n"
        "rozhran\xED=COMx\r\n"
        ";Adresa=99\r\n"
        "\r\n"
        "[COMx]\n"
        "\xC8\xEDslo portu=3\n"
        "[P\xF8ipojen\xED]\r\n"
        "Adresa=77");
    d.Kind = ifLan;
    d.Address = 3;
    d.BaudRate = 19200;
    d.IpAddress = "127.0.0.1";
    d.UdpPort = 5017;
    d.UdpTimeout = 1500;
    ASSERT_TRUE(SaveConnection(&d, file));
    EXPECT_EQ(Get(), "; nastaveni\r\n"
                     "[p\xF8ipojen\xED]\r\n"
                     "rozhran\xED=LX-1417\r\n"
                     ";Adresa=99\r\n"
                     "Adresa=3\r\n"
                     "Rychlost=19200\r\n"
                     "\r\n"
                     "[COMx]\n"
                     "\xC8\xEDslo portu=3\n"
                     "[P\xF8ipojen\xED]\r\n"
                     "Adresa=77\r\n"
                     "[LX-1417]\r\n"
                     "IP adresa=127.0.0.1\r\n"
                     "UDP port=5017\r\n"
                     "UDP timeout=1500\r\n");
}

// A record that cannot be written whole is not written at all: no file
// naming the LAN converter without its address.
TEST_F(Settings, UnwritableValueSavesNothing)
{
    d.Kind = ifLan;
    d.IpAddress = "127.0.0.1\r\n[COMx]";
    EXPECT_THROW(SaveConnection(&d, file), std::invalid_argument);
    EXPECT_FALSE(fs::exists(file));

    Put(WindowsFile);
    d.Address = 99;
    EXPECT_THROW(SaveConnection(&d, file), std::invalid_argument);
    EXPECT_EQ(Get(), WindowsFile);
}

TEST_F(Settings, WideUnsignedValuesSurviveASaveAndLoad)
{
    d.Kind = ifLan;
    d.BaudRate = 0xFFFFFFFFu;
    d.UdpPort = 0x80000000u;
    d.UdpTimeout = 3000000000u;
    ASSERT_TRUE(SaveConnection(&d, file));
    TData in;
    ConnectionDefaults(&in);
    ASSERT_TRUE(LoadConnection(&in, file));
    EXPECT_EQ(in.BaudRate, 0xFFFFFFFFu);
    EXPECT_EQ(in.UdpPort, 0x80000000u);
    EXPECT_EQ(in.UdpTimeout, 3000000000u);
}

TEST_F(Settings, KindAboveFourSavesTheComSettings)
{
    d.Kind = 9;
    d.ComPort = 4;
    ASSERT_TRUE(SaveConnection(&d, file));
    TData in;
    ConnectionDefaults(&in);
    in.Kind = 3;
    ASSERT_TRUE(LoadConnection(&in, file));
    EXPECT_EQ(in.Kind, ifCom);
    EXPECT_EQ(in.ComPort, 4);
}

TEST_F(Settings, IntegerForms)
{
    struct Row {
        const char *text;
        int expected;
    };
    const Row rows[] = {{"0x1F", 31}, {"$1F", 31}, {"X1f", 31},  {"  -1", 255}, {"300", 44},
                        {"abc", 7},   {"", 7},     {"12abc", 7}, {"0x", 7},     {"+8", 8}};
    for (const Row &r : rows) {
        Put(std::string("[P\xF8ipojen\xED]\r\nRozhran\xED=COMx\r\nAdresa=") + r.text + "\r\n");
        ConnectionDefaults(&d);
        d.Address = 7;
        ASSERT_TRUE(LoadConnection(&d, file));
        EXPECT_EQ(d.Address, r.expected) << r.text;
    }
    Put("[P\xF8ipojen\xED]\r\nRozhran\xED=COMx\r\n[PCI-417]\r\nB\xE1zov\xE1 adresa=$12345\r\n");
    ASSERT_TRUE(LoadConnection(&d, file));
    EXPECT_EQ(d.BaseAddress, 0x2345);
}

TEST_F(Settings, InterfaceNameIsExactButKeysIgnoreCase)
{
    // Other letter case in the interface name: the kind stays, the rest is read.
    Put("[p\xF8ipojen\xED]\r\nROZHRAN\xED = usb-1417\r\nadresa=9\r\n[comx]\r\n\xC8\xEDSLO "
        "PORTU=6\r\n");
    d.Kind = ifIsa;
    EXPECT_TRUE(LoadConnection(&d, file));
    EXPECT_EQ(d.Kind, ifIsa);
    EXPECT_EQ(d.Address, 9);
    EXPECT_EQ(d.ComPort, 6);

    // The sentinel the reader uses for a missing key is no interface either.
    Put("[P\xF8ipojen\xED]\r\nRozhran\xED=jkl\r\nAdresa=9\r\n");
    ConnectionDefaults(&d);
    EXPECT_FALSE(LoadConnection(&d, file));
    EXPECT_EQ(d.Address, 0);
}

TEST_F(Settings, LanWithoutItsSectionKeepsLanDefaults)
{
    Put("[P\xF8ipojen\xED]\r\nRozhran\xED=LX-1417\r\n");
    EXPECT_TRUE(LoadConnection(&d, file));
    EXPECT_EQ(d.Kind, ifLan);
    EXPECT_EQ(d.IpAddress, DefaultIpAddress);
    EXPECT_EQ(d.UdpPort, 5000u);
    EXPECT_EQ(d.UdpTimeout, 1000u);
}

#ifndef _WIN32
// POSIX only: a read-only directory stops nobody from writing on Windows.
TEST_F(Settings, UnwritableFileRaisesTheErrorAndLosesNothing)
{
    // A directory that does not exist cannot be written, whoever we are.
    const fs::path missing = dir / "gone" / "W_korval.ini";
    try {
        SaveConnection(&d, missing);
        FAIL() << "no error raised";
    } catch (const ProfileWriteError &e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + missing.string());
    }

    // A read-only directory: the file keeps every byte, no stray file is left.
    Put(WindowsFile);
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                             fs::perms::group_exec | fs::perms::others_read |
                             fs::perms::others_exec);
    const std::string path = file.string();
    const int rc = AsOrdinaryUser([&] {
        TData changed;
        ConnectionDefaults(&changed);
        changed.Kind = ifIsa;
        try {
            SaveConnection(&changed, path);
        } catch (const ProfileWriteError &e) {
            return std::string(e.what()) == "Unable to write to " + path ? 0 : 2;
        }
        return 1;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(Get(), WindowsFile);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}
#endif

// A file just under the read cap that a save would push over it: the next
// start would read no settings at all, so the save fails and the file stays.
TEST_F(Settings, ASaveThatWouldPassTheReadCapKeepsTheFile)
{
    std::string bytes = WindowsFile;
    bytes += std::string(platform::MaxSettingsFileSize - bytes.size() - 2, ';') + "\r\n";
    Put(bytes);
    ASSERT_TRUE(LoadConnection(&d, file));
    d.IpAddress = "127.100.100.200"; // six bytes longer than the file's
    try {
        SaveConnection(&d, file);
        FAIL() << "no error raised";
    } catch (const ProfileWriteError &e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + file.string());
    }
    EXPECT_TRUE(Get() == bytes);
    TData again;
    ConnectionDefaults(&again);
    EXPECT_TRUE(LoadConnection(&again, file));
    EXPECT_EQ(again.IpAddress, "127.0.0.1");
    // Up to the cap itself a save lands.
    d.IpAddress = "127.0.0.2";
    EXPECT_NO_THROW(SaveConnection(&d, file));
    EXPECT_EQ(Get().size(), platform::MaxSettingsFileSize);
}

TEST_F(Settings, ReadOnlyFileIsNotReplaced)
{
    Put(WindowsFile);
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::permissions(dir, fs::perms::all);
    const std::string path = file.string();
    const int rc = AsOrdinaryUser([&] {
        TData changed;
        ConnectionDefaults(&changed);
        try {
            SaveConnection(&changed, path);
        } catch (const ProfileWriteError &) {
            return 0;
        }
        return 1;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(Get(), WindowsFile);
}

// --- Where the settings file lives ------------------------------------------

#ifndef _WIN32
// An installed program cannot write beside itself: the file moves to the
// per-user directory. Each case in its own directory, checked as an
// ordinary user; the child's exit code names the first case that failed.
TEST_F(Settings, UnwritableProgramDirectoryUsesTheUserDirectory)
{
    const fs::path config = dir / "config", home = dir / "home";
    struct Case {
        const char *name;
        bool dirWritable;
        const char *file; // "" none, "rw" writable, "ro" read-only, "wo" write-only
        bool beside;      // the program's directory is the one used
    };
    const Case cases[] = {
        {"writable-empty", true, "", true},
        {"writable-with-file", true, "rw", true},
        {"read-only-file", true, "ro", false},
        // Never replaced, as its content cannot be read first.
        {"write-only-file", true, "wo", false},
        {"read-only-dir", false, "", false},
        // The file is replaced by renaming a new one over it, which its
        // directory must allow.
        {"read-only-dir-writable-file", false, "rw", false},
    };
    for (const fs::path &writable : {config, home}) {
        fs::create_directories(writable);
        fs::permissions(writable, fs::perms::all);
    }
    using fs::perms;
    const perms readable = perms::owner_read | perms::group_read | perms::others_read;
    const perms searchable = perms::owner_exec | perms::group_exec | perms::others_exec;
    const perms writable = perms::owner_write | perms::group_write | perms::others_write;
    for (const Case &c : cases) {
        const fs::path program = dir / c.name;
        fs::create_directories(program);
        if (*c.file != '\0') {
            std::ofstream(program / SettingsFileName) << "[x]\r\n";
            const std::string kind = c.file;
            fs::permissions(program / SettingsFileName, kind == "rw"   ? readable | writable
                                                        : kind == "wo" ? writable
                                                                       : readable);
        }
        fs::permissions(program, c.dirWritable ? perms::all : readable | searchable);
    }

    const int rc = AsOrdinaryUser([&] {
        ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        ::setenv("HOME", home.c_str(), 1);
        int n = 10;
        for (const Case &c : cases) {
            const fs::path program = dir / c.name;
            const fs::path expected = c.beside ? program / SettingsFileName : config / UserFile;
            if (SettingsFilePath(program) != expected)
                return n;
            ++n;
        }
        // Without XDG_CONFIG_HOME, or with a relative one, ~/.config.
        const fs::path readOnly = dir / "read-only-dir";
        ::setenv("XDG_CONFIG_HOME", "relative/config", 1);
        if (SettingsFilePath(readOnly) != home / ".config" / UserFile)
            return 30;
        ::unsetenv("XDG_CONFIG_HOME");
        if (SettingsFilePath(readOnly) != home / ".config" / UserFile)
            return 31;
        return 0;
    });
    EXPECT_EQ(rc, 0) << "10.. a case by its position, 30/31 the ~/.config fallback";
}

// The whole way for the program itself, whose directory an ordinary user
// cannot write: a save creates the per-user folder and a load reads it.
TEST_F(Settings, ProgramInAReadOnlyDirectorySavesAndLoadsPerUser)
{
    const fs::path config = dir / "config";
    fs::create_directories(config);
    fs::permissions(config, fs::perms::all);
    const int rc = AsOrdinaryUser([&] {
        if (platform::CanReplaceFile(platform::ExecutableDirectory() / SettingsFileName))
            return 3;
        ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        TData out;
        ConnectionDefaults(&out);
        out.Kind = ifLan;
        out.Address = 17;
        out.UdpPort = 5017;
        if (!SaveConnection(&out))
            return 4;
        TData in;
        ConnectionDefaults(&in);
        if (!LoadConnection(&in))
            return 5;
        return in.Kind == ifLan && in.Address == 17 && in.UdpPort == 5017 ? 0 : 6;
    });
    if (rc == 3)
        GTEST_SKIP() << "this user can write the tests' own directory";
    EXPECT_EQ(rc, 0);
    file = config / UserFile;
    EXPECT_NE(Get().find("Rozhran\xED=LX-1417\r\n"), std::string::npos) << Get();
}
#else
// Windows: a read-only settings file beside the program moves the file to
// %LOCALAPPDATA%\W_korval; a writable directory keeps it beside.
TEST_F(Settings, ReadOnlyFileUsesLocalAppData)
{
    const std::wstring old = _wgetenv(L"LOCALAPPDATA") ? _wgetenv(L"LOCALAPPDATA") : L"";
    const fs::path local = dir / "local";
    _wputenv_s(L"LOCALAPPDATA", local.c_str());
    const fs::path beside = SettingsFilePath(dir);
    Put(WindowsFile);
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const fs::path moved = SettingsFilePath(dir);
    fs::permissions(file, fs::perms::all);
    _wputenv_s(L"LOCALAPPDATA", old.c_str());
    EXPECT_EQ(beside, file);
    EXPECT_EQ(moved, local / UserFile);
}
#endif

// A file an administrator placed beside an installed program is read until
// the user's own copy exists; the first save makes that copy from it, with
// the sections it did not change, and the file itself never changes.
TEST_F(Settings, ReadOnlyFileBesideTheProgramIsReadUntilTheUserSaves)
{
    const fs::path config = dir / "config";
    fs::create_directories(config / SettingsFolderName);
    fs::permissions(config, fs::perms::all);
    fs::permissions(config / SettingsFolderName, fs::perms::all);
    Put(WindowsFile);
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const UserConfigAt user(config);
    const int rc = AsOrdinaryUser([&] {
        const SettingsFiles files = SettingsFilesOf(dir);
        if (files.file != config / UserFile || files.fallback != file)
            return 10;
        TData in;
        ConnectionDefaults(&in);
        if (!LoadConnection(&in, files) || in.Kind != ifLan || in.UdpPort != 5017)
            return 11;
        in.Kind = ifIsa;
        in.BaseAddress = 0x2A0;
        SaveConnection(&in, files);
        TData again;
        ConnectionDefaults(&again);
        if (!LoadConnection(&again, files) || again.Kind != ifIsa || again.BaseAddress != 0x2A0 ||
            again.UdpPort != 5017 || again.ComPort != 3)
            return 12;
        return 0;
    });
    EXPECT_EQ(rc, 0) << "10 where, 11 the first load, 12 the copy";
    EXPECT_EQ(Get(), WindowsFile);
}

#ifndef _WIN32
// Files that are no settings file or cannot be read: a write-only one, a
// FIFO (whose reader would wait for a writer) and one over the size cap.
// Loading keeps the defaults at once; saving raises the error and leaves
// each as it was.
TEST_F(Settings, UnreadableFileIsNeverReplaced)
{
    fs::permissions(dir, fs::perms::all);
    const fs::path writeOnly = dir / "write-only.ini", fifo = dir / "fifo.ini",
                   large = dir / "large.ini";
    std::ofstream(writeOnly, std::ios::binary) << WindowsFile;
    fs::permissions(writeOnly,
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    ::chmod(fifo.c_str(), 0666);
    const std::string largeBytes = WindowsFile + std::string(platform::MaxSettingsFileSize, ';');
    std::ofstream(large, std::ios::binary) << largeBytes;
    ::chmod(large.c_str(), 0666);

    const int rc = AsOrdinaryUser([&] {
        ::alarm(10); // a read that waits ends the child
        int n = 10;
        for (const fs::path &p : {writeOnly, fifo, large}) {
            TData loaded;
            ConnectionDefaults(&loaded);
            if (LoadConnection(&loaded, p) || loaded.Kind != ifCom)
                return n;
            try {
                SaveConnection(&loaded, p);
                return n + 1;
            } catch (const ProfileWriteError &) {
            }
            n += 10;
        }
        return 0;
    });
    EXPECT_EQ(rc, 0) << "10.. write-only, 20.. FIFO, 30.. large; +1 the save; -1 a read waited";
    struct stat st;
    EXPECT_TRUE(::lstat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
    file = writeOnly;
    EXPECT_EQ(Get(), WindowsFile);
    file = large;
    EXPECT_TRUE(Get() == largeBytes);
}

// A save keeps the permission bits, owner and group of the file it
// replaces: a private file stays private, and a file root saves for
// another user stays that user's.
TEST_F(Settings, SavingKeepsPermissionsOwnerAndGroup)
{
    const bool root = ::geteuid() == 0;
    for (const mode_t mode : {0600, 0640, 0664}) {
        Put(WindowsFile);
        ASSERT_EQ(::chmod(file.c_str(), mode), 0);
        if (root) {
            ASSERT_EQ(::chown(file.c_str(), 65534, 65534), 0);
        }
        d.Address = uint8_t(mode);
        ASSERT_TRUE(SaveConnection(&d, file));
        struct stat st;
        ASSERT_EQ(::stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode) << std::oct << mode;
        if (root) {
            EXPECT_EQ(st.st_uid, 65534u);
            EXPECT_EQ(st.st_gid, 65534u);
        }
        EXPECT_NE(Get(), WindowsFile);
    }
}
#endif

// --- Data-array texts -------------------------------------------------------

TEST(DataArrayText, EndsAtTheFirstZeroFromElementOne)
{
    TDataArray a{};
    std::string s = "old";
    DataArrayToStr(a, s);
    EXPECT_EQ(s, "");

    a[0] = 65, a[1] = 66, a[2] = 0, a[3] = 67;
    DataArrayToStr(a, s);
    EXPECT_EQ(s, "AB");

    a = TDataArray{};
    a[0] = 0, a[1] = 65, a[2] = 66, a[3] = 0, a[4] = 67;
    DataArrayToStr(a, s);
    EXPECT_EQ(s, "AB");

    // Only the low byte of an element is a character; 0x100 is a zero
    // character that does not end the text.
    a = TDataArray{};
    a[1] = 0x141, a[2] = 0x100, a[3] = 0xF8, a[4] = -191;
    DataArrayToStr(a, s);
    EXPECT_EQ(s, std::string("A\0řA", 5));

    a.fill(0x41);
    DataArrayToStr(a, s);
    EXPECT_EQ(s, std::string(100, 'A'));
}

TEST(DataArrayText, StrToDataArrayKeepsNinetyNineCharacters)
{
    TDataArray a;
    a.fill(5);
    EXPECT_EQ(StrToDataArray(std::string(120, 'x'), a), 0);
    EXPECT_EQ(a[0], 0);
    for (int i = 1; i <= 99; ++i)
        EXPECT_EQ(a[i], 'x') << i;

    // Characters, not UTF-8 bytes, are counted; each is one cp1250 code.
    std::string czech;
    for (int i = 0; i < 120; ++i)
        czech += "ř";
    StrToDataArray(czech, a);
    EXPECT_EQ(a[99], 0xF8);
    std::string back;
    DataArrayToStr(a, back);
    EXPECT_EQ(back, czech.substr(0, 99 * 2));

    StrToDataArray("", a);
    EXPECT_EQ(a, TDataArray{});
}

TEST(DataArrayText, UnencodableCharactersBecomeQuestionMarks)
{
    TDataArray a;
    StrToDataArray("Příliš 日本 ok", a);
    std::string s;
    DataArrayToStr(a, s);
    EXPECT_EQ(s, "Příliš ?? ok");
    EXPECT_EQ(a[2], 0xF8);
}
