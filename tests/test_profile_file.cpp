#include "ProfileFile.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#include "Platform.h"

#include <chrono>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>
#include <tuple>
#include <vector>

namespace fs = std::filesystem;

namespace
{

class ProfileFileTest : public testing::Test
{
  protected:
    void SetUp() override
    {
        const std::string name = "profile-" + std::to_string(std::random_device{}());
        const fs::path dir = fs::temp_directory_path() / name;
        ASSERT_TRUE(fs::create_directory(dir));
        dir_ = dir;
        path_ = dir_ / "korval.ini";
    }
    void TearDown() override
    {
        if (dir_.empty()) {
            return;
        }
        std::error_code ignored;
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(dir_, ignored);
    }

    void Put(std::string_view bytes) const { std::ofstream(path_, std::ios::binary) << bytes; }
    std::string Get() const
    {
        std::ostringstream bytes;
        bytes << std::ifstream(path_, std::ios::binary).rdbuf();
        return std::move(bytes).str();
    }
    // A half-written file beside the settings file, last written `ageSeconds` ago.
    fs::path Leftover(const std::string &name, int ageSeconds) const
    {
        const fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary) << "[a]\r\nhalf";
        fs::last_write_time(p, fs::file_time_type::clock::now() - std::chrono::seconds(ageSeconds));
        return p;
    }
    // Writes into `before` (empty: no file) and checks the file and the object.
    void ExpectWrite(std::string_view before, std::string_view section, std::string_view key,
                     std::string_view value, std::string_view expected)
    {
        fs::remove(path_);
        if (!before.empty()) {
            Put(before);
        }
        ProfileFile profile(path_);
        profile.WriteString(section, key, value);
        EXPECT_EQ(Get(), expected);
        EXPECT_EQ(profile.Bytes(), expected);
    }

    static void ExpectWriteFailure(ProfileFile &profile, const std::string &before)
    {
        try {
            profile.WriteString("a", "x", "2");
            ADD_FAILURE() << "no ProfileWriteError";
        } catch (const ProfileWriteError &error) {
            EXPECT_EQ(error.what(), "Unable to write to " + profile.Path().string());
        }
        EXPECT_EQ(profile.Bytes(), before);
        EXPECT_EQ(profile.ReadString("a", "x", "-"), "1");
    }

    // Writes x=2 and a new section into a batch whose save fails: the same
    // error, and the object takes none of them.
    static void ExpectCommitFailure(ProfileFile::Batch &batch, const ProfileFile &profile,
                                    const std::string &before)
    {
        batch.WriteString("a", "x", "2");
        batch.WriteInteger("b", "y", 3);
        try {
            batch.Commit();
            ADD_FAILURE() << "no ProfileWriteError";
        } catch (const ProfileWriteError &error) {
            EXPECT_EQ(error.what(), "Unable to write to " + profile.Path().string());
        }
        EXPECT_EQ(profile.Bytes(), before);
        EXPECT_EQ(profile.ReadString("a", "x", "-"), "1");
        EXPECT_EQ(profile.ReadString("b", "y", "-"), "-");
    }

    fs::path dir_;
    fs::path path_;
};

// As saved on Windows: Windows-1250, CRLF, comments, blanks, quotes, duplicates.
constexpr std::string_view kWindowsFile = "k=outside\r\n"
                                          "; Nastaven\xED\r\n"
                                          "\r\n"
                                          "[P\xF8ipojen\xED]\r\n"
                                          "Rozhran\xED=PCI\r\n"
                                          ";Adresa=1\r\n"
                                          "  \xC8\xEDslo portu \t=  0x378  \r\n"
                                          "B\xE1zov\xE1 adresa=\"$300\"\r\n"
                                          "Popis=' Karta \xE8. 1 '\r\n"
                                          "Quoted=\"\"x\"\"\r\n"
                                          "Mixed=\"x'\r\n"
                                          "Odd=\"\r\n"
                                          "Eq=a=b\r\n"
                                          "rozhran\xED=second\r\n"
                                          "\r\n"
                                          "[ Jin\xE9 ]\r\n"
                                          "K@=at\r\n"
                                          "[p\xF8ipojen\xED]\r\n"
                                          "Extra=duplicate section\r\n";

TEST_F(ProfileFileTest, ReadsWindowsFile)
{
    Put(kWindowsFile);
    const ProfileFile profile(path_);
    EXPECT_EQ(profile.Bytes(), kWindowsFile);
    // clang-format off
    const std::pair<std::string_view, std::string_view> values[] = {
        {"Rozhraní", "PCI"}, {"ROZHRANí", "PCI"}, {"RozhranÍ", "-"}, {" Číslo portu\t", "0x378"},
        {"Bázová adresa", "$300"}, {"Popis", " Karta č. 1 "}, {"Quoted", "\"x\""},
        {"Mixed", "\"x'"}, {"Odd", "\""}, {"Eq", "a=b"}, {";Adresa", "-"}, {"Extra", "-"},
    };
    // clang-format on
    for (const auto &[key, value] : values) {
        EXPECT_EQ(profile.ReadString(" připojení\t", key, "-"), value) << key;
    }
    EXPECT_EQ(profile.ReadInteger("Připojení", "Číslo portu", -1), 0x378);
    EXPECT_EQ(profile.ReadInteger("Připojení", "Bázová adresa", -1), 0x300);
    EXPECT_EQ(profile.ReadInteger("Připojení", "Rozhraní", -1), -1);
    EXPECT_EQ(profile.ReadInteger("Připojení", "Chybí", -1), -1);
    // Only ASCII letters fold; 'Ř'/'ř' and '@'/'`' differ by the same bit.
    EXPECT_EQ(profile.ReadString("PŘIPOJENÍ", "Rozhraní", "-"), "-");
    EXPECT_EQ(profile.ReadString("jiné", "k@", "-"), "at");
    EXPECT_EQ(profile.ReadString("jiné", "k`", "-"), "-");
    EXPECT_EQ(profile.ReadString("Chybí", "Rozhraní", "-"), "-");
    EXPECT_EQ(profile.ReadString("", "k", "-"), "-");
    EXPECT_EQ(ProfileFile(dir_ / "missing.ini").ReadString("Připojení", "Rozhraní", "-"), "-");
}

TEST_F(ProfileFileTest, WritesCreateReplaceInsertAppend)
{
    // A missing file is created with CRLF lines in Windows-1250.
    ExpectWrite("", "Připojení", "Rozhraní", "Sériový",
                "[P\xF8ipojen\xED]\r\nRozhran\xED=S\xE9riov\xFD\r\n");
    // Replacing keeps the key's spelling and spacing, the line end and every other byte.
    std::string expected(kWindowsFile);
    expected.replace(expected.find("=  0x378  "), 10, "=$2F8");
    ExpectWrite(kWindowsFile, "připojení", "Číslo portu", "$2F8", expected);
    ExpectWrite("[a]\nx=1\n\n[b]\ny=2", "b", "Y", "3", "[a]\nx=1\n\n[b]\ny=3");
    // A new key goes after the section's last line, before the separator.
    ExpectWrite("[a]\nx=1\n;note\n \n\n[b]\n", "A", "z", "9", "[a]\nx=1\n;note\nz=9\r\n \n\n[b]\n");
    ExpectWrite("[a]\r\nx=1", "a", "z", "9", "[a]\r\nx=1\r\nz=9\r\n");
    ExpectWrite("[a]\r\n", "a", "z", "9", "[a]\r\nz=9\r\n");
    // A new section goes right after the last line, as Windows writes it:
    // no blank line before it.
    ExpectWrite("[a]\nx=1", "b", "y", "2", "[a]\nx=1\r\n[b]\r\ny=2\r\n");
    ExpectWrite("k=1\r\n", "a", "k", "2", "k=1\r\n[a]\r\nk=2\r\n");
    ExpectWrite("[a]\r\nx=1\r\n\r\n", "b", "y", "2", "[a]\r\nx=1\r\n\r\n[b]\r\ny=2\r\n");
}

TEST_F(ProfileFileTest, RejectsNamesAndValuesThatBreakTheFile)
{
    Put("[a]\r\n");
    ProfileFile profile(path_);
    // clang-format off
    const std::tuple<const char *, const char *, const char *> refused[] = {
        {"a]", "k", "v"}, {"a\n", "k", "v"}, {"a", "", "v"}, {"a", " \t", "v"}, {"a", "k=", "v"},
        {"a", "k\r", "v"}, {"a", ";k", "v"}, {"a", " [k]", "v"}, {"a", "k", "v\r\nx=y"},
    };
    // clang-format on
    for (const auto &[section, key, value] : refused) {
        EXPECT_THROW(profile.WriteString(section, key, value), std::invalid_argument) << key;
    }
    EXPECT_EQ(Get(), "[a]\r\n");
    EXPECT_EQ(profile.Bytes(), "[a]\r\n");
}

// The directory has gone: the save fails for every user, root included.
TEST_F(ProfileFileTest, FailedWriteKeepsContent)
{
    const fs::path gone = dir_ / "gone";
    fs::create_directory(gone);
    std::ofstream(gone / "k.ini", std::ios::binary) << "[a]\r\nx=1\r\n";
    ProfileFile loaded(gone / "k.ini");
    fs::remove_all(gone);
    ExpectWriteFailure(loaded, "[a]\r\nx=1\r\n");
    ProfileFile::Batch batch(loaded);
    ExpectCommitFailure(batch, loaded, "[a]\r\nx=1\r\n");
    EXPECT_FALSE(fs::exists(gone));

    // The batch kept its writes: once the directory is back they all land.
    fs::create_directory(gone);
    batch.Commit();
    const std::string saved = "[a]\r\nx=2\r\n[b]\r\ny=3\r\n";
    EXPECT_EQ(loaded.Bytes(), saved);
    EXPECT_EQ(ProfileFile(gone / "k.ini").Bytes(), saved);
}

TEST_F(ProfileFileTest, FailedWriteKeepsFileInReadOnlyDirectory)
{
    Put("[a]\r\nx=1\r\n");
    ProfileFile profile(path_);
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
    if (std::ofstream(dir_ / "probe").is_open()) {
        GTEST_SKIP() << "a read-only directory does not stop this user writing";
    }
    ExpectWriteFailure(profile, "[a]\r\nx=1\r\n");
    ProfileFile::Batch batch(profile);
    ExpectCommitFailure(batch, profile, "[a]\r\nx=1\r\n");
    EXPECT_EQ(Get(), "[a]\r\nx=1\r\n");
}

// A batch saves the very bytes the same writes one by one save, on files
// with every structure the writes meet: none, empty, comments, duplicate
// sections, keys in other letter case, LF and unterminated lines.
TEST_F(ProfileFileTest, BatchSavesWhatKeyByKeyWritesSave)
{
    struct Write {
        const char *section, *key, *value;
    };
    // Order matters: the key added to "Nová" is written again, and "b" and
    // "k" gain keys after their sections may have been appended.
    const Write writes[] = {
        {"připojení", "rozhraní", "LX-1417"},
        {"Připojení", "Adresa", "5"},
        {"Nová", "k", "1"},
        {"Jiné", "k@", "x"},
        {"b", "z", "ěšč"},
        {"nová", "K", "2"},
        {"NOVÁ", "další", "3"},
        {"a", "x", "-7"},
    };
    const std::pair<const char *, std::string_view> files[] = {
        {"missing", ""},
        {"empty", ""},
        {"Windows", kWindowsFile},
        {"LF, blanks, unterminated", "[a]\nx=1\n;note\n \n\n[b]\ny=2"},
        {"no section", "k=outside"},
    };
    const fs::path batchPath = dir_ / "batch.ini";
    for (const auto &[name, before] : files) {
        SCOPED_TRACE(name);
        fs::remove(path_);
        fs::remove(batchPath);
        if (std::string_view(name) != "missing") {
            Put(before);
            fs::copy_file(path_, batchPath);
        }
        ProfileFile oneByOne(path_);
        ProfileFile batched(batchPath);
        ProfileFile::Batch batch(batched);
        for (const Write &w : writes) {
            oneByOne.WriteString(w.section, w.key, w.value);
            batch.WriteString(w.section, w.key, w.value);
        }
        // Nothing reaches the file or the object before the commit.
        EXPECT_EQ(fs::exists(batchPath), std::string_view(name) != "missing");
        EXPECT_EQ(ProfileFile(batchPath).Bytes(), before);
        EXPECT_EQ(batched.Bytes(), before);

        batch.Commit();
        const std::string expected = Get();
        EXPECT_NE(expected, before);
        EXPECT_EQ(ProfileFile(batchPath).Bytes(), expected);
        EXPECT_EQ(batched.Bytes(), expected);
        EXPECT_EQ(batched.ReadString("nová", "k", "-"), "2");
    }
}

TEST_F(ProfileFileTest, BatchSavesOnlyOnCommit)
{
    // Nothing written: no save, so no file appears.
    ProfileFile profile(path_);
    ProfileFile::Batch(profile).Commit();
    EXPECT_FALSE(fs::exists(path_));

    // A refused name fails at once and leaves the batch's other writes.
    {
        ProfileFile::Batch dropped(profile);
        dropped.WriteString("a", "x", "1");
        EXPECT_THROW(dropped.WriteString("a", ";x", "1"), std::invalid_argument);
    }
    EXPECT_FALSE(fs::exists(path_));
    EXPECT_EQ(profile.Bytes(), "");

    // Writes made directly while a batch is open stay under its own.
    ProfileFile::Batch batch(profile);
    batch.WriteString("a", "x", "1");
    profile.WriteString("a", "y", "direct");
    profile.WriteString("a", "x", "direct");
    EXPECT_THROW(batch.WriteString("a", "x", "1\n"), std::invalid_argument);
    batch.Commit();
    EXPECT_EQ(Get(), "[a]\r\ny=direct\r\nx=1\r\n");
    EXPECT_EQ(profile.Bytes(), Get());

    // A second commit saves only what was written since the first.
    profile.WriteString("a", "x", "direct");
    batch.Commit();
    EXPECT_EQ(Get(), "[a]\r\ny=direct\r\nx=direct\r\n");
}

// Programs that read the file at start and save at close: each save applies
// its keys to the file as the others left it, also when they save at the
// same moment.
TEST_F(ProfileFileTest, SavesApplyOnTopOfWhatOthersSaved)
{
    Put("[a]\r\nx=1\r\n");
    ProfileFile first(path_);
    ProfileFile second(path_);
    first.WriteString("a", "x", "2");
    ProfileFile::Batch batch(second);
    batch.WriteString("b", "y", "3");
    batch.Commit();
    EXPECT_EQ(Get(), "[a]\r\nx=2\r\n[b]\r\ny=3\r\n");
    EXPECT_EQ(second.Bytes(), Get());

    constexpr int saves = 100;
    const auto saveMany = [&](const char *section) {
        for (int i = 0; i < saves; ++i)
            ProfileFile(path_).WriteInteger(section, "k" + std::to_string(i), i);
    };
    std::thread one(saveMany, "one");
    std::thread two(saveMany, "two");
    one.join();
    two.join();
    const ProfileFile saved(path_);
    int lost = 0;
    for (const char *section : {"one", "two"}) {
        for (int i = 0; i < saves; ++i)
            lost += saved.ReadInteger(section, "k" + std::to_string(i), -1) != i;
    }
    EXPECT_EQ(lost, 0) << "of " << 2 * saves << " saves";
}

std::vector<std::string> fileCalls;

// The new content reaches the disk before the rename makes it the file's,
// and the rename before the save returns: otherwise a power loss could
// leave an empty file, or the old one after a save that reported success.
TEST_F(ProfileFileTest, SaveReachesTheDiskBeforeTheRename)
{
    Put("[a]\r\nx=1\r\n");
    ProfileFile profile(path_);
    fileCalls.clear();
    platform::ObserveFileCalls([](std::string_view call, const fs::path &file) {
        fileCalls.push_back(std::string(call) + " " + file.string());
    });
    profile.WriteString("a", "x", "2");
    platform::ObserveFileCalls(nullptr);
    ASSERT_FALSE(fileCalls.empty());
    const std::string tmp = fileCalls[0].substr(fileCalls[0].find(' ') + 1);
    EXPECT_EQ(fs::path(tmp).parent_path(), dir_);
    EXPECT_NE(fs::path(tmp), path_);
    std::vector<std::string> expected = {"write " + tmp, "fsync " + tmp,
                                         "rename " + path_.string()};
#ifndef _WIN32
    expected.push_back("fsync " + dir_.string());
#endif
    EXPECT_EQ(fileCalls, expected);
    EXPECT_EQ(Get(), "[a]\r\nx=2\r\n");
}

// A write that leaves the content as it is saves nothing: the file keeps
// its time stamp; a real change still saves.
TEST_F(ProfileFileTest, UnchangedContentIsNotSavedAgain)
{
    Put("; kept\r\n[a]\r\nx=1\r\ny=two\r\n");
    fs::last_write_time(path_, fs::file_time_type::clock::now() - std::chrono::hours(1));
    const auto old = fs::last_write_time(path_); // as the file system keeps it

    ProfileFile profile(path_);
    profile.WriteString("A", "X", "1");
    ProfileFile::Batch same(profile);
    same.WriteInteger("a", "x", 1);
    same.WriteString("a", "y", "two");
    same.Commit();
    EXPECT_EQ(fs::last_write_time(path_), old);

    ProfileFile::Batch changed(profile);
    changed.WriteString("a", "x", "1");
    changed.WriteString("a", "y", "3");
    changed.Commit();
    EXPECT_NE(fs::last_write_time(path_), old);
    EXPECT_EQ(Get(), "; kept\r\n[a]\r\nx=1\r\ny=3\r\n");
}

// Saves killed half-way leave temporary files; the next good save removes
// those that are surely dead and nothing else.
#ifdef _WIN32
TEST_F(ProfileFileTest, SaveRemovesOnlyDeadLeftovers)
{
    const fs::path dead = Leftover("korval.ini.tmp4242", 3600);
    const fs::path fresh = Leftover("korval.ini.tmp77", 0);   // maybe a save in flight
    const fs::path held = Leftover("korval.ini.tmp1234", 3600); // a save still has it open
    const fs::path notOurs[] = {Leftover("korval.ini.tmp", 3600), Leftover("korval.ini.tmp12x", 3600),
                                Leftover("korval.ini.bak", 3600), Leftover("other.ini.tmp4242", 3600)};
    HANDLE holder = CreateFileW(held.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);

    ProfileFile profile(path_);
    profile.WriteString("a", "x", "1");
    CloseHandle(holder);

    EXPECT_FALSE(fs::exists(dead));
    EXPECT_TRUE(fs::exists(fresh));
    EXPECT_TRUE(fs::exists(held));
    for (const fs::path &p : notOurs)
        EXPECT_TRUE(fs::exists(p)) << p;
    EXPECT_EQ(Get(), "[a]\r\nx=1\r\n");
}
#else
TEST_F(ProfileFileTest, SaveRemovesOnlyDeadLeftovers)
{
    const fs::path dead = Leftover("korval.ini.a1B2c3", 3600);
    const fs::path deadToo = Leftover("korval.ini.ZZZZZZ", 120);
    const fs::path fresh = Leftover("korval.ini.q9W8e7", 0);           // maybe a save in flight
    const fs::path held = Leftover("korval.ini.Held00", 3600);         // a save still holds it
    const fs::path notOurs[] = {Leftover("korval.ini.bak", 3600), Leftover("korval.ini.abcdefg", 3600),
                                Leftover("korval.ini.abc-de", 3600), Leftover("other.ini.a1B2c3", 3600)};
    const int holder = ::open(held.c_str(), O_RDONLY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);

    ProfileFile profile(path_);
    profile.WriteString("a", "x", "1");
    ::close(holder);

    EXPECT_FALSE(fs::exists(dead));
    EXPECT_FALSE(fs::exists(deadToo));
    EXPECT_TRUE(fs::exists(fresh));
    EXPECT_TRUE(fs::exists(held));
    for (const fs::path &p : notOurs)
        EXPECT_TRUE(fs::exists(p)) << p;
    EXPECT_EQ(Get(), "[a]\r\nx=1\r\n");
}
#endif

} // namespace
