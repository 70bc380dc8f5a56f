#include "NastavAdr.h"

TForm12::TForm12(QWidget *owner) : QDialog(owner)
{
    setWindowTitle(QStringLiteral("Nastavení komunikační adresy a rychlosti"));
}
