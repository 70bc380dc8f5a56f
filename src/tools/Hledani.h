// Finds modules of unknown address and rate on the record's interface and hands a find to the connection.
#pragma once

#include "Dekl.h"

#include <QDialog>

class THledani : public QDialog
{
    Q_OBJECT
public:
    explicit THledani(QWidget *owner = nullptr);

    // The program's record, set by the main window before the showing.
    TData *Data = nullptr;
};
