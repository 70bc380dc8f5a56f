// The traffic log: every exchange of every window, live, as korvalctl's
// --trace writes it. A window of its own beside the main window, so that it
// stays in view while a modal dialog runs.
//
// From its creation to its destruction it listens on the core's exchange
// hook; the hook only queues a compact record, from whichever thread
// exchanged, and Timer1 moves the queue into the ring on this window's
// thread. Lines are formatted only for the rows in view and for a save.
#pragma once

#include "ExchangeLog.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QLabel;
class QTableView;
class QPushButton;
class QTimer;
class TSinglePanelStatusBar;
class TZaznamModel;

class TZaznam : public QWidget
{
    Q_OBJECT
public:
    static constexpr std::size_t Capacity = 100000;

    explicit TZaznam(QWidget *owner = nullptr, std::size_t capacity = Capacity);
    ~TZaznam() override;

    QLabel *Label1;         // how many exchanges the log keeps
    QTableView *TableView1; // the lines, oldest first, one column
    QPushButton *Button1;   // "Pozastavit" / "Pokračovat"
    QPushButton *Button2;   // "Vymazat"
    QPushButton *Button3;   // "Uložit…"
    QTimer *Timer1;         // 200 ms: takes what the hook gathered
    TSinglePanelStatusBar *StatusBar1;

    // Asks where to save; an empty answer saves nothing. A name ending in
    // ".csv" (any case) saves CSV, any other plain text. Tests set their
    // own; by default a file dialog.
    std::function<QString()> AskSavePath;

    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Timer1Timer();

    // The window hears the exchange hook from its creation; off, it keeps
    // what it has and hears nothing (for measuring what listening costs).
    void SetListening(bool on);

    // The ring's records; a line per record, formatted as the trace.
    const TExchangeRing &Ring() const { return ring_; }
    // All kept lines in `format`, with the CSV header first, as korvalctl
    // --trace writes a file.
    std::string Lines(TTraceFormat format) const;

private:
    void ShowCount();

    TExchangeLog log_;
    bool listening_ = false;
    TExchangeRing ring_;
    std::vector<TExchangeRecord> batch_;
    TZaznamModel *model_;
};
