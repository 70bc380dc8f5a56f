// The driver binding and ModuleCall, through the real loader and the fake
// driver libraries of tests/fakes.
#include "FakeLoader.h"
#include "Qxxx417.h"
#include "fake_driver.h"

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace
{

const fs::path Fakes = FAKES_DIR;

const std::string LibFiles[] = {
    fakeload::FileName("QCOM417.DLL"), fakeload::FileName("QPCI417.DLL"),
    fakeload::FileName("QPCI1417.DLL"), fakeload::FileName("QUSB1417.DLL"),
    fakeload::FileName("QLX1417.DLL")};

std::string Text(const TDataArray &a)
{
    std::string s;
    DataArrayToStr(a, s);
    return s;
}

// The state of a fake library the binding has loaded, or null when that
// library is not loaded at the moment; never loads it itself.
fake_state *LoadedFake(const fs::path &file)
{
    fakeload::Handle h = fakeload::IfLoaded(file);
    if (h == nullptr)
        return nullptr;
    fake_state *s = fakeload::State(h);
    fakeload::Release(h); // the binding's own reference keeps it loaded
    return s;
}

bool IsLoaded(const fs::path &file)
{
    return LoadedFake(file) != nullptr;
}

class Binding : public ::testing::Test
{
  protected:
    void SetUp() override { DrvSetLibraryDirectory(Fakes / "full"); }
    void TearDown() override { Release(); }

    // Loads the fake of `kind` with a successful Init and returns its state,
    // which stays readable until Release, also after the binding unloads.
    fake_state *Open(uint8_t kind, int32_t &handle)
    {
        EXPECT_EQ(DrvInit(kind, handle, TInitParams{}), 0);
        const fs::path file = Fakes / "full" / LibFiles[kind];
        keep = fakeload::IfLoaded(file);
        EXPECT_NE(keep, nullptr);
        if (keep == nullptr)
            return nullptr;
        return fakeload::State(keep);
    }
    void Release()
    {
        if (keep != nullptr)
            fakeload::Release(keep);
        keep = nullptr;
    }

    fakeload::Handle keep = nullptr;
};

} // namespace

TEST(BindingLoad, MissingLibraryGivesHundredPlusKindAndItsText)
{
    DrvSetLibraryDirectory(Fakes / "empty");
    const char *names[] = {"QCOM417.DLL", "QPCI417.DLL", "QPCI1417.DLL", "QUSB1417.DLL",
                           "QLX1417.DLL"};
    for (uint8_t kind = 0; kind < 5; ++kind) {
        int32_t handle = 0;
        EXPECT_EQ(DrvInit(kind, handle, TInitParams{}), 100 + kind);
        TDataArray text{};
        EXPECT_EQ(DrvErrorText(kind, 100u + kind, text), 0);
        EXPECT_EQ(Text(text), std::string("chyba inicializace knihovny ") + names[kind]);
        EXPECT_EQ(text[0], 0);
    }
}

TEST(BindingLoad, LibraryWithoutGetConfigIsRejectedAndUnloaded)
{
    DrvSetLibraryDirectory(Fakes / "nogetconfig");
    for (uint8_t kind : {uint8_t(ifIsa), uint8_t(ifLan)}) {
        int32_t handle = 0;
        EXPECT_EQ(DrvInit(kind, handle, TInitParams{}), 110 + kind);
        EXPECT_FALSE(IsLoaded(Fakes / "nogetconfig" / LibFiles[kind]));
        EXPECT_EQ(handle, 0);
        // Nothing of the rejected library stays callable.
        TDataArray reply{};
        int32_t x = 0, status = 0;
        EXPECT_EQ(DrvSend(kind, 1, TDataArray{}, reply, x, status), 10);
        TDataArray text{};
        DrvErrorText(kind, 110u + kind, text);
        EXPECT_EQ(Text(text),
                  kind == ifIsa ? "chybná knihovna QPCI417.DLL" : "chybná knihovna QLX1417.DLL");
    }
}

TEST(BindingLoad, KindAboveFourLoadsNothingAndCallsNothing)
{
    int32_t handle = 0;
    EXPECT_EQ(DrvInit(5, handle, TInitParams{}), 10);

    DrvSetLibraryDirectory(Fakes / "full");
    fake_state *s = nullptr;
    ASSERT_EQ(DrvInit(ifCom, handle, TInitParams{}), 0);
    s = LoadedFake(Fakes / "full" / LibFiles[ifCom]);
    ASSERT_NE(s, nullptr);
    const std::string before = s->log;

    TDataArray reply{};
    int32_t x = 0, status = 0;
    EXPECT_EQ(DrvSetConfig(5, handle, 9600, 200, 2), 10);
    EXPECT_EQ(DrvSend(5, handle, TDataArray{}, reply, x, status), 10);
    EXPECT_EQ(DrvDone(5, handle), 10);
    EXPECT_EQ(std::string(s->log), before);
    EXPECT_TRUE(IsLoaded(Fakes / "full" / LibFiles[ifCom]));
}

TEST_F(Binding, EachKindCallsInitInItsOwnForm)
{
    TInitParams params{};
    params[0] = 3;
    int32_t handle = 0;
    ASSERT_EQ(DrvInit(ifCom, handle, params), 0);
    fake_state *s = LoadedFake(Fakes / "full" / LibFiles[ifCom]);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->init_form, 1);
    EXPECT_EQ(s->init_param, 3);
    EXPECT_EQ(handle, 0x417);
    EXPECT_STREQ(s->log, "Init");

    params[0] = 0x2A0;
    ASSERT_EQ(DrvInit(ifIsa, handle, params), 0);
    s = LoadedFake(Fakes / "full" / LibFiles[ifIsa]);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->init_form, 1);
    EXPECT_EQ(s->init_param, 0x2A0);

    ASSERT_EQ(DrvInit(ifUsb, handle, TInitParams{}), 0);
    s = LoadedFake(Fakes / "full" / LibFiles[ifUsb]);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->init_form, 2);

    // The LAN form gets the whole block, the IP text reachable through it.
    const std::string ip = "127.0.0.1";
    TInitParams lan{};
    q417_params_set_text(lan.data(), ip.c_str());
    lan[1] = 5000;
    lan[2] = 1000;
    ASSERT_EQ(DrvInit(ifLan, handle, lan), 0);
    s = LoadedFake(Fakes / "full" / LibFiles[ifLan]);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->init_form, 3);
    EXPECT_STREQ(s->init_ip_text, "127.0.0.1");
    EXPECT_EQ(s->init_params[1], 5000);
    EXPECT_EQ(s->init_params[2], 1000);
    for (int i = 4; i < 16; ++i)
        EXPECT_EQ(s->init_params[i], 0) << i;
}

TEST_F(Binding, ArgumentsReachTheEntriesInOrder)
{
    int32_t handle = 0;
    fake_state *s = Open(ifCom, handle);
    ASSERT_NE(s, nullptr);

    s->setconfig_result = 0;
    EXPECT_EQ(DrvSetConfig(ifCom, handle, 4800, 250, 2), 0);
    EXPECT_EQ(s->setconfig_args[0], 0x417);
    EXPECT_EQ(s->setconfig_args[1], 4800);
    EXPECT_EQ(s->setconfig_args[2], 250);
    EXPECT_EQ(s->setconfig_args[3], 2);
    s->setconfig_result = 4;
    EXPECT_EQ(DrvSetConfig(ifCom, handle, 115200, 100, 2), 4);

    s->done_result = 6;
    s->done_handle_out = 0;
    EXPECT_EQ(DrvDone(ifCom, handle), 6);
    EXPECT_EQ(s->done_handle, 0x417);
    EXPECT_EQ(handle, 0);
    EXPECT_STREQ(s->log, "Init SetConfig SetConfig Done");
    // Unloaded even though Done failed.
    Release();
    EXPECT_FALSE(IsLoaded(Fakes / "full" / LibFiles[ifCom]));
}

TEST_F(Binding, StaleLibraryOfFailedInitIsUnloadedByTheNextInit)
{
    // Hold an extra reference so the fake's state survives the binding's
    // unload, and make its Init fail.
    const fs::path com = Fakes / "full" / LibFiles[ifCom];
    keep = fakeload::Load(com);
    ASSERT_NE(keep, nullptr);
    fake_state *s = fakeload::State(keep);
    ASSERT_NE(s, nullptr);
    s->init_result = 5;

    int32_t handle = 0;
    EXPECT_EQ(DrvInit(ifCom, handle, TInitParams{}), 5);
    EXPECT_EQ(handle, 0);
    // The failed library still describes its own code.
    TDataArray text{};
    EXPECT_EQ(DrvErrorText(ifCom, 5, text), 0);
    EXPECT_EQ(Text(text), "fake error 5");
    EXPECT_EQ(s->error_code, 5);

    // The next attempt releases it: only our own reference is left.
    EXPECT_EQ(DrvInit(ifPci, handle, TInitParams{}), 0);
    Release();
    EXPECT_FALSE(IsLoaded(com));
}

TEST(BindingText, CodesWithoutLibraryAndProgramCodes)
{
    TDataArray text;
    text.fill(42);
    EXPECT_EQ(DrvErrorText(ifCom, 10, text), 10);
    EXPECT_EQ(DrvErrorText(ifCom, 0, text), 10);
    for (int32_t v : text)
        EXPECT_EQ(v, 42);

    struct Row {
        uint32_t code;
        const char *text;
    };
    const Row rows[] = {
        {104, "chyba inicializace knihovny QLX1417.DLL"},
        {100, "chyba inicializace knihovny QCOM417.DLL"},
        {110, "chybná knihovna QCOM417.DLL"},
        {114, "chybná knihovna QLX1417.DLL"},
        {105, "neznámý chybový kód"},
        {109, "neznámý chybový kód"},
        {115, "neznámý chybový kód"},
        {200, "neznámý chybový kód"},
        {255, "neznámý chybový kód"},
        {0xFFFFFFFFu, "neznámý chybový kód"},
    };
    for (const Row &r : rows) {
        EXPECT_EQ(DrvErrorText(7, r.code, text), 0) << r.code;
        EXPECT_EQ(Text(text), r.text) << r.code;
    }
}

TEST_F(Binding, LibraryCodesAreTheLibrarysText)
{
    int32_t handle = 0;
    fake_state *s = Open(ifLan, handle);
    ASSERT_NE(s, nullptr);
    TDataArray text{};
    EXPECT_EQ(DrvErrorText(ifLan, 0, text), 0);
    EXPECT_EQ(Text(text), "fake error 0");
    EXPECT_EQ(DrvErrorText(ifLan, 99, text), 0);
    EXPECT_EQ(Text(text), "fake error 99");
    EXPECT_EQ(DrvErrorText(ifLan, 104, text), 0);
    EXPECT_EQ(Text(text), "chyba inicializace knihovny QLX1417.DLL");
}

// --- ModuleCall ---------------------------------------------------------

TEST_F(Binding, ModuleCallPacksTheRequestAndUnpacksTheAnswer)
{
    int32_t handle = 0;
    fake_state *s = Open(ifUsb, handle);
    ASSERT_NE(s, nullptr);
    s->send_reply[0] = 0x12;
    s->send_reply[1] = 0x34;
    s->send_reply[2] = 0x156; // only the low byte counts
    s->send_reply[3] = 0x78;
    s->send_x = 0x1FF;

    uint8_t x = 0xAA, d0 = 1, d1 = 2, d2 = 3, d3 = 4, status = 99;
    TDataArray reply{};
    ModuleCall(ifUsb, handle, 0x2C, CmdWriteRegister, SubNone, x, d0, d1, d2, d3, status, reply);

    EXPECT_EQ(s->send_handle, 0x417);
    const int32_t expected[] = {0x2C, 103, 0, 0xAA, 1, 2, 3, 4};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(s->send_request[i], expected[i]) << i;
    for (int i = 8; i < 100; ++i)
        EXPECT_EQ(s->send_request[i], 0) << i;

    EXPECT_EQ(status, 0);
    EXPECT_EQ(x, 0xFF);
    EXPECT_EQ(d0, 0x12);
    EXPECT_EQ(d1, 0x34);
    EXPECT_EQ(d2, 0x56);
    EXPECT_EQ(d3, 0x78);
    EXPECT_EQ(reply[2], 0x156); // the caller's array holds the whole answer
}

TEST_F(Binding, ModuleCallFailureZeroesTheBytes)
{
    int32_t handle = 0;
    fake_state *s = Open(ifUsb, handle);
    ASSERT_NE(s, nullptr);
    s->send_reply[0] = 0x12;
    s->send_x = 0x33;

    struct Row {
        int32_t result, status;
        uint8_t expected;
    };
    // The return value overrides the delivered status; a code that does not
    // fit 8 bits must not pass for success.
    const Row rows[] = {{7, 0, 7},     {0, 5, 5},     {3, 5, 3},    {256, 0, 255},
                        {0, 256, 255}, {0, 512, 255}, {-1, 0, 255}, {0, -256, 255}};
    for (const Row &r : rows) {
        s->send_result = r.result;
        s->send_status = r.status;
        uint8_t x = 9, d0 = 9, d1 = 9, d2 = 9, d3 = 9, status = 0;
        TDataArray reply{};
        ModuleCall(ifUsb, handle, 1, CmdReadInputs, SubChannels, x, d0, d1, d2, d3, status, reply);
        EXPECT_EQ(status, r.expected) << r.result << "/" << r.status;
        EXPECT_EQ(x | d0 | d1 | d2 | d3, 0) << r.result << "/" << r.status;
    }
    TDataArray text{};
    DrvErrorText(ifUsb, 255, text);
    EXPECT_EQ(Text(text), "neznámý chybový kód");
}

TEST_F(Binding, ModuleCallWithoutHandleSendsNothingAndChangesNothing)
{
    int32_t handle = 0;
    fake_state *s = Open(ifCom, handle);
    ASSERT_NE(s, nullptr);
    uint8_t x = 1, d0 = 2, d1 = 3, d2 = 4, d3 = 5, status = 6;
    TDataArray reply;
    reply.fill(7);
    ModuleCall(ifCom, 0, 1, CmdReadStatus, SubNone, x, d0, d1, d2, d3, status, reply);
    EXPECT_EQ(s->send_count, 0);
    EXPECT_EQ((std::array<int, 6>{x, d0, d1, d2, d3, status}),
              (std::array<int, 6>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(reply[0], 7);
}

namespace
{

// An array with guard elements on both sides, laid out without gaps, so a
// library writing past the array lands in `after`.
struct Guarded {
    static constexpr int32_t Mark = 0x6B6B6B6B;
    std::array<int32_t, 16> before;
    TDataArray a;
    std::array<int32_t, 400> after;
    Guarded()
    {
        before.fill(Mark);
        a.fill(-1);
        after.fill(Mark);
    }
    int Spoilt() const
    {
        int n = 0;
        for (int32_t v : before)
            n += v != Mark;
        for (int32_t v : after)
            n += v != Mark;
        return n;
    }
};
static_assert(offsetof(Guarded, after) == offsetof(Guarded, a) + sizeof(TDataArray));

} // namespace

TEST_F(Binding, LibraryWritingPastTheArraysLeavesTheirNeighboursAlone)
{
    int32_t handle = 0;
    fake_state *s = Open(ifUsb, handle);
    ASSERT_NE(s, nullptr);
    s->send_reply[0] = 0x12;
    s->send_reply[3] = 0x78;
    s->send_reply_len = 300;
    s->error_text_len = 400;

    const auto expectWholeReply = [](const TDataArray &reply) {
        EXPECT_EQ(reply[0], 0x12);
        EXPECT_EQ(reply[3], 0x78);
        for (int i = 4; i < 100; ++i)
            ASSERT_EQ(reply[i], FAKE_FILL(i)) << i;
    };

    Guarded reply;
    uint8_t x = 0, d0 = 0, d1 = 0, d2 = 0, d3 = 0, status = 1;
    ModuleCall(ifUsb, handle, 1, CmdReadInputs, SubChannels, x, d0, d1, d2, d3, status, reply.a);
    EXPECT_EQ(reply.Spoilt(), 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(d0, 0x12);
    expectWholeReply(reply.a);

    Guarded request, direct;
    request.a.fill(0);
    request.a[0] = 7;
    request.a[1] = CmdReadStatus;
    int32_t xOut = 0, sendStatus = 1;
    EXPECT_EQ(DrvSend(ifUsb, handle, request.a, direct.a, xOut, sendStatus), 0);
    EXPECT_EQ(direct.Spoilt(), 0);
    EXPECT_EQ(request.Spoilt(), 0);
    EXPECT_EQ(s->send_request[0], 7);
    EXPECT_EQ(s->send_request[1], CmdReadStatus);
    expectWholeReply(direct.a);

    // The text keeps its first 98 characters and ends inside the array.
    Guarded text;
    EXPECT_EQ(DrvErrorText(ifUsb, 5, text.a), 0);
    EXPECT_EQ(text.Spoilt(), 0);
    std::string expected;
    for (int i = 0; i < 98; ++i)
        expected += char(FAKE_TEXT_CHAR(i));
    EXPECT_EQ(Text(text.a), expected);
    EXPECT_EQ(text.a[99], 0);
}

TEST(BindingModuleCall, NoLibraryLoadedGivesTen)
{
    uint8_t x = 1, d0 = 2, d1 = 3, d2 = 4, d3 = 5, status = 0;
    TDataArray reply{};
    ModuleCall(ifCom, 1, 1, CmdReadInputs, SubChannels, x, d0, d1, d2, d3, status, reply);
    EXPECT_EQ(status, 10);
    EXPECT_EQ(x | d0 | d1 | d2 | d3, 0);
}

// --- Library search ----------------------------------------------------

// A library planted in or below the directory the user started from must
// never be loaded: on Windows the loader's default search would take it
// from there; on POSIX the loader's own search would when LD_LIBRARY_PATH
// has an empty or relative entry. Separate CTest entries run this with
// LD_LIBRARY_PATH ":.", "sub", "./sub" and "sub:/usr/lib": the loader reads
// it once, at start-up.
TEST(Planting, LibraryBelowWorkingDirectoryIsNeverLoaded)
{
    const fs::path dir =
        fs::temp_directory_path() / ("korval-plant-" + std::to_string(fakeload::ProcessId()));
    const fs::path old = fs::current_path();
    fs::create_directories(dir / "sub");
    fs::current_path(dir);

    DrvSetLibraryDirectory(Fakes / "empty");
    for (const char *where : {".", "sub"}) {
        const fs::path planted = dir / where / LibFiles[ifUsb];
        fs::copy_file(Fakes / "full" / LibFiles[ifUsb], planted,
                      fs::copy_options::overwrite_existing);
        int32_t handle = 0;
        EXPECT_EQ(DrvInit(ifUsb, handle, TInitParams{}), 100 + ifUsb) << where;
        EXPECT_FALSE(IsLoaded(planted)) << where;
        fs::remove(planted);
    }

    // Where the drivers belong, they still load.
    DrvSetLibraryDirectory(Fakes / "full");
    int32_t handle = 0;
    EXPECT_EQ(DrvInit(ifUsb, handle, TInitParams{}), 0);
    EXPECT_TRUE(IsLoaded(Fakes / "full" / LibFiles[ifUsb]));
    DrvDone(ifUsb, handle);

    fs::current_path(old);
    fs::remove_all(dir);
}
