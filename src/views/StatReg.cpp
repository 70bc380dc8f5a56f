#include "StatReg.h"

#include "Module.h"
#include "WindowKit.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

TForm15::TForm15(QWidget *owner, TBuild build)
    : TBitColumnsDialog(owner, "Form15", QStringLiteral("Status registr"), 500, ReadStatus)
{
    if (build == TBuild::Now)
        EnsureBuilt();
}

std::array<QString, 32> TForm15::Captions() const
{
    // Only the first byte's bits carry names.
    std::array<QString, 32> captions;
    captions.fill(QStringLiteral("---"));
    captions[1] = QStringLiteral("FN");
    captions[2] = QStringLiteral("PRF");
    captions[4] = QStringLiteral("PWR");
    captions[5] = QStringLiteral("RST");
    captions[6] = QStringLiteral("ERR24");
    return captions;
}

void TForm15::AddButtons(QVBoxLayout *body)
{
    Button2 = new QPushButton(QStringLiteral("Vynulovat"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    connect(Button2, &QPushButton::clicked, this, &TForm15::Button2Click);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(Button2);
    buttons->addStretch(1);
    buttons->addWidget(CancelButton());
    body->addLayout(buttons);
}

void TForm15::Button2Click()
{
    EnsureBuilt();
    if (!ReadyToExchange(Data, *StatusBar1))
        return;
    const TModuleResult result = ClearStatus({Data->Kind, Data->Handle, address_});
    const QString text = DriverStatusText(Data->Kind, result.Status, text_);
    // A good clear says nothing: the next poll, at most 500 ms away, shows
    // the cleared register and rewrites the panel.
    if (!result.Ok())
        StatusBar1->SetText(QStringLiteral(" ") + text);
}
