// What the windows that talk to a module share: the usable-connection test,
// status texts through the window's own text array, a status bar of one
// panel that repaints at once, and controls built at first use.
#pragma once

#include "Dekl.h"

#include <QDialog>
#include <QStatusBar>
#include <QString>

class QLabel;

// Shown instead of any exchange while the connection is not usable.
inline const QString TextNotInitialised = QStringLiteral(" Připojení k modulu není inicializováno.");

// A window may talk to the module: it has the record, the record says
// connected, and the driver handle is not 0.
bool ConnectionUsable(const TData *data);

// The text DrvErrorText gives for `status`, read back from `text`, the
// window's own array: with no library loaded the array keeps what it held.
QString DriverStatusText(uint8_t kind, int32_t status, TDataArray &text);

// A status bar with a single panel across the window.
class TSinglePanelStatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit TSinglePanelStatusBar(QWidget *parent = nullptr);

    QLabel *Panel() const { return panel_; }
    QString Text() const;
    // Sets the text and paints it at once: the exchange that follows
    // blocks the window.
    void SetText(const QString &text);

private:
    QLabel *panel_;
};

// Whether a window holding `data` may exchange now: one without a record
// does nothing, one whose connection is not usable says so on `bar`.
bool ReadyToExchange(const TData *data, TSinglePanelStatusBar &bar);

// When a dialog builds its controls. The start-up instances RunProgram
// creates are never shown and never given a record, so building their
// controls would only delay the main window.
enum class TBuild { Now, OnFirstUse };

// A dialog whose controls may be built after its construction. Showing it
// builds them, and every handler that reaches a control calls EnsureBuilt
// first; until then the control pointers are null.
class TDeferredDialog : public QDialog {
    Q_OBJECT
public:
    void setVisible(bool visible) override;

protected:
    explicit TDeferredDialog(QWidget *owner) : QDialog(owner) {}

    void EnsureBuilt();
    // Creates and lays out the controls; runs once. A most-derived
    // constructor given TBuild::Now calls EnsureBuilt at its end.
    virtual void BuildControls() = 0;

private:
    bool built_ = false;
};
