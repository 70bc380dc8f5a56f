#include "OkamDIN.h"

#include "BitColumns.h"
#include "Qxxx417.h"
#include "WindowKit.h"

#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

QString BitText(uint8_t value, uint8_t bit)
{
    // Shifting by 8 or more is not a bit of the byte (and past 31 not
    // defined at all), so those numbers never reach the shift.
    if (bit > 7)
        return QStringLiteral("0");
    return (value >> bit) & 1u ? QStringLiteral("1") : QStringLiteral("0");
}

TForm11::TForm11(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("Form11"));
    setWindowTitle(QStringLiteral("Okamžité hodnoty digitálních vstupů"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    std::array<QString, 32> captions;
    for (int n = 0; n < 32; ++n)
        captions[n] = QStringLiteral("DIN%1").arg(n);
    Columns = new TBitColumns(captions, this);
    Button1 = new QPushButton(QStringLiteral("Cancel"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    StatusBar1 = new TSinglePanelStatusBar(this);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *body = new QVBoxLayout;
    body->setContentsMargins(24, 20, 24, 12);
    body->setSpacing(16);
    body->addWidget(Columns);
    body->addWidget(Button1, 0, Qt::AlignHCenter);
    outer->addLayout(body);
    outer->addWidget(StatusBar1);
    setFixedSize(sizeHint());

    connect(Button1, &QPushButton::clicked, this, &TForm11::Button1Click);
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    connect(Timer1, &QTimer::timeout, this, &TForm11::Timer1Timer);
    Timer1->start(100);

    FormCreate();
}

void TForm11::FormCreate()
{
    address_ = 0;
}

void TForm11::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    FormShow();
}

void TForm11::FormShow()
{
    if (Data != nullptr)
        address_ = Data->Address;
}

void TForm11::Button1Click()
{
    reject();
}

void TForm11::Timer1Timer()
{
    PollColumns(*Columns, *StatusBar1, Data, address_, CmdReadInputs, SubChannels, text_);
}
