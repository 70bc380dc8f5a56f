#include "NastavDIO.h"

TForm14::TForm14(QWidget *owner) : QDialog(owner)
{
    setWindowTitle(QStringLiteral("Nastavení digitálních vstupů/výstupů"));
}
