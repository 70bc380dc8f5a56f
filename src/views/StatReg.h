// The status register view: the module's 32-bit status register, read every
// 500 ms and shown bit by bit beside the bits' names; "Vynulovat" clears it.
#pragma once

#include "BitColumns.h"

class QPushButton;

// Columns hold bit n at Label 33 + n; Timer1 polls every 500 ms. FormCreate,
// FormShow, Button1Click and Timer1Timer are TBitColumnsDialog's.
class TForm15 : public TBitColumnsDialog
{
    Q_OBJECT
public:
    explicit TForm15(QWidget *owner = nullptr, TBuild build = TBuild::Now);

    QPushButton *Button2 = nullptr; // "Vynulovat"

public slots:
    void Button2Click();

protected:
    std::array<QString, 32> Captions() const override;
    void AddButtons(QVBoxLayout *body) override;
};
