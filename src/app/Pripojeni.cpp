#include "Pripojeni.h"

#include "Module.h"
#include "Qxxx417.h"
#include "WindowKit.h"
#include "Text.h"
#include "q417drv.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <array>

namespace {

const QString InterfaceEntries[] = {
    QStringLiteral("Standardní COMx"),        QStringLiteral("ISA karta PCI-417"),
    QStringLiteral("PCI karta PCI-1417"),     QStringLiteral("USB konvertor USB-1417"),
    QStringLiteral("LAN konvertor LX-1417"),
};

// The ISA base address as the dialog shows it: upper-case hex, at least
// three digits, then "h".
QString IsaText(uint16_t base)
{
    return QStringLiteral("%1").arg(base, 3, 16, QLatin1Char('0')).toUpper() + QLatin1Char('h');
}

bool ToInt(const QLineEdit *edit, int32_t &value)
{
    return TryTextToInt(edit->text().toStdString(), value);
}

} // namespace

TForm2::TForm2(QWidget *owner, TBuild build) : TDeferredDialog(owner)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Připojení modulu"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    if (build == TBuild::Now)
        EnsureBuilt();
}

void TForm2::BuildControls()
{
    auto label = [this](const char *name, const QString &caption) {
        auto *l = new QLabel(caption, this);
        l->setObjectName(QString::fromLatin1(name));
        return l;
    };
    auto edit = [this](const char *name) {
        auto *e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        return e;
    };
    Label1 = label("Label1", QStringLiteral("Adresa připojeného modulu"));
    Label2 = label("Label2", QStringLiteral("Komunikační rychlost"));
    Label3 = label("Label3", QString());
    Label4 = label("Label4", QStringLiteral("Status připojení"));
    Edit1 = edit("Edit1");
    Edit2 = edit("Edit2");
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    for (uint8_t code = 0; code < BaudCodeCount; ++code)
        ComboBox1->addItem(QString::number(BaudCodeToRate(code)) + QStringLiteral(" Bd"));
    Panel1 = label("Panel1", QString());
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setAutoFillBackground(true);
    QPalette white = Panel1->palette();
    white.setColor(QPalette::Window, Qt::white);
    Panel1->setPalette(white);
    Panel1->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Panel1->setMinimumHeight(25);
    Button1 = new QPushButton(QStringLiteral("Inicializace připojení"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button2 = new QPushButton(QStringLiteral("Cancel"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Label5 = label("Label5", QStringLiteral("Komunikační rozhraní"));
    ComboBox2 = new QComboBox(this);
    ComboBox2->setObjectName(QStringLiteral("ComboBox2"));
    for (const QString &entry : InterfaceEntries)
        ComboBox2->addItem(entry);
    Label6 = label("Label6", QString());
    Edit3 = edit("Edit3");
    Label7 = label("Label7", QString());
    Edit4 = edit("Edit4");

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(24, 20, 24, 20);
    grid->setHorizontalSpacing(24);
    grid->setColumnStretch(1, 1);
    const std::pair<QWidget *, QWidget *> rows[] = {
        {Label5, ComboBox2}, {Label3, Edit2}, {Label6, Edit3},     {Label7, Edit4},
        {Label1, Edit1},     {Label2, ComboBox1}, {Label4, nullptr},
    };
    int row = 0;
    for (const auto &[left, right] : rows) {
        grid->addWidget(left, row, 0);
        if (right != nullptr)
            grid->addWidget(right, row, 1);
        ++row;
    }
    grid->addWidget(Panel1, row++, 0, 1, 2);
    grid->setRowStretch(row++, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(Button1);
    buttons->addStretch(1);
    buttons->addWidget(Button2);
    grid->addLayout(buttons, row, 0, 1, 2);
    setFixedSize(592, 373);

    // Only the user's own choice changes the rows; a selection made by code
    // does not run the handler.
    connect(ComboBox2, &QComboBox::activated, this, &TForm2::ComboBox2Change);
    connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm2::Button2Click);

    ShowParameterRows(-1);
}

void TForm2::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    FormShow();
}

void TForm2::FormShow()
{
    EnsureBuilt();
    if (Data == nullptr)
        return;
    Edit1->setText(QString::number(Data->Address));
    ComboBox1->setCurrentIndex(RateToBaudCode(Data->BaudRate));
    ComboBox2->setCurrentIndex(Data->Kind <= ifLan ? Data->Kind : -1);
    ShowParameterRows(Data->Kind);
    SetPanel(QString::fromStdString(Data->StatusText));
}

void TForm2::ComboBox2Change()
{
    EnsureBuilt();
    ShowParameterRows(ComboBox2->currentIndex());
}

void TForm2::ShowParameterRows(int kind)
{
    for (QWidget *w : {static_cast<QWidget *>(Label3), static_cast<QWidget *>(Edit2),
                       static_cast<QWidget *>(Label6), static_cast<QWidget *>(Edit3),
                       static_cast<QWidget *>(Label7), static_cast<QWidget *>(Edit4)})
        w->setVisible(false);
    if (Data == nullptr)
        return;
    auto row = [](QLabel *l, QLineEdit *e, const QString &caption, const QString &text) {
        l->setText(caption);
        e->setText(text);
        l->setVisible(true);
        e->setVisible(true);
    };
    switch (kind) {
    case ifCom:
        row(Label3, Edit2, QStringLiteral("Číslo portu COMx"), QString::number(Data->ComPort));
        break;
    case ifIsa:
        row(Label3, Edit2, QStringLiteral("Bázová adresa PCI-417"), IsaText(Data->BaseAddress));
        break;
    case ifLan:
        row(Label3, Edit2, QStringLiteral("IP adresa"), QString::fromStdString(Data->IpAddress));
        row(Label6, Edit3, QStringLiteral("UDP port"), QString::number(Data->UdpPort));
        row(Label7, Edit4, QStringLiteral("UDP timeout"), QString::number(Data->UdpTimeout));
        break;
    default:
        break;
    }
}

void TForm2::SetPanel(const QString &text, bool repaintNow)
{
    Panel1->setText(text);
    // The driver calls that follow block the window; the text must be on
    // screen before they start.
    if (repaintNow)
        Panel1->repaint();
}

void TForm2::Button1Click()
{
    EnsureBuilt();
    if (Data == nullptr)
        return;

    CloseRecord(*Data);
    SetPanel(QStringLiteral("Probíhá inicializace připojení"), true);

    int32_t number = 0;
    const uint8_t address = uint8_t(ToInt(Edit1, number) ? number : 0);
    Edit1->setText(QString::number(address));

    const uint8_t code = uint8_t(ComboBox1->currentIndex());
    Data->Kind = uint8_t(ComboBox2->currentIndex());
    Data->InitParams.fill(0);

    switch (ComboBox2->currentIndex()) {
    case ifCom: {
        if (!ToInt(Edit2, number))
            number = 1;
        const uint16_t port = uint16_t(number);
        Edit2->setText(QString::number(port));
        Data->ComPort = uint8_t(number);
        Data->InitParams[0] = port;
        break;
    }
    case ifIsa: {
        const QString text = Edit2->text();
        const QString hex = text.length() == 4 ? QLatin1Char('$') + text.left(3)
                                               : QStringLiteral("$300");
        if (!TryTextToInt(hex.toStdString(), number))
            number = 0x300;
        const uint16_t base = uint16_t(number);
        Edit2->setText(IsaText(base));
        Data->BaseAddress = base;
        Data->InitParams[0] = base;
        break;
    }
    case ifPci:
    case ifUsb:
        break;
    case ifLan: {
        if (Edit2->text().isEmpty()) {
            SetPanel(QStringLiteral("Neplatná IP adresa"));
            return;
        }
        Data->IpAddress = Edit2->text().toStdString();
        if (!ToInt(Edit3, number) || uint32_t(number) > 65535) {
            SetPanel(QStringLiteral("Neplatný UDP port"));
            return;
        }
        Data->UdpPort = uint32_t(number);
        if (!ToInt(Edit4, number) || uint32_t(number) > 65535) {
            SetPanel(QStringLiteral("Neplatný UDP timeout"));
            return;
        }
        Data->UdpTimeout = std::max<uint32_t>(uint32_t(number), 1000);
        // The driver reads the text through the block while Init runs; the
        // record's string stays unchanged meanwhile.
        q417_params_set_text(Data->InitParams.data(), Data->IpAddress.c_str());
        Data->InitParams[1] = int32_t(Data->UdpPort);
        Data->InitParams[2] = int32_t(Data->UdpTimeout);
        break;
    }
    default:
        SetPanel(QStringLiteral("Neznámý typ rozhraní"));
        return;
    }

    const TConnectResult r = ConnectRecord(*Data, address, code, text_);
    const QString error = QString::fromStdString(r.StatusText);
    switch (r.Stage) {
    case TConnectStage::Init:
    case TConnectStage::SetConfig:
        SetPanel(QStringLiteral("Chyba inicializace připojení - ") + error);
        return;
    case TConnectStage::Identity:
        SetPanel(error);
        return;
    case TConnectStage::Done:
        break;
    }
    SetPanel(QStringLiteral("Připojení úspěšně inicializováno. Připojen modul   ") +
                 QString::fromStdString(Data->ModuleName),
             true);
}

void TForm2::Button2Click()
{
    reject();
}
