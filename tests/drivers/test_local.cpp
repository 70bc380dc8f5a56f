// The in-process drivers (ISA, PCI, USB) through the program's binding:
// each holds one simulated module at address 1.
#include "FakeLoader.h"
#include "Session.h"
#include "SimModule.h"

#include <gtest/gtest.h>

namespace {

class InProcess : public ::testing::TestWithParam<uint8_t> {
protected:
    void SetUp() override
    {
        ASSERT_EQ(s_.OpenPlain(), 0);
        ASSERT_EQ(s_.Configure(9600, 250), 0);
    }
    Session s_{GetParam()};
};

TEST_P(InProcess, AnswersWithTheModuleIdentity)
{
    const SimModule::Identity id = SimModule::DefaultIdentity();
    const std::string expected = std::string(id.name.begin(), id.name.end()) + ' ' +
                                 std::string(id.version.begin(), id.version.end());
    EXPECT_EQ(s_.Identity(1), expected);
}

TEST_P(InProcess, RegisterWriteReadsBackAndRefusalsArriveAsModuleStatus)
{
    EXPECT_EQ(s_.WriteRegister(1, RegDinNegation(2), 0x3C).status, 0);
    const Answer a = s_.ReadRegister(1, RegDinNegation(2));
    EXPECT_EQ(a.status, 0);
    EXPECT_EQ(a.d[2], 0x3C);
    // The module's refusals complete the exchange and keep their own codes.
    EXPECT_EQ(s_.ReadRegister(1, 50).status, Q417_E_MOD_REG);
    EXPECT_EQ(s_.Call(1, CmdWriteRegister, SubNone, 0, {33, 34, 1, 1}).status, Q417_E_MOD_COPY);
    EXPECT_EQ(s_.Call(1, 77, SubNone).status, Q417_E_MOD_CMD);
}

TEST_P(InProcess, OutputsComeBackOnTheInputs)
{
    const uint32_t pattern = 0xA50F3C81;
    EXPECT_EQ(s_.Call(1, CmdWriteOutputs, SubChannels, 0, Bytes(pattern)).status, 0);
    const Answer in = s_.Call(1, CmdReadInputs, SubChannels);
    EXPECT_EQ(in.status, 0);
    EXPECT_EQ(Word(in.d), pattern);
}

TEST_P(InProcess, NoModuleAtAnotherAddress)
{
    Answer a;
    const auto took = Elapsed([&] { a = s_.Call(2, CmdReadIdentity, 0); });
    EXPECT_EQ(a.status, Q417_E_TIMEOUT);
    EXPECT_LT(took.count(), 250);
    EXPECT_EQ(s_.Text(a.status), "modul neodpovídá (vypršel časový limit)");
}

// The module keeps its state across connections while the library stays
// loaded, and starts afresh once the program has unloaded it.
TEST_P(InProcess, ModuleStateLastsAsLongAsTheLibrary)
{
    const char *names[] = {"", "QPCI417.DLL", "QPCI1417.DLL", "QUSB1417.DLL"};
    const std::string file = std::string(DRIVER_DIR) + "/" + fakeload::FileName(names[GetParam()]);
    ASSERT_EQ(s_.WriteRegister(1, RegDoutInitState(0), 0x81).status, 0);

    // An extra reference holds the library over a Done and a new Init.
    fakeload::Handle pin = fakeload::IfLoaded(file);
    ASSERT_NE(pin, nullptr);
    s_.Close();
    ASSERT_EQ(s_.OpenPlain(), 0);
    EXPECT_EQ(s_.ReadRegister(1, RegDoutInitState(0)).d[2], 0x81);
    s_.Close();
    fakeload::Release(pin);

    ASSERT_EQ(s_.OpenPlain(), 0);
    EXPECT_EQ(s_.ReadRegister(1, RegDoutInitState(0)).d[2], 0x00);
}

INSTANTIATE_TEST_SUITE_P(Kinds, InProcess, ::testing::Values(ifIsa, ifPci, ifUsb),
                         [](const auto &p) { return "Kind" + std::to_string(p.param); });

} // namespace
