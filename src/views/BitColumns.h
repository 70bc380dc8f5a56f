// What the digital input view and the status register view share: four
// columns of eight name labels, each column beside a narrow white lowered
// panel with the eight value labels of one data byte, and the poll that
// fills them.
#pragma once

#include "Dekl.h"

#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>

class QFrame;
class QLabel;
class TSinglePanelStatusBar;

class TBitColumns : public QWidget
{
public:
    // `captions` are the texts of Label1..Label32. The labels and panels
    // keep their resource names (Label1..Label64, Panel1..Panel4).
    TBitColumns(const std::array<QString, 32> &captions, QWidget *parent);

    std::array<QLabel *, 32> Names;  // Label1..Label32; bit n at [n]
    std::array<QLabel *, 32> Values; // Label33..Label64; bit n at [n]
    std::array<QFrame *, 4> Panels;  // Panel1..Panel4; byte Dn at [n]

    // Bit n of d[n / 8] into Values[n], as BitText gives it.
    void ShowBytes(const std::array<uint8_t, 4> &d);
};

// One poll of a 32-bit word into the columns: nothing without a record, the
// not-initialised text without a usable connection; otherwise one exchange
// with cmd/sub and zero data, the status text fetched whatever the status,
// and the columns rewritten only when the status is 0.
void PollColumns(TBitColumns &columns, TSinglePanelStatusBar &bar, const TData *data,
                 uint8_t address, uint8_t cmd, uint8_t sub, TDataArray &text);
