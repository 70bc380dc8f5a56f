// The program's windows with the real LAN driver and the simulator on
// 127.0.0.1: the connection a first-time user makes.
#include "AppTest.h"
#include "Hlavni.h"
#include "Pripojeni.h"
#include "SimProcess.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include <gtest/gtest.h>

TEST(EndToEnd, LanConnectionShowsTheModuleInTheStatusBar)
{
    simtest::SimProcess sim(SIM_EXE, {"--udp-port", "0", "--module", "3"});
    ASSERT_TRUE(sim.Ready()) << sim.Failure();
    std::filesystem::remove_all(SettingsFile());
    DrvSetLibraryDirectory(BIN_DIR);

    auto *w = new TForm1;
    {
        OnShow<TForm2> connect([&](TForm2 *d) {
            d->ComboBox2->setCurrentIndex(ifLan);
            d->ComboBox2Change();
            d->Edit2->setText("127.0.0.1");
            d->Edit3->setText(QString::number(sim.UdpPort()));
            d->Edit1->setText("3");
            d->Button1Click();
        });
        w->Pipojen1->trigger();
    }
    ASSERT_TRUE(w->Data->Connected);
    EXPECT_EQ(w->Panel(0)->text(), " Modul  DIO-3232 v.1.07");
    EXPECT_EQ(w->Panel(1)->text(), " Adresa  3");
    EXPECT_EQ(w->Panel(2)->text(), " Rychlost  9600Bd");

    // Closing saves the LAN settings and closes the connection.
    EXPECT_TRUE(w->close());
    delete w;
    TData again;
    ConnectionDefaults(&again);
    ASSERT_TRUE(LoadConnection(&again));
    EXPECT_EQ(again.Kind, ifLan);
    EXPECT_EQ(again.IpAddress, "127.0.0.1");
    EXPECT_EQ(again.UdpPort, sim.UdpPort());
    EXPECT_EQ(again.Address, 3);
    std::filesystem::remove_all(SettingsFile());
}
