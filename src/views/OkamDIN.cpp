#include "OkamDIN.h"


#include <QPushButton>
#include <QVBoxLayout>

QString BitText(uint8_t value, uint8_t bit)
{
    // Shifting by 8 or more is not a bit of the byte (and past 31 not
    // defined at all), so those numbers never reach the shift.
    if (bit > 7)
        return QStringLiteral("0");
    return (value >> bit) & 1u ? QStringLiteral("1") : QStringLiteral("0");
}

TForm11::TForm11(QWidget *owner, TBuild build)
    : TBitColumnsDialog(owner, "Form11", QStringLiteral("Okamžité hodnoty digitálních vstupů"), 100,
                        ReadInputs)
{
    if (build == TBuild::Now)
        EnsureBuilt();
}

std::array<QString, 32> TForm11::Captions() const
{
    std::array<QString, 32> captions;
    for (int n = 0; n < 32; ++n)
        captions[n] = QStringLiteral("DIN%1").arg(n);
    return captions;
}

void TForm11::AddButtons(QVBoxLayout *body)
{
    body->addWidget(CancelButton(), 0, Qt::AlignHCenter);
}
