// Renders the program's windows, connected to a running simulator, into PNG
// files for the documentation. Run under a display (scripts/screenshots.sh
// uses Xvfb); it never writes the settings file.
#include "Hledani.h"
#include "Hlavni.h"
#include "OkamDIN.h"
#include "OkamDOUT.h"
#include "Prejimka.h"
#include "Profil.h"
#include "Pripojeni.h"
#include "Program.h"
#include "Qxxx417.h"
#include "StatReg.h"
#include "Zaznam.h"

#include <QDir>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTextDocument>
#include <QEvent>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace {

// Presses "Inicializace připojení" in the connection dialog once it shows,
// saves its picture and closes it.
class ConnectAndShoot : public QObject {
public:
    explicit ConnectAndShoot(QString file) : file_(std::move(file)) {}
    bool saved = false;

protected:
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() == QEvent::Show) {
            if (auto *d = qobject_cast<TForm2 *>(o)) {
                QTimer::singleShot(300, d, [this, d] {
                    d->Button1Click();
                    QCoreApplication::processEvents();
                    saved = d->grab().save(file_);
                    d->close();
                });
            }
        }
        return false;
    }

private:
    QString file_;
};

// Lets a live view of type W run on its own timers for `wait` ms after it
// shows (after `start`, if any), then once `ready` says so (a run that
// ends by itself), saves its picture and closes it.
template <class W> class RunAndShoot : public QObject {
public:
    RunAndShoot(QString file, int wait, std::function<void(W *)> start = {},
                std::function<bool(W *)> ready = {})
        : file_(std::move(file)), wait_(wait), start_(std::move(start)), ready_(std::move(ready))
    {
    }
    bool saved = false;

protected:
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() == QEvent::Show) {
            if (auto *d = qobject_cast<W *>(o)) {
                // After the window's own show handling, as a click would be.
                if (start_)
                    QTimer::singleShot(0, d, [this, d] { start_(d); });
                QTimer::singleShot(wait_, d, [this, d] { Shoot(d); });
            }
        }
        return false;
    }

private:
    void Shoot(W *d)
    {
        if (ready_ && !ready_(d)) {
            QTimer::singleShot(100, d, [this, d] { Shoot(d); });
            return;
        }
        saved = d->grab().save(file_);
        d->close();
    }

    QString file_;
    int wait_;
    std::function<void(W *)> start_;
    std::function<bool(W *)> ready_;
};

template <class W>
bool ShootView(QAction *item, const QString &file, int wait, std::function<void(W *)> start = {},
               std::function<bool(W *)> ready = {})
{
    RunAndShoot<W> shooter(file, wait, std::move(start), std::move(ready));
    qApp->installEventFilter(&shooter);
    item->trigger();
    qApp->removeEventFilter(&shooter);
    return shooter.saved;
}

// A page such as korvalctl's test report, laid out at the width of a
// printed A4 page's text, rendered into `png` on white.
bool RenderHtml(const QString &html, const QString &png)
{
    QFile in(html);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    QTextDocument doc;
    doc.setHtml(QString::fromUtf8(in.readAll()));
    doc.setTextWidth(760);
    QImage image(760, int(doc.size().height()) + 1, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    doc.drawContents(&painter);
    painter.end();
    return image.save(png);
}

} // namespace

int main(int argc, char **argv)
{
    TApplication app(argc, argv);
    if (argc == 4 && std::strcmp(argv[1], "--html") == 0)
        return RenderHtml(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3])) ? 0 : 1;
    int port = 0;
    int scanPort = 0; // the finder's simulator, when it is another one
    QString out = QStringLiteral(".");
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--port") == 0)
            port = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--scan-port") == 0)
            scanPort = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--out") == 0)
            out = QString::fromLocal8Bit(argv[i + 1]);
    }
    if (port <= 0 || port > 65535) {
        std::fprintf(stderr, "usage: korval_shoot --port UDP-PORT [--scan-port UDP-PORT] [--out DIR]\n"
                             "       korval_shoot --html PAGE.html PICTURE.png\n");
        return 2;
    }
    QDir().mkpath(out);

    TForm1 w;
    if (w.Data == nullptr)
        return 1;
    // The simulator on loopback, whatever the settings file beside us says.
    w.Data->Kind = ifLan;
    w.Data->IpAddress = "127.0.0.1";
    w.Data->UdpPort = uint32_t(port);
    w.Data->Address = 1;
    w.Data->BaudRate = 9600;
    w.show();

    // Without app.exec(): quitting the application would close the main
    // window and save the settings. The dialog's own modal loop is enough.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    ConnectAndShoot shooter(out + QStringLiteral("/connection-dialog.png"));
    app.installEventFilter(&shooter);
    w.Pipojen1->trigger();
    app.removeEventFilter(&shooter);
    QCoreApplication::processEvents();
    const bool mainSaved = w.grab().save(out + QStringLiteral("/main-window.png"));

    // The traffic log from here on, so its picture holds what the views
    // below exchange.
    w.ZaznamKomunikace1->trigger();
    const bool connected = w.Data->Connected;
    bool viewsSaved = false;
    if (connected) {
        // As a technician would: the walking one runs for five steps and is
        // closed; the simulator wires the outputs back, so the input view
        // then shows the last step's output on its input.
        viewsSaved =
            ShootView<TForm9>(w.OkamDOUT1, out + QStringLiteral("/output-panel.png"), 2700,
                              [](TForm9 *p) { p->Button3Click(); }) &&
            ShootView<TForm11>(w.OkamDIN2, out + QStringLiteral("/input-view.png"), 400) &&
            ShootView<TForm15>(w.Statusregistr1, out + QStringLiteral("/status-register.png"),
                               700);
    }
    bool toolsSaved = false;
    if (connected) {
        // The acceptance test runs to its end (66 patterns at 9600 Bd, about
        // four seconds) before the picture.
        toolsSaved = ShootView<TPrejimka>(
            w.PrejimaciZkouska1, out + QStringLiteral("/acceptance-window.png"), 300,
            [](TPrejimka *p) {
                p->Edit1->setText(QStringLiteral("J. Novák"));
                p->Edit2->setText(QStringLiteral("2026-0147"));
                p->Edit3->setText(QStringLiteral("vstupní kontrola"));
                p->Button1Click();
            },
            [](TPrejimka *p) { return !p->Running() && p->Result().has_value(); });
        // The profile saved, and compared with a copy whose channel 13 has
        // its input negation off: that register and that channel marked.
        QTemporaryDir files;
        const QString saved = files.filePath(QStringLiteral("modul.profile"));
        const QString changed = files.filePath(QStringLiteral("upraveny.profile"));
        toolsSaved = toolsSaved &&
                     ShootView<TProfil>(w.ProfilKonfigurace1,
                                        out + QStringLiteral("/profile-window.png"), 300,
                                        [&](TProfil *p) {
                                            p->SaveFileName = [&] { return saved; };
                                            p->Button1Click();
                                            QFile in(saved), copy(changed);
                                            if (!in.open(QIODevice::ReadOnly) ||
                                                !copy.open(QIODevice::WriteOnly))
                                                return;
                                            QByteArray text = in.readAll();
                                            text.replace("channel 13: din-negation=1",
                                                         "channel 13: din-negation=0");
                                            copy.write(text);
                                            copy.close();
                                            p->OpenFileName = [&] { return changed; };
                                            p->Button2Click();
                                        },
                                        [](TProfil *p) { return !p->Running(); });
        QCoreApplication::processEvents();
        auto *log = w.findChild<TZaznam *>();
        toolsSaved = toolsSaved && log != nullptr &&
                     log->grab().save(out + QStringLiteral("/traffic-log.png"));
        // Last, since a scan closes the connection: 32 addresses at two
        // rates, on a bus of several modules when there is one.
        if (scanPort > 0 && scanPort <= 65535)
            w.Data->UdpPort = uint32_t(scanPort);
        toolsSaved = toolsSaved &&
                     ShootView<THledani>(w.HledatModuly1, out + QStringLiteral("/module-finder.png"),
                                         300, [](THledani *h) {
                                             h->Edit1->setText(QStringLiteral("0-31"));
                                             for (QCheckBox *box : h->CheckBox) {
                                                 const int code = box->property("baudCode").toInt();
                                                 box->setChecked(code == 4 || code == 8);
                                             }
                                             h->Button1Click();
                                         },
                                         [](THledani *h) { return !h->Running(); });
    }
    if (w.Data->Connected) {
        int32_t handle = w.Data->Handle;
        DrvDone(w.Data->Kind, handle);
        w.Data->Connected = false;
    }
    std::printf("connected: %s\n", connected ? "yes" : "no");
    return shooter.saved && mainSaved && connected && viewsSaved && toolsSaved ? 0 : 1;
}
