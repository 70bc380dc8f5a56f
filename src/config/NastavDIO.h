// The digital I/O configuration dialog: input negation, output negation and
// the outputs' power-up state of all 32 channels, registers 32 to 43.
#pragma once

#include "RegisterDialog.h"

#include <array>

class QCheckBox;
class QGroupBox;

class TForm14 : public TRegisterDialog {
    Q_OBJECT
public:
    explicit TForm14(QWidget *owner = nullptr, TBuild build = TBuild::Now);

    QGroupBox *GroupBox1 = nullptr; // " Negace DIN "
    QGroupBox *GroupBox2 = nullptr; // "Negace DOUT "
    QGroupBox *GroupBox3 = nullptr; // " Počáteční stav DOUT "
    // CheckBox1 to CheckBox96 at index 0 to 95; box m is bit (m-1) mod 8 of
    // configuration byte 2 + (m-1) div 8.
    std::array<QCheckBox *, 96> CheckBoxes{};

    QCheckBox *CheckBox(int m) const { return CheckBoxes[std::size_t(m - 1)]; }

    void PrectiData(TModuleConfig &C) override;
    void ZapisData(TModuleConfig C) override;
    void PrectiOkno(TModuleConfig &C) override;
    void ZapisOkno(TModuleConfig C) override;

protected:
    QLayout *BuildOwnControls() override;
};
