// The address and baud-rate dialog: registers 63 and 62 of the module,
// fields Address and BaudCode of the configuration.
#pragma once

#include "RegisterDialog.h"

#include <cstdint>
#include <string_view>

class QComboBox;
class QLabel;
class QLineEdit;

// The text as an integer (TryTextToInt) within min..max. False, leaving
// `result` untouched, for any other text.
bool StrToByteInRange(std::string_view text, uint8_t min, uint8_t max, uint8_t &result);

class TForm12 : public TRegisterDialog {
    Q_OBJECT
public:
    explicit TForm12(QWidget *owner = nullptr, TBuild build = TBuild::Now);

    QLabel *Label1 = nullptr;
    QLineEdit *Edit1 = nullptr;
    QLabel *Label2 = nullptr;
    QComboBox *ComboBox1 = nullptr;

    void PrectiData(TModuleConfig &C) override;
    void ZapisData(TModuleConfig C) override;
    void PrectiOkno(TModuleConfig &C) override;
    void ZapisOkno(TModuleConfig C) override;

protected:
    QLayout *BuildOwnControls() override;
};
