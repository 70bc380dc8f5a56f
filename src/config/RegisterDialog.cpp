#include "RegisterDialog.h"

#include "Platform.h"
#include "WindowKit.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QShowEvent>
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

} // namespace

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
    // A timed sleep of the system overshoots by ~0.1 ms, 5 % of an exchange
    // at 115200 Bd; this one ends on time.
    platform::Pause(std::chrono::milliseconds(1));
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

void TRegisterDialog::EndSequence(uint8_t kind, const TModuleResult &result, const QString &done)
{
    switch (result.Outcome) {
    case TOutcome::Stopped: // not reached: the dialog is gone
        return;
    case TOutcome::DriverError:
        ShowDriverError(kind, result.Status);
        break;
    case TOutcome::Mismatch:
        ShowStatus(TextWriteMismatch);
        break;
    case TOutcome::Done:
        ShowStatus(done);
        break;
    }
    EndSequence();
}

void TRegisterDialog::ReadRegisters(TModuleConfig &C, const TRegisterSequence &sequence)
{
    if (!ConnectionUsable(Data) || running_)
        return;
    const TModuleLink link{Data->Kind, Data->Handle, Data->Address};
    BeginSequence();
    ShowStatus(ReadProgress(0));
    const TModuleResult result =
        ::ReadRegisters(link, sequence.Steps, C, [&](const TModuleStep &step) {
            if (!step.Passed())
                return true;
            ShowStatus(ReadProgress(step.Number * 100 / step.Total));
            return (step.Number == step.Total && !sequence.SettleAfterLast) || Settle();
        });
    // Stopped: the dialog was destroyed while the toolkit ran, so not even
    // a member function may be called any more.
    if (result.Outcome == TOutcome::Stopped)
        return;
    EndSequence(link.Kind, result, TextReadDone);
}

void TRegisterDialog::WriteRegisters(const TModuleConfig &C, const TRegisterSequence &sequence)
{
    if (!ConnectionUsable(Data) || running_)
        return;
    const TModuleLink link{Data->Kind, Data->Handle, Data->Address};
    BeginSequence();
    ShowStatus(WriteProgress(0));
    // Two steps a register: the write, then its read-back. The toolkit runs
    // between them, and after the read-back the register counts as done.
    const TModuleResult result =
        ::WriteRegisters(link, sequence.Steps, C, [&](const TModuleStep &step) {
            if (!step.Passed())
                return true;
            if (step.Number % 2 == 1)
                return Settle();
            ShowStatus(WriteProgress(step.Number * 100 / step.Total));
            return (step.Number == step.Total && !sequence.SettleAfterLast) || Settle();
        });
    // Stopped: the dialog was destroyed while the toolkit ran, so not even
    // a member function may be called any more.
    if (result.Outcome == TOutcome::Stopped)
        return;
    EndSequence(link.Kind, result, TextWriteDone);
}
