#include "WindowKit.h"

#include "Module.h"

#include <QLabel>

bool ConnectionUsable(const TData *data)
{
    return data != nullptr && data->Connected && data->Handle != 0;
}

bool ReadyToExchange(const TData *data, TSinglePanelStatusBar &bar)
{
    if (data == nullptr)
        return false;
    if (!ConnectionUsable(data)) {
        bar.SetText(TextNotInitialised);
        return false;
    }
    return true;
}

QString DriverStatusText(uint8_t kind, int32_t status, TDataArray &text)
{
    return QString::fromStdString(StatusCodeText(kind, status, text));
}

TSinglePanelStatusBar::TSinglePanelStatusBar(QWidget *parent) : QStatusBar(parent)
{
    setObjectName(QStringLiteral("StatusBar1"));
    setSizeGripEnabled(false);
    panel_ = new QLabel(this);
    panel_->setObjectName(QStringLiteral("StatusBar1Panel0"));
    addWidget(panel_, 1);
}

QString TSinglePanelStatusBar::Text() const
{
    return panel_->text();
}

void TSinglePanelStatusBar::SetText(const QString &text)
{
    panel_->setText(text);
    panel_->repaint();
}

void TDeferredDialog::setVisible(bool visible)
{
    if (visible)
        EnsureBuilt();
    QDialog::setVisible(visible);
}

void TDeferredDialog::EnsureBuilt()
{
    if (built_)
        return;
    // Set first, so that a handler the build itself runs does not build again.
    built_ = true;
    BuildControls();
}
