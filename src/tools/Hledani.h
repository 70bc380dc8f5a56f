// Finds modules of unknown address and rate on the record's interface and
// hands a find to the connection.
//
// The scan is the core's ScanModules, as korvalctl scan runs it. It runs on
// a worker thread: an empty probe at 600 Bd waits 387 ms and a rate's late
// window longer, which the event loop must not. The scan opens its own
// connection and re-initialises the driver at each rate, so an open
// connection is closed first; while the window is shown modally nothing
// else exchanges, so no two exchanges overlap. "Připojit" opens the record's
// connection to a find as the connection dialog does.
#pragma once

#include "Dekl.h"
#include "Scan.h"

#include <QDialog>
#include <QString>

#include <array>
#include <atomic>
#include <chrono>
#include <map>
#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QThread;
class TSinglePanelStatusBar;

class THledani : public QDialog
{
    Q_OBJECT
public:
    explicit THledani(QWidget *owner = nullptr);
    ~THledani() override;

    // The program's record, set by the main window before the showing.
    TData *Data = nullptr;

    QLabel *Label1 = nullptr;       // the record's interface
    QLineEdit *Edit1 = nullptr;     // addresses, as korvalctl scan --addresses takes them
    std::array<QCheckBox *, 9> CheckBox{}; // "CheckBox1".."CheckBox9": the rates in scan order
    QPushButton *Button1 = nullptr; // "Hledat", "Zastavit" while the scan runs
    QProgressBar *ProgressBar1 = nullptr;
    QTableWidget *StringGrid1 = nullptr; // Adresa, Rychlost, Modul, Poznámka
    QPushButton *Button2 = nullptr; // "Připojit"
    QPushButton *Button3 = nullptr; // "Zavřít"
    TSinglePanelStatusBar *StatusBar1 = nullptr;

    bool Running() const { return worker_ != nullptr; }
    // The finds of the last scan that ended; the table's rows, in order.
    const std::vector<TScanFind> &Finds() const { return finds_; }
    // How long the last scan ran, from its first exchange to its last.
    double ScanSeconds() const { return elapsed_.count(); }

    // A close asked for while the scan runs stops it after the address in
    // progress and closes once the scan has closed its connection.
    void done(int r) override;

public slots:
    void Button1Click();
    void Button2Click();
    void Button3Click();

protected:
    void showEvent(QShowEvent *event) override;

signals:
    // Emitted when a scan has ended and its finds are in the table.
    void ScanEnded();

private:
    void Start();
    void Finish();
    void ShowProgress(const TScanProgress &p);
    void AddRow(const TScanFind &f);
    QString FindText(const TScanFind &f) const;

    QThread *worker_ = nullptr;
    std::atomic<bool> stop_{false};
    bool closeRequested_ = false;
    TScanOptions plan_;
    // Written by the worker while it runs, read once it has finished.
    TScanResult result_;
    std::size_t probed_ = 0;
    std::chrono::duration<double> elapsed_{};
    std::map<int32_t, std::string> texts_; // driver texts, taken while loaded
    TDataArray text_{};
    std::vector<TScanFind> finds_;
};
