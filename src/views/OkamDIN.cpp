#include "OkamDIN.h"

TForm11::TForm11(QWidget *owner) : QDialog(owner)
{
    setWindowTitle(QStringLiteral("Okamžité hodnoty digitálních vstupů"));
}
