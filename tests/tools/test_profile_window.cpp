// The profile window with the real LAN driver and the simulator on
// 127.0.0.1 (modules at 3 and 5, none at 4): a save, comparison and restore
// round trip, what a dry run, a cancel, a stop and a silent module leave
// behind, a clone over a list with a gap, and input that must send nothing.
#include "Profil.h"
#include "Session.h"
#include "SimProcess.h"
#include "WindowKit.h"

#include "ConfigProfile.h"
#include "ConfigText.h"
#include "ExchangeHook.h"
#include "Module.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace
{

std::string Slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Every exchange any operation makes, as the traffic log hears it.
struct Exchanges : TTraceSink {
    struct One {
        uint8_t Address, Cmd, Register;
    };
    std::vector<One> list;
    Exchanges() { AddExchangeObserver(this); }
    ~Exchanges() override { RemoveExchangeObserver(this); }
    void Exchange(const TModuleLink &link, const TModuleStep &step, const std::string &) override
    {
        list.push_back({link.Address, step.Cmd, step.Request[0]});
    }
    std::size_t Writes() const
    {
        return std::size_t(std::count_if(list.begin(), list.end(),
                                         [](const One &o) { return o.Cmd == CmdWriteRegister; }));
    }
};

class ProfileWindow : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        sim = std::make_unique<simtest::SimProcess>(
            SIM_EXE, std::vector<std::string>{"--udp-port", "0", "--module", "3", "--module", "5"});
        ASSERT_TRUE(sim->Ready()) << sim->Failure();
        // A short reply time-out: the clone waits it out at the empty address.
        ASSERT_EQ(lan.OpenLan("127.0.0.1", sim->UdpPort(), 200), 0);
        ASSERT_EQ(lan.Configure(9600, 200), 0);
        data.Kind = ifLan;
        data.IpAddress = "127.0.0.1";
        data.UdpPort = sim->UdpPort();
        data.Address = 3;
        data.BaudRate = 9600;
        data.Handle = lan.Handle();
        data.Connected = true;
        data.ModuleName = Name(3);
        window = std::make_unique<TProfil>();
        window->Data = &data;
        window->OpenFileName = [this] { return QString::fromStdString(openPath); };
        window->SaveFileName = [this] { return QString::fromStdString(savePath); };
        window->Confirm = [](const QString &) {
            ADD_FAILURE() << "asked to confirm";
            return false;
        };
    }

    // As the connection dialog reads it.
    std::string Name(uint8_t address)
    {
        std::string name;
        EXPECT_TRUE(ReadIdentity({ifLan, lan.Handle(), address}, name).Ok());
        return name;
    }
    TModuleConfig Module(uint8_t address)
    {
        TModuleConfig c{};
        const TModuleLink link{data.Kind, data.Handle, address};
        EXPECT_TRUE(ReadRegisters(link, RestoredRegisters(true), c).Ok());
        return c;
    }
    void Set(uint8_t address, uint8_t reg, uint8_t value)
    {
        ASSERT_EQ(lan.WriteRegister(address, reg, value).status, 0);
    }
    QStringList Column(const QTableWidget *t, int column) const
    {
        QStringList texts;
        for (int row = 0; row < t->rowCount(); ++row)
            texts << (t->item(row, column) ? t->item(row, column)->text() : QString("<none>"));
        return texts;
    }
    // The register numbers whose row carries the mark `mark`.
    QStringList Marked(const QString &mark = "*") const
    {
        QStringList numbers;
        for (int row = 0; row < window->Table1->rowCount(); ++row)
            if (window->Table1->item(row, TProfil::ColMark)->text() == mark)
                numbers << window->Table1->item(row, TProfil::ColRegister)->text();
        return numbers;
    }
    QString Status() const { return window->StatusBar1->Text(); }
    std::string Path(const std::string &name) const { return dir.Path() + "/" + name; }

    Session lan{ifLan};
    std::unique_ptr<simtest::SimProcess> sim;
    TData data;
    std::unique_ptr<TProfil> window;
    simtest::TempDir dir;
    std::string openPath, savePath;
};

TEST_F(ProfileWindow, SaveCompareRestoreAndCompareAgain)
{
    Set(3, 32, 0x81); // dout-init 0 and 7
    savePath = openPath = Path("line3.profile");
    window->Button1->click();
    const std::string saved = Slurp(savePath);
    EXPECT_EQ(saved, FormatProfile({data.ModuleName, Module(3)}));
    EXPECT_EQ(Status(), QString::fromStdString(" Uloženo do " + savePath +
                                               ": DIO-3232 v.1.07, adresa 3, 9600 Bd."));

    window->Button2->click();
    EXPECT_TRUE(Marked().isEmpty());
    EXPECT_TRUE(Marked("i").isEmpty());
    EXPECT_EQ(window->Table1->rowCount(), 14);
    EXPECT_EQ(window->Table2->rowCount(), 0);
    EXPECT_EQ(Status(), QString::fromStdString(" Modul se shoduje se souborem " + openPath +
                                               " (12 registrů)."));

    // Input 13 no longer negated: register 36 (DIN 8-15), bit 5.
    Set(3, 36, 0xDF);
    window->Button2->click();
    EXPECT_EQ(Marked(), QStringList{"36"});
    const int row = int(Column(window->Table1, TProfil::ColRegister).indexOf("36"));
    EXPECT_EQ(window->Table1->item(row, TProfil::ColSetting)->text(), "Negace DIN 8-15");
    EXPECT_EQ(window->Table1->item(row, TProfil::ColModule)->text(), "223 (11011111)");
    EXPECT_EQ(window->Table1->item(row, TProfil::ColFile)->text(), "255 (11111111)");
    EXPECT_NE(window->Table1->item(row, TProfil::ColSetting)->background(),
              window->Table1->item(row + 1, TProfil::ColSetting)->background());
    ASSERT_EQ(window->Table2->rowCount(), 1);
    EXPECT_EQ((QStringList{window->Table2->item(0, 0)->text(), window->Table2->item(0, 1)->text(),
                           window->Table2->item(0, 2)->text(), window->Table2->item(0, 3)->text()}),
              (QStringList{"13", "negace DIN", "0", "1"}));
    EXPECT_EQ(Status(), " Liší se 1 z 12 registrů.");

    // The restore shows the dry run first, then writes every register.
    Exchanges sent;
    int asked = 0;
    window->Confirm = [&](const QString &question) {
        ++asked;
        EXPECT_EQ(sent.Writes(), 0u);
        EXPECT_EQ(Marked(), QStringList{"36"});
        EXPECT_TRUE(question.contains("12 registrů")) << question.toStdString();
        return true;
    };
    window->Button3->click();
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(sent.Writes(), 12u);
    EXPECT_EQ(window->ProgressBar1->value(), 12);
    EXPECT_EQ(Column(window->Table1, TProfil::ColWrite).count("zapsáno a ověřeno"), 12);
    EXPECT_EQ(Status(), QString::fromStdString(" Zapsáno a ověřeno zpětným čtením: 12 registrů "
                                               "ze souboru " + openPath + "."));
    EXPECT_EQ(Module(3).DinNegation[1], 0xFF);

    window->Button2->click();
    EXPECT_TRUE(Marked().isEmpty());
    EXPECT_EQ(window->Table2->rowCount(), 0);
    EXPECT_TRUE(Status().startsWith(" Modul se shoduje")) << Status().toStdString();
    EXPECT_EQ(data.Address, 3);
}

// The address of module 5 differs from the file's: shown for information
// only, compared and restored with the check box.
TEST_F(ProfileWindow, TheDryRunAndACancelWriteNothing)
{
    savePath = openPath = Path("line3.profile");
    window->Button1->click();
    data.Address = 5;
    data.ModuleName = Name(5);
    Set(5, 34, 0x0F);

    window->Button2->click();
    EXPECT_EQ(Marked(), QStringList{"34"});
    EXPECT_EQ(Marked("i"), QStringList{"63"});
    window->CheckBox1->setChecked(true);
    window->Button2->click();
    EXPECT_EQ(Marked(), (QStringList{"63", "34"}));
    EXPECT_EQ(Status(), " Liší se 2 z 14 registrů.");

    Exchanges sent;
    const TModuleConfig before = Module(5);
    QString question;
    window->Confirm = [&](const QString &q) {
        question = q;
        EXPECT_EQ(window->Table1->rowCount(), 14);
        EXPECT_EQ(Column(window->Table1, TProfil::ColModule).first(), "5");
        EXPECT_EQ(Column(window->Table1, TProfil::ColFile).first(), "3");
        return false;
    };
    window->Button3->click();
    EXPECT_EQ(sent.Writes(), 0u);
    EXPECT_TRUE(question.contains("Adresa 3 a rychlost 9600 Bd platí až po restartu modulu."))
        << question.toStdString();
    EXPECT_EQ(Status(), " Obnovení zrušeno, nic nebylo zapsáno.");
    const TModuleConfig after = Module(5);
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
    EXPECT_FALSE(window->Running());
}

TEST_F(ProfileWindow, AStoppedRestoreEndsAfterAReadBackAndSaysWhere)
{
    openPath = Path("a.profile");
    std::ofstream(openPath) << FormatProfile({"X", {}});
    window->Confirm = [](const QString &) { return true; };
    Exchanges sent;
    // Zastavit while the third register is being written: the restore ends
    // after its read-back, never between the two.
    auto whileWriting = [this](int row, QPushButton *b) {
        QObject::connect(window->Table1, &QTableWidget::itemChanged, b,
                         [this, row, b](QTableWidgetItem *item) {
                             if (item->row() == row && item->column() == TProfil::ColWrite &&
                                 item->text() == "zapisuji…")
                                 b->click();
                         });
    };
    whileWriting(2, window->Button5);
    window->Button3->click();
    const auto regs = ChannelRegisters();
    EXPECT_EQ(sent.Writes(), 3u);
    ASSERT_FALSE(sent.list.empty());
    EXPECT_EQ(sent.list.back().Cmd, CmdReadRegister) << "the last write was checked";
    EXPECT_EQ(Status(), QString(" Obnovení zastaveno po kroku 6/24. Zapsány a ověřeny registry: "
                                "%1, %2, %3. Registr %4 (%5) a další nebyly zapsány.")
                            .arg(regs[0].Register)
                            .arg(regs[1].Register)
                            .arg(regs[2].Register)
                            .arg(regs[3].Register)
                            .arg(QString::fromStdString(RegisterText(regs[3]))));
    EXPECT_EQ(Column(window->Table1, TProfil::ColWrite).count("zapsáno a ověřeno"), 3);
    EXPECT_FALSE(window->Running());
    EXPECT_EQ(Name(3), data.ModuleName) << "the connection stays usable";

    // A close while it runs stops first and closes after the read-back.
    QObject::disconnect(window->Table1, nullptr, window->Button5, nullptr);
    window->show();
    sent.list.clear();
    whileWriting(1, window->Button6);
    window->Button3->click();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(sent.Writes(), 2u);
    EXPECT_EQ(sent.list.back().Cmd, CmdReadRegister);
}

TEST_F(ProfileWindow, AModuleFallingSilentNamesTheRegisterThatStoppedTheRestore)
{
    openPath = Path("a.profile");
    std::ofstream(openPath) << FormatProfile({"X", {}});
    bool writing = false;
    window->Confirm = [&](const QString &) { return writing = true; };
    QObject::connect(window->ProgressBar1, &QProgressBar::valueChanged, window.get(),
                     [&](int v) {
                         if (v == 2 && writing)
                             sim->Signal(SIGSTOP);
                     });
    window->Button3->click();
    sim->Signal(SIGCONT);
    const auto regs = ChannelRegisters();
    const QString status = Status();
    EXPECT_TRUE(status.startsWith(QString(" Krok 5/24 (zápis registru %1").arg(regs[2].Register)))
        << status.toStdString();
    EXPECT_TRUE(status.contains(" selhal: ")) << status.toStdString();
    EXPECT_TRUE(status.endsWith(QString(" Zapsány a ověřeny registry: %1, %2.")
                                    .arg(regs[0].Register)
                                    .arg(regs[1].Register)))
        << status.toStdString();
    EXPECT_EQ(window->Table1->item(2, TProfil::ColWrite)->text(), "zápis selhal");
    EXPECT_EQ(window->Table1->item(3, TProfil::ColWrite)->text(), "");
    EXPECT_EQ(Name(3), data.ModuleName);
}

TEST_F(ProfileWindow, CloneGivesARowPerModuleAndKeepsTheRecordOnItsModule)
{
    Set(3, 32, 0x01);
    Set(3, 35, 0xFF);
    Set(3, 33, 0x00);
    savePath = openPath = Path("line3.profile");
    window->Button1->click();
    const TModuleConfig file = Module(3);
    auto sameChannels = [&](const TModuleConfig &c) {
        for (const TRegisterStep &r : ChannelRegisters())
            if (ConfigByte(c, r.Byte) != ConfigByte(file, r.Byte))
                return false;
        return true;
    };
    ASSERT_FALSE(sameChannels(Module(5)));

    // Stopped once the first module is done: the others untouched.
    QObject::connect(window->ProgressBar1, &QProgressBar::valueChanged, window->Button5,
                     [this](int v) {
                         if (v == 1 && window->Running())
                             window->Button5->click();
                     });
    window->Edit1->setText("5,4,3");
    window->Button4->click();
    EXPECT_EQ(Column(window->Table1, TProfil::ColAddress), (QStringList{"3", "4", "5"}));
    EXPECT_EQ(Column(window->Table1, TProfil::ColResult),
              (QStringList{"hotovo (DIO-3232 v.1.07)", "zastaveno, nic nezapsáno.",
                           "zastaveno, nic nezapsáno."}));
    EXPECT_EQ(Status(), " Klonování zastaveno: hotovo 1 z 3 modulů.");
    EXPECT_FALSE(sameChannels(Module(5)));
    QObject::disconnect(window->ProgressBar1, nullptr, window->Button5, nullptr);

    Exchanges sent;
    window->Edit1->setText(" 3-5 ");
    window->Button4->click();
    EXPECT_EQ(Column(window->Table1, TProfil::ColAddress), (QStringList{"3", "4", "5"}));
    EXPECT_EQ(Column(window->Table1, TProfil::ColName),
              (QStringList{"DIO-3232 v.1.07", "", "DIO-3232 v.1.07"}));
    const QStringList results = Column(window->Table1, TProfil::ColResult);
    ASSERT_EQ(results.size(), 3);
    EXPECT_EQ(results[0], "hotovo (DIO-3232 v.1.07)");
    EXPECT_TRUE(results[1].startsWith("krok 1/3 (")) << results[1].toStdString();
    EXPECT_TRUE(results[1].endsWith(" Nic nezapsáno.")) << results[1].toStdString();
    EXPECT_EQ(results[2], "hotovo (DIO-3232 v.1.07)");
    EXPECT_NE(window->Table1->item(1, 0)->background(), window->Table1->item(2, 0)->background());
    EXPECT_EQ(Status(), " Klonování dokončeno: hotovo 2 z 3 modulů.");
    EXPECT_EQ(window->ProgressBar1->value(), 3);
    // Only the channel registers, never the address or the rate.
    for (const Exchanges::One &o : sent.list) {
        if (o.Cmd == CmdWriteRegister) {
            EXPECT_TRUE(o.Register != 62 && o.Register != 63) << int(o.Register);
        }
    }
    EXPECT_EQ(sent.Writes(), 24u);
    EXPECT_TRUE(sameChannels(Module(5)));
    EXPECT_EQ(Module(5).Address, 5);

    // The record still points at module 3, and the next compare reads it.
    EXPECT_EQ(data.Address, 3);
    Set(3, 32, 0x00);
    window->Button2->click();
    EXPECT_EQ(Marked(), QStringList{"32"});
}

TEST_F(ProfileWindow, BadInputAndNoConnectionSendNothing)
{
    savePath = Path("good.profile");
    window->Button1->click();
    ASSERT_TRUE(std::filesystem::exists(savePath));
    const std::string good = Slurp(savePath);
    std::ofstream(Path("bad.profile")) << "korval-profile 1\nfoo\n";
    std::filesystem::create_directory(Path("folder"));

    Exchanges sent;
    int opened = 0;
    window->OpenFileName = [&] {
        ++opened;
        return QString::fromStdString(openPath);
    };
    window->Edit1->setText("3,x");
    openPath = savePath;
    window->Button4->click();
    EXPECT_EQ(opened, 0);
    EXPECT_TRUE(Status().startsWith(" Na adresy: „3,x“ není seznam adres 0..255"))
        << Status().toStdString();
    EXPECT_TRUE(Status().endsWith(" Nic nebylo odesláno.")) << Status().toStdString();
    window->Edit1->setText("");
    window->Button4->click();
    EXPECT_EQ(opened, 0);
    EXPECT_TRUE(Status().contains("není seznam adres")) << Status().toStdString();

    window->Edit1->setText("5");
    struct Case {
        std::string file, message;
    };
    for (const Case &c : {Case{"missing.profile", "“ neexistuje. Nic nebylo odesláno do modulu."},
                          Case{"folder", "“ nelze přečíst (není to čitelný soubor do 1 MiB). Nic "
                                         "nebylo odesláno do modulu."},
                          Case{"bad.profile", "“, řádek 2: řádek není komentář (#) ani tvaru "
                                              "„klíč: hodnota“: „foo“. Nic nebylo odesláno do "
                                              "modulu."}}) {
        openPath = Path(c.file);
        for (QPushButton *b : {window->Button2, window->Button3, window->Button4}) {
            SCOPED_TRACE(c.file + " " + b->objectName().toStdString());
            b->click();
            EXPECT_EQ(Status(), QString::fromStdString(" Soubor „" + openPath + c.message));
        }
    }
    EXPECT_TRUE(sent.list.empty());

    // A save that cannot be written: said, with the file's name.
    savePath = Path("missing/x.profile");
    window->Button1->click();
    EXPECT_EQ(Status(), QString::fromStdString(" Soubor „" + savePath +
                                               "“ se nepodařilo zapsat (práva, místo na disku?)."));
    EXPECT_FALSE(std::filesystem::exists(Path("missing")));

    // Not connected: said, and nothing asked or sent.
    data.Connected = false;
    sent.list.clear();
    int saved = 0;
    window->SaveFileName = [&] {
        ++saved;
        return QString::fromStdString(savePath);
    };
    openPath = Path("good.profile");
    for (QPushButton *b : {window->Button1, window->Button2, window->Button3, window->Button4}) {
        b->click();
        EXPECT_EQ(Status(), TextNotInitialised);
    }
    EXPECT_EQ(opened, 9);
    EXPECT_EQ(saved, 0);
    EXPECT_TRUE(sent.list.empty());
}

} // namespace
