// Runs the I/O acceptance test on the connected module and writes its report.
#pragma once

#include "Dekl.h"

#include <QDialog>

class TPrejimka : public QDialog
{
    Q_OBJECT
public:
    explicit TPrejimka(QWidget *owner = nullptr);

    // The program's record, set by the main window before the showing.
    TData *Data = nullptr;
};
