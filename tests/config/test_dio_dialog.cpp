// The digital I/O configuration dialog against the fake driver: the order
// of the twelve registers, the bit of every check box, failures part way.
#include "ConfigTest.h"
#include "NastavDIO.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QGroupBox>

namespace {

using DioDialog = DialogTest<TForm14>;

// Step k: its register and the configuration byte that register carries.
constexpr int Registers[12] = {32, 35, 38, 41, 33, 36, 39, 42, 34, 37, 40, 43};
constexpr int Bytes[12] = {10, 11, 12, 13, 2, 3, 4, 5, 6, 7, 8, 9};

uint8_t Byte(const TModuleConfig &c, int i)
{
    return reinterpret_cast<const uint8_t *>(&c)[i];
}

std::vector<uint8_t> InWriteOrder(const TModuleConfig &c)
{
    std::vector<uint8_t> out;
    for (int b : Bytes)
        out.push_back(Byte(c, b));
    return out;
}

// Check box m shows bit (m-1) mod 8 of byte 2 + (m-1) div 8.
void ExpectBoxesShow(const TForm14 &d, const TModuleConfig &c)
{
    for (int m = 1; m <= 96; ++m)
        EXPECT_EQ(d.CheckBox(m)->isChecked(), (Byte(c, 2 + (m - 1) / 8) >> ((m - 1) % 8)) & 1)
            << "CheckBox" << m;
}

TEST_F(DioDialog, BoxesInThreeGroupsOfTwoColumns)
{
    const QGroupBox *groups[] = {dialog.GroupBox1, dialog.GroupBox2, dialog.GroupBox3};
    EXPECT_EQ(groups[0]->title(), " Negace DIN ");
    EXPECT_EQ(groups[1]->title(), "Negace DOUT ");
    EXPECT_EQ(groups[2]->title(), " Počáteční stav DOUT ");
    for (int m = 1; m <= 96; ++m) {
        auto *box = dialog.findChild<QCheckBox *>(QString("CheckBox%1").arg(m));
        ASSERT_NE(box, nullptr) << m;
        EXPECT_EQ(box->parentWidget(), groups[(m - 1) / 32]) << m;
        EXPECT_EQ(box->text(), (m <= 32 ? "DIN" : "DOUT") + QString::number((m - 1) % 32)) << m;
    }
    const auto y = [this](int m) { return dialog.CheckBox(m)->y(); };
    EXPECT_EQ(y(17), y(1));
    EXPECT_GT(y(9) - y(8), y(8) - y(7));
    EXPECT_GT(y(25) - y(24), y(24) - y(23));
    ExpectBoxesShow(dialog, ModuleConfigDefaults());
}

TEST_F(DioDialog, ReadGoesSettingBySettingAndSetsEveryBit)
{
    for (int k = 0; k < 12; ++k)
        Answer(k, Registers[k] == 33 ? 0x81 : (Registers[k] * 37 + 5) & 0xFF);
    dialog.Button2Click();
    std::vector<Request> expected;
    for (int reg : Registers)
        expected.push_back(Rq(102, reg));
    EXPECT_EQ(Sent(fake), expected);
    EXPECT_EQ(painted.texts, Progress(false, 12));
    for (int k = 0; k < 12; ++k)
        EXPECT_EQ(Byte(dialog.WorkingConfig(), Bytes[k]), fake->script[k].d[2]) << Registers[k];
    ExpectBoxesShow(dialog, dialog.WorkingConfig());
    EXPECT_TRUE(dialog.CheckBox(1)->isChecked() && dialog.CheckBox(8)->isChecked());
    EXPECT_FALSE(dialog.CheckBox(2)->isChecked());
}

TEST_F(DioDialog, ReadFailingAtRegister36KeepsTheRestAsItWas)
{
    for (int k = 0; k < 5; ++k)
        Answer(k, 0x5A);
    Answer(5, 0, 21);
    dialog.CheckBox(40)->setChecked(false); // not taken by "Přečíst"
    dialog.Button2Click();
    ASSERT_EQ(fake->send_count, 6);
    EXPECT_EQ(std::to_array(fake->requests[5]), Rq(102, 36));
    EXPECT_EQ(Status(), " fake error 21");
    TModuleConfig expected = ModuleConfigDefaults();
    expected.DoutInitState = {0x5A, 0x5A, 0x5A, 0x5A};
    expected.DinNegation[0] = 0x5A;
    EXPECT_EQ(dialog.WorkingConfig(), expected);
    ExpectBoxesShow(dialog, expected);
}

TEST_F(DioDialog, WriteSendsAllTwelveWithReadBackAndPauses)
{
    dialog.CheckBox(1)->setChecked(false);
    dialog.CheckBox(96)->setChecked(true);
    TModuleConfig c = ModuleConfigDefaults();
    c.DinNegation[0] = 0xFE;
    c.DoutInitState[3] = 0x80;
    std::vector<Request> expected;
    for (int k = 0; k < 12; ++k) {
        expected.push_back(Rq(103, Registers[k], InWriteOrder(c)[k]));
        expected.push_back(Rq(102, Registers[k]));
    }
    AcceptWrites(InWriteOrder(c));
    QElapsedTimer clock;
    clock.start();
    dialog.Button1Click();
    EXPECT_GE(clock.elapsed(), 24); // 1 ms after each write and each verified step
    EXPECT_EQ(Sent(fake), expected);
    EXPECT_EQ(painted.texts, QStringList{" "} + Progress(true, 12));
    EXPECT_EQ(data.ModuleConfig, ModuleConfigDefaults());
}

TEST_F(DioDialog, WriteStopsAtTheFirstFailure)
{
    struct Row {
        int exchange;   // 0-based
        int32_t status; // 0: the read-back gives another value
        QString text;
    } rows[] = {{0, 7, " fake error 7"}, {9, 0, " Chyba zápisu dat."}, {22, 5, " fake error 5"}};
    for (const Row &r : rows) {
        fake->send_count = 0;
        std::fill(std::begin(fake->script), std::end(fake->script), fake_reply{});
        AcceptWrites(InWriteOrder(ModuleConfigDefaults()));
        Answer(r.exchange, 0x12, r.status);
        dialog.Button1Click();
        EXPECT_EQ(fake->send_count, r.exchange + 1) << r.exchange;
        EXPECT_EQ(Status(), r.text) << r.exchange;
    }
}

TEST_F(DioDialog, OkWithoutAModuleKeepsTheBoxesAndCarriesAddressAndBaud)
{
    data.Connected = false;
    data.ModuleConfig.Address = 77;
    data.ModuleConfig.BaudCode = 3;
    dialog.FormShow();
    dialog.ZapisData(ModuleConfigDefaults()); // silent without a usable connection
    EXPECT_EQ(Status(), " ");
    dialog.Button2Click();
    EXPECT_EQ(Status(), TextNotInitialised);
    dialog.CheckBox(33)->setChecked(false);
    dialog.CheckBox(70)->setChecked(true);
    dialog.Button3Click();
    EXPECT_FALSE(dialog.isVisible());
    TModuleConfig expected = ModuleConfigDefaults();
    expected.Address = 77;
    expected.BaudCode = 3;
    expected.DoutNegation[0] = 0xFE;
    expected.DoutInitState[0] = 0x20;
    EXPECT_EQ(data.ModuleConfig, expected);
    EXPECT_EQ(fake->send_count, 0);
}

} // namespace
