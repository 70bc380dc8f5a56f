#include "OkamDOUT.h"

#include "Module.h"
#include "WindowKit.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// One walking one for all instances of the panel: the word the next step
// writes, and whether the walk runs. Every new panel starts idle.
uint32_t Pattern = 1;
bool Running = false;

// Button3's caption is the walk's visible state and is compared as such.
const QString StartCaption = QStringLiteral("Start  \"Běžící 1\"");
const QString StopCaption = QStringLiteral("Stop  \"Běžící 1\"");

} // namespace

TForm9::TForm9(QWidget *owner, TBuild build) : TDeferredDialog(owner)
{
    setObjectName(QStringLiteral("Form9"));
    setWindowTitle(QStringLiteral("Zápis na digitální výstupy"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    connect(Timer1, &QTimer::timeout, this, &TForm9::Timer1Timer);
    Timer1->start(500);

    FormCreate();
    if (build == TBuild::Now)
        EnsureBuilt();
}

void TForm9::BuildControls()
{
    auto *boxes = new QGridLayout;
    boxes->setHorizontalSpacing(28);
    boxes->setVerticalSpacing(2);
    for (int n = 0; n < 32; ++n) {
        auto *box = new QCheckBox(QStringLiteral("DOUT%1").arg(n), this);
        box->setObjectName(QStringLiteral("CheckBox%1").arg(n + 1));
        boxes->addWidget(box, n % 8, n / 8);
        CheckBox[n] = box;
    }
    Button3 = new QPushButton(StartCaption, this);
    Button3->setObjectName(QStringLiteral("Button3"));
    Button1 = new QPushButton(QStringLiteral("Zapsat"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button2 = new QPushButton(QStringLiteral("Cancel"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    StatusBar1 = new TSinglePanelStatusBar(this);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *body = new QVBoxLayout;
    body->setContentsMargins(24, 20, 24, 12);
    body->setSpacing(16);
    body->addLayout(boxes);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(Button3);
    buttons->addStretch(1);
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    body->addLayout(buttons);
    outer->addLayout(body);
    outer->addWidget(StatusBar1);
    setFixedSize(sizeHint());

    connect(Button1, &QPushButton::clicked, this, &TForm9::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm9::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TForm9::Button3Click);
}

void TForm9::FormCreate()
{
    address_ = 0;
    Pattern = 1;
    Running = false;
}

void TForm9::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    FormShow();
}

void TForm9::FormShow()
{
    if (Data != nullptr)
        address_ = Data->Address;
}

void TForm9::done(int result)
{
    FormClose();
    QDialog::done(result);
}

void TForm9::FormClose()
{
    // The outputs keep the last step: closing writes nothing.
    Timer1->stop();
    Running = false;
}

void TForm9::Button2Click()
{
    reject();
}

void TForm9::Button1Click()
{
    EnsureBuilt();
    if (!ReadyToExchange(Data, *StatusBar1))
        return;
    WriteOutputs(BoxesWord());
}

void TForm9::Button3Click()
{
    EnsureBuilt();
    if (!ReadyToExchange(Data, *StatusBar1))
        return;
    if (Button3->text() == StartCaption) {
        // No write now: the first step comes with the timer's next tick,
        // and every start walks from DOUT0.
        Button1->setEnabled(false);
        Pattern = 1;
        Running = true;
        Button3->setText(StopCaption);
    } else {
        // The boxes keep the last step, so "Zapsat" would write it again.
        Running = false;
        Button3->setText(StartCaption);
        Button1->setEnabled(true);
    }
}

void TForm9::Timer1Timer()
{
    // The walk is shared by every panel, but a panel without a usable
    // connection takes no step: the never-shown start-up instance stays
    // unbuilt while another panel walks.
    if (!ConnectionUsable(Data) || !Running)
        return;
    EnsureBuilt();
    // The pattern moves on before the write, so a failed step does not
    // hold the walk up: the next tick writes the next output.
    const uint32_t word = Pattern;
    Pattern <<= 1;
    if (Pattern == 0)
        Pattern = 1;
    // The boxes show the step even when its write fails.
    ShowWord(word);
    WriteOutputs(word);
}

uint32_t TForm9::BoxesWord() const
{
    uint32_t word = 0;
    for (int n = 0; n < 32; ++n) {
        if (CheckBox[n]->isChecked())
            word |= 1u << n;
    }
    return word;
}

void TForm9::ShowWord(uint32_t word)
{
    for (int n = 0; n < 32; ++n)
        CheckBox[n]->setChecked((word >> n) & 1u);
}

void TForm9::WriteOutputs(uint32_t word)
{
    const TModuleResult result = ::WriteOutputs({Data->Kind, Data->Handle, address_}, word);
    const QString text = DriverStatusText(Data->Kind, result.Status, text_);
    StatusBar1->SetText(result.Ok() ? QStringLiteral(" Data zapsána") : QStringLiteral(" ") + text);
}
