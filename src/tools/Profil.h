// Saves, compares, restores and clones the connected module's configuration
// profile, as korvalctl config save, diff, restore and clone do.
//
// The file format, its reading and its atomic write, the comparison and the
// texts are the core's (ConfigProfile, ConfigText), so a file saved here is
// byte for byte the one korvalctl saves. Every operation runs on the UI
// thread in event-loop steps: after each exchange the toolkit processes its
// events, so the table fills and "Zastavit" is heard, and no two exchanges
// overlap. A stop takes effect after the exchange in progress, a register
// write only after its read-back.
#pragma once

#include "ConfigProfile.h"
#include "Dekl.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;
class TSinglePanelStatusBar;

class TProfil : public QDialog
{
    Q_OBJECT
public:
    explicit TProfil(QWidget *owner = nullptr);

    // The program's record, set by the main window before the showing.
    TData *Data = nullptr;

    // Table1's columns while it shows registers (compare, restore).
    enum { ColMark, ColRegister, ColSetting, ColModule, ColFile, ColWrite, RegisterColumns };
    // And while it shows the modules of a clone.
    enum { ColAddress, ColName, ColResult, ModuleColumns };

    QPushButton *Button1 = nullptr; // "Uložit do souboru…"
    QPushButton *Button2 = nullptr; // "Porovnat se souborem…"
    QPushButton *Button3 = nullptr; // "Obnovit ze souboru…"
    QCheckBox *CheckBox1 = nullptr; // "včetně adresy a rychlosti" (compare and restore)
    QLineEdit *Edit1 = nullptr;     // the clone's addresses, as korvalctl's --to
    QPushButton *Button4 = nullptr; // "Klonovat na adresy…"
    QLabel *Label1 = nullptr;       // what the table shows, and its summary
    QTableWidget *Table1 = nullptr; // registers, or the clone's modules
    QLabel *Label2 = nullptr;       // "Kanály, které se liší"
    QTableWidget *Table2 = nullptr; // the channel settings that differ
    QProgressBar *ProgressBar1 = nullptr;
    QPushButton *Button5 = nullptr; // "Zastavit"
    QPushButton *Button6 = nullptr; // "Zavřít"
    TSinglePanelStatusBar *StatusBar1 = nullptr;

    // The file a save writes and the file the others read: a path, or empty
    // when the user cancelled. The defaults ask with a file dialog; tests
    // set their own.
    std::function<QString()> SaveFileName;
    std::function<QString()> OpenFileName;
    // Asked before a restore writes, with what it would write; true goes
    // on. The default asks with a message box.
    std::function<bool(const QString &question)> Confirm;

    bool Running() const { return running_; }

    // A close asked for while an operation runs stops it after the
    // exchange in progress and closes then.
    void done(int r) override;

public slots:
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();
    void Button5Click();
    void Button6Click();

private:
    // The file the user picks (OpenFileName) into `path`, read whole; none,
    // with the status line saying why, when it cannot be read or parsed,
    // and none in silence when the user cancelled.
    std::optional<TConfigProfile> Load(QString &path);
    // Reads `registers` into `config`; false, with the status line saying
    // why and `after` behind it, when it did not finish.
    bool Read(std::span<const TRegisterStep> registers, TModuleConfig &config, const QString &after);
    // After every exchange of an operation: events, and whether to go on.
    // `pairs`: a write goes on to its read-back whatever was asked.
    bool Step(const TModuleStep &step, bool pairs);
    void ShowRegisters(std::span<const TRegisterStep> registers, const TModuleConfig &module,
                       const TModuleConfig &file, const TConfigDifference &d, bool withWrite);
    void ShowChannels(const TConfigDifference &d);
    void MarkRow(int row, const QColor &background);
    QString FailureText(const TModuleResult &r);
    void SetRunning(bool running);
    // Ends the operation; a close asked for meanwhile closes now.
    void Finish();
    QString StatusText(int32_t status);
    QString AskSaveFileName();
    QString AskOpenFileName();
    bool AskConfirm(const QString &question);

    bool running_ = false;
    bool stop_ = false;
    bool closeRequested_ = false;
    TModuleStep last_{};
    TDataArray text_{};
};
