// What the digital input view and the status register view share: four
// columns of eight name labels, each column beside a narrow white lowered
// panel with the eight value labels of one data byte, the poll that fills
// them, and the window around them with its timer and "Cancel".
#pragma once

#include "Dekl.h"
#include "Module.h"
#include "WindowKit.h"

#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>

class QFrame;
class QLabel;
class QPushButton;
class QTimer;
class QVBoxLayout;
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

// The core's read of one 32-bit word (ReadInputs, ReadStatus).
using TWordRead = TModuleResult (*)(const TModuleLink &, uint32_t &, const TStepReport &);

// One poll of a 32-bit word into the columns: nothing without a record, the
// not-initialised text without a usable connection; otherwise one `read`,
// the status text fetched whatever the status, and the columns rewritten
// only when the read passed.
void PollColumns(TBitColumns &columns, TSinglePanelStatusBar &bar, const TData *data,
                 uint8_t address, TWordRead read, TDataArray &text);

// A window that polls one 32-bit word into its columns on every tick of
// Timer1, which runs from creation. It only reads; it changes nothing in the
// module or in the record.
class TBitColumnsDialog : public TDeferredDialog
{
    Q_OBJECT
public:
    TBitColumns *Columns = nullptr; // Label1..Label64 (bit n at Label 33 + n), Panel1..Panel4
    QPushButton *Button1 = nullptr; // "Cancel"
    TSinglePanelStatusBar *StatusBar1 = nullptr;
    QTimer *Timer1; // created and started with the window, built or not

    TData *Data = nullptr; // borrowed from the main window while shown

public slots:
    void FormCreate();
    void FormShow();
    void Button1Click();
    void Timer1Timer();

protected:
    // Timer1 ticks every `period` ms; each tick runs `read`.
    TBitColumnsDialog(QWidget *owner, const char *name, const QString &caption, int period,
                      TWordRead read);

    // The texts of Label1..Label32.
    virtual std::array<QString, 32> Captions() const = 0;
    // Lays out the row under the columns; creates Button1 through
    // CancelButton, after any button meant to precede it in the tab order.
    virtual void AddButtons(QVBoxLayout *body) = 0;
    QPushButton *CancelButton();

    void showEvent(QShowEvent *event) override;

    uint8_t address_ = 0; // the module polled; taken from the record when shown
    TDataArray text_{};   // the window's own array for status texts

private:
    void BuildControls() final;

    const TWordRead read_;
};
