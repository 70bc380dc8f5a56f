// The program body: the application object, the windows created at start
// and the message loop.
#pragma once

#include <QApplication>
#include <QString>

class QWidget;

// Qt does not carry exceptions through its event loop. Every event passes
// through notify, so an error escaping any handler is caught here and shown,
// and the window that raised it stays usable.
class TApplication : public QApplication {
public:
    TApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
};

// The one way the program shows an error the user must see.
void ShowError(QWidget *parent, const QString &text);

// Creates Form1 (the main window), Form2, Form11, Form9, Form12, Form14 and
// Form15 in that order, the last six to build their controls at first use,
// shows the main window and runs the message loop until it closes.
int RunProgram(TApplication &app);
