#include "OkamDOUT.h"

TForm9::TForm9(QWidget *owner) : QDialog(owner)
{
    setWindowTitle(QStringLiteral("Zápis na digitální výstupy"));
}
