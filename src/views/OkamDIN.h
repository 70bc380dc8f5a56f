// The digital input view: the 32 inputs of the connected module, read every
// 100 ms and shown as "0" or "1". It only reads; it changes nothing in the
// module or in the record.
#pragma once

#include "BitColumns.h"

#include <QString>

#include <cstdint>

// "1" when `bit` of `value` is set (bit 0 the least significant), else "0";
// "0" for every bit number from 8 on. The status register view uses it too.
QString BitText(uint8_t value, uint8_t bit);

// Columns hold DIN n at Label 33 + n; Timer1 polls every 100 ms. The
// handlers (FormCreate, FormShow, Button1Click, Timer1Timer) are
// TBitColumnsDialog's.
class TForm11 : public TBitColumnsDialog
{
    Q_OBJECT
public:
    explicit TForm11(QWidget *owner = nullptr, TBuild build = TBuild::Now);

protected:
    std::array<QString, 32> Captions() const override;
    void AddButtons(QVBoxLayout *body) override;
};
