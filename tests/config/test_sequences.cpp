// The register sequences while the toolkit runs inside them: clicks and a
// close arriving meanwhile, a window destroyed part way; and a write and
// read-back against the simulated module.
#include "ConfigTest.h"
#include "NastavAdr.h"
#include "NastavDIO.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

namespace {

using RegisterSequences = DialogTest<TForm14>;

// A module that keeps the write of the defaults with DIN4's negation clear.
std::vector<uint8_t> DefaultsWithoutDin4()
{
    return {0, 0, 0, 0, 0xEF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
}

TEST_F(RegisterSequences, ClicksDuringAWriteAreIgnored)
{
    AcceptWrites(DefaultsWithoutDin4());
    dialog.CheckBox(5)->setChecked(false); // "Ok" would store this
    int sentWhenClicked = -1;
    QTimer::singleShot(0, &dialog, [&] {
        sentWhenClicked = fake->send_count;
        for (QPushButton *b : {dialog.Button1, dialog.Button2, dialog.Button3, dialog.Button4})
            b->click();
    });
    dialog.Button1Click();
    EXPECT_EQ(sentWhenClicked, 1); // the toolkit ran between a write and its read-back
    EXPECT_EQ(fake->send_count, 24);
    EXPECT_EQ(Status(), " Konfigurace zapsána.");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(data.ModuleConfig, ModuleConfigDefaults());
}

TEST_F(RegisterSequences, CloseDuringAWriteWaitsForItsEndAndStoresNothing)
{
    AcceptWrites(DefaultsWithoutDin4());
    TForm14 modal;
    modal.Data = &data;
    bool visibleAfterClose = false;
    OnShow<TForm14> press([&](TForm14 *d) {
        QTimer::singleShot(0, d, [&, d] {
            d->close();
            visibleAfterClose = d->isVisible();
        });
        d->CheckBox(5)->setChecked(false);
        d->Button1Click();
    });
    EXPECT_EQ(modal.exec(), QDialog::Rejected);
    EXPECT_TRUE(visibleAfterClose);
    EXPECT_EQ(fake->send_count, 24); // the module is not left half written
    EXPECT_EQ(modal.StatusBar1->Text(), " Konfigurace zapsána.");
    EXPECT_EQ(data.ModuleConfig, ModuleConfigDefaults());
}

TEST_F(RegisterSequences, WindowDestroyedDuringAReadSendsNothingMore)
{
    auto *doomed = new TForm12;
    doomed->Data = &data;
    const QPointer<TForm12> watch(doomed);
    QTimer::singleShot(0, [doomed] { delete doomed; });
    doomed->Button2Click();
    EXPECT_TRUE(watch.isNull());
    EXPECT_EQ(fake->send_count, 1);
}

// The simulated module of the PCI library, at address 1.
TEST(DialogsOnSimulatedModule, WhatIsWrittenReadsBack)
{
    DrvSetLibraryDirectory(BIN_DIR);
    TData data;
    ConnectionDefaults(&data);
    data.Kind = ifPci;
    data.Address = 1;
    ASSERT_EQ(DrvInit(ifPci, data.Handle, TInitParams{}), 0);
    data.Connected = true;
    const auto pattern = [](int m) { return m % 3 == 0 || m % 7 == 0; };
    {
        TForm14 writer, reader;
        writer.Data = reader.Data = &data;
        writer.FormShow();
        for (int m = 1; m <= 96; ++m)
            writer.CheckBox(m)->setChecked(pattern(m));
        writer.Button1Click();
        EXPECT_EQ(writer.StatusBar1->Text(), " Konfigurace zapsána.");
        reader.Button2Click();
        EXPECT_EQ(reader.StatusBar1->Text(), " Konfigurace přečtena.");
        for (int m = 1; m <= 96; ++m)
            EXPECT_EQ(reader.CheckBox(m)->isChecked(), pattern(m)) << m;
    }
    {
        // A new address takes effect at the module's restart; the read-back
        // at the connection's address already sees it in the register.
        TForm12 writer, reader;
        writer.Data = reader.Data = &data;
        writer.Edit1->setText("7");
        writer.ComboBox1->setCurrentIndex(6);
        writer.Button1Click();
        EXPECT_EQ(writer.StatusBar1->Text(), " Konfigurace zapsána.");
        reader.Button2Click();
        EXPECT_EQ(reader.Edit1->text(), "7");
        EXPECT_EQ(reader.ComboBox1->currentIndex(), 6);
    }
    EXPECT_EQ(data.ModuleConfig, ModuleConfigDefaults()); // only "Ok" stores
    int32_t h = data.Handle;
    DrvDone(ifPci, h);
}

} // namespace
