#include "Profil.h"

TProfil::TProfil(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("Profil"));
    setWindowTitle(QStringLiteral("Profil konfigurace"));
}
