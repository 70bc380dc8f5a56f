// Helpers for the window tests: a fake driver whose state outlives the
// binding's unloads, and catchers for the modal windows and message boxes
// that a handler opens while the test waits in its event loop.
#pragma once

#include "Dekl.h"
#include "Platform.h"
#include "Qxxx417.h"
#include "FakeLoader.h"
#include "fake_driver.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

inline const std::filesystem::path FakesDir = FAKES_DIR;

// Holds a reference on the fake library of `kind`, so the binding's loads
// and unloads all meet this one instance and its record of calls.
class FakeDriver {
public:
    explicit FakeDriver(uint8_t kind)
    {
        static const char *files[] = {"QCOM417.DLL", "QPCI417.DLL", "QPCI1417.DLL",
                                      "QUSB1417.DLL", "QLX1417.DLL"};
        DrvSetLibraryDirectory(FakesDir / "full");
        lib_ = fakeload::Load(FakesDir / "full" / fakeload::FileName(files[kind]));
        if (lib_ != nullptr && (state_ = fakeload::State(lib_)) != nullptr) {
            *state_ = fake_state{};
            state_->init_handle = 0x417;
        }
    }
    ~FakeDriver()
    {
        if (lib_ != nullptr)
            fakeload::Release(lib_);
    }
    FakeDriver(const FakeDriver &) = delete;
    FakeDriver &operator=(const FakeDriver &) = delete;

    fake_state *operator->() const { return state_; }
    fake_state *State() const { return state_; }
    std::string Log() const { return state_->log; }

private:
    void *lib_ = nullptr;
    fake_state *state_ = nullptr;
};

// Runs `action` on the first window of type W that shows, from inside its
// modal loop, then closes it unless the action did.
template <class W> class OnShow : public QObject {
public:
    explicit OnShow(std::function<void(W *)> action) : action_(std::move(action))
    {
        qApp->installEventFilter(this);
    }
    ~OnShow() override { qApp->removeEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() == QEvent::Show) {
            if (auto *w = qobject_cast<W *>(o)) {
                ++count;
                QTimer::singleShot(0, w, [this, w] {
                    action_(w);
                    if (w->isVisible())
                        w->close();
                });
            }
        }
        return false;
    }

private:
    std::function<void(W *)> action_;
};

// Answers every message box at once and keeps its text.
class MessageCatcher : public QObject {
public:
    MessageCatcher() { qApp->installEventFilter(this); }
    ~MessageCatcher() override { qApp->removeEventFilter(this); }
    std::vector<QString> texts;

protected:
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() == QEvent::Show) {
            if (auto *box = qobject_cast<QMessageBox *>(o)) {
                texts.push_back(box->text());
                QTimer::singleShot(0, box, [box] { box->done(QMessageBox::Ok); });
            }
        }
        return false;
    }
};

inline std::filesystem::path SettingsFile()
{
    return platform::ExecutableDirectory() / "W_korval.ini";
}
