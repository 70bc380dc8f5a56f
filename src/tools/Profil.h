// Saves, compares, restores and clones the connected module's configuration profile.
#pragma once

#include "Dekl.h"

#include <QDialog>

class TProfil : public QDialog
{
    Q_OBJECT
public:
    explicit TProfil(QWidget *owner = nullptr);

    // The program's record, set by the main window before the showing.
    TData *Data = nullptr;
};
