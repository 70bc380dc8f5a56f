// The traffic log window, opened from the main window's menu, while the
// output panel writes the in-process simulated module (address 1): a line
// per exchange, pause and resume, clear, and saved files byte for byte
// what korvalctl's --trace sink writes for the same exchanges.
#include "AppTest.h"
#include "ExchangeHook.h"
#include "Hlavni.h"
#include "OkamDOUT.h"
#include "TraceFile.h"
#include "Zaznam.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QTableView>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

namespace
{

QString StatusText(const QWidget &w)
{
    return w.findChild<QLabel *>("StatusBar1Panel0")->text();
}

std::string Slurp(const QString &path)
{
    std::ifstream in(path.toStdString(), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class TrafficLog : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_NE(w.Data, nullptr);
        DrvSetLibraryDirectory(BIN_DIR);
        ASSERT_EQ(DrvInit(ifUsb, w.Data->Handle, TInitParams{}), 0);
        ASSERT_EQ(DrvSetConfig(ifUsb, w.Data->Handle, 9600, 200, 2), 0);
        w.Data->Kind = ifUsb;
        w.Data->Address = 1;
        w.Data->Connected = true;
        w.ZaznamKomunikace1->trigger();
        log = w.findChild<TZaznam *>();
        ASSERT_NE(log, nullptr);
    }
    void TearDown() override { DrvDone(ifUsb, w.Data->Handle); }

    // Opens the output panel and presses "Zapsat" once per word; true when
    // the log stayed in view throughout.
    bool WriteOutputs(std::vector<uint32_t> words)
    {
        bool visible = true;
        OnShow<TForm9> panel([&](TForm9 *p) {
            for (uint32_t word : words) {
                for (int n = 0; n < 32; ++n)
                    p->findChild<QCheckBox *>(QStringLiteral("CheckBox%1").arg(n + 1))
                        ->setChecked((word >> n) & 1u);
                p->Button1Click();
                EXPECT_EQ(StatusText(*p), " Data zapsána");
            }
            visible = visible && log->isVisible();
        });
        w.OkamDOUT1->trigger();
        EXPECT_EQ(panel.count, 1);
        log->Timer1Timer();
        return visible;
    }

    int Rows() const { return log->TableView1->model()->rowCount(); }
    std::string Row(int i) const
    {
        const auto *m = log->TableView1->model();
        return m->data(m->index(i, 0)).toString().toStdString();
    }

    TForm1 w; // never closed: closing would save the settings file
    TZaznam *log = nullptr;
};

TEST_F(TrafficLog, ShowsEachWriteOfTheOutputPanelLiveBesideTheDialog)
{
    const int before = Rows(); // the panel's opening may read the module
    EXPECT_TRUE(WriteOutputs({0x00000001, 0x80000100}));
    ASSERT_EQ(Rows(), before + 2);
    const std::string first = Row(before), second = Row(before + 1);
    EXPECT_NE(first.find("zápis výstupů = 0x00000001"), std::string::npos) << first;
    EXPECT_NE(second.find("zápis výstupů = 0x80000100"), std::string::npos) << second;
    // The request's D0..D3 as sent, and the driver's text of a good answer.
    EXPECT_NE(second.find("00 00 01 00 80"), std::string::npos) << second;
    EXPECT_NE(second.find("  0 V pořádku"), std::string::npos) << second;
    EXPECT_EQ(log->findChild<QLabel *>("Label1")->text(),
              QStringLiteral("Zobrazeno posledních 100 000 výměn"));
}

TEST_F(TrafficLog, PauseStopsTheLinesAndResumeContinues)
{
    WriteOutputs({1});
    const int before = Rows();
    log->Button1->click();
    EXPECT_EQ(log->Button1->text(), QStringLiteral("&Pokračovat"));
    WriteOutputs({2, 3});
    EXPECT_EQ(Rows(), before);

    log->Button1->click();
    EXPECT_EQ(log->Button1->text(), QStringLiteral("&Pozastavit"));
    WriteOutputs({4});
    ASSERT_EQ(Rows(), before + 1);
    EXPECT_NE(Row(before).find("= 0x00000004"), std::string::npos);
}

TEST_F(TrafficLog, ClearEmptiesAlsoWhatIsNotShownYet)
{
    WriteOutputs({1});
    ASSERT_GT(Rows(), 0);
    uint32_t word = 0;
    ReadInputs({w.Data->Kind, w.Data->Handle, 1}, word); // queued, the timer not yet run
    log->Button2->click();
    EXPECT_EQ(Rows(), 0);
    log->Timer1Timer();
    EXPECT_EQ(Rows(), 0);
    WriteOutputs({5});
    EXPECT_GT(Rows(), 0);
}

TEST_F(TrafficLog, SavesTheBytesKorvalctlTracesInBothFormats)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    log->Button2->click();
    for (TTraceFormat format : {TTraceFormat::Text, TTraceFormat::Csv}) {
        const bool csv = format == TTraceFormat::Csv;
        const QString traced = dir.filePath(csv ? "traced.csv" : "traced.txt");
        const QString saved = dir.filePath(csv ? "saved.CSV" : "saved.log");
        log->Button2->click();
        {
            // korvalctl's file sink, listening on the same hook.
            std::FILE *out = std::fopen(traced.toLocal8Bit().constData(), "wb");
            ASSERT_NE(out, nullptr);
            auto trace = std::make_unique<TTrace>(out, format);
            AddExchangeObserver(trace.get());
            WriteOutputs({0x12345678, 0});
            uint32_t word = 0;
            ReadInputs({w.Data->Kind, w.Data->Handle, 1}, word);
            ReadInputs({w.Data->Kind, w.Data->Handle, 42}, word); // nobody there: a failure line
            RemoveExchangeObserver(trace.get());
            trace.reset();
            std::fclose(out);
        }
        log->AskSavePath = [&] { return saved; };
        log->Button3->click();
        const std::string expected = Slurp(traced);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(Slurp(saved), expected);
        EXPECT_NE(StatusText(*log).indexOf(QStringLiteral("Záznam uložen")), -1);
    }
}

TEST_F(TrafficLog, CancelledOrFailedSaveWritesNothing)
{
    WriteOutputs({1});
    log->AskSavePath = [] { return QString(); };
    const QString before = StatusText(*log);
    log->Button3->click();
    EXPECT_EQ(StatusText(*log), before);
    log->AskSavePath = [] { return QStringLiteral("/nonexistent-dir/x.txt"); };
    log->Button3->click();
    EXPECT_TRUE(StatusText(*log).startsWith(QStringLiteral(" Záznam se nepodařilo uložit")));
}

} // namespace
