// The traffic log: every exchange of every window, live, as korvalctl's
// --trace writes it. A window of its own beside the main window, so that it
// stays in view while a modal dialog runs.
#pragma once

#include <QWidget>

class TZaznam : public QWidget
{
    Q_OBJECT
public:
    explicit TZaznam(QWidget *owner = nullptr);
};
