#include "NastavAdr.h"

#include "Module.h"
#include "Text.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

#include <array>

namespace {

constexpr int MaxBaudCode = BaudCodeCount - 1;

// After the code's step the result follows at once, without a pause.
TRegisterSequence Sequence()
{
    return {AddressRegisters(), false};
}

} // namespace

bool StrToByteInRange(std::string_view text, uint8_t min, uint8_t max, uint8_t &result)
{
    int32_t value = 0;
    if (!TryTextToInt(text, value) || value < min || value > max)
        return false;
    result = uint8_t(value);
    return true;
}

TForm12::TForm12(QWidget *owner, TBuild build)
    : TRegisterDialog(owner, "Form12", QStringLiteral("Nastavení komunikační adresy a rychlosti"))
{
    if (build == TBuild::Now)
        EnsureBuilt();
}

QLayout *TForm12::BuildOwnControls()
{
    Label1 = new QLabel(QStringLiteral("Adresa modulu  (0-255)"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Label2 = new QLabel(QStringLiteral("Komunikační rychlost"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    for (int code = 0; code <= MaxBaudCode; ++code)
        ComboBox1->addItem(QString::number(BaudCodeToRate(uint8_t(code))) + QStringLiteral(" Bd"));
    ComboBox1->setCurrentIndex(4);

    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(24);
    grid->setVerticalSpacing(10);
    grid->addWidget(Label1, 0, 0);
    grid->addWidget(Edit1, 0, 1);
    grid->addWidget(Label2, 1, 0);
    grid->addWidget(ComboBox1, 1, 1);
    grid->setColumnMinimumWidth(1, 160);
    return grid;
}

void TForm12::PrectiData(TModuleConfig &C)
{
    ReadRegisters(C, Sequence());
}

void TForm12::ZapisData(TModuleConfig C)
{
    WriteRegisters(C, Sequence());
}

void TForm12::PrectiOkno(TModuleConfig &C)
{
    EnsureBuilt();
    uint8_t address = 0;
    if (!StrToByteInRange(Edit1->text().toStdString(), 0, 255, address)) {
        ShowStatus(QStringLiteral(" Adresa modulu musí být v rozsahu 0-255."));
        return;
    }
    C.Address = address;
    const int item = ComboBox1->currentIndex();
    if (item < 0 || item > MaxBaudCode) {
        ShowStatus(QStringLiteral(" Komunikační rychlost musí být v rozsahu 600Bd-115200Bd."));
        return;
    }
    C.BaudCode = uint8_t(item);
    ShowStatus(QStringLiteral(" "));
}

void TForm12::ZapisOkno(TModuleConfig C)
{
    EnsureBuilt();
    Edit1->setText(QString::number(C.Address));
    // A code the list does not hold selects nothing, so that "Zapsat" and
    // "Ok" refuse it rather than pass some other rate on.
    ComboBox1->setCurrentIndex(C.BaudCode <= MaxBaudCode ? C.BaudCode : -1);
}
