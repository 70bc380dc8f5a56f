// The module finder's window with the real LAN driver and the simulator on
// 127.0.0.1, at the bus's real timing: it finds what korvalctl scan finds
// (a collision and a slow module among them), hands a find to the
// connection, stops when told and refuses a bad plan before it sends.
#include "Hledani.h"
#include "Module.h"
#include "Qxxx417.h"
#include "SimProcess.h"
#include "WindowKit.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <tuple>

namespace
{

using Row = std::tuple<int, int, std::string, bool, bool>; // address, rate, module, collision, slow

class ScanWindow : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        // The slow module is late only against the wire's real time.
        qunsetenv("Q417_TIMING");
        DrvSetLibraryDirectory(DRIVER_DIR);
    }
    void Start(std::vector<std::string> modules, bool real = true)
    {
        std::vector<std::string> args{"--udp-port", "0"};
        if (real)
            args.insert(args.end(), {"--timing", "real"});
        for (const std::string &m : modules)
            args.insert(args.end(), {"--module", m});
        sim = std::make_unique<simtest::SimProcess>(SIM_EXE, args);
        ASSERT_TRUE(sim->Ready()) << sim->Failure();
        data.Kind = ifLan;
        data.IpAddress = "127.0.0.1";
        data.UdpPort = sim->UdpPort();
        data.UdpTimeout = 1000;
        window = std::make_unique<THledani>();
        window->Data = &data;
        window->show();
    }
    void Plan(const char *addresses, std::initializer_list<uint32_t> rates)
    {
        window->Edit1->setText(QString::fromLatin1(addresses));
        for (QCheckBox *box : window->CheckBox) {
            const uint32_t rate = BaudCodeToRate(uint8_t(box->property("baudCode").toInt()));
            box->setChecked(std::find(rates.begin(), rates.end(), rate) != rates.end());
        }
    }
    // Runs the scan to its end; the wait ends with the signal.
    void Scan()
    {
        QSignalSpy ended(window.get(), &THledani::ScanEnded);
        window->Button1->click();
        ASSERT_TRUE(window->Running()) << window->StatusBar1->Text().toStdString();
        ASSERT_TRUE(ended.wait(120000));
    }
    QString Cell(int row, int column) const
    {
        const QTableWidgetItem *item = window->StringGrid1->item(row, column);
        return item != nullptr ? item->text() : QString();
    }
    std::set<Row> WindowRows() const
    {
        std::set<Row> rows;
        for (const TScanFind &f : window->Finds())
            rows.insert({f.Address, int(BaudCodeToRate(f.BaudCode)), f.Name, f.Collision, f.Slow});
        return rows;
    }
    std::set<Row> KorvalctlRows(const char *addresses, const char *rates) const
    {
        QProcess p;
        p.start(QStringLiteral(KORVALCTL_EXE),
                {QStringLiteral("--settings"), QString::fromStdString(dir.Path() + "/W_korval.ini"),
                 QStringLiteral("-i"), QStringLiteral("lan"), QStringLiteral("--ip"),
                 QStringLiteral("127.0.0.1"), QStringLiteral("--udp-port"),
                 QString::number(sim->UdpPort()), QStringLiteral("scan"),
                 QStringLiteral("--addresses"), QString::fromLatin1(addresses),
                 QStringLiteral("--rates"), QString::fromLatin1(rates), QStringLiteral("--json")});
        EXPECT_TRUE(p.waitForFinished(120000));
        const nlohmann::json doc = nlohmann::json::parse(p.readAllStandardOutput().toStdString());
        std::set<Row> rows;
        for (const nlohmann::json &f : doc["finds"])
            rows.insert({f["address"].get<int>(), f["baud_rate"].get<int>(),
                         f["module"].is_null() ? std::string() : f["module"].get<std::string>(),
                         f["collision"].get<bool>(), f["slow"].get<bool>()});
        return rows;
    }

    std::unique_ptr<simtest::SimProcess> sim;
    TData data;
    std::unique_ptr<THledani> window;
    simtest::TempDir dir;
};

TEST_F(ScanWindow, FindsWhatKorvalctlFindsWithCollisionAndSlowModuleNoted)
{
    Start({"2", "5:4::40", "7:4:ALPHA-01", "7:4:BRAVO-02", "9:8"});
    Plan("0-11", {9600, 115200});
    Scan();

    const std::set<Row> expected{{2, 9600, "DIO-3232 v.1.07", false, false},
                                 {5, 9600, "DIO-3232 v.1.07", false, true},
                                 {7, 9600, "", true, false},
                                 {9, 115200, "DIO-3232 v.1.07", false, false}};
    EXPECT_EQ(WindowRows(), expected) << window->StatusBar1->Text().toStdString();
    EXPECT_EQ(KorvalctlRows("0-11", "9600,115200"), expected);

    // The table as the finds stand, the notes beside them.
    ASSERT_EQ(window->StringGrid1->rowCount(), 4);
    std::map<QString, QString> notes;
    for (int row = 0; row < 4; ++row)
        notes[Cell(row, 0) + QLatin1Char('@') + Cell(row, 1)] = Cell(row, 3);
    EXPECT_TRUE(notes[QStringLiteral("7@9600 Bd")].startsWith(QStringLiteral("kolize")));
    EXPECT_TRUE(notes[QStringLiteral("5@9600 Bd")].startsWith(QStringLiteral("odpověď se zpožděním")));
    EXPECT_TRUE(notes[QStringLiteral("2@9600 Bd")].isEmpty());
    EXPECT_TRUE(window->StatusBar1->Text().contains(QStringLiteral("nalezeno: 4")))
        << window->StatusBar1->Text().toStdString();

    // A collision cannot be connected to, and the record stays as it was.
    for (int row = 0; row < 4; ++row) {
        if (Cell(row, 0) == QStringLiteral("7"))
            window->StringGrid1->selectRow(row);
    }
    window->Button2->click();
    EXPECT_FALSE(data.Connected);
    EXPECT_TRUE(window->StatusBar1->Text().contains(QStringLiteral("kolize")));
}

TEST_F(ScanWindow, ConnectLeavesTheRecordConnectedAndAnOpenConnectionIsClosedFirst)
{
    Start({"3", "6:8"}, false);
    // Connected to 3 as the connection dialog leaves the record.
    FillInitParams(data);
    TDataArray text{};
    ASSERT_TRUE(ConnectRecord(data, 3, 4, text).Ok());
    ASSERT_TRUE(data.Connected);

    Plan("0-7", {9600, 115200});
    QSignalSpy ended(window.get(), &THledani::ScanEnded);
    window->Button1->click();
    EXPECT_FALSE(data.Connected);
    EXPECT_TRUE(window->StatusBar1->Text().contains(QStringLiteral("uzavřeno")))
        << window->StatusBar1->Text().toStdString();
    ASSERT_TRUE(ended.wait(120000));
    ASSERT_EQ(window->Finds().size(), 2u);

    for (int row = 0; row < 2; ++row) {
        if (Cell(row, 0) == QStringLiteral("6"))
            window->StringGrid1->selectRow(row);
    }
    window->Button2->click();
    EXPECT_EQ(window->result(), QDialog::Accepted);
    EXPECT_TRUE(ConnectionUsable(&data));
    EXPECT_EQ(data.Address, 6);
    EXPECT_EQ(data.BaudRate, 115200u);
    EXPECT_EQ(data.ModuleName, "DIO-3232 v.1.07");
    // The connection works: an identity read over the record's handle.
    std::string name;
    EXPECT_TRUE(ReadIdentity({data.Kind, data.Handle, data.Address}, name).Ok());
    int32_t handle = data.Handle;
    DrvDone(data.Kind, handle);
}

TEST_F(ScanWindow, ZastavitAndACloseStopAfterTheAddressInProgress)
{
    Start({"200"});
    Plan("0-255", {9600, 19200, 115200, 600});
    QSignalSpy ended(window.get(), &THledani::ScanEnded);
    window->Button1->click();
    EXPECT_EQ(window->Button1->text(), QStringLiteral("Zas&tavit"));
    // Stopped as soon as the first progress is shown.
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->ProgressBar1->format().contains("uplynulo"); },
                                60000));
    window->Button1->click();
    ASSERT_TRUE(ended.wait(60000));
    EXPECT_TRUE(window->StatusBar1->Text().contains(QStringLiteral("zastaveno")))
        << window->StatusBar1->Text().toStdString();
    EXPECT_EQ(window->Button1->text(), QStringLiteral("&Hledat"));
    EXPECT_TRUE(window->Edit1->isEnabled());

    // The interface is usable again: the next scan finds the module.
    Plan("198-201", {9600});
    window->Button1->click();
    ASSERT_TRUE(ended.wait(60000));
    ASSERT_EQ(window->Finds().size(), 1u);
    EXPECT_EQ(window->Finds()[0].Address, 200);

    // A close while scanning waits for the scan's end, then closes.
    Plan("0-255", {600});
    window->Button1->click();
    ASSERT_TRUE(window->Running());
    window->reject();
    EXPECT_TRUE(window->isVisible());
    ASSERT_TRUE(ended.wait(60000));
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->Running());
}

TEST_F(ScanWindow, ABadPlanSaysWhyAndLeavesTheConnectionOpen)
{
    Start({"3"}, false);
    FillInitParams(data);
    TDataArray text{};
    ASSERT_TRUE(ConnectRecord(data, 3, 4, text).Ok());

    for (const char *bad : {"5-300", "", "7-3", "1,,2", "x"}) {
        window->Edit1->setText(QString::fromLatin1(bad));
        window->Button1->click();
        EXPECT_FALSE(window->Running()) << bad;
        EXPECT_TRUE(window->StatusBar1->Text().contains(QStringLiteral("není seznam adres")))
            << bad << ": " << window->StatusBar1->Text().toStdString();
    }
    Plan("1-5", {});
    window->Button1->click();
    EXPECT_FALSE(window->Running());
    EXPECT_TRUE(window->StatusBar1->Text().contains(QStringLiteral("rychlost")));
    EXPECT_TRUE(ConnectionUsable(&data));
    std::string name;
    EXPECT_TRUE(ReadIdentity({data.Kind, data.Handle, 3}, name).Ok());
    int32_t handle = data.Handle;
    DrvDone(data.Kind, handle);
}

} // namespace
