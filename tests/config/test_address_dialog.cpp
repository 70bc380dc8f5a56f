// The address and baud-rate dialog against the fake driver: its two
// register exchanges, the validation of its controls, what "Ok" keeps.
#include "ConfigTest.h"
#include "NastavAdr.h"

#include <QComboBox>
#include <QLineEdit>

namespace {

using AddressDialog = DialogTest<TForm12>;

TEST_F(AddressDialog, ReadAndWriteGoToTheConnectionsAddressOnly)
{
    Answer(0, 17);
    Answer(1, 6);
    dialog.Button2Click();
    EXPECT_EQ(Sent(fake), (std::vector{Rq(102, 63), Rq(102, 62)}));
    EXPECT_EQ(painted.texts, Progress(false, 2));
    EXPECT_EQ(dialog.Edit1->text(), "17");
    EXPECT_EQ(dialog.ComboBox1->currentText(), "38400 Bd");

    fake->send_count = 0;
    painted.texts.clear();
    dialog.Edit1->setText("200");
    dialog.ComboBox1->setCurrentIndex(8);
    AcceptWrites({200, 8});
    dialog.Button1Click();
    // The new address is read back at the old one.
    EXPECT_EQ(Sent(fake),
              (std::vector{Rq(103, 63, 200), Rq(102, 63), Rq(103, 62, 8), Rq(102, 62)}));
    EXPECT_EQ(painted.texts, QStringList{" "} + Progress(true, 2)); // the validation first
    EXPECT_EQ(data.Address, 9);
    EXPECT_EQ(data.ModuleConfig, ModuleConfigDefaults());
}

TEST_F(AddressDialog, AddressTexts)
{
    struct Row {
        const char *text;
        int value; // -1: refused
    } rows[] = {{"0", 0},   {"255", 255}, {" 17", 17}, {"$FF", 255}, {"256", -1},
                {"-1", -1}, {"abc", -1},  {"17 ", -1}, {"", -1},     {"$1FF", -1}};
    for (const Row &r : rows) {
        fake->send_count = 0;
        dialog.FormShow();
        dialog.Edit1->setText(r.text);
        dialog.Button1Click();
        if (r.value < 0) {
            EXPECT_EQ(Status(), " Adresa modulu musí být v rozsahu 0-255.") << r.text;
            EXPECT_EQ(fake->send_count, 0) << r.text;
        } else {
            ASSERT_GE(fake->send_count, 1) << r.text;
            EXPECT_EQ(std::to_array(fake->requests[0]), Rq(103, 63, r.value)) << r.text;
        }
    }
}

TEST_F(AddressDialog, BaudCodeAbove8SelectsNothingAndIsNotWritten)
{
    Answer(0, 5);
    Answer(1, 9);
    dialog.Button2Click();
    EXPECT_EQ(dialog.ComboBox1->currentIndex(), -1);
    fake->send_count = 0;
    dialog.Edit1->setText("6");
    dialog.Button1Click();
    EXPECT_EQ(Status(), " Komunikační rychlost musí být v rozsahu 600Bd-115200Bd.");
    EXPECT_EQ(fake->send_count, 0);
    EXPECT_EQ(dialog.WorkingConfig().Address, 6); // taken before the list was looked at
}

TEST_F(AddressDialog, OkStoresOnlyAfterAPassedValidationAndCarriesTheOtherBytes)
{
    data.Connected = false; // "Ok" needs no module
    data.ModuleConfig.DinNegation = {1, 2, 3, 4};
    data.ModuleConfig.DoutInitState = {9, 10, 11, 12};
    TModuleConfig expected = data.ModuleConfig;
    dialog.FormShow();
    dialog.Edit1->setText("300");
    dialog.Button3Click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(data.ModuleConfig, expected);

    dialog.show();
    dialog.Edit1->setText("33");
    dialog.ComboBox1->setCurrentIndex(2);
    dialog.Button3Click();
    expected.Address = 33;
    expected.BaudCode = 2;
    EXPECT_EQ(data.ModuleConfig, expected);
    EXPECT_EQ(fake->send_count, 0);
}

// A failed check can leave the working copy half taken: here the new address
// beside a code the module reported but the list does not hold.
TEST_F(AddressDialog, OkAfterAFailedCheckStoresNothing)
{
    Answer(0, 5);
    Answer(1, 9);
    dialog.Button2Click();
    const TModuleConfig before = data.ModuleConfig;
    dialog.Edit1->setText("6");
    dialog.Button3Click();
    EXPECT_EQ(Status(), " Komunikační rychlost musí být v rozsahu 600Bd-115200Bd.");
    EXPECT_EQ(dialog.WorkingConfig().Address, 6);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(data.ModuleConfig, before);
}

TEST_F(AddressDialog, LongTextKeepsTheFixedSize)
{
    const QSize before = dialog.size();
    dialog.StatusBar1->SetText(QString(120, QChar(0x0159)));
    // The relayout it would cause takes more than one turn of the event
    // loop: turns counted, not milliseconds, which a busy machine shortens.
    for (int turn = 0; turn < 10; ++turn)
        QCoreApplication::processEvents();
    EXPECT_EQ(dialog.size(), before);
}

} // namespace
