// The digital input view: the 32 inputs of the connected module, read every
// 100 ms and shown as "0" or "1". It only reads; it changes nothing in the
// module or in the record.
#pragma once

#include "Dekl.h"

#include <QDialog>
#include <QString>

#include <cstdint>

class QPushButton;
class QTimer;
class TBitColumns;
class TSinglePanelStatusBar;

// "1" when `bit` of `value` is set (bit 0 the least significant), else "0";
// "0" for every bit number from 8 on. The status register view uses it too.
QString BitText(uint8_t value, uint8_t bit);

class TForm11 : public QDialog
{
    Q_OBJECT
public:
    explicit TForm11(QWidget *owner = nullptr);

    TBitColumns *Columns; // Label1..Label64 (DIN n at Label 33 + n), Panel1..Panel4
    QPushButton *Button1; // "Cancel"
    TSinglePanelStatusBar *StatusBar1;
    QTimer *Timer1; // 100 ms, running from creation

    TData *Data = nullptr; // borrowed from the main window while shown

public slots:
    void FormCreate();
    void FormShow();
    void Button1Click();
    void Timer1Timer();

protected:
    void showEvent(QShowEvent *event) override;

private:
    uint8_t address_ = 0; // the module polled; taken from the record when shown
    TDataArray text_{};   // the window's own array for status texts
};
