#include "Zaznam.h"

TZaznam::TZaznam(QWidget *owner) : QWidget(owner, Qt::Window)
{
    setObjectName(QStringLiteral("Zaznam"));
    setWindowTitle(QStringLiteral("Záznam komunikace"));
}
