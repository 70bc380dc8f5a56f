// The main window: owns the connection record, opens every other window
// from its menu and shows module, address and speed in its status bar.
#pragma once

#include "Dekl.h"

#include <QMainWindow>

#include <array>

class QAction;
class QLabel;
class QMenu;
class TZaznam;

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(QWidget *parent = nullptr);
    ~TForm1() override;

    QAction *Pipojen1;
    QMenu *Nastaven1;
    QAction *AdresaRychlost1;
    QAction *NastavAIN1;
    QAction *NastavDIO1;
    QAction *Kalibracevstup1;
    QMenu *Okamithodnoty1;
    QAction *OkamAIN2;
    QStatusBar *StatusBar1;
    QAction *OkamDIN2;
    QAction *Konec2;
    QAction *OkamDOUT1;
    QAction *Statusregistr1;
    // The tools: finder, profiles, acceptance test, traffic log.
    QMenu *Nastroje1;
    QAction *HledatModuly1;
    QAction *ProfilKonfigurace1;
    QAction *PrejimaciZkouska1;
    QAction *ZaznamKomunikace1;

    // The program's one record; null only if it could not be created.
    TData *Data = nullptr;

    // Panel i (0..3) of StatusBar1.
    QLabel *Panel(int i) const { return panels_[std::size_t(i)]; }

    // How the record is created; tests replace it to see the failure path.
    static TData *(*AllocateRecord)();

public slots:
    void Pipojen1Click();
    void AdresaRychlost1Click();
    void NastavAIN1Click() {}
    void NastavDIO1Click();
    void Kalibracevstup1Click() {}
    void OkamAIN2Click() {}
    void OkamDIN2Click();
    void OkamDOUT1Click();
    void Statusregistr1Click();
    void HledatModuly1Click();
    void ProfilKonfigurace1Click();
    void PrejimaciZkouska1Click();
    void ZaznamKomunikace1Click();
    void Konec2Click();

protected:
    void FormCreate();
    // Saves, then closes an open connection, then releases the record.
    // False when the settings could not be written: the window stays open.
    bool FormClose();
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void moveEvent(QMoveEvent *event) override;

private:
    template <class Window> void ShowModal();

    // The window's size with its frame.
    static constexpr QSize OuterSize{600, 400};
    // Sizes the window so that its frame has OuterSize; false while the
    // window system reports no frame.
    bool FitOuterSize();
    // Centres the framed window on its screen.
    void Centre();

    // Shows the module, address and rate of the record in the status bar.
    void ShowConnection();

    std::array<QLabel *, 4> panels_{};
    TZaznam *log_ = nullptr; // made at its first showing, kept until the end
    bool placed_ = false;
    bool outerSizePending_ = false;
};
