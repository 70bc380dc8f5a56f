#include "StatReg.h"

#include "BitColumns.h"
#include "Qxxx417.h"
#include "WindowKit.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

TForm15::TForm15(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("Form15"));
    setWindowTitle(QStringLiteral("Status registr"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    // Only the first byte's bits carry names.
    std::array<QString, 32> captions;
    captions.fill(QStringLiteral("---"));
    captions[1] = QStringLiteral("FN");
    captions[2] = QStringLiteral("PRF");
    captions[4] = QStringLiteral("PWR");
    captions[5] = QStringLiteral("RST");
    captions[6] = QStringLiteral("ERR24");
    Columns = new TBitColumns(captions, this);
    Button2 = new QPushButton(QStringLiteral("Vynulovat"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button1 = new QPushButton(QStringLiteral("Cancel"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    StatusBar1 = new TSinglePanelStatusBar(this);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *body = new QVBoxLayout;
    body->setContentsMargins(24, 20, 24, 12);
    body->setSpacing(16);
    body->addWidget(Columns);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(Button2);
    buttons->addStretch(1);
    buttons->addWidget(Button1);
    body->addLayout(buttons);
    outer->addLayout(body);
    outer->addWidget(StatusBar1);
    setFixedSize(sizeHint());

    connect(Button1, &QPushButton::clicked, this, &TForm15::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm15::Button2Click);
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    connect(Timer1, &QTimer::timeout, this, &TForm15::Timer1Timer);
    Timer1->start(500);

    FormCreate();
}

void TForm15::FormCreate()
{
    address_ = 0;
}

void TForm15::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    FormShow();
}

void TForm15::FormShow()
{
    if (Data != nullptr)
        address_ = Data->Address;
}

void TForm15::Button1Click()
{
    reject();
}

void TForm15::Button2Click()
{
    if (Data == nullptr)
        return;
    if (!ConnectionUsable(Data)) {
        StatusBar1->SetText(TextNotInitialised);
        return;
    }
    uint8_t x = 0;
    uint8_t d0 = 0, d1 = 0, d2 = 0, d3 = 0;
    uint8_t status = DrvNotComposed; // kept when nothing is sent: never a false success
    TDataArray reply{};
    ModuleCall(Data->Kind, Data->Handle, address_, CmdClearStatus, SubNone, x, d0, d1, d2, d3,
               status, reply);
    const QString text = DriverStatusText(Data->Kind, status, text_);
    // A good clear says nothing: the next poll, at most 500 ms away, shows
    // the cleared register and rewrites the panel.
    if (status != 0)
        StatusBar1->SetText(QStringLiteral(" ") + text);
}

void TForm15::Timer1Timer()
{
    PollColumns(*Columns, *StatusBar1, Data, address_, CmdReadStatus, SubNone, text_);
}
