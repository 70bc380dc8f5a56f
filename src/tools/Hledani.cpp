#include "Hledani.h"

THledani::THledani(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("Hledani"));
    setWindowTitle(QStringLiteral("Hledat moduly"));
}
