// A configuration dialog shown over a connection to the fake driver at
// address 9, with the texts its status bar painted and a scripted module.
#pragma once

#include "AppTest.h"
#include "RegisterDialog.h"
#include "WindowKit.h"

#include <QLabel>
#include <QStringList>
#include <QTest>

#include <gtest/gtest.h>

#include <array>
#include <ostream>
#include <vector>

inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

// The texts of a label in the order they reached the screen: a text set
// without a repaint before the next blocking step is missing here.
class PaintedTexts : public QObject {
public:
    explicit PaintedTexts(QLabel *label) { label->installEventFilter(this); }
    QStringList texts;

protected:
    bool eventFilter(QObject *o, QEvent *e) override
    {
        const QString t = static_cast<QLabel *>(o)->text();
        if (e->type() == QEvent::Paint && (texts.isEmpty() || texts.back() != t))
            texts << t;
        return false;
    }
};

using Request = std::array<int32_t, 8>;
inline Request Rq(int32_t cmd, int32_t reg, int32_t value = 0)
{
    return {9, cmd, 0, 0, reg, reg, value, value};
}

inline std::vector<Request> Sent(const FakeDriver &fake)
{
    std::vector<Request> out;
    for (int i = 0; i < fake->send_count && i < FAKE_SCRIPT_LEN; ++i)
        out.push_back(std::to_array(fake->requests[i]));
    return out;
}

// 0 %, then k * 100 / steps after each step, then the closing text.
inline QStringList Progress(bool write, int steps)
{
    const QString head = write ? " Probíhá zápis konfigurace do modulu (%1 %)"
                               : " Probíhá čtení konfigurace z modulu (%1 %)";
    QStringList out;
    for (int k = 0; k <= steps; ++k)
        out << head.arg(k * 100 / steps);
    return out << (write ? " Konfigurace zapsána." : " Konfigurace přečtena.");
}

template <class Form> class DialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ConnectionDefaults(&data);
        data.Kind = ifUsb;
        data.Address = 9;
        ASSERT_EQ(DrvInit(ifUsb, data.Handle, TInitParams{}), 0);
        data.Connected = true;
        dialog.Data = &data;
        dialog.show();
        // An unexposed window defers its paints; the user clicks an exposed one.
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        painted.texts.clear();
    }
    void TearDown() override
    {
        int32_t h = data.Handle;
        DrvDone(ifUsb, h);
    }
    // Exchange n (0-based) answers D2 = value, or fails with status.
    void Answer(int n, int32_t value, int32_t status = 0)
    {
        fake->script[n] = fake_reply{0, status, 0, {0, 0, value, value}};
        fake->script_len = std::max(fake->script_len, n + 1);
    }
    // A module that keeps what is written: read-back k gives values[k].
    void AcceptWrites(const std::vector<uint8_t> &values)
    {
        for (std::size_t k = 0; k < values.size(); ++k)
            Answer(int(2 * k + 1), values[k]);
    }
    QString Status() const { return dialog.StatusBar1->Text(); }

    FakeDriver fake{ifUsb};
    TData data;
    Form dialog;
    PaintedTexts painted{dialog.StatusBar1->Panel()};
};
