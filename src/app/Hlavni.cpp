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
#include "Hledani.h"
#include "Prejimka.h"
#include "Profil.h"
#include "Zaznam.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QLayout>
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

// A status bar of sunken panels, each at least its given width and wider
// when its text needs it in the font in use; the bar at least its given
// height and as high as the panels need.
class TStatusBar : public QStatusBar {
public:
    TStatusBar(int givenHeight, QWidget *parent) : QStatusBar(parent), givenHeight_(givenHeight)
    {
        setSizeGripEnabled(false);
    }
    QLabel *AddPanel(const QString &text, int givenWidth)
    {
        auto *panel = new QLabel(text, this);
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        // A label's hint is its text's width, raised to its minimum.
        panel->setMinimumWidth(givenWidth);
        panel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
        addWidget(panel);
        return panel;
    }
    // Not an explicit minimum height: that would hold the bar at it.
    QSize sizeHint() const override { return QStatusBar::sizeHint().expandedTo({0, givenHeight_}); }
    QSize minimumSizeHint() const override
    {
        return QStatusBar::minimumSizeHint().expandedTo({0, givenHeight_});
    }

protected:
    bool event(QEvent *e) override
    {
        const bool handled = QStatusBar::event(e);
        // The main window never makes itself narrower than its bar's
        // minimum width, and a narrower bar would squeeze the panels to
        // their given widths. A new text or font of a panel reaches the bar
        // as a layout request; one set before the bar was first laid out,
        // at its showing.
        if ((e->type() == QEvent::LayoutRequest || e->type() == QEvent::Show) &&
            layout() != nullptr)
            setMinimumWidth(layout()->totalSizeHint().width());
        return handled;
    }

private:
    int givenHeight_;
};

} // namespace

TForm1::TForm1(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral(" KORVAL digitální moduly (v.1.04) -  nastavení modulu"));
    // The inner size until the window system reports its frame, then
    // FitOuterSize makes the outer size this.
    resize(OuterSize);

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

    Nastroje1 = MainMenu1->addMenu(QStringLiteral("&Nástroje"));
    Nastroje1->setObjectName(QStringLiteral("Nastroje1"));
    HledatModuly1 = Item(Nastroje1, this, "HledatModuly1", QStringLiteral("&Hledat moduly…"));
    ProfilKonfigurace1 =
        Item(Nastroje1, this, "ProfilKonfigurace1", QStringLiteral("&Profil konfigurace…"));
    PrejimaciZkouska1 =
        Item(Nastroje1, this, "PrejimaciZkouska1", QStringLiteral("Pře&jímací zkouška…"));
    ZaznamKomunikace1 =
        Item(Nastroje1, this, "ZaznamKomunikace1", QStringLiteral("&Záznam komunikace"));

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
    connect(HledatModuly1, &QAction::triggered, this, &TForm1::HledatModuly1Click);
    connect(ProfilKonfigurace1, &QAction::triggered, this, &TForm1::ProfilKonfigurace1Click);
    connect(PrejimaciZkouska1, &QAction::triggered, this, &TForm1::PrejimaciZkouska1Click);
    connect(ZaznamKomunikace1, &QAction::triggered, this, &TForm1::ZaznamKomunikace1Click);
    connect(Konec2, &QAction::triggered, this, &TForm1::Konec2Click);

    // The given sizes are minimums: at their given widths, a long module
    // name or a larger font would cut off the very text the window is there
    // to show.
    auto *bar = new TStatusBar(19, this);
    StatusBar1 = bar;
    setStatusBar(StatusBar1);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    const int widths[] = {140, 80, 120, 50};
    const QString texts[] = {QStringLiteral(" Modul"), QStringLiteral(" Adresa"),
                             QStringLiteral(" Rychlost"), QString()};
    for (std::size_t i = 0; i < panels_.size(); ++i) {
        panels_[i] = bar->AddPanel(texts[i], widths[i]);
        panels_[i]->setObjectName(QStringLiteral("StatusBar1Panel%1").arg(i));
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
    outerSizePending_ = true;
    FitOuterSize();
    Centre();
}

void TForm1::moveEvent(QMoveEvent *event)
{
    QMainWindow::moveEvent(event);
    // A window manager that decorates the window after it is mapped moves
    // it into its frame; only then is the frame known.
    if (outerSizePending_ && FitOuterSize())
        Centre();
}

bool TForm1::FitOuterSize()
{
    const QSize frame = frameGeometry().size() - geometry().size();
    if (frame == QSize(0, 0))
        return false;
    outerSizePending_ = false;
    resize(OuterSize - frame);
    return true;
}

void TForm1::Centre()
{
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
    ShowConnection();
}

void TForm1::ShowConnection()
{
    panels_[0]->setText(QStringLiteral(" Modul  ") + QString::fromStdString(Data->ModuleName));
    panels_[1]->setText(QStringLiteral(" Adresa  ") + QString::number(Data->Address));
    panels_[2]->setText(QStringLiteral(" Rychlost  ") + QString::number(Data->BaudRate) +
                        QStringLiteral("Bd"));
    // Widened now rather than at the event loop's next turn, so the new
    // texts are never painted cut off; the panels, then the bar and window.
    for (int pass = 0; pass < 2; ++pass)
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    for (int i = 0; i < 3; ++i)
        panels_[std::size_t(i)]->repaint();
}

// The finder closes the connection and may open one to a find: the status
// bar shows the record as after the connection dialog.
void TForm1::HledatModuly1Click()
{
    if (Data == nullptr)
        return;
    ShowModal<THledani>();
    ShowConnection();
}

void TForm1::ProfilKonfigurace1Click()
{
    ShowModal<TProfil>();
}

void TForm1::PrejimaciZkouska1Click()
{
    ShowModal<TPrejimka>();
}

// One log for the run, modeless: it goes on filling while the other
// windows are shown modally.
void TForm1::ZaznamKomunikace1Click()
{
    if (log_ == nullptr)
        log_ = new TZaznam(this);
    log_->show();
    log_->raise();
    log_->activateWindow();
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
