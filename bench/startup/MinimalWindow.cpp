// The floor of the start-up benchmark: the least a Qt Widgets program does
// to show a main window.
#include <QApplication>
#include <QMainWindow>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QMainWindow w;
    w.setWindowTitle(QStringLiteral("minimal"));
    w.resize(600, 400);
    w.show();
    return app.exec();
}
