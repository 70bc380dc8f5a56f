// The main window: its menu, status bar, record and the order of things at
// close.
#include "AppTest.h"
#include "Hlavni.h"
#include "NastavAdr.h"
#include "NastavDIO.h"
#include "OkamDIN.h"
#include "OkamDOUT.h"
#include "Pripojeni.h"
#include "StatReg.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::remove_all(SettingsFile());
        DrvSetLibraryDirectory(FakesDir / "full");
    }
    void TearDown() override { fs::remove_all(SettingsFile()); }

    static std::string Settings()
    {
        std::ifstream in(SettingsFile(), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    // Opens the connection dialog from the menu and presses its button.
    static void Connect(TForm1 &w, uint8_t kind)
    {
        OnShow<TForm2> press([kind](TForm2 *d) {
            d->ComboBox2->setCurrentIndex(kind);
            d->ComboBox2Change();
            d->Button1Click();
        });
        w.Pipojen1->trigger();
    }
};

QStringList Captions(const QList<QAction *> &actions)
{
    QStringList out;
    for (QAction *a : actions)
        out << a->text() + (a->isVisible() ? "" : " (hidden)");
    return out;
}

// The three hidden items stay out of sight; no item opens a window twice.
TEST_F(MainWindow, MenuTreeAndStatusBar)
{
    TForm1 w;
    EXPECT_EQ(w.windowTitle(), " KORVAL digitální moduly (v.1.04) -  nastavení modulu");
    EXPECT_EQ(Captions(w.menuBar()->actions()),
              (QStringList{"&Připojení", "&Nastavení", "&Okamžité hodnoty", "&Nástroje", "&Konec"}));
    EXPECT_EQ(Captions(w.Nastroje1->actions()),
              (QStringList{"&Hledat moduly…", "&Profil konfigurace…", "Pře&jímací zkouška…",
                           "&Záznam komunikace"}));
    EXPECT_EQ(w.Pipojen1->menu(), nullptr);
    EXPECT_EQ(w.Konec2->menu(), nullptr);
    EXPECT_EQ(Captions(w.Nastaven1->actions()),
              (QStringList{"Adresa, rychlost", "Analogové vstupy (hidden)",
                           "Digitální vstupy/výstupy", "Kalibrace vstupů (hidden)"}));
    EXPECT_EQ(Captions(w.Okamithodnoty1->actions()),
              (QStringList{"Analogové vstupy (hidden)", "Digitální vstupy", "Digitální výstupy",
                           "Status registr"}));
    ASSERT_EQ(w.findChild<QAction *>("Statusregistr1"), w.Statusregistr1);

    const char *texts[] = {" Modul", " Adresa", " Rychlost", ""};
    const int widths[] = {140, 80, 120, 50};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(w.Panel(i)->text(), texts[i]);
        EXPECT_EQ(w.Panel(i)->width() == widths[i] || w.Panel(i)->minimumWidth() == widths[i],
                  true);
    }
    // Creation does not write the panels.
    ASSERT_NE(w.Data, nullptr);
}

// A new font reaches the panels at the next layout pass, and their new
// height the bar at the pass after.
void Settle()
{
    for (int pass = 0; pass < 3; ++pass)
        QCoreApplication::processEvents();
}

// Every panel shows the whole of its text, letters' bottoms included,
// inside the bar and the window; the given widths stay as minimums.
void ExpectWholeTexts(const TForm1 &w, const std::string &when)
{
    const int minimums[] = {140, 80, 120, 50};
    const QRect bar = w.StatusBar1->rect();
    EXPECT_GE(w.StatusBar1->height(), 19) << when;
    EXPECT_TRUE(w.rect().contains(w.StatusBar1->geometry())) << when;
    for (int i = 0; i < 4; ++i) {
        const QLabel *panel = w.Panel(i);
        const QFontMetrics fm = panel->fontMetrics();
        // A framed label indents its text by half an "x".
        const int indent = fm.horizontalAdvance(QLatin1Char('x')) / 2;
        const std::string what = when + ", panel " + std::to_string(i);
        EXPECT_GE(panel->contentsRect().width(), fm.horizontalAdvance(panel->text()) + indent)
            << what << " '" << panel->text().toStdString() << "'";
        EXPECT_GE(panel->contentsRect().height(), fm.height()) << what;
        EXPECT_GE(panel->width(), minimums[i]) << what;
        EXPECT_TRUE(bar.contains(panel->geometry())) << what;
    }
}

TEST_F(MainWindow, StatusBarShowsWholeTextsInAnyFont)
{
    TForm1 w;
    w.show();
    auto connectTo = [&w](const char *name) {
        w.Data->ModuleName = name;
        w.Data->Address = 255;
        w.Data->BaudRate = 115200;
        OnShow<TForm2> cancel([](TForm2 *d) { d->Button2Click(); });
        w.Pipojen1->trigger();
    };
    // The given width, or what the default font needs for an empty name
    // where its letters are wider (wine's fonts).
    connectTo("");
    const int given = w.Panel(0)->width();
    EXPECT_GE(given, 140);
    connectTo("SPYMOD01 v.1.23");
    ExpectWholeTexts(w, "default font");

    QFont larger = w.font();
    larger.setPointSizeF(larger.pointSizeF() * 1.5);
    w.setFont(larger);
    Settle();
    ExpectWholeTexts(w, "larger font");
    connectTo("WWWWWWWW v.8.88");
    ExpectWholeTexts(w, "larger font, wider name");

    // Back in the default font the panels return to their given widths.
    w.setFont(QFont());
    Settle();
    connectTo("");
    ExpectWholeTexts(w, "default font again");
    EXPECT_EQ(w.Panel(0)->width(), given);
}

// The given size includes the window's frame where the platform draws one.
TEST_F(MainWindow, OuterSizeIsTheGivenOne)
{
    TForm1 w;
    w.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(w.frameGeometry().width(), 600);
    EXPECT_EQ(w.frameGeometry().height(), 400);
}

TEST_F(MainWindow, ConnectionDialogClosedWithoutInitialisingShowsTheDefaults)
{
    TForm1 w;
    OnShow<TForm2> cancel([](TForm2 *d) { d->Button2Click(); });
    w.Pipojen1->trigger();
    EXPECT_EQ(cancel.count, 1);
    EXPECT_EQ(w.Panel(0)->text(), " Modul  ");
    EXPECT_EQ(w.Panel(1)->text(), " Adresa  0");
    EXPECT_EQ(w.Panel(2)->text(), " Rychlost  9600Bd");
}

TEST_F(MainWindow, StatusBarAfterSuccessAndAfterFailure)
{
    FakeDriver fake(ifPci);
    fake->script_len = 3;
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 4; ++k)
            fake->script[i].d[k] = "ABCDEFGH1.07"[4 * i + k];
    TForm1 w;
    {
        OnShow<TForm2> press([](TForm2 *d) {
            d->ComboBox2->setCurrentIndex(ifPci);
            d->Edit1->setText("5");
            d->ComboBox1->setCurrentIndex(5);
            d->Button1Click();
        });
        w.Pipojen1->trigger();
    }
    EXPECT_EQ(w.Panel(0)->text(), " Modul  ABCDEFGH v.1.07");
    EXPECT_EQ(w.Panel(1)->text(), " Adresa  5");
    EXPECT_EQ(w.Panel(2)->text(), " Rychlost  19200Bd");

    // A failed attempt still rewrites the panels, from the record, which
    // keeps the last success's values.
    fake->init_result = 3;
    {
        OnShow<TForm2> press([](TForm2 *d) {
            d->Edit1->setText("9");
            d->Button1Click();
        });
        w.Pipojen1->trigger();
    }
    EXPECT_FALSE(w.Data->Connected);
    EXPECT_EQ(w.Panel(0)->text(), " Modul  ABCDEFGH v.1.07");
    EXPECT_EQ(w.Panel(1)->text(), " Adresa  5");
}

bool settingsWrittenAtDone = false;
void CheckSettingsAtDone()
{
    std::ifstream in(SettingsFile(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    settingsWrittenAtDone = ss.str().find("USB-1417") != std::string::npos;
}

TEST_F(MainWindow, CloseSavesBeforeItClosesTheConnection)
{
    FakeDriver fake(ifUsb);
    fake->on_done = CheckSettingsAtDone;
    auto *w = new TForm1;
    Connect(*w, ifUsb);
    ASSERT_TRUE(w->Data->Connected);
    fake->log[0] = '\0';
    EXPECT_TRUE(w->close());
    EXPECT_EQ(fake.Log(), "Done");
    EXPECT_TRUE(settingsWrittenAtDone);
    EXPECT_EQ(w->Data, nullptr);
    delete w;
}

TEST_F(MainWindow, CloseWithoutConnectionCallsNoDriver)
{
    FakeDriver fake(ifCom);
    TForm1 w;
    EXPECT_TRUE(w.close());
    EXPECT_EQ(fake.Log(), "");
    EXPECT_NE(Settings().find("Rozhran\xED=COMx"), std::string::npos);
}

TEST_F(MainWindow, UnwritableSettingsKeepTheWindowOpen)
{
    FakeDriver fake(ifUsb);
    TForm1 w;
    w.show();
    Connect(w, ifUsb);
    ASSERT_TRUE(w.Data->Connected);
    fake->log[0] = '\0';
    // A directory where the file belongs cannot be replaced by a file,
    // whatever rights the tests run with.
    fs::create_directory(SettingsFile());
    MessageCatcher boxes;
    EXPECT_FALSE(w.close());
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_EQ(boxes.texts[0], QString::fromStdString("Unable to write to " + SettingsFile().string()));
    EXPECT_TRUE(w.isVisible());
    ASSERT_NE(w.Data, nullptr);
    EXPECT_TRUE(w.Data->Connected);
    EXPECT_EQ(fake.Log(), "");

    // Once the way is free, the second close saves and ends.
    fs::remove(SettingsFile());
    EXPECT_TRUE(w.close());
    EXPECT_EQ(fake.Log(), "Done");
    EXPECT_NE(Settings().find("USB-1417"), std::string::npos);
}

TEST_F(MainWindow, SettingsFileIsReadAtCreation)
{
    std::ofstream(SettingsFile(), std::ios::binary)
        << "[P\xF8ipojen\xED]\r\nRozhran\xED=LX-1417\r\nAdresa=0x1F\r\n";
    TForm1 w;
    ASSERT_NE(w.Data, nullptr);
    EXPECT_EQ(w.Data->Kind, ifLan);
    EXPECT_EQ(w.Data->Address, 31);
    EXPECT_EQ(w.Panel(1)->text(), " Adresa"); // not written until the dialog closes
}

TEST_F(MainWindow, WithoutRecordNothingOpensAndNothingIsSaved)
{
    auto saved = TForm1::AllocateRecord;
    TForm1::AllocateRecord = [] { return static_cast<TData *>(nullptr); };
    TForm1 w;
    TForm1::AllocateRecord = saved;
    EXPECT_EQ(w.Data, nullptr);
    EXPECT_EQ(w.Panel(3)->text(), " Nelze vytvořit datové struktury programu");
    w.show();
    Settle();
    ExpectWholeTexts(w, "without record");
    OnShow<QDialog> any([](QDialog *) {});
    for (QAction *a : {w.Pipojen1, w.AdresaRychlost1, w.NastavDIO1, w.OkamDIN2, w.OkamDOUT1,
                       w.Statusregistr1})
        a->trigger();
    EXPECT_EQ(any.count, 0);
    EXPECT_EQ(w.Panel(0)->text(), " Modul");
    EXPECT_TRUE(w.close());
    EXPECT_FALSE(fs::exists(SettingsFile()));
}

template <class W> void ExpectFreshInstance(TForm1 &w, QAction *item)
{
    QPointer<W> seen;
    OnShow<W> check([&](W *d) {
        seen = d;
        EXPECT_EQ(d->Data, w.Data);
        EXPECT_EQ(d->parentWidget(), &w);
        EXPECT_TRUE(d->isModal());
    });
    item->trigger();
    EXPECT_EQ(check.count, 1) << item->objectName().toStdString();
    EXPECT_TRUE(seen.isNull()) << "not destroyed: " << item->objectName().toStdString();
}

// Every named control with its text and place, as the user meets them.
QStringList NamedControls(const QWidget &w)
{
    QStringList out;
    for (const QWidget *c : w.findChildren<QWidget *>()) {
        if (c->objectName().isEmpty())
            continue;
        QString text;
        if (auto *label = qobject_cast<const QLabel *>(c))
            text = label->text();
        else if (auto *button = qobject_cast<const QAbstractButton *>(c))
            text = button->text();
        else if (auto *edit = qobject_cast<const QLineEdit *>(c))
            text = edit->text();
        else if (auto *combo = qobject_cast<const QComboBox *>(c))
            text = combo->currentText();
        const QRect r = c->geometry();
        out << QStringLiteral("%1 '%2' %3,%4 %5x%6 %7")
                   .arg(c->objectName(), text)
                   .arg(r.x())
                   .arg(r.y())
                   .arg(r.width())
                   .arg(r.height())
                   .arg(c->isVisible() ? "shown" : "hidden");
    }
    out.sort();
    return out;
}

// A start-up instance holds no control until it shows, and then the same
// controls as one built at once.
template <class W> void ExpectBuiltAtFirstShow(TData &data)
{
    W eager;
    eager.Data = &data;
    eager.show();
    const std::string name = eager.objectName().toStdString();
    W late(nullptr, TBuild::OnFirstUse);
    EXPECT_TRUE(late.template findChildren<QWidget *>().isEmpty()) << name;
    late.Data = &data;
    late.show();
    EXPECT_FALSE(NamedControls(late).isEmpty()) << name;
    EXPECT_EQ(NamedControls(late), NamedControls(eager)) << name;
    EXPECT_EQ(late.size(), eager.size()) << name;
}

TEST_F(MainWindow, StartUpInstancesBuildTheSameWindowAtTheirFirstShowing)
{
    TData data;
    ConnectionDefaults(&data);
    data.Kind = ifLan;
    data.Address = 23;
    data.ModuleConfig.Address = 23;
    data.ModuleConfig.DinNegation[1] = 0x81;
    ExpectBuiltAtFirstShow<TForm2>(data);
    ExpectBuiltAtFirstShow<TForm11>(data);
    ExpectBuiltAtFirstShow<TForm9>(data);
    ExpectBuiltAtFirstShow<TForm12>(data);
    ExpectBuiltAtFirstShow<TForm14>(data);
    ExpectBuiltAtFirstShow<TForm15>(data);
}

// A handler called on a start-up instance that was never shown builds it
// first instead of reaching a missing control.
TEST_F(MainWindow, HandlersOfAnUnshownStartUpInstanceBuildIt)
{
    TData data;
    ConnectionDefaults(&data);
    data.Kind = ifLan;
    data.Address = 23;
    TForm2 connection(nullptr, TBuild::OnFirstUse);
    connection.Data = &data;
    connection.FormShow();
    EXPECT_EQ(connection.Edit1->text(), "23");
    EXPECT_EQ(connection.Label3->text(), "IP adresa");
    TForm2 unrecorded(nullptr, TBuild::OnFirstUse);
    unrecorded.ComboBox2Change();
    EXPECT_EQ(unrecorded.ComboBox2->count(), 5);

    TModuleConfig config{};
    config.Address = 77;
    config.BaudCode = 6;
    TForm12 address(nullptr, TBuild::OnFirstUse);
    address.ZapisOkno(config);
    EXPECT_EQ(address.Edit1->text(), "77");
    EXPECT_EQ(address.ComboBox1->currentText(), "38400 Bd");

    config.DoutInitState[3] = 0x80;
    TForm14 dio(nullptr, TBuild::OnFirstUse);
    dio.ZapisOkno(config);
    EXPECT_TRUE(dio.CheckBox(96)->isChecked());
    EXPECT_FALSE(dio.CheckBox(95)->isChecked());
}

TEST_F(MainWindow, EveryMenuCommandShowsAFreshModalInstance)
{
    TForm1 w;
    ExpectFreshInstance<TForm2>(w, w.Pipojen1);
    ExpectFreshInstance<TForm2>(w, w.Pipojen1);
    ExpectFreshInstance<TForm12>(w, w.AdresaRychlost1);
    ExpectFreshInstance<TForm14>(w, w.NastavDIO1);
    ExpectFreshInstance<TForm11>(w, w.OkamDIN2);
    ExpectFreshInstance<TForm9>(w, w.OkamDOUT1);
    ExpectFreshInstance<TForm15>(w, w.Statusregistr1);
}

} // namespace
