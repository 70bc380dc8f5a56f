#include "Prejimka.h"

TPrejimka::TPrejimka(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("Prejimka"));
    setWindowTitle(QStringLiteral("Přejímací zkouška"));
}
