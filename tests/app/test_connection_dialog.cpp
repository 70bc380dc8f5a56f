// The connection dialog against the fake driver: what it validates, which
// driver calls each outcome makes, and what it leaves in the record.
#include "AppTest.h"
#include "Pripojeni.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include <gtest/gtest.h>

namespace {

class ConnectionDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        ConnectionDefaults(&data);
        DrvSetLibraryDirectory(FakesDir / "full");
    }
    void Open()
    {
        dialog.Data = &data;
        dialog.FormShow();
    }
    void Choose(uint8_t kind)
    {
        dialog.ComboBox2->setCurrentIndex(kind);
        dialog.ComboBox2Change();
    }
    QString Panel() const { return dialog.Panel1->text(); }

    TData data;
    TForm2 dialog;
};

fake_reply Piece(const char (&four)[5], int32_t x = 0)
{
    fake_reply r{};
    for (int i = 0; i < 4; ++i)
        r.d[i] = static_cast<unsigned char>(four[i]);
    r.x = x;
    return r;
}

} // namespace

TEST_F(ConnectionDialog, ShowFillsTheControlsFromTheRecord)
{
    data.Kind = ifIsa;
    data.BaseAddress = 0x2A0;
    data.Address = 17;
    data.BaudRate = 4800;
    Open();
    EXPECT_EQ(dialog.windowTitle(), "Připojení modulu");
    EXPECT_EQ(dialog.Edit1->text(), "17");
    EXPECT_EQ(dialog.ComboBox1->currentIndex(), 3);
    EXPECT_EQ(dialog.ComboBox1->count(), 9);
    EXPECT_EQ(dialog.ComboBox1->itemText(8), "115200 Bd");
    EXPECT_EQ(dialog.ComboBox2->currentText(), "ISA karta PCI-417");
    EXPECT_EQ(dialog.Label3->text(), "Bázová adresa PCI-417");
    EXPECT_EQ(dialog.Edit2->text(), "2A0h");
    EXPECT_FALSE(dialog.Edit3->isVisibleTo(&dialog));
    EXPECT_EQ(Panel(), "Připojení modulu dosud neinicializováno");

    // A rate the list does not hold shows as 9600 Bd.
    data.BaudRate = 12345;
    data.Kind = 7;
    dialog.FormShow();
    EXPECT_EQ(dialog.ComboBox1->currentIndex(), 4);
    EXPECT_EQ(dialog.ComboBox2->currentIndex(), -1);
    EXPECT_FALSE(dialog.Edit2->isVisibleTo(&dialog));
}

TEST_F(ConnectionDialog, ChangingTheInterfaceShowsTheRecordsValuesOnly)
{
    data.IpAddress = "127.0.0.1";
    data.UdpPort = 6001;
    Open();
    dialog.Edit2->setText("99"); // typed for COM, then abandoned
    Choose(ifLan);
    EXPECT_EQ(dialog.Label3->text(), "IP adresa");
    EXPECT_EQ(dialog.Edit2->text(), "127.0.0.1");
    EXPECT_EQ(dialog.Label6->text(), "UDP port");
    EXPECT_EQ(dialog.Edit3->text(), "6001");
    EXPECT_EQ(dialog.Label7->text(), "UDP timeout");
    EXPECT_TRUE(dialog.Edit4->isVisibleTo(&dialog));
    Choose(ifUsb);
    EXPECT_FALSE(dialog.Edit2->isVisibleTo(&dialog));
    Choose(ifCom);
    EXPECT_EQ(dialog.Edit2->text(), "1");

    dialog.Button2Click();
    EXPECT_EQ(data.Kind, ifCom); // nothing is taken before "Inicializace připojení"
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST_F(ConnectionDialog, SuccessReadsTheIdentityAndFillsTheRecord)
{
    FakeDriver fake(ifUsb);
    fake->script_len = 3;
    fake->script[0] = Piece("DIO-", 5);
    fake->script[1] = Piece("3232", 6);
    fake->script[2] = Piece("1.07", 7);
    Open();
    Choose(ifUsb);
    dialog.Edit1->setText("300");
    dialog.ComboBox1->setCurrentIndex(3);
    dialog.Button1Click();

    EXPECT_EQ(fake.Log(), "Init Error SetConfig Error Send Error Send Error Send Error");
    EXPECT_EQ(fake->setconfig_args[1], 4800);
    EXPECT_EQ(fake->setconfig_args[2], 250);
    EXPECT_EQ(fake->setconfig_args[3], 2);
    // Identity requests to the address of the field, X carried from reply
    // to request.
    const int32_t xs[] = {0, 5, 6};
    for (int sub = 0; sub < 3; ++sub) {
        EXPECT_EQ(fake->requests[sub][0], 44);
        EXPECT_EQ(fake->requests[sub][1], 200);
        EXPECT_EQ(fake->requests[sub][2], sub);
        EXPECT_EQ(fake->requests[sub][3], xs[sub]);
    }
    EXPECT_EQ(dialog.Edit1->text(), "44");
    EXPECT_EQ(Panel(), "Připojení úspěšně inicializováno. Připojen modul   DIO-3232 v.1.07");
    EXPECT_TRUE(data.Connected);
    EXPECT_EQ(data.Handle, 0x417);
    EXPECT_EQ(data.Kind, ifUsb);
    EXPECT_EQ(data.Address, 44);
    EXPECT_EQ(data.BaudRate, 4800u);
    EXPECT_EQ(data.ModuleName, "DIO-3232 v.1.07");
    EXPECT_EQ(data.StatusText, "V pořádku");
}

TEST_F(ConnectionDialog, ZeroBytesOfTheIdentityStayInTheName)
{
    FakeDriver fake(ifPci);
    fake->script_len = 3;
    fake->script[0] = Piece("AB\0\0");
    fake->script[1] = Piece("\0\0\0\0");
    fake->script[2] = Piece("1\0\0\0");
    Open();
    Choose(ifPci);
    dialog.Button1Click();
    ASSERT_TRUE(data.Connected);
    EXPECT_EQ(data.ModuleName, std::string("AB\0\0\0\0\0\0 v.1\0\0\0", 15));
}

TEST_F(ConnectionDialog, FailuresStopWhereTheyHappen)
{
    struct Row {
        const char *what;
        int32_t init, setconfig, failingSend; // failingSend: 1-based, 0 none
        const char *log;
        QString panel;
    };
    const Row rows[] = {
        {"init", 3, 0, 0, "Init Error", "Chyba inicializace připojení - fake error 3"},
        {"setconfig", 0, 4, 0, "Init Error SetConfig Error Done",
         "Chyba inicializace připojení - fake error 4"},
        {"identity", 0, 0, 2, "Init Error SetConfig Error Send Error Send Error Done",
         "fake error 5"},
    };
    for (const Row &r : rows) {
        FakeDriver fake(ifCom);
        fake->init_result = r.init;
        fake->setconfig_result = r.setconfig;
        fake->script_len = r.failingSend;
        if (r.failingSend > 0)
            fake->script[r.failingSend - 1].status = 5;
        fake->done_handle_out = 0;
        ConnectionDefaults(&data);
        data.Handle = 0x55;
        Open();
        Choose(ifCom);
        dialog.Button1Click();
        // Every status is turned into text, success included.
        EXPECT_EQ(fake.Log(), r.log) << r.what;
        EXPECT_EQ(Panel(), r.panel) << r.what;
        EXPECT_FALSE(data.Connected) << r.what;
        // A failed Init does not touch the handle; a later failure stores
        // what Done left in the working handle.
        EXPECT_EQ(data.Handle, r.init != 0 ? 0x55 : 0) << r.what;
        EXPECT_EQ(data.ModuleName, "") << r.what;
        EXPECT_EQ(data.StatusText, "Připojení modulu dosud neinicializováno") << r.what;
        DrvSetLibraryDirectory(FakesDir / "full"); // unload what a failed Init left
        int32_t h = 0;
        DrvDone(ifCom, h);
    }
}

TEST_F(ConnectionDialog, MissingLibraryIsNamed)
{
    DrvSetLibraryDirectory(FakesDir / "empty");
    Open();
    Choose(ifLan);
    dialog.Edit2->setText("127.0.0.1");
    dialog.Button1Click();
    EXPECT_EQ(Panel(), "Chyba inicializace připojení - chyba inicializace knihovny QLX1417.DLL");
    EXPECT_EQ(data.Kind, ifLan);
    EXPECT_FALSE(data.Connected);
}

TEST_F(ConnectionDialog, DriverThatOpensWithHandleZeroIsNotConnected)
{
    FakeDriver fake(ifUsb);
    fake->init_handle = 0;
    Open();
    Choose(ifUsb);
    dialog.Button1Click();
    EXPECT_FALSE(data.Connected);
    EXPECT_EQ(Panel(), "fake error 9");
    EXPECT_EQ(fake.Log(), "Init Error SetConfig Error Error Done");
}

TEST_F(ConnectionDialog, SecondInitialisationClosesTheFirst)
{
    FakeDriver fake(ifUsb);
    Open();
    Choose(ifUsb);
    dialog.Button1Click();
    ASSERT_TRUE(data.Connected);
    dialog.Button1Click();
    EXPECT_EQ(fake.Log(), "Init Error SetConfig Error Send Error Send Error Send Error "
                          "Done Init Error SetConfig Error Send Error Send Error Send Error");
    EXPECT_TRUE(data.Connected);
}

TEST_F(ConnectionDialog, LanValidation)
{
    FakeDriver fake(ifLan);
    struct Row {
        QString ip, port, timeout;
        QString panel; // empty: passes validation
    };
    const QString big(10000, QLatin1Char('9'));
    const Row rows[] = {
        {"", "5000", "1000", "Neplatná IP adresa"},
        {"127.0.0.1", "-1", "1000", "Neplatný UDP port"},
        {"127.0.0.1", "65536", "1000", "Neplatný UDP port"},
        {"127.0.0.1", "", "1000", "Neplatný UDP port"},
        {"127.0.0.1", " 5000 ", "1000", "Neplatný UDP port"},
        {"127.0.0.1", big, "1000", "Neplatný UDP port"},
        {"127.0.0.1", "žluťoučký", "1000", "Neplatný UDP port"},
        {"127.0.0.1", "5000", "65536", "Neplatný UDP timeout"},
        {"127.0.0.1", "5000", "-5", "Neplatný UDP timeout"},
        {"127.0.0.1", "5000", "0x", "Neplatný UDP timeout"},
    };
    for (const Row &r : rows) {
        fake->log[0] = '\0';
        Open();
        Choose(ifLan);
        dialog.Edit2->setText(r.ip);
        dialog.Edit3->setText(r.port);
        dialog.Edit4->setText(r.timeout);
        dialog.Button1Click();
        EXPECT_EQ(Panel(), r.panel) << r.port.left(20).toStdString();
        EXPECT_EQ(fake.Log(), "") << r.port.left(20).toStdString();
        EXPECT_FALSE(data.Connected);
    }
}

TEST_F(ConnectionDialog, LanTimeoutIsRaisedButTheFieldKeepsItsText)
{
    FakeDriver fake(ifLan);
    Open();
    Choose(ifLan);
    dialog.Edit2->setText("127.0.0.1");
    dialog.Edit3->setText("$1389");
    dialog.Edit4->setText("500");
    dialog.Button1Click();
    EXPECT_EQ(data.UdpTimeout, 1000u);
    EXPECT_EQ(data.UdpPort, 5001u);
    EXPECT_EQ(fake->init_params[1], 5001);
    EXPECT_EQ(fake->init_params[2], 1000);
    EXPECT_STREQ(fake->init_ip_text, "127.0.0.1");
    EXPECT_EQ(dialog.Edit4->text(), "500");
    EXPECT_TRUE(data.Connected);
}

TEST_F(ConnectionDialog, NumberFieldsFallBackAndShowWhatWasTaken)
{
    FakeDriver com(ifCom);
    FakeDriver isa(ifIsa);
    struct Row {
        uint8_t kind;
        QString address, param;
        QString shownAddress, shownParam;
        int32_t initParam;
    };
    const QString huge(10000, QChar(0x0159));
    const Row rows[] = {
        {ifCom, "abc", "abc", "0", "1", 1},
        {ifCom, "256", "3", "0", "3", 3},
        {ifCom, "-1", "65537", "255", "1", 1},
        {ifCom, "0x1F", "$10", "31", "16", 16},
        {ifCom, huge, huge, "0", "1", 1},
        {ifCom, "  7", "", "7", "1", 1},
        {ifIsa, "1", "2A0h", "1", "2A0h", 0x2A0},
        {ifIsa, "1", "300", "1", "300h", 0x300},
        {ifIsa, "1", "12345", "1", "300h", 0x300},
        {ifIsa, "1", "fffh", "1", "FFFh", 0xFFF},
        {ifIsa, "1", "zzzh", "1", "300h", 0x300},
        {ifIsa, "1", "-12h", "1", "300h", 0x300},
        {ifIsa, "1", "řřřh", "1", "300h", 0x300},
        {ifIsa, "1", "", "1", "300h", 0x300},
    };
    for (const Row &r : rows) {
        Open();
        Choose(r.kind);
        dialog.Edit1->setText(r.address);
        dialog.Edit2->setText(r.param);
        dialog.Button1Click();
        const std::string what = r.param.left(10).toStdString();
        EXPECT_EQ(dialog.Edit1->text(), r.shownAddress) << what;
        EXPECT_EQ(dialog.Edit2->text(), r.shownParam) << what;
        fake_state *s = r.kind == ifCom ? com.State() : isa.State();
        EXPECT_EQ(s->init_param, r.initParam) << what;
        if (r.kind == ifIsa)
            EXPECT_EQ(data.BaseAddress, r.initParam) << what;
        else
            EXPECT_EQ(data.ComPort, uint8_t(r.initParam)) << what;
    }
}

TEST(BaudCodes, TablesAndFallbacks)
{
    EXPECT_EQ(BaudCodeToRate(3), 4800u);
    EXPECT_EQ(BaudCodeTimeout(3), 250u);
    EXPECT_EQ(BaudCodeToRate(8), 115200u);
    EXPECT_EQ(BaudCodeTimeout(8), 100u);
    EXPECT_EQ(BaudCodeToRate(9), 9600u);
    EXPECT_EQ(BaudCodeTimeout(255), 200u);
    EXPECT_EQ(RateToBaudCode(600), 0);
    EXPECT_EQ(RateToBaudCode(9601), 4);
    for (uint8_t c = 0; c <= 8; ++c)
        EXPECT_EQ(RateToBaudCode(BaudCodeToRate(c)), c);
}
