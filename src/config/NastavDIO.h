// Until this window is built, the menu opens it as an empty dialog with its
// caption; the program body's start-up instance stays hidden.
#pragma once

#include "Dekl.h"

#include <QDialog>

class TForm14 : public QDialog {
    Q_OBJECT
public:
    explicit TForm14(QWidget *owner = nullptr);

    TData *Data = nullptr; // borrowed from the main window while shown
};
