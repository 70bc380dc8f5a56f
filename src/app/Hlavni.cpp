#include "Hlavni.h"

#include "NastavAdr.h"
#include "NastavDIO.h"
#include "OkamDIN.h"
#include "OkamDOUT.h"
#include "Pripojeni.h"
#include "Program.h"
#include "ProfileFile.h"
#include "Qxxx417.h"
#include "StatReg.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>

#include <memory>
#include <new>

TData *(*TForm1::AllocateRecord)() = [] { return new (std::nothrow) TData; };

namespace {

QAction *Item(QWidget *menu, QObject *owner, const char *name, const QString &caption)
{
    auto *a = new QAction(caption, owner);
    a->setObjectName(QString::fromLatin1(name));
    menu->addAction(a);
    return a;
}

} // namespace

TForm1::TForm1(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral(" KORVAL digitální moduly (v.1.04) -  nastavení modulu"));
    resize(600, 400);

    QMenuBar *MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    Pipojen1 = Item(MainMenu1, this, "Pipojen1", QStringLiteral("&Připojení"));

    Nastaven1 = MainMenu1->addMenu(QStringLiteral("&Nastavení"));
    Nastaven1->setObjectName(QStringLiteral("Nastaven1"));
    AdresaRychlost1 = Item(Nastaven1, this, "AdresaRychlost1", QStringLiteral("Adresa, rychlost"));
    NastavAIN1 = Item(Nastaven1, this, "NastavAIN1", QStringLiteral("Analogové vstupy"));
    NastavDIO1 = Item(Nastaven1, this, "NastavDIO1", QStringLiteral("Digitální vstupy/výstupy"));
    Kalibracevstup1 = Item(Nastaven1, this, "Kalibracevstup1", QStringLiteral("Kalibrace vstupů"));

    Okamithodnoty1 = MainMenu1->addMenu(QStringLiteral("&Okamžité hodnoty"));
    Okamithodnoty1->setObjectName(QStringLiteral("Okamithodnoty1"));
    OkamAIN2 = Item(Okamithodnoty1, this, "OkamAIN2", QStringLiteral("Analogové vstupy"));
    OkamDIN2 = Item(Okamithodnoty1, this, "OkamDIN2", QStringLiteral("Digitální vstupy"));
    OkamDOUT1 = Item(Okamithodnoty1, this, "OkamDOUT1", QStringLiteral("Digitální výstupy"));
    Statusregistr1 = Item(Okamithodnoty1, this, "Statusregistr1", QStringLiteral("Status registr"));

    Konec2 = Item(MainMenu1, this, "Konec2", QStringLiteral("&Konec"));

    for (QAction *hidden : {NastavAIN1, Kalibracevstup1, OkamAIN2})
        hidden->setVisible(false);

    connect(Pipojen1, &QAction::triggered, this, &TForm1::Pipojen1Click);
    connect(AdresaRychlost1, &QAction::triggered, this, &TForm1::AdresaRychlost1Click);
    connect(NastavAIN1, &QAction::triggered, this, &TForm1::NastavAIN1Click);
    connect(NastavDIO1, &QAction::triggered, this, &TForm1::NastavDIO1Click);
    connect(Kalibracevstup1, &QAction::triggered, this, &TForm1::Kalibracevstup1Click);
    connect(OkamAIN2, &QAction::triggered, this, &TForm1::OkamAIN2Click);
    connect(OkamDIN2, &QAction::triggered, this, &TForm1::OkamDIN2Click);
    connect(OkamDOUT1, &QAction::triggered, this, &TForm1::OkamDOUT1Click);
    connect(Statusregistr1, &QAction::triggered, this, &TForm1::Statusregistr1Click);
    connect(Konec2, &QAction::triggered, this, &TForm1::Konec2Click);

    StatusBar1 = statusBar();
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->setFixedHeight(19);
    const int widths[] = {140, 80, 120, 50};
    const QString texts[] = {QStringLiteral(" Modul"), QStringLiteral(" Adresa"),
                             QStringLiteral(" Rychlost"), QString()};
    for (std::size_t i = 0; i < panels_.size(); ++i) {
        auto *panel = new QLabel(texts[i], StatusBar1);
        panel->setObjectName(QStringLiteral("StatusBar1Panel%1").arg(i));
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setFixedWidth(widths[i]);
        // The last panel stretches to the right edge, as a status bar's last
        // panel does.
        StatusBar1->addWidget(panel, i + 1 == panels_.size() ? 1 : 0);
        panels_[i] = panel;
    }

    FormCreate();
}

TForm1::~TForm1()
{
    delete Data;
}

void TForm1::FormCreate()
{
    TData *d = AllocateRecord();
    if (d == nullptr) {
        panels_[3]->setText(QStringLiteral(" ") + QString::fromUtf8(TextNoDataStructures));
        panels_[3]->setMinimumWidth(50);
        panels_[3]->setMaximumWidth(QWIDGETSIZE_MAX);
        return;
    }
    Data = d;
    ConnectionDefaults(Data);
    LoadConnection(Data);
}

bool TForm1::FormClose()
{
    if (Data == nullptr)
        return true;
    try {
        SaveConnection(Data);
    } catch (const ProfileWriteError &e) {
        // Closing now would lose the settings; the user can free the
        // directory and close again.
        ShowError(this, QString::fromStdString(e.what()));
        return false;
    }
    if (Data->Connected && Data->Handle != 0) {
        int32_t handle = Data->Handle;
        DrvDone(Data->Kind, handle);
    }
    delete Data;
    Data = nullptr;
    return true;
}

void TForm1::closeEvent(QCloseEvent *event)
{
    if (FormClose())
        event->accept();
    else
        event->ignore();
}

void TForm1::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (placed_)
        return;
    placed_ = true;
    if (QScreen *s = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
}

template <class Window> void TForm1::ShowModal()
{
    if (Data == nullptr)
        return;
    // Destroyed when the showing ends, however it ends.
    auto window = std::make_unique<Window>(this);
    window->Data = Data;
    window->exec();
}

void TForm1::Pipojen1Click()
{
    if (Data == nullptr)
        return;
    ShowModal<TForm2>();
    panels_[0]->setText(QStringLiteral(" Modul  ") + QString::fromStdString(Data->ModuleName));
    panels_[1]->setText(QStringLiteral(" Adresa  ") + QString::number(Data->Address));
    panels_[2]->setText(QStringLiteral(" Rychlost  ") + QString::number(Data->BaudRate) +
                        QStringLiteral("Bd"));
}

void TForm1::AdresaRychlost1Click()
{
    ShowModal<TForm12>();
}

void TForm1::NastavDIO1Click()
{
    ShowModal<TForm14>();
}

void TForm1::OkamDIN2Click()
{
    ShowModal<TForm11>();
}

void TForm1::OkamDOUT1Click()
{
    ShowModal<TForm9>();
}

void TForm1::Statusregistr1Click()
{
    ShowModal<TForm15>();
}

void TForm1::Konec2Click()
{
    close();
}
