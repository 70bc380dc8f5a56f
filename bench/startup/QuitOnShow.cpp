// Preloaded into a Qt program for the start-up benchmark: ends the program
// as soon as its first window is on screen, so a run measures start-up
// alone. Both programs of the comparison get the same shim.
#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWindow>

namespace {

class QuitOnExpose : public QObject {
protected:
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() == QEvent::Expose && !done_) {
            if (auto *w = qobject_cast<QWindow *>(o); w != nullptr && w->isExposed()) {
                done_ = true;
                QTimer::singleShot(0, qApp, &QCoreApplication::quit);
            }
        }
        return false;
    }

private:
    bool done_ = false;
};

void Install()
{
    auto *filter = new QuitOnExpose;
    filter->setParent(qApp);
    qApp->installEventFilter(filter);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(Install)
