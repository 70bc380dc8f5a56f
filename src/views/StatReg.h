// The status register view: the module's 32-bit status register, read every
// 500 ms and shown bit by bit beside the bits' names; "Vynulovat" clears it.
#pragma once

#include "Dekl.h"

#include <QDialog>

#include <cstdint>

class QPushButton;
class QTimer;
class TBitColumns;
class TSinglePanelStatusBar;

class TForm15 : public QDialog
{
    Q_OBJECT
public:
    explicit TForm15(QWidget *owner = nullptr);

    TBitColumns *Columns; // Label1..Label64 (bit n at Label 33 + n), Panel1..Panel4
    QPushButton *Button2; // "Vynulovat"
    QPushButton *Button1; // "Cancel"
    TSinglePanelStatusBar *StatusBar1;
    QTimer *Timer1; // 500 ms, running from creation

    TData *Data = nullptr; // borrowed from the main window while shown

public slots:
    void FormCreate();
    void FormShow();
    void Button1Click();
    void Button2Click();
    void Timer1Timer();

protected:
    void showEvent(QShowEvent *event) override;

private:
    uint8_t address_ = 0; // the module polled; taken from the record when shown
    TDataArray text_{};   // the window's own array for status texts
};
