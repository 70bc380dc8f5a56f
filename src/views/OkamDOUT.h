// The digital output panel: writes the 32 outputs of the connected module
// from its check boxes, or walks a single 1 from DOUT0 to DOUT31 and round
// again, one step per 500 ms tick. It never reads the outputs back.
#pragma once

#include "Dekl.h"
#include "WindowKit.h"

#include <array>
#include <cstdint>

class QCheckBox;
class QPushButton;
class QTimer;
class TSinglePanelStatusBar;

class TForm9 : public TDeferredDialog
{
    Q_OBJECT
public:
    explicit TForm9(QWidget *owner = nullptr, TBuild build = TBuild::Now);

    std::array<QCheckBox *, 32> CheckBox{}; // CheckBox1..CheckBox32; DOUT n at [n]
    QPushButton *Button3 = nullptr;         // starts and stops the walking one
    QPushButton *Button1 = nullptr;         // "Zapsat"
    QPushButton *Button2 = nullptr;         // "Cancel"
    TSinglePanelStatusBar *StatusBar1 = nullptr;
    QTimer *Timer1; // 500 ms, running from creation, built or not; paces the walking one

    TData *Data = nullptr; // borrowed from the main window while shown

    // The close box, reject() and accept() all end here, so FormClose runs
    // however the window is closed.
    void done(int result) override;

public slots:
    void FormCreate();
    void FormShow();
    void FormClose();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Timer1Timer();

protected:
    void BuildControls() override;
    void showEvent(QShowEvent *event) override;

private:
    uint32_t BoxesWord() const;       // the check boxes as an output word
    void ShowWord(uint32_t word);     // the output word into the check boxes
    void WriteOutputs(uint32_t word); // one write of the outputs, result shown

    uint8_t address_ = 0; // the module written; taken from the record when shown
    TDataArray text_{};   // the window's own array for status texts
};
