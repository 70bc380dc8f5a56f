#include "StatReg.h"

TForm15::TForm15(QWidget *owner) : QDialog(owner)
{
    setWindowTitle(QStringLiteral("Status registr"));
}
