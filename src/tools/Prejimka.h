// Runs the I/O acceptance test on the connected module and writes its report.
//
// The test is the core's RunIoTest, the report the core's AcceptanceHtml, as
// korvalctl test runs and writes them. It runs on the UI thread in event-loop
// steps: after every exchange the toolkit processes its events, so the grid
// fills and "Zastavit" is heard, and no two exchanges ever overlap. Whatever
// ends the test (done, Zastavit, a close, a lost module), RunIoTest's last
// write leaves every output off and the status line says how far it got.
#pragma once

#include "Dekl.h"
#include "IoTest.h"
#include "Report.h"

#include <QDialog>
#include <QString>

#include <array>
#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class TSinglePanelStatusBar;

class TPrejimka : public QDialog
{
    Q_OBJECT
public:
    explicit TPrejimka(QWidget *owner = nullptr);

    // The program's record, set by the main window before the showing.
    TData *Data = nullptr;

    QLineEdit *Edit1 = nullptr;  // "Zkoušel"
    QLineEdit *Edit2 = nullptr;  // "Výrobní číslo"
    QLineEdit *Edit3 = nullptr;  // "Poznámka"
    QSpinBox *SpinBox1 = nullptr; // settle pause before each read of the inputs, ms
    std::array<QLabel *, 32> Kanal{}; // "Kanal0".."Kanal31", four rows of eight
    QLabel *Label1 = nullptr;    // the module's verdict
    QProgressBar *ProgressBar1 = nullptr; // patterns done
    QPushButton *Button1 = nullptr; // "Spustit"
    QPushButton *Button2 = nullptr; // "Zastavit"
    QPushButton *Button3 = nullptr; // "Uložit protokol…"
    QPushButton *Button4 = nullptr; // "Zavřít"
    TSinglePanelStatusBar *StatusBar1 = nullptr;

    // Where "Uložit protokol…" writes: a path, or empty when the user
    // cancelled. The default asks with a file dialog; tests set their own.
    std::function<QString()> SaveFileName;

    bool Running() const { return running_; }
    // The last test run, complete or not; none before the first.
    const std::optional<TIoTestResult> &Result() const { return result_; }

    // A close asked for while the test runs stops it after the exchange in
    // progress and closes once the outputs are off.
    void done(int r) override;

public slots:
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();

public:
    // The report of the last run into `path`: PDF when the name ends in
    // ".pdf", HTML otherwise. False, and the status line says why, when
    // there is no run or the file cannot be written.
    bool ZapisProtokol(const QString &path);

private:
    void ShowChannels(const std::array<TChannelVerdict, 32> &verdicts);
    void ShowEnd(const TIoTestResult &r);
    void SetRunning(bool running);
    TReportPage Page() const;
    QString AskFileName();

    bool running_ = false;
    bool stop_ = false;
    bool closeRequested_ = false;
    std::optional<TIoTestResult> result_;
    std::string date_; // when the last run began, for the page
    unsigned intervalMs_ = 0;
    uint8_t failedStatus_ = 0;
    std::string failedWhat_;
    TDataArray text_{};
};
