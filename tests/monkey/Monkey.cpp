#include "Monkey.h"

#include "Hlavni.h"
#include "Program.h"
#include "Qxxx417.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QFileDialog>
#include <QMessageBox>
#include <QThread>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <QWindow>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sstream>
#include <thread>

namespace monkey
{

namespace
{

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

Monkey *current = nullptr;
uint64_t writeOrder = 0;
QtMessageHandler previousHandler = nullptr;

// The offscreen platform says so at every popup and raise; thousands of
// those lines would bury whatever else is said.
void QuietHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.startsWith(QLatin1String("This plugin does not support")))
        return;
    if (previousHandler != nullptr)
        previousHandler(type, context, message);
}

const QString WrittenText = QStringLiteral(" Data zapsána");
const QString ConnectedText = QStringLiteral("Připojení úspěšně inicializováno");
const QString ReadDoneText = QStringLiteral(" Konfigurace přečtena.");
const QString WriteDoneText = QStringLiteral(" Konfigurace zapsána.");

std::string Text(const QString &s)
{
    return s.toStdString();
}

std::string Hex(uint32_t word)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08X", word);
    return buf;
}

QString StatusText(const QWidget *w)
{
    const auto *panel = w->findChild<QLabel *>(QStringLiteral("StatusBar1Panel0"));
    return panel != nullptr ? panel->text() : QString();
}

// Label33..Label64 of a live view, "0" or "1" each, as a word.
std::optional<uint32_t> ShownBits(const QWidget *w)
{
    uint32_t word = 0;
    for (int n = 0; n < 32; ++n) {
        const auto *l = w->findChild<QLabel *>(QStringLiteral("Label%1").arg(33 + n));
        if (l == nullptr)
            return std::nullopt;
        if (l->text() == QLatin1String("1"))
            word |= 1u << n;
        else if (l->text() != QLatin1String("0"))
            return std::nullopt;
    }
    return word;
}

// CheckBox1..CheckBox32 of the output panel as a word.
uint32_t CheckedBits(const QWidget *w)
{
    uint32_t word = 0;
    for (int n = 0; n < 32; ++n) {
        const auto *b = w->findChild<QCheckBox *>(QStringLiteral("CheckBox%1").arg(n + 1));
        if (b != nullptr && b->isChecked())
            word |= 1u << n;
    }
    return word;
}

uint32_t Word(const int32_t *d)
{
    return uint32_t(d[0] & 0xFF) | uint32_t(d[1] & 0xFF) << 8 | uint32_t(d[2] & 0xFF) << 16 |
           uint32_t(d[3] & 0xFF) << 24;
}

TForm1 *MainWindow()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *m = qobject_cast<TForm1 *>(w); m != nullptr && m->isVisible())
            return m;
    }
    return nullptr;
}

bool IsView(const QString &name)
{
    return name == QLatin1String("Form11") || name == QLatin1String("Form15");
}

// Fails the run from a thread of its own when the program's thread stops
// taking posted events or the monkey stops stepping: a hang has to end the
// test with a message, not hold ctest until its time-out.
class Watchdog
{
  public:
    // `limit` bounds every wait for the program and for a step; `end` the
    // whole run.
    Watchdog(std::chrono::seconds limit, std::chrono::milliseconds end,
             const std::atomic<int> &moves, std::function<std::string()> report)
        : limit_(limit), end_(Clock::now() + end), moves_(moves), report_(std::move(report)),
          thread_([this] { Run(); })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    Watchdog(const Watchdog &) = delete;
    Watchdog &operator=(const Watchdog &) = delete;

  private:
    void Run()
    {
        // Shared with the queued calls, which may run after this object ends.
        auto answered = std::make_shared<std::atomic<uint64_t>>(0);
        uint64_t sent = 0;
        int moves = moves_.load();
        Clock::time_point movedAt = Clock::now();
        std::unique_lock lock(mutex_);
        while (!stop_) {
            const uint64_t n = ++sent;
            QMetaObject::invokeMethod(
                qApp, [answered, n] { answered->store(n); }, Qt::QueuedConnection);
            const Clock::time_point postedAt = Clock::now();
            while (!stop_ && answered->load() < n) {
                wake_.wait_for(lock, 20ms);
                if (Clock::now() - postedAt > limit_)
                    Hang("the program's thread has taken no posted event");
            }
            if (const int m = moves_.load(); m != moves) {
                moves = m;
                movedAt = Clock::now();
            } else if (Clock::now() - movedAt > limit_) {
                Hang("the monkey has made no step");
            }
            if (Clock::now() > end_)
                Hang("the run has not ended");
            wake_.wait_for(lock, 100ms, [this] { return stop_; });
        }
    }

    [[noreturn]] void Hang(const char *what) const
    {
        std::fprintf(stderr, "\nHANG: %s (limit %lld s).\n%s\n", what,
                     static_cast<long long>(limit_.count()), report_().c_str());
        std::fflush(stderr);
        std::abort();
    }

    const std::chrono::seconds limit_;
    const Clock::time_point end_;
    const std::atomic<int> &moves_;
    const std::function<std::string()> report_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};

// Keys with their weights; the text is what a keyboard sends with them.
struct Stroke {
    int key;
    Qt::KeyboardModifiers mods;
    const char *text;
    int weight;
    const char *name;
};

const Stroke Strokes[] = {
    {Qt::Key_Escape, Qt::NoModifier, "\x1b", 2, "Escape"},
    {Qt::Key_Return, Qt::NoModifier, "\r", 5, "Return"},
    {Qt::Key_Enter, Qt::KeypadModifier, "\r", 2, "Enter"},
    {Qt::Key_Tab, Qt::NoModifier, "\t", 10, "Tab"},
    {Qt::Key_Backtab, Qt::ShiftModifier, "", 5, "Shift+Tab"},
    {Qt::Key_Space, Qt::NoModifier, " ", 10, "Space"},
    {Qt::Key_Up, Qt::NoModifier, "", 5, "Up"},
    {Qt::Key_Down, Qt::NoModifier, "", 5, "Down"},
    {Qt::Key_Left, Qt::NoModifier, "", 3, "Left"},
    {Qt::Key_Right, Qt::NoModifier, "", 3, "Right"},
    {Qt::Key_Home, Qt::NoModifier, "", 2, "Home"},
    {Qt::Key_End, Qt::NoModifier, "", 2, "End"},
    {Qt::Key_PageUp, Qt::NoModifier, "", 1, "PageUp"},
    {Qt::Key_PageDown, Qt::NoModifier, "", 1, "PageDown"},
    {Qt::Key_Backspace, Qt::NoModifier, "\b", 5, "Backspace"},
    {Qt::Key_Delete, Qt::NoModifier, "\x7f", 3, "Delete"},
    {Qt::Key_F4, Qt::NoModifier, "", 1, "F4"},
    {Qt::Key_Down, Qt::AltModifier, "", 2, "Alt+Down"},
    {Qt::Key_A, Qt::ControlModifier, "\x01", 2, "Ctrl+A"},
    {Qt::Key_C, Qt::ControlModifier, "\x03", 1, "Ctrl+C"},
    {Qt::Key_V, Qt::ControlModifier, "\x16", 2, "Ctrl+V"},
    {Qt::Key_X, Qt::ControlModifier, "\x18", 1, "Ctrl+X"},
    {Qt::Key_Z, Qt::ControlModifier, "\x1a", 1, "Ctrl+Z"},
    {Qt::Key_P, Qt::AltModifier, "p", 1, "Alt+P"},
    {Qt::Key_N, Qt::AltModifier, "n", 1, "Alt+N"},
    {Qt::Key_O, Qt::AltModifier, "o", 1, "Alt+O"},
    {Qt::Key_I, Qt::AltModifier, "i", 1, "Alt+I"},
};

// Characters typed into fields: mostly what the fields expect, then what
// they must refuse, Czech letters among them.
const QString Digits = QStringLiteral("0123456789");
const QString NumberSigns = QStringLiteral("$xXhH.-+ abcdefABCDEF");
const QString Czech = QStringLiteral("ěščřžýáíéůúňťďóĚŠČŘŽÝÁÍÉŮÚŇŤĎÓ");
const QString Others = QStringLiteral("qwzgk,;:/\\'\"[]=");

// The buttons that end a dialog: "Cancel" everywhere, "Ok" in the
// configuration dialogs.
bool IsCloser(const QWidget *c)
{
    const auto *b = qobject_cast<const QAbstractButton *>(c);
    return b != nullptr &&
           (b->text() == QLatin1String("Cancel") || b->text() == QLatin1String("Ok"));
}

// Whether `key` would end the dialog `w`: Escape, or Space on a closing
// button, or Return on the button a dialog presses for it.
bool WouldClose(QWidget *w, int key)
{
    QWidget *focus = w->focusWidget();
    if (key == Qt::Key_Escape)
        return true;
    if (key == Qt::Key_Space)
        return focus != nullptr && IsCloser(focus);
    if (key != Qt::Key_Return && key != Qt::Key_Enter)
        return false;
    if (auto *b = qobject_cast<QPushButton *>(focus); b != nullptr && b->autoDefault())
        return IsCloser(b);
    for (QPushButton *b : w->findChildren<QPushButton *>()) {
        if (b->isDefault() && b->isVisible())
            return IsCloser(b);
    }
    return false;
}

} // namespace

Options FromEnvironment(int events)
{
    Options o;
    bool ok = false;
    o.seed = qEnvironmentVariable("KORVAL_MONKEY_SEED").toULongLong(&ok);
    if (!ok) {
        std::random_device fresh;
        o.seed = uint64_t(fresh()) << 32 | fresh();
    }
    o.events = qEnvironmentVariableIntValue("KORVAL_MONKEY_EVENTS", &ok);
    if (!ok || o.events < 0)
        o.events = events;
    if (const int s = qEnvironmentVariableIntValue("KORVAL_MONKEY_SECONDS", &ok); ok && s > 0)
        o.budget = std::chrono::seconds(s);
    if (const int s = qEnvironmentVariableIntValue("KORVAL_MONKEY_HANG_SECONDS", &ok); ok && s > 0)
        o.hangLimit = std::chrono::seconds(s);
    return o;
}

Exchanges &Record()
{
    static Exchanges record;
    return record;
}

// A message box or a file dialog: the monkey answers it at once rather
// than act in it (a file dialog would let it write files anywhere).
static bool AnsweredAtOnce(const QWidget *w)
{
    return qobject_cast<const QMessageBox *>(w) != nullptr ||
           qobject_cast<const QFileDialog *>(w) != nullptr;
}

std::vector<QDialog *> ProgramDialogs()
{
    std::vector<QDialog *> out;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        auto *d = qobject_cast<QDialog *>(w);
        if (d != nullptr && d->isVisible() && !AnsweredAtOnce(d))
            out.push_back(d);
    }
    return out;
}

void Note(uint8_t kind, const char *entry, int32_t status, const int32_t *request,
          const int32_t *reply)
{
    // The finder's worker thread: a scan's exchanges go to every address
    // and rate by design (its own tests check them), and nothing here may
    // touch the windows or the record from another thread.
    if (QThread::currentThread() != QCoreApplication::instance()->thread())
        return;
    Exchanges &x = Record();
    auto fault = [&x](const std::string &what) {
        if (current != nullptr)
            current->Fault(what);
        else
            x.faults.push_back(what);
    };
    const bool failed = status != 0;
    const bool send = std::strcmp(entry, "Send") == 0 && request != nullptr && reply != nullptr;
    const int cmd = send ? request[1] : -1;
    ++x.calls;
    if (failed) {
        ++x.failures;
        ++x.failed[cmd];
    } else {
        ++x.good[cmd];
    }
    x.lastFailed = failed;
    x.lastCommand = cmd;
    const std::vector<QDialog *> dialogs = ProgramDialogs();
    QDialog *window = dialogs.empty() ? nullptr : dialogs.front();
    x.lastWindow = window;

    if (!send) {
        if (!failed && std::strcmp(entry, "Init") == 0)
            ++x.opened[kind];
        return;
    }
    if (!failed && (cmd == CmdReadInputs || cmd == CmdReadStatus)) {
        x.readWindow = window;
        x.readWord = Word(reply);
    }
    if (cmd == CmdWriteOutputs) {
        const uint32_t word = Word(request + 4);
        if (!failed)
            x.outputs[{kind, uint8_t(request[0]), x.rates[kind] ? *x.rates[kind] : 0}] = {
                ++writeOrder, word};
        // The panel writes what its boxes show, by "Zapsat" or by a step of
        // the walking one alike.
        if (window != nullptr && window->objectName() == QLatin1String("Form9") &&
            CheckedBits(window) != word)
            fault("the output panel wrote " + Hex(word) + " while its boxes showed " +
                  Hex(CheckedBits(window)));
    }
    // The profile window's clone writes to the addresses it is given, and
    // the finder's "Připojit" connects to the address found.
    const bool elsewhere = window != nullptr && (window->objectName() == QLatin1String("Profil") ||
                                                 window->objectName() == QLatin1String("Hledani"));
    if (current != nullptr && window != nullptr && window == current->shownDialog_ &&
        request[0] != current->shownAddress_ && !elsewhere)
        fault(Text(window->objectName()) + " sent to address " + std::to_string(request[0]) +
              ", the record holds " + std::to_string(current->shownAddress_));
}

namespace
{

template <uint8_t Kind>
void AnswerOf(const char *entry, int32_t status, const int32_t *request, const int32_t *reply)
{
    Note(Kind, entry, status, request, reply);
}

} // namespace

const std::array<AnswerHook, 5> Hooks = {&AnswerOf<0>, &AnswerOf<1>, &AnswerOf<2>, &AnswerOf<3>,
                                         &AnswerOf<4>};

Monkey::Monkey(const Options &options) : options_(options), rng_(options.seed)
{
    current = this;
    qApp->installEventFilter(this);
    previousHandler = qInstallMessageHandler(QuietHandler);
}

Monkey::~Monkey()
{
    qInstallMessageHandler(previousHandler);
    qApp->removeEventFilter(this);
    current = nullptr;
}

std::chrono::milliseconds Monkey::Elapsed() const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_);
}

void Monkey::Run()
{
    // Before anything can crash.
    std::printf("monkey: seed %llu, %d events; KORVAL_MONKEY_SEED=%llu KORVAL_MONKEY_EVENTS=%d "
                "repeat the run\n",
                static_cast<unsigned long long>(options_.seed), options_.events,
                static_cast<unsigned long long>(options_.seed), options_.events);
    std::fflush(stdout);
    start_ = Clock::now();
    // Winding down takes a few steps, or a register sequence's length.
    Watchdog dog(options_.hangLimit, options_.budget + 3 * options_.hangLimit, moves_,
                 [this] { return Recent(); });
    QTimer::singleShot(0, this, &Monkey::Step);
    auto &app = static_cast<TApplication &>(*QCoreApplication::instance());
    while (!done_) {
        ++starts_;
        Log("start of the program");
        RunProgram(app);
        CheckSettings();
    }
}

void Monkey::CheckSettings()
{
    TData loaded;
    ConnectionDefaults(&loaded);
    if (!LoadConnection(&loaded)) {
        Fault("the settings file names no interface after a close");
        return;
    }
    if (!saved_)
        return;
    const TData &s = *saved_;
    const uint8_t kind = s.Kind <= ifLan ? s.Kind : uint8_t(ifCom);
    bool same = loaded.Kind == kind && loaded.Address == s.Address && loaded.BaudRate == s.BaudRate;
    if (kind == ifCom)
        same = same && loaded.ComPort == s.ComPort;
    if (kind == ifIsa)
        same = same && loaded.BaseAddress == s.BaseAddress;
    if (kind == ifLan)
        same = same && loaded.UdpPort == s.UdpPort && loaded.UdpTimeout == s.UdpTimeout;
    if (!same)
        Fault("the settings file does not load as it was saved: kind " + std::to_string(kind) +
              " address " + std::to_string(s.Address) + " rate " + std::to_string(s.BaudRate) +
              " read back as kind " + std::to_string(loaded.Kind) + " address " +
              std::to_string(loaded.Address) + " rate " + std::to_string(loaded.BaudRate));
}

std::string Monkey::Recent() const
{
    std::ostringstream out;
    out << "seed " << options_.seed << " (KORVAL_MONKEY_SEED=" << options_.seed
        << " KORVAL_MONKEY_EVENTS=" << options_.events << " repeat it); last actions:";
    std::lock_guard lock(logMutex_);
    for (const std::string &line : log_)
        out << "\n  " << line;
    return out.str();
}

void Monkey::Log(const std::string &what)
{
    std::lock_guard lock(logMutex_);
    log_.push_back("#" + std::to_string(steps_) + " " + what);
    if (log_.size() > 40)
        log_.pop_front();
}

void Monkey::Fault(const std::string &what)
{
    if (faults_.size() < 20)
        faults_.push_back("step " + std::to_string(steps_) + ": " + what);
    Log("FAULT " + what);
}

int Monkey::Pick(int n)
{
    return n <= 1 ? 0 : int(rng_() % uint64_t(n));
}

bool Monkey::Chance(int percent)
{
    return Pick(100) < percent;
}

bool Monkey::eventFilter(QObject *o, QEvent *e)
{
    if (e->type() == QEvent::Show) {
        auto *w = qobject_cast<QWidget *>(o);
        if (w == nullptr || !w->isWindow())
            return false;
        if (auto *box = qobject_cast<QMessageBox *>(w)) {
            boxes_.push_back(box->text());
            Log("message box: " + Text(box->text()));
            QTimer::singleShot(0, box, [box] { box->done(QMessageBox::Ok); });
        } else if (auto *files = qobject_cast<QFileDialog *>(w)) {
            Log("file dialog: cancel");
            QTimer::singleShot(0, files, [files] { files->reject(); });
        } else if (qobject_cast<QDialog *>(w) != nullptr) {
            ++shown_[w->objectName()];
            TForm1 *main = MainWindow();
            if (w->objectName() != QLatin1String("Form2") && main != nullptr &&
                main->Data != nullptr) {
                shownDialog_ = w;
                shownAddress_ = main->Data->Address;
            }
        }
    } else if (e->type() == QEvent::Close) {
        // Before the window's own handler saves and releases the record.
        if (auto *main = qobject_cast<TForm1 *>(o); main != nullptr && main->Data != nullptr)
            saved_ = *main->Data;
    }
    return false;
}

void Monkey::Step()
{
    if (done_)
        return;
    ++steps_;
    moves_.store(steps_);
    QWidget *popup = QApplication::activePopupWidget();
    QWidget *modal = QApplication::activeModalWidget();
    TForm1 *main = MainWindow();
    Check();

    if (steps_ > options_.events || Elapsed() > options_.budget) {
        QTimer::singleShot(1, this, &Monkey::Step);
        WindDown(popup, modal, main);
        return;
    }
    // Ticks come mostly as timer events sent at once (ActOnWindow); now and
    // then the monkey waits for real ones in the windows that have them.
    if (popup == nullptr && modal != nullptr && Chance(1)) {
        const QString name = modal->objectName();
        if (name == QLatin1String("Form9") || IsView(name)) {
            const int pause = 100 + Pick(500);
            Log("wait " + std::to_string(pause) + " ms");
            QTimer::singleShot(pause, this, &Monkey::Step);
            return;
        }
    }
    // The next step is due before this one acts: an action that opens a
    // modal window returns when the window closes, and the steps must go on
    // inside it meanwhile.
    QTimer::singleShot(0, this, &Monkey::Step);
    if (popup != nullptr)
        ActOnPopup(popup);
    else if (modal != nullptr && !AnsweredAtOnce(modal))
        ActOnWindow(modal);
    else if (modal == nullptr && main != nullptr)
        ActOnMain(main);
}

void Monkey::WindDown(QWidget *popup, QWidget *modal, TForm1 *main)
{
    if (++windDown_ > 2000) {
        Fault("the windows do not close");
        done_ = true;
        QCoreApplication::exit(1);
        return;
    }
    if (popup != nullptr) {
        Log("wind down: close popup");
        popup->close();
    } else if (modal != nullptr) {
        // A message box answers itself; a dialog in a register sequence
        // closes when the sequence ends.
        if (auto *d = qobject_cast<QDialog *>(modal);
            d != nullptr && !AnsweredAtOnce(d)) {
            Log("wind down: reject " + Text(d->objectName()));
            d->reject();
        }
    } else if (main != nullptr) {
        Log("wind down: close the main window");
        done_ = true;
        if (!main->close()) {
            Fault("the main window does not close");
            QCoreApplication::exit(1);
        }
    }
}

void Monkey::Check()
{
    const std::vector<QDialog *> dialogs = ProgramDialogs();
    if (dialogs.size() > 1) {
        std::string names;
        for (QDialog *d : dialogs)
            names += " " + Text(d->objectName());
        Fault("more than one window open:" + names);
    }
    TForm1 *main = MainWindow();
    for (QDialog *d : dialogs)
        CheckDialog(d, main);
}

void Monkey::CheckDialog(QDialog *d, TForm1 *main)
{
    const QString name = d->objectName();
    if (d->windowModality() == Qt::NonModal)
        Fault(Text(name) + " is open but not modal");
    const Exchanges &x = Record();
    // Whether the last exchange was this window's, so its texts speak of it.
    const bool last = x.lastWindow == d;
    const QString status = StatusText(d);

    if (name == QLatin1String("Form2")) {
        const auto *panel = d->findChild<QLabel *>(QStringLiteral("Panel1"));
        const bool connected = panel != nullptr && panel->text().startsWith(ConnectedText);
        if (connected && last && x.lastFailed)
            Fault("the connection dialog shows a connection after a failed exchange: " +
                  Text(panel->text()));
        if (connected && main != nullptr && main->Data != nullptr &&
            !(main->Data->Connected && main->Data->Handle != 0))
            Fault("the connection dialog shows a connection the record does not hold");
    } else if (name == QLatin1String("Form9")) {
        if (last && x.lastCommand == CmdWriteOutputs && (status == WrittenText) == x.lastFailed)
            Fault("the output panel shows \"" + Text(status) + "\" after a " +
                  (x.lastFailed ? "failed" : "good") + " write");
    } else if (IsView(name)) {
        // The columns show the last good read of this window, zeros before.
        const uint32_t expected = x.readWindow == d ? x.readWord : 0;
        const std::optional<uint32_t> shown = ShownBits(d);
        if (!shown || *shown != expected)
            Fault(Text(name) + " shows " + (shown ? Hex(*shown) : std::string("no bits")) +
                  ", its last good read was " + Hex(expected));
        if (last && (x.lastCommand == CmdReadInputs || x.lastCommand == CmdReadStatus) &&
            (status == QLatin1Char(' ') + options_.okText) == x.lastFailed)
            Fault(Text(name) + " shows \"" + Text(status) + "\" after a " +
                  (x.lastFailed ? "failed" : "good") + " read");
    } else if (name == QLatin1String("Form12") || name == QLatin1String("Form14")) {
        if (last && x.lastFailed && (status == ReadDoneText || status == WriteDoneText))
            Fault(Text(name) + " shows \"" + Text(status) + "\" after a failed exchange");
    }
}

void Monkey::Click(QWidget *window, QPoint at, Qt::MouseButton button, bool twice)
{
    QPointer<QWindow> h = window->windowHandle();
    if (h == nullptr)
        return;
    const QPointF local(at);
    const QPointF global(h->mapToGlobal(at));
    // Far apart, so that two clicks never make a double click by chance.
    timestamp_ += 1000;
    for (int i = 0; i < (twice ? 2 : 1) && h != nullptr; ++i) {
        qt_handleMouseEvent(h, local, global, button, button, QEvent::MouseButtonPress,
                            Qt::NoModifier, int(timestamp_ += 10));
        if (h != nullptr)
            qt_handleMouseEvent(h, local, global, Qt::NoButton, button, QEvent::MouseButtonRelease,
                                Qt::NoModifier, int(timestamp_ += 10));
    }
}

void Monkey::ClickOn(QWidget *target, Qt::MouseButton button, bool twice)
{
    QWidget *window = target->window();
    const QRect r = target->rect();
    const QPoint inside(r.left() + Pick(std::max(1, r.width())),
                        r.top() + Pick(std::max(1, r.height())));
    Click(window, target->mapTo(window, inside), button, twice);
}

void Monkey::Key(QWidget *window, int key, Qt::KeyboardModifiers mods, const QString &text)
{
    QPointer<QWindow> h = window->windowHandle();
    if (h == nullptr)
        return;
    qt_handleKeyEvent(h, QEvent::KeyPress, key, mods, text);
    // A key that opened a modal window comes back after the window closed.
    if (h != nullptr)
        qt_handleKeyEvent(h, QEvent::KeyRelease, key, mods, text);
}

void Monkey::Type(QWidget *window, int count)
{
    QString typed;
    for (int i = 0; i < count; ++i) {
        const int r = Pick(100);
        const QString &set = r < 55 ? Digits : r < 75 ? NumberSigns : r < 90 ? Czech : Others;
        const QChar c = set[Pick(int(set.size()))];
        typed += c;
        Key(window, c.toUpper().unicode(), Qt::NoModifier, QString(c));
    }
    Log(Text(window->objectName()) + ": type \"" + Text(typed) + "\"");
}

void Monkey::PressSomeKey(QWidget *window, bool stay)
{
    const std::string name = Text(window->objectName());
    int total = 0;
    for (const Stroke &s : Strokes)
        total += s.weight;
    int r = Pick(total + 10);
    for (const Stroke &s : Strokes) {
        if (r < s.weight) {
            if (stay && WouldClose(window, s.key))
                break;
            Log(name + ": key " + s.name);
            Key(window, s.key, s.mods, QString::fromLatin1(s.text));
            return;
        }
        r -= s.weight;
    }
    Type(window, 1);
}

void Monkey::ActOnPopup(QWidget *popup)
{
    const int r = Pick(100);
    if (r < 50) {
        static const Stroke keys[] = {
            {Qt::Key_Down, Qt::NoModifier, "", 0, "Down"},
            {Qt::Key_Up, Qt::NoModifier, "", 0, "Up"},
            {Qt::Key_Return, Qt::NoModifier, "\r", 0, "Return"},
            {Qt::Key_Escape, Qt::NoModifier, "\x1b", 0, "Escape"},
            {Qt::Key_Left, Qt::NoModifier, "", 0, "Left"},
            {Qt::Key_Right, Qt::NoModifier, "", 0, "Right"},
            {Qt::Key_End, Qt::NoModifier, "", 0, "End"},
            {Qt::Key_Space, Qt::NoModifier, " ", 0, "Space"},
        };
        const Stroke &s = keys[Pick(int(std::size(keys)))];
        Log("popup: key " + std::string(s.name));
        Key(popup, s.key, s.mods, QString::fromLatin1(s.text));
    } else if (r < 90) {
        Log("popup: click");
        Click(popup, QPoint(Pick(std::max(1, popup->width())), Pick(std::max(1, popup->height()))));
    } else {
        Log("popup: click beside it");
        Click(popup, QPoint(-5 - Pick(30), popup->height() / 2));
    }
}

void Monkey::ActOnWindow(QWidget *w)
{
    const std::string name = Text(w->objectName());
    // The buttons that close the window are kept apart: leaving is one
    // decision at a fixed rate, however many other controls a window has.
    std::vector<QWidget *> controls, closers, edits, combos;
    for (QWidget *c : w->findChildren<QWidget *>()) {
        if (!c->isVisible() || !c->isEnabled())
            continue;
        if (IsCloser(c))
            closers.push_back(c);
        else if (qobject_cast<QAbstractButton *>(c) != nullptr || qobject_cast<QLineEdit *>(c) ||
                 qobject_cast<QComboBox *>(c))
            controls.push_back(c);
        if (qobject_cast<QLineEdit *>(c) != nullptr)
            edits.push_back(c);
        if (qobject_cast<QComboBox *>(c) != nullptr)
            combos.push_back(c);
    }
    // Fields that hold something else than their good value.
    std::vector<std::pair<QWidget *, QString>> broken;
    for (QWidget *e : edits) {
        const auto good = options_.goodValues.find(w->objectName() + '.' + e->objectName());
        if (good != options_.goodValues.end() &&
            static_cast<QLineEdit *>(e)->text() != good->second)
            broken.emplace_back(e, good->second);
    }
    std::vector<QTimer *> timers;
    for (QTimer *t : w->findChildren<QTimer *>(QStringLiteral("Timer1"))) {
        if (t->isActive())
            timers.push_back(t);
    }
    auto any = [this](const std::vector<QWidget *> &list) {
        return list[std::size_t(Pick(int(list.size())))];
    };
    auto anywhere = [this, w] {
        return QPoint(Pick(std::max(1, w->width())), Pick(std::max(1, w->height())));
    };

    const int r = Pick(1000);
    if (r < 30) {
        const int how = Pick(3);
        if (how == 0 && !closers.empty()) {
            QWidget *c = any(closers);
            Log(name + ": click " + Text(c->objectName()));
            ClickOn(c);
        } else if (how == 1) {
            Log(name + ": key Escape");
            Key(w, Qt::Key_Escape, Qt::NoModifier, QStringLiteral("\x1b"));
        } else {
            Log(name + ": close box");
            w->close();
        }
    } else if (r < 110 && !broken.empty()) {
        auto [e, good] = broken[std::size_t(Pick(int(broken.size())))];
        Log(name + ": into " + Text(e->objectName()) + " \"" + Text(good) + "\"");
        ClickOn(e);
        Key(w, Qt::Key_A, Qt::ControlModifier, QStringLiteral("\x01"));
        for (const QChar c : good)
            Key(w, c.toUpper().unicode(), Qt::NoModifier, QString(c));
    } else if (r < 180 && !timers.empty()) {
        // A tick without the wait: the timer's own event, so the tick runs
        // exactly as one that came in time.
        QTimer *t = timers[std::size_t(Pick(int(timers.size())))];
        Log(name + ": tick");
        QTimerEvent tick(t->timerId());
        QCoreApplication::sendEvent(t, &tick);
    } else if (r < 570 && !controls.empty()) {
        QWidget *c = any(controls);
        Log(name + ": click " + Text(c->objectName()));
        ClickOn(c);
    } else if (r < 690 && !edits.empty()) {
        QWidget *e = any(edits);
        Log(name + ": into " + Text(e->objectName()));
        ClickOn(e);
        Type(w, 1 + Pick(6));
    } else if (r < 900) {
        PressSomeKey(w, true);
    } else if (r < 950) {
        Log(name + ": click anywhere");
        Click(w, anywhere());
    } else if (r < 970 && !controls.empty()) {
        QWidget *c = any(controls);
        Log(name + ": double click " + Text(c->objectName()));
        ClickOn(c, Qt::LeftButton, true);
    } else if (r < 980 && !edits.empty()) {
        QWidget *e = any(edits);
        Log(name + ": right click " + Text(e->objectName()));
        ClickOn(e, Qt::RightButton);
    } else if (!combos.empty()) {
        QWidget *c = any(combos);
        const int delta = Chance(50) ? 120 : -120;
        Log(name + ": wheel " + std::to_string(delta) + " on " + Text(c->objectName()));
        const QPointF at(c->rect().center());
        QWheelEvent wheel(at, c->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(c, &wheel);
    } else {
        Log(name + ": click anywhere");
        Click(w, anywhere());
    }
}

void Monkey::ActOnMain(TForm1 *w)
{
    // Konec and the close box end the program, which then starts again:
    // now and then only, since a start begins without a connection.
    const int r = Pick(1000);
    if (r < 500) {
        // Every other time the window shown least, so that a short run
        // reaches them all.
        const std::pair<QAction *, QString> items[] = {
            {w->Pipojen1, "Form2"},  {w->AdresaRychlost1, "Form12"}, {w->NastavDIO1, "Form14"},
            {w->OkamDIN2, "Form11"}, {w->OkamDOUT1, "Form9"},        {w->Statusregistr1, "Form15"}};
        auto shown = [this](const QString &name) {
            const auto it = shown_.find(name);
            return it == shown_.end() ? 0 : it->second;
        };
        const auto *item = &items[Pick(int(std::size(items)))];
        if (Chance(50)) {
            for (const auto &i : items) {
                if (shown(i.second) < shown(item->second))
                    item = &i;
            }
        }
        Log("menu: " + Text(item->first->objectName()));
        item->first->trigger();
    } else if (r < 650) {
        QMenuBar *bar = w->menuBar();
        QList<QAction *> entries;
        for (QAction *a : bar->actions()) {
            if (a->isVisible() && (a != w->Konec2 || Chance(3)))
                entries << a;
        }
        QAction *a = entries[Pick(int(entries.size()))];
        Log("menu bar: click " + Text(a->text()));
        Click(w, bar->mapTo(w, bar->actionGeometry(a).center()));
    } else if (r < 800) {
        PressSomeKey(w, false);
    } else if (r < 920) {
        Log("main: click anywhere");
        Click(w, QPoint(Pick(std::max(1, w->width())), Pick(std::max(1, w->height()))));
    } else if (r < 960) {
        Log("main: right click anywhere");
        Click(w, QPoint(Pick(std::max(1, w->width())), Pick(std::max(1, w->height()))),
              Qt::RightButton);
    } else if (r < 995) {
        Log("main: double click anywhere");
        Click(w, QPoint(Pick(std::max(1, w->width())), Pick(std::max(1, w->height()))),
              Qt::LeftButton, true);
    } else if (r < 998) {
        Log("menu: Konec2");
        w->Konec2->trigger();
    } else {
        Log("main: close box");
        w->close();
    }
}

} // namespace monkey
