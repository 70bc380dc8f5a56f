// The connection dialog: chooses the interface and its parameters, opens
// the connection and reads the module's identity.
#pragma once

#include "Dekl.h"
#include "Module.h"
#include "WindowKit.h"

#include <cstdint>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

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

    TDataArray text_{}; // the dialog's own array for status texts
};
