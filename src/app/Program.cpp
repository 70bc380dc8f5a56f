#include "Program.h"

#include "Hlavni.h"
#include "NastavAdr.h"
#include "NastavDIO.h"
#include "OkamDIN.h"
#include "OkamDOUT.h"
#include "Pripojeni.h"
#include "StatReg.h"

#include <QMessageBox>

#include <exception>

TApplication::TApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("W_korval"));
}

bool TApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &e) {
        ShowError(activeWindow(), QString::fromStdString(e.what()));
    } catch (...) {
        ShowError(activeWindow(), QStringLiteral("Neznámá chyba"));
    }
    return false;
}

void ShowError(QWidget *parent, const QString &text)
{
    QMessageBox::critical(parent, QApplication::applicationName(), text);
}

int RunProgram(TApplication &app)
{
    TForm1 Form1;
    // The other start-up instances are never shown or given a record: every
    // menu command works on a fresh instance of its own. Their controls wait
    // for a first use, which keeps some 300 controls off the way to the
    // main window.
    TForm2 Form2(nullptr, TBuild::OnFirstUse);
    TForm11 Form11(nullptr, TBuild::OnFirstUse);
    TForm9 Form9(nullptr, TBuild::OnFirstUse);
    TForm12 Form12(nullptr, TBuild::OnFirstUse);
    TForm14 Form14(nullptr, TBuild::OnFirstUse);
    TForm15 Form15(nullptr, TBuild::OnFirstUse);
    Form1.show();
    return app.exec();
}
