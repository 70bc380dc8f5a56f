// The acceptance-test window with the real LAN driver and the simulator on
// 127.0.0.1, faults wired into the simulator: what the grid shows, what a
// stop leaves behind, and the report it saves.
#include "Prejimka.h"
#include "Session.h"
#include "SimProcess.h"
#include "WindowKit.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

namespace
{

std::string Slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class AcceptanceWindow : public ::testing::Test
{
  protected:
    // A module at address 3 on the simulator, connected as the connection
    // dialog leaves the record.
    void Start(std::vector<std::string> faults = {})
    {
        std::vector<std::string> args{"--udp-port", "0", "--module", "3"};
        args.insert(args.end(), faults.begin(), faults.end());
        sim = std::make_unique<simtest::SimProcess>(SIM_EXE, args);
        ASSERT_TRUE(sim->Ready()) << sim->Failure();
        ASSERT_EQ(lan.OpenLan("127.0.0.1", sim->UdpPort(), 500), 0);
        ASSERT_EQ(lan.Configure(9600, 500), 0);
        data.Kind = ifLan;
        data.IpAddress = "127.0.0.1";
        data.UdpPort = sim->UdpPort();
        data.Address = 3;
        data.BaudRate = 9600;
        data.Handle = lan.Handle();
        data.Connected = true;
        data.ModuleName = lan.Identity(3);
        window = std::make_unique<TPrejimka>();
        window->Data = &data;
    }
    // The channels whose cell shows a fault, with the cell's text.
    std::map<int, QString> FailingCells() const
    {
        std::map<int, QString> failing;
        for (int n = 0; n < 32; ++n) {
            const QLabel *cell = window->findChild<QLabel *>(QStringLiteral("Kanal%1").arg(n));
            if (cell->text() != QStringLiteral("%1\nv pořádku").arg(n))
                failing[n] = cell->text();
        }
        return failing;
    }

    Session lan{ifLan};
    std::unique_ptr<simtest::SimProcess> sim;
    TData data;
    std::unique_ptr<TPrejimka> window;
    simtest::TempDir dir;
};

TEST_F(AcceptanceWindow, TheGridShowsExactlyTheStuckAndCrossedChannels)
{
    Start({"--stuck", "DIN5=1", "--stuck", "DOUT12=0", "--swap", "30,31"});
    window->findChild<QPushButton *>("Button1")->click();
    ASSERT_TRUE(window->Result().has_value());
    EXPECT_EQ(FailingCells(), (std::map<int, QString>{{5, "5\ntrvale 1"},
                                                      {12, "12\ntrvale 0"},
                                                      {30, "30\nsleduje DOUT31"},
                                                      {31, "31\nsleduje DOUT30"}}));
    EXPECT_NE(window->Kanal[5]->styleSheet(), window->Kanal[6]->styleSheet());
    EXPECT_EQ(window->findChild<QProgressBar *>("ProgressBar1")->value(), 66);
    EXPECT_TRUE(window->findChild<QLabel *>("Label1")->text().startsWith("NEVYHOVUJE"));
    EXPECT_TRUE(window->StatusBar1->Text().contains("Výstupy vypnuty.")) << window->StatusBar1->Text().toStdString();
}

TEST_F(AcceptanceWindow, ZastavitMidRunLeavesTheOutputsOffAndTheModuleUsable)
{
    Start();
    auto *stop = window->findChild<QPushButton *>("Button2");
    // Pressed as the tenth pattern shows: the test ends after that exchange.
    QObject::connect(window->ProgressBar1, &QProgressBar::valueChanged, stop, [stop](int v) {
        if (v == 10)
            stop->click();
    });
    window->findChild<QPushButton *>("Button1")->click();
    ASSERT_TRUE(window->Result().has_value());
    const TIoTestResult &r = *window->Result();
    EXPECT_EQ(r.Module.Outcome, TOutcome::Stopped);
    EXPECT_EQ(r.Steps.size(), 10u);
    EXPECT_TRUE(r.OutputsOff);
    EXPECT_EQ(window->StatusBar1->Text(),
              " Zkouška zastavena po 10 z 66 kroků. Výstupy vypnuty.");
    EXPECT_TRUE(window->findChild<QLabel *>("Label1")->text().startsWith("NEDOKONČENO"));

    // The outputs, wired back, read 0 on the inputs; pattern 10 had DOUT9 on.
    uint32_t inputs = 0xFFFFFFFF;
    const TModuleLink link{data.Kind, data.Handle, data.Address};
    ASSERT_TRUE(ReadInputs(link, inputs).Ok());
    EXPECT_EQ(inputs, 0u);
    // The next run goes through on the same connection.
    QObject::disconnect(window->ProgressBar1, nullptr, stop, nullptr);
    window->findChild<QPushButton *>("Button1")->click();
    EXPECT_TRUE(window->Result()->Passed());
    EXPECT_TRUE(FailingCells().empty());
}

TEST_F(AcceptanceWindow, TheSavedReportLeadsWithTheVerdictAndTheGridAndCarriesTheFields)
{
    Start({"--stuck", "DIN7=0"});
    // Nothing run, nothing saved.
    QString asked;
    window->SaveFileName = [&] { return asked; };
    asked = QString::fromStdString(dir.Path() + "/early.html");
    window->Button3->click();
    EXPECT_FALSE(std::filesystem::exists(dir.Path() + "/early.html"));

    window->findChild<QLineEdit *>("Edit1")->setText("Jan Novák & syn");
    window->findChild<QLineEdit *>("Edit2")->setText("INV-<0815>");
    window->findChild<QLineEdit *>("Edit3")->setText("po opravě \"svorkovnice\"");
    window->Button1->click();
    asked = QString::fromStdString(dir.Path() + "/protokol.html");
    window->Button3->click();
    const std::string html = Slurp(dir.Path() + "/protokol.html");
    const std::size_t verdict = html.find("NEVYHOVUJE");
    const std::size_t grid = html.find("<table class=\"grid\">");
    const std::size_t details = html.find("<table class=\"channels\">");
    ASSERT_NE(verdict, std::string::npos);
    ASSERT_NE(grid, std::string::npos);
    ASSERT_NE(details, std::string::npos);
    EXPECT_LT(verdict, grid);
    EXPECT_LT(grid, details);
    const std::string cells = html.substr(grid, html.find("</table>", grid) - grid);
    std::size_t pass = 0, fail = 0;
    for (std::size_t at = cells.find("<td class=\"pass\""); at != std::string::npos;
         at = cells.find("<td class=\"pass\"", at + 1))
        ++pass;
    for (std::size_t at = cells.find("<td class=\"fail\""); at != std::string::npos;
         at = cells.find("<td class=\"fail\"", at + 1))
        ++fail;
    EXPECT_EQ(pass, 31u);
    EXPECT_EQ(fail, 1u);
    EXPECT_NE(cells.find("<span class=\"ch\">7</span> trvale 0"), std::string::npos);
    EXPECT_NE(html.find("<td>Jan Novák &amp; syn</td>"), std::string::npos);
    EXPECT_NE(html.find("<td>INV-&lt;0815&gt;</td>"), std::string::npos);
    EXPECT_NE(html.find("po opravě &quot;svorkovnice&quot;"), std::string::npos);
    EXPECT_TRUE(window->StatusBar1->Text().startsWith(" Protokol zapsán do "));

    asked = QString::fromStdString(dir.Path() + "/protokol.PDF");
    window->Button3->click();
    const std::string pdf = Slurp(dir.Path() + "/protokol.PDF");
    EXPECT_EQ(pdf.substr(0, 5), "%PDF-");
    EXPECT_GT(pdf.size(), 2000u);
    EXPECT_NE(pdf.find("%%EOF"), std::string::npos);

    // A folder that does not exist: said on the status line.
    asked = QString::fromStdString(dir.Path() + "/missing/protokol.html");
    window->Button3->click();
    EXPECT_TRUE(window->StatusBar1->Text().startsWith(" Protokol se nepodařilo zapsat"));
}

} // namespace
