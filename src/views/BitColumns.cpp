#include "BitColumns.h"

#include "OkamDIN.h"
#include "WindowKit.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int RowHeight = 20;
constexpr int PanelWidth = 26;

} // namespace

TBitColumns::TBitColumns(const std::array<QString, 32> &captions, QWidget *parent) : QWidget(parent)
{
    auto *columns = new QHBoxLayout(this);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(28);
    for (int c = 0; c < 4; ++c) {
        auto *panel = new QFrame(this);
        panel->setObjectName(QStringLiteral("Panel%1").arg(c + 1));
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setAutoFillBackground(true);
        QPalette white = panel->palette();
        white.setColor(QPalette::Window, Qt::white);
        panel->setPalette(white);
        panel->setFixedWidth(PanelWidth);
        Panels[c] = panel;

        // The panel's layout works inside its bevel, so the name column is
        // given the bevel's width above and below to keep every value
        // label on its name label's row.
        const int bevel = panel->frameWidth();
        auto *names = new QVBoxLayout;
        names->setContentsMargins(0, bevel, 0, bevel);
        names->setSpacing(0);
        auto *values = new QVBoxLayout(panel);
        values->setContentsMargins(0, 0, 0, 0);
        values->setSpacing(0);
        for (int r = 0; r < 8; ++r) {
            const int n = 8 * c + r;
            auto *name = new QLabel(captions[n], this);
            name->setObjectName(QStringLiteral("Label%1").arg(n + 1));
            name->setFixedHeight(RowHeight);
            names->addWidget(name);
            Names[n] = name;

            auto *value = new QLabel(QStringLiteral("0"), panel);
            value->setObjectName(QStringLiteral("Label%1").arg(33 + n));
            value->setFixedHeight(RowHeight);
            value->setAlignment(Qt::AlignCenter);
            values->addWidget(value);
            Values[n] = value;
        }

        auto *column = new QHBoxLayout;
        column->setSpacing(10);
        column->addLayout(names);
        column->addWidget(panel, 0, Qt::AlignTop);
        columns->addLayout(column);
    }
}

void TBitColumns::ShowBytes(const std::array<uint8_t, 4> &d)
{
    for (int n = 0; n < 32; ++n)
        Values[n]->setText(BitText(d[n / 8], uint8_t(n % 8)));
}

void PollColumns(TBitColumns &columns, TSinglePanelStatusBar &bar, const TData *data,
                 uint8_t address, TWordRead read, TDataArray &text)
{
    if (!ReadyToExchange(data, bar))
        return;
    uint32_t word = 0;
    const TModuleResult result = read({data->Kind, data->Handle, address}, word, {});
    const QString statusText = DriverStatusText(data->Kind, result.Status, text);
    // A failed poll leaves the last values read on screen.
    if (result.Ok())
        columns.ShowBytes(
            {uint8_t(word), uint8_t(word >> 8), uint8_t(word >> 16), uint8_t(word >> 24)});
    bar.SetText(QStringLiteral(" ") + statusText);
}

TBitColumnsDialog::TBitColumnsDialog(QWidget *owner, const char *name, const QString &caption,
                                     int period, TWordRead read)
    : TDeferredDialog(owner), read_(read)
{
    setObjectName(QString::fromLatin1(name));
    setWindowTitle(caption);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    connect(Timer1, &QTimer::timeout, this, &TBitColumnsDialog::Timer1Timer);
    Timer1->start(period);

    FormCreate();
}

void TBitColumnsDialog::BuildControls()
{
    Columns = new TBitColumns(Captions(), this);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *body = new QVBoxLayout;
    body->setContentsMargins(24, 20, 24, 12);
    body->setSpacing(16);
    body->addWidget(Columns);
    AddButtons(body);
    StatusBar1 = new TSinglePanelStatusBar(this);
    outer->addLayout(body);
    outer->addWidget(StatusBar1);
    setFixedSize(sizeHint());
}

QPushButton *TBitColumnsDialog::CancelButton()
{
    Button1 = new QPushButton(QStringLiteral("Cancel"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    connect(Button1, &QPushButton::clicked, this, &TBitColumnsDialog::Button1Click);
    return Button1;
}

void TBitColumnsDialog::FormCreate()
{
    address_ = 0;
}

void TBitColumnsDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    FormShow();
}

void TBitColumnsDialog::FormShow()
{
    if (Data != nullptr)
        address_ = Data->Address;
}

void TBitColumnsDialog::Button1Click()
{
    reject();
}

void TBitColumnsDialog::Timer1Timer()
{
    // Without a record a tick does nothing, so the never-shown start-up
    // instance stays unbuilt however long its timer runs.
    if (Data == nullptr)
        return;
    EnsureBuilt();
    PollColumns(*Columns, *StatusBar1, Data, address_, read_, text_);
}
