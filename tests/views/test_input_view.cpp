// The digital input view against the fake driver, the bit text it shares
// with the status register view, and what every live view does without a
// usable connection.
#include "OkamDIN.h"
#include "OkamDOUT.h"
#include "StatReg.h"
#include "ViewTest.h"
#include "WindowKit.h"

#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <map>

namespace {

TEST(BitText, BitsOfTheByteAndNoneBeyondIt)
{
    struct Row {
        uint8_t value, bit;
        QString text;
    };
    const Row rows[] = {
        {0x01, 0, "1"}, {0xFE, 0, "0"},  {0x20, 5, "1"},  {0x80, 7, "1"},   {0x7F, 7, "0"},
        {0xFF, 8, "0"}, {0xFF, 31, "0"}, {0xFF, 32, "0"}, {0xFF, 255, "0"},
    };
    for (const Row &r : rows)
        EXPECT_EQ(BitText(r.value, r.bit), r.text) << int(r.value) << " bit " << int(r.bit);
}

TEST(InputView, EachReplyByteLandsOnItsEightInputsAndFailuresKeepThem)
{
    FakeConnection c(7);
    struct Row {
        fake_reply reply;
        std::string shown; // DIN0 first
        QString status;
    };
    const std::string a5 = "00000000" "10100101" "00000000" "00000000";
    const Row rows[] = {
        {Answer({0x01, 0, 0, 0}), Bits(0x00000001), " fake error 0"},
        {Answer({0, 0, 0, 0x80}), Bits(0x80000000), " fake error 0"},
        {Answer({0, 0xA5, 0, 0}), a5, " fake error 0"},
        {Answer({0xFF, 0xFF, 0xFF, 0xFF}, 5), a5, " fake error 5"},
        {fake_reply{8, 8, 0, {0xFF, 0xFF, 0xFF, 0xFF}}, a5, " fake error 8"},
        {Answer({0xFF, 0xFF, 0x00, 0xFF}, 0, 0x5A), Bits(0xFF00FFFF), " fake error 0"},
        // After an answer full of ones the request still carries none.
        {Answer({0, 0, 0x0F, 0}), Bits(0x000F0000), " fake error 0"},
    };
    c.fake->script_len = int(std::size(rows));
    for (std::size_t i = 0; i < std::size(rows); ++i)
        c.fake->script[i] = rows[i].reply;

    TForm11 view;
    view.Data = &c.data;
    view.show(); // the address comes from the record when the window shows
    std::string log;
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        view.Timer1Timer();
        EXPECT_EQ(Values(view), rows[i].shown) << i;
        EXPECT_EQ(StatusText(view), rows[i].status) << i;
        EXPECT_EQ(c.Request(int(i)), (std::array<int32_t, 8>{7, 0, 64, 0, 0, 0, 0, 0})) << i;
        log += i ? " Send Error" : "Send Error"; // a text for every status, 0 included
    }
    EXPECT_EQ(c.fake.Log(), log);
}

// Every handler of every live view, with no record (the program body's
// hidden instances) and with a record whose connection is not usable.
TEST(LiveViews, NoExchangeWithoutAUsableConnection)
{
    const QString notInit = " Připojení k modulu není inicializováno.";
    struct Row {
        bool record, connected;
        int32_t handle;
        QString shown; // by a handler that reports
    } rows[] = {{false, true, 0x417, " "}, {true, false, 0x417, notInit}, {true, true, 0, notInit}};
    for (const Row &r : rows) {
        FakeConnection c(1);
        c.data.Connected = r.connected;
        c.data.Handle = r.handle;
        TForm11 in;
        TForm15 st;
        TForm9 out;
        for (QWidget *w : {static_cast<QWidget *>(&in), static_cast<QWidget *>(&st),
                           static_cast<QWidget *>(&out)})
            w->findChild<TSinglePanelStatusBar *>()->SetText(" ");
        in.Data = st.Data = out.Data = r.record ? &c.data : nullptr;
        in.show();
        st.show();
        out.show();

        in.Timer1Timer();
        EXPECT_EQ(StatusText(in), r.shown);
        EXPECT_EQ(Values(in), Bits(0));
        st.Timer1Timer();
        EXPECT_EQ(StatusText(st), r.shown);
        st.StatusBar1->SetText(" ");
        st.Button2Click();
        EXPECT_EQ(StatusText(st), r.shown);
        out.Timer1Timer(); // a step shows nothing
        EXPECT_EQ(StatusText(out), " ");
        out.Button3Click(); // neither starts nor stops
        EXPECT_EQ(out.Button3->text(), "Start  \"Běžící 1\"");
        EXPECT_TRUE(out.Button1->isEnabled());
        EXPECT_EQ(StatusText(out), r.shown);
        out.StatusBar1->SetText(" ");
        out.Button1Click();
        EXPECT_EQ(StatusText(out), r.shown);
        EXPECT_EQ(c.Sends(), 0);
    }
}

// The start-up instances' timers run from creation, but without a record a
// tick neither builds the window nor takes a step of the walk another panel
// runs; given a record, the tick builds the window and polls.
TEST(LiveViews, StartUpInstancesTickWithoutHarm)
{
    FakeConnection c(1);
    TForm11 in(nullptr, TBuild::OnFirstUse);
    TForm15 st(nullptr, TBuild::OnFirstUse);
    TForm9 out(nullptr, TBuild::OnFirstUse);
    TForm9 walker;
    walker.Data = &c.data;
    walker.Button3Click();
    for (uint32_t step : {1u, 2u, 4u}) {
        in.Timer1Timer();
        st.Timer1Timer();
        out.Timer1Timer();
        walker.Timer1Timer();
        EXPECT_EQ(Checked(walker), step);
    }
    EXPECT_EQ(c.Sends(), 3);
    for (QWidget *w : {static_cast<QWidget *>(&in), static_cast<QWidget *>(&st),
                       static_cast<QWidget *>(&out)})
        EXPECT_TRUE(w->findChildren<QWidget *>().isEmpty()) << w->objectName().toStdString();

    const int32_t inputs[] = {0x81, 0x00, 0x00, 0x10};
    std::copy_n(inputs, 4, c.fake->send_reply);
    in.Data = &c.data;
    in.Timer1Timer();
    EXPECT_EQ(Values(in), Bits(0x10000081));
    EXPECT_EQ(StatusText(in), " fake error 0");
    EXPECT_EQ(c.Sends(), 4);
}

// The timers run from the windows' creation, unshown, at 100, 500 and
// 500 ms, and their real ticks reach the handlers. A busy machine delays
// ticks, so how many come in a given time says little from below; but a
// timer never fires more often than its interval allows.
TEST(LiveViews, TimersPollAndStepAtTheirOwnRates)
{
    QElapsedTimer clock; // from before the first timer starts
    clock.start();
    FakeConnection c(1);
    TForm11 in;
    TForm15 st;
    TForm9 out;
    in.Data = st.Data = out.Data = &c.data;
    out.Button3Click();
    const std::map<int, QTimer *> timers = {{0, in.Timer1}, {100, st.Timer1}, {1, out.Timer1}};
    const std::map<int, int> periods = {{0, 100}, {100, 500}, {1, 500}};
    for (const auto &[cmd, timer] : timers) {
        EXPECT_TRUE(timer->isActive()) << cmd;
        EXPECT_EQ(timer->interval(), periods.at(cmd)) << cmd;
    }

    std::map<int, int> byCommand;
    // Until each has ticked; the limit only bounds a timer that never does.
    while (byCommand.size() < 3 && clock.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        byCommand.clear();
        for (int i = 0; i < std::min(c.Sends(), FAKE_SCRIPT_LEN); ++i)
            ++byCommand[c.fake->requests[i][1]];
    }
    const qint64 elapsed = clock.elapsed();
    EXPECT_EQ(byCommand.size(), 3u);
    // Coarse timers may fire up to 5 % early.
    for (const auto &[cmd, n] : byCommand) {
        ASSERT_TRUE(periods.contains(cmd)) << cmd;
        EXPECT_LE(n, 1 + elapsed * 100 / (95 * periods.at(cmd)))
            << cmd << " in " << elapsed << " ms";
    }
}

} // namespace
