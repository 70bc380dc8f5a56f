#include "RegisterDialog.h"

#include "Qxxx417.h"
#include "WindowKit.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QShowEvent>
#include <QThread>
#include <QVBoxLayout>

namespace {

const QString TextPassed = QStringLiteral(" ");
const QString TextWriteMismatch = QStringLiteral(" Chyba zápisu dat.");
const QString TextReadDone = QStringLiteral(" Konfigurace přečtena.");
const QString TextWriteDone = QStringLiteral(" Konfigurace zapsána.");

QString ReadProgress(std::size_t percent)
{
    return QStringLiteral(" Probíhá čtení konfigurace z modulu (%1 %)").arg(percent);
}

QString WriteProgress(std::size_t percent)
{
    return QStringLiteral(" Probíhá zápis konfigurace do modulu (%1 %)").arg(percent);
}

// One body for the const and the mutable image.
template <class Config> auto &ByteOf(Config &c, std::size_t i)
{
    if (i == 0)
        return c.Address;
    if (i == 1)
        return c.BaudCode;
    if (i < 6)
        return c.DinNegation[i - 2];
    if (i < 10)
        return c.DoutNegation[i - 6];
    return c.DoutInitState[i - 10];
}

} // namespace

uint8_t &ConfigByte(TModuleConfig &c, std::size_t i)
{
    return ByteOf(c, i);
}

uint8_t ConfigByte(const TModuleConfig &c, std::size_t i)
{
    return ByteOf(c, i);
}

// Kind, handle and address are taken once per sequence.
struct TRegisterDialog::TLink {
    uint8_t Kind;
    int32_t Handle;
    uint8_t Address;
};

TRegisterDialog::TRegisterDialog(QWidget *owner, const char *name, const QString &caption)
    : TDeferredDialog(owner)
{
    setObjectName(QString::fromLatin1(name));
    setWindowTitle(caption);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
}

void TRegisterDialog::BuildControls()
{
    auto button = [this](const char *buttonName, const QString &text) {
        auto *b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(buttonName));
        return b;
    };
    Button1 = button("Button1", QStringLiteral("Zapsat"));
    Button2 = button("Button2", QStringLiteral("Přečíst"));
    Button3 = button("Button3", QStringLiteral("Ok"));
    Button4 = button("Button4", QStringLiteral("Cancel"));
    StatusBar1 = new TSinglePanelStatusBar(this);

    connect(Button1, &QPushButton::clicked, this, &TRegisterDialog::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TRegisterDialog::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TRegisterDialog::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TRegisterDialog::Button4Click);

    QLayout *controls = BuildOwnControls();
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto *body = new QVBoxLayout;
    body->setContentsMargins(16, 14, 16, 10);
    body->setSpacing(14);
    body->addLayout(controls);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    buttons->addStretch(1);
    buttons->addWidget(Button3);
    buttons->addWidget(Button4);
    body->addLayout(buttons);
    outer->addLayout(body);
    outer->addWidget(StatusBar1);
    outer->setSizeConstraint(QLayout::SetFixedSize);
}

void TRegisterDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // The layout has sized the panel for the controls. Held at that size, a
    // long text is cut off instead of widening the fixed dialog, and a new
    // text no longer lays out and paints the status bar a second time at
    // every step of a sequence.
    QLabel *panel = StatusBar1->Panel();
    panel->setFixedSize(panel->size());
    // A show from the window system (restored after minimising) is no new
    // opening: reloading then would drop the user's edits, or, during a
    // read, the bytes already read.
    if (!event->spontaneous())
        FormShow();
}

void TRegisterDialog::done(int r)
{
    if (running_) {
        closeRequested_ = true;
        return;
    }
    QDialog::done(r);
}

QString TRegisterDialog::StatusText() const
{
    // Unbuilt, the panel has never held a text.
    return StatusBar1 != nullptr ? StatusBar1->Text() : QString();
}

void TRegisterDialog::ShowStatus(const QString &text)
{
    EnsureBuilt();
    StatusBar1->SetText(text);
}

void TRegisterDialog::FormShow()
{
    EnsureBuilt();
    if (Data == nullptr || running_)
        return;
    config_ = Data->ModuleConfig;
    ZapisOkno(config_);
    ShowStatus(TextPassed);
}

void TRegisterDialog::Button1Click()
{
    if (Data == nullptr || running_)
        return;
    EnsureBuilt();
    if (!ReadyToExchange(Data, *StatusBar1))
        return;
    PrectiOkno(config_);
    if (StatusText().size() <= 1)
        ZapisData(config_);
}

void TRegisterDialog::Button2Click()
{
    if (Data == nullptr || running_)
        return;
    EnsureBuilt();
    if (!ReadyToExchange(Data, *StatusBar1))
        return;
    const QPointer<TRegisterDialog> self(this);
    PrectiData(config_);
    // The controls show what was read, also after a failed read.
    if (self)
        ZapisOkno(config_);
}

void TRegisterDialog::Button3Click()
{
    if (Data == nullptr || running_)
        return;
    PrectiOkno(config_);
    if (StatusText().size() == 1)
        Data->ModuleConfig = config_;
    accept();
}

void TRegisterDialog::Button4Click()
{
    if (running_)
        return;
    reject();
}

uint8_t TRegisterDialog::ReadRegister(const TLink &link, uint8_t reg, uint8_t &value)
{
    uint8_t x = 0, d0 = reg, d1 = reg, d2 = 0, d3 = 0;
    // ModuleCall leaves the status alone when it sends nothing; that must
    // not read as a good answer.
    uint8_t status = DrvNotComposed;
    TDataArray reply{};
    ModuleCall(link.Kind, link.Handle, link.Address, CmdReadRegister, SubNone, x, d0, d1, d2, d3,
               status, reply);
    value = d2;
    return status;
}

uint8_t TRegisterDialog::WriteRegister(const TLink &link, uint8_t reg, uint8_t value)
{
    uint8_t x = 0, d0 = reg, d1 = reg, d2 = value, d3 = value;
    uint8_t status = DrvNotComposed;
    TDataArray reply{};
    ModuleCall(link.Kind, link.Handle, link.Address, CmdWriteRegister, SubNone, x, d0, d1, d2, d3,
               status, reply);
    return status;
}

void TRegisterDialog::ShowDriverError(uint8_t kind, uint8_t status)
{
    ShowStatus(QLatin1Char(' ') + DriverStatusText(kind, status, text_));
}

bool TRegisterDialog::Settle()
{
    const QPointer<TRegisterDialog> self(this);
    QCoreApplication::processEvents();
    if (!self)
        return false;
    QThread::msleep(1);
    return true;
}

void TRegisterDialog::BeginSequence()
{
    running_ = true;
    closeRequested_ = false;
}

void TRegisterDialog::EndSequence()
{
    running_ = false;
    if (closeRequested_) {
        closeRequested_ = false;
        // Only the close box or Esc can have asked (the buttons do nothing
        // while a sequence runs): a close that stores nothing.
        QDialog::done(QDialog::Rejected);
    }
}

void TRegisterDialog::ReadRegisters(TModuleConfig &C, const TRegisterSequence &sequence)
{
    if (!ConnectionUsable(Data) || running_)
        return;
    const TLink link{Data->Kind, Data->Handle, Data->Address};
    const std::size_t count = sequence.Steps.size();
    BeginSequence();
    ShowStatus(ReadProgress(0));
    for (std::size_t k = 1; k <= count; ++k) {
        const TRegisterStep &step = sequence.Steps[k - 1];
        uint8_t value = 0;
        const uint8_t status = ReadRegister(link, step.Register, value);
        if (status != 0) {
            ShowDriverError(link.Kind, status);
            EndSequence();
            return;
        }
        ConfigByte(C, step.Byte) = value;
        ShowStatus(ReadProgress(k * 100 / count));
        if ((k < count || sequence.SettleAfterLast) && !Settle())
            return;
    }
    ShowStatus(TextReadDone);
    EndSequence();
}

void TRegisterDialog::WriteRegisters(const TModuleConfig &C, const TRegisterSequence &sequence)
{
    if (!ConnectionUsable(Data) || running_)
        return;
    const TLink link{Data->Kind, Data->Handle, Data->Address};
    const std::size_t count = sequence.Steps.size();
    BeginSequence();
    ShowStatus(WriteProgress(0));
    for (std::size_t k = 1; k <= count; ++k) {
        const TRegisterStep &step = sequence.Steps[k - 1];
        const uint8_t value = ConfigByte(C, step.Byte);
        uint8_t status = WriteRegister(link, step.Register, value);
        if (status != 0) {
            ShowDriverError(link.Kind, status);
            EndSequence();
            return;
        }
        if (!Settle())
            return;
        uint8_t readBack = 0;
        status = ReadRegister(link, step.Register, readBack);
        if (status != 0) {
            ShowDriverError(link.Kind, status);
            EndSequence();
            return;
        }
        if (readBack != value) {
            ShowStatus(TextWriteMismatch);
            EndSequence();
            return;
        }
        ShowStatus(WriteProgress(k * 100 / count));
        if ((k < count || sequence.SettleAfterLast) && !Settle())
            return;
    }
    ShowStatus(TextWriteDone);
    EndSequence();
}
