// A monkey for the program's windows: random clicks, keystrokes and menu
// commands on whatever window the program shows, as RunProgram runs it, with
// the program's own rules checked as it goes.
//
// The steps are single-shot timers, each scheduled before its action: a
// click that opens a modal window returns only when that window closes, and
// the steps go on inside its event loop, always on the window on top (a
// popup, else QApplication::activeModalWidget(), else the main window).
// Input goes through the window system interface, so modality, focus,
// default buttons and menu mnemonics apply as they do for a user.
#pragma once

#include "Dekl.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

class QDialog;
class TForm1;

namespace monkey
{

struct Options {
    uint64_t seed = 0;
    int events = 0;
    // Wall time after which the monkey winds down whatever the count.
    std::chrono::milliseconds budget{40000};
    // How long the program's thread may leave a posted event unprocessed,
    // or the monkey go without a step, before the run counts as hung.
    std::chrono::seconds hangLimit{10};
    // A good exchange's text in the live views' status bars (after the
    // leading blank): the loaded driver's text for status 0.
    QString okText;
    // Good values of fields, by window and field name ("Form2.Edit2"): now
    // and then the monkey types one over whatever a field holds, so that
    // what garbage broke before can work again.
    std::map<QString, QString> goodValues;
};

// KORVAL_MONKEY_SEED (default: a fresh one), KORVAL_MONKEY_EVENTS (default
// `events`), KORVAL_MONKEY_SECONDS, KORVAL_MONKEY_HANG_SECONDS. The run's
// time goes mostly to waits for the windows' timers, so the sanitizers slow
// it little.
Options FromEnvironment(int events);

// The signature of the answer hooks of the fake and the guard drivers.
using AnswerHook = void (*)(const char *entry, int32_t status, const int32_t *request,
                            const int32_t *reply);
// The hook for the library of each kind.
extern const std::array<AnswerHook, 5> Hooks;

// What the driver libraries answered, and the faults seen at that moment.
struct Exchanges {
    struct Written {
        uint64_t order;
        uint32_t word;
    };

    int calls = 0;
    int failures = 0;
    // Per command; -1 for Init and SetConfig.
    std::map<int, int> good;
    std::map<int, int> failed;
    std::array<int, 5> opened{}; // connections opened, per kind
    bool lastFailed = false;
    int lastCommand = -1;
    QPointer<QWidget> lastWindow; // the program's dialog shown at the last answer
    // The last good read of inputs or status register, and its dialog.
    QPointer<QWidget> readWindow;
    uint32_t readWord = 0;
    // Where the bus rate in force is read for each kind, when a driver can
    // tell it (the guard drivers); null: the rate is recorded as 0.
    std::array<const int32_t *, 5> rates{};
    // The last word written to the outputs with success, per kind, address
    // and bus rate: on a bus of modules at every rate only the module at the
    // rate in force heard it.
    std::map<std::tuple<uint8_t, uint8_t, int32_t>, Written> outputs;
    std::vector<std::string> faults;
};
Exchanges &Record();

// The visible dialogs of the program, message boxes not counted.
std::vector<QDialog *> ProgramDialogs();

class Monkey : public QObject
{
  public:
    explicit Monkey(const Options &options);
    ~Monkey() override;

    // Runs the program again and again, as a user who quits and starts it
    // again, until the events or the time are spent; then closes it.
    void Run();

    int Steps() const { return steps_; }
    int Starts() const { return starts_; }
    std::chrono::milliseconds Elapsed() const;
    const std::vector<std::string> &Faults() const { return faults_; }
    // Message boxes the program showed, by text.
    const std::vector<QString> &Boxes() const { return boxes_; }
    // How often each window showed, by object name.
    const std::map<QString, int> &Shown() const { return shown_; }
    // The record as the last close saved it.
    const std::optional<TData> &Saved() const { return saved_; }
    // The last actions, for a report.
    std::string Recent() const;

  protected:
    bool eventFilter(QObject *o, QEvent *e) override;

  private:
    void Step();
    void Check();
    void CheckDialog(QDialog *d, TForm1 *main);
    void Fault(const std::string &what);
    void Log(const std::string &what);

    void CheckSettings();

    // One action on the window on top.
    void ActOnPopup(QWidget *popup);
    void ActOnWindow(QWidget *w);
    void ActOnMain(TForm1 *w);
    // Closes what is open, one window a step, the main window last.
    void WindDown(QWidget *popup, QWidget *modal, TForm1 *main);

    void Click(QWidget *window, QPoint at, Qt::MouseButton button = Qt::LeftButton,
               bool twice = false);
    void ClickOn(QWidget *target, Qt::MouseButton button = Qt::LeftButton, bool twice = false);
    void Key(QWidget *window, int key, Qt::KeyboardModifiers mods = {}, const QString &text = {});
    void Type(QWidget *window, int count);
    // A random key, or a typed character; `stay` makes keys that may close
    // a dialog rarer.
    void PressSomeKey(QWidget *window, bool stay);

    int Pick(int n);
    bool Chance(int percent);

    Options options_;
    std::mt19937_64 rng_;
    std::chrono::steady_clock::time_point start_;
    int steps_ = 0;
    std::atomic<int> moves_{0}; // steps, for the watchdog
    int starts_ = 0;
    int windDown_ = 0;
    bool done_ = false;
    unsigned long timestamp_ = 0;

    std::vector<std::string> faults_;
    std::vector<QString> boxes_;
    std::map<QString, int> shown_;
    std::optional<TData> saved_;
    // The dialog shown last and the address the record held then: every
    // exchange of a window but the connection dialog goes to that address.
    QPointer<QWidget> shownDialog_;
    uint8_t shownAddress_ = 0;

    mutable std::mutex logMutex_;
    std::deque<std::string> log_;

    friend void Note(uint8_t kind, const char *entry, int32_t status, const int32_t *request,
                     const int32_t *reply);
};

} // namespace monkey
