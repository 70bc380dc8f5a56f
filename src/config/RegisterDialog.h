// What the two configuration dialogs share: the borrowed record, the
// working configuration, the four buttons and their handlers, the status
// bar, and the texts and pauses around the core's register read and write
// sequences. A dialog adds its controls, its registers and the four transfer
// methods.
#pragma once

#include "Dekl.h"
#include "Module.h"
#include "WindowKit.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <span>

class QLayout;
class QPushButton;
class TSinglePanelStatusBar;

struct TRegisterSequence {
    std::span<const TRegisterStep> Steps;
    // Whether the toolkit runs and the 1 ms pause follows the last step as
    // well as the others.
    bool SettleAfterLast;
};

class TRegisterDialog : public TDeferredDialog {
    Q_OBJECT
public:
    TData *Data = nullptr; // borrowed from the main window while shown

    QPushButton *Button1 = nullptr; // "Zapsat"
    QPushButton *Button2 = nullptr; // "Přečíst"
    QPushButton *Button3 = nullptr; // "Ok"
    QPushButton *Button4 = nullptr; // "Cancel"
    TSinglePanelStatusBar *StatusBar1 = nullptr;

    const TModuleConfig &WorkingConfig() const { return config_; }
    // True while a read or write sequence lets the toolkit run; the buttons
    // do nothing meanwhile and a close waits for the sequence to end.
    bool SequenceRunning() const { return running_; }

    // Module into C; C into the module with a read-back of every register.
    virtual void PrectiData(TModuleConfig &C) = 0;
    virtual void ZapisData(TModuleConfig C) = 0;
    // Controls into C, the verdict in the status bar (" " is a pass);
    // C into the controls. Both reach controls, so an override calls
    // EnsureBuilt first.
    virtual void PrectiOkno(TModuleConfig &C) = 0;
    virtual void ZapisOkno(TModuleConfig C) = 0;

    // A close asked for while a sequence runs (close box, Esc) is kept and
    // carried out when the sequence ends, so the module is never left with
    // half a write and the sequence never outlives its window.
    void done(int r) override;

public slots:
    void FormShow();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();

protected:
    // The most-derived constructor builds the dialog when asked to.
    TRegisterDialog(QWidget *owner, const char *name, const QString &caption);

    // Creates the dialog's own controls and returns their layout, which
    // goes above the buttons and the status bar; runs once, at the build.
    virtual QLayout *BuildOwnControls() = 0;

    void showEvent(QShowEvent *event) override;

    QString StatusText() const;
    void ShowStatus(const QString &text);

    // The sequences themselves; they return silently without a usable
    // connection and when a sequence is already running.
    void ReadRegisters(TModuleConfig &C, const TRegisterSequence &sequence);
    void WriteRegisters(const TModuleConfig &C, const TRegisterSequence &sequence);

private:
    void BuildControls() final;

    // The verdict of a sequence that ran to its end or failed; nothing for
    // one stopped because the window went away.
    void EndSequence(uint8_t kind, const TModuleResult &result, const QString &done);
    void ShowDriverError(uint8_t kind, uint8_t status);
    // Lets the toolkit run, then pauses 1 ms. False when the window was
    // destroyed meanwhile: the caller must then return without touching it.
    bool Settle();
    void BeginSequence();
    void EndSequence();

    TModuleConfig config_{};
    TDataArray text_{}; // the dialog's own array for driver texts
    bool running_ = false;
    bool closeRequested_ = false;
};
