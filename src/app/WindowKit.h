// What the windows that talk to a module share: the usable-connection test,
// status texts through the window's own text array, and a status bar of one
// panel that repaints at once.
#pragma once

#include "Dekl.h"

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
