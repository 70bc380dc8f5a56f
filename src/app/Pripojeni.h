// The connection dialog: chooses the interface and its parameters, opens
// the connection and reads the module's identity.
#pragma once

#include "Dekl.h"
#include "WindowKit.h"

#include <cstdint>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Baud-rate codes 0..8 (the position in the speed lists, and the module's
// own code) to rates and back; every fallback lands on 9600 Bd.
uint32_t BaudCodeToRate(uint8_t code);
uint8_t RateToBaudCode(uint32_t rate);
// The reply time-out handed to the driver with the rate of a code.
uint32_t BaudCodeTimeout(uint8_t code);

class TForm2 : public TDeferredDialog {
    Q_OBJECT
public:
    explicit TForm2(QWidget *owner = nullptr, TBuild build = TBuild::Now);

    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;
    QLineEdit *Edit1 = nullptr;
    QLineEdit *Edit2 = nullptr;
    QComboBox *ComboBox1 = nullptr;
    QLabel *Panel1 = nullptr;
    QPushButton *Button1 = nullptr;
    QPushButton *Button2 = nullptr;
    QLabel *Label5 = nullptr;
    QComboBox *ComboBox2 = nullptr;
    QLabel *Label6 = nullptr;
    QLineEdit *Edit3 = nullptr;
    QLabel *Label7 = nullptr;
    QLineEdit *Edit4 = nullptr;

    TData *Data = nullptr; // borrowed from the main window while shown

public slots:
    void FormShow();
    void ComboBox2Change();
    void Button1Click();
    void Button2Click();

protected:
    void BuildControls() override;
    void showEvent(QShowEvent *event) override;

private:
    void ShowParameterRows(int kind);
    void SetPanel(const QString &text, bool repaintNow = false);
    QString ErrorText(uint8_t kind, int32_t status);
    // Closes the driver after a failed step, keeping what Done leaves in the
    // working handle.
    void Abandon(int32_t &handle);

    TDataArray text_{}; // the dialog's own array for status texts
};
