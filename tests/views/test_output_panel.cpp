// The digital output panel against the fake driver: writing by hand, the
// walking one, and how closing and new panels end the walk.
#include "OkamDOUT.h"
#include "ViewTest.h"

#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

const QString Start = QStringLiteral("Start  \"Běžící 1\"");
const QString Stop = QStringLiteral("Stop  \"Běžící 1\"");

std::array<int32_t, 8> Write(uint32_t word)
{
    return {9, 1, 64, 0, int32_t(word & 0xFF), int32_t((word >> 8) & 0xFF),
            int32_t((word >> 16) & 0xFF), int32_t(word >> 24)};
}

class OutputPanel : public ::testing::Test {
protected:
    void SetUp() override
    {
        panel.Data = &c.data;
        panel.show();
        // Answers with X and data of their own, which no write may send back.
        c.fake->send_x = 0x5A;
        std::fill_n(c.fake->send_reply, 4, 0xC3);
    }
    void Tick(int times)
    {
        for (int i = 0; i < times; ++i)
            panel.Timer1Timer();
    }

    FakeConnection c{9};
    TForm9 panel;
};

TEST_F(OutputPanel, ZapsatWritesTheBoxesAsTheyStand)
{
    const std::pair<std::vector<int>, uint32_t> rows[] = {
        {{}, 0}, // a fresh panel writes all 32 outputs to 0
        {{1}, 0x00000001},
        {{32}, 0x80000000},
        {{9, 24}, 0x00800100},
        {{1, 8, 9, 16, 17, 24, 25, 32}, 0x81818181},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        for (int n = 1; n <= 32; ++n)
            panel.CheckBox[n - 1]->setChecked(
                std::count(rows[i].first.begin(), rows[i].first.end(), n) > 0);
        panel.Button1Click();
        EXPECT_EQ(c.Request(int(i)), Write(rows[i].second)) << i;
        EXPECT_EQ(StatusText(panel), " Data zapsána") << i;
    }
    c.fake->send_status = 22;
    panel.Button1Click();
    EXPECT_EQ(StatusText(panel), " fake error 22");
    EXPECT_EQ(Checked(panel), 0x81818181u);
    EXPECT_EQ(c.fake->error_code, 22);
}

TEST_F(OutputPanel, WalkRunsFromDout0ToDout31AndStartsAgain)
{
    EXPECT_EQ(panel.Button3->text(), Start);
    EXPECT_EQ(Start.size(), 17);
    panel.Button3Click();
    EXPECT_EQ(panel.Button3->text(), Stop);
    EXPECT_EQ(Stop.size(), 16);
    EXPECT_FALSE(panel.Button1->isEnabled());
    EXPECT_EQ(c.Sends(), 0); // the first step waits for the tick
    for (int i = 0; i < 34; ++i) {
        panel.Timer1Timer();
        EXPECT_EQ(c.Request(i), Write(1u << (i % 32))) << i;
        EXPECT_EQ(Checked(panel), 1u << (i % 32)) << i;
    }
}

TEST_F(OutputPanel, FailedStepShowsItsBoxAndTheWalkGoesOn)
{
    c.fake->script_len = 2;
    c.fake->script[1] = Answer({}, 5);
    panel.Button3Click();
    Tick(2);
    EXPECT_EQ(Checked(panel), 0x2u);
    EXPECT_EQ(StatusText(panel), " fake error 5");
    EXPECT_EQ(panel.Button3->text(), Stop);
    Tick(1);
    EXPECT_EQ(c.Request(2), Write(0x4));
    EXPECT_EQ(StatusText(panel), " Data zapsána");
}

TEST_F(OutputPanel, StopKeepsTheLastStepAndEveryStartBeginsAtDout0)
{
    panel.Button3Click();
    Tick(3);
    panel.Button3Click();
    EXPECT_EQ(panel.Button3->text(), Start);
    EXPECT_TRUE(panel.Button1->isEnabled());
    Tick(2); // idle ticks write nothing
    panel.Button1Click(); // the boxes still show the last step
    EXPECT_EQ(c.Request(3), Write(0x4));
    panel.Button3Click();
    Tick(1);
    EXPECT_EQ(c.Request(4), Write(0x1));
    EXPECT_EQ(c.Sends(), 5);
}

TEST_F(OutputPanel, ClosingWhileRunningWritesNoFurtherStep)
{
    for (bool closeBox : {true, false}) {
        auto p = std::make_unique<TForm9>();
        p->Data = &c.data;
        p->show();
        p->Button3Click();
        p->Timer1Timer();
        const int sends = c.Sends();
        if (closeBox)
            p->close();
        else
            p->Button2->click();
        EXPECT_FALSE(p->isVisible());
        EXPECT_FALSE(p->Timer1->isActive());
        p->Timer1Timer();
        EXPECT_EQ(c.Sends(), sends) << closeBox;
    }
    TForm9 next; // the next opening starts idle
    EXPECT_EQ(next.Button3->text(), Start);
    EXPECT_EQ(Checked(next), 0u);
}

TEST_F(OutputPanel, OneWalkForAllPanelsAndANewPanelStopsIt)
{
    TForm9 other;
    other.Data = &c.data;
    other.show();
    panel.Button3Click();
    Tick(1);
    other.Timer1Timer(); // the other panel's timer drives the same walk
    Tick(1);
    EXPECT_EQ(c.Request(1), Write(0x2));
    EXPECT_EQ(c.Request(2), Write(0x4));

    TForm9 third; // every creation leaves the walk stopped
    Tick(1);
    other.Timer1Timer();
    EXPECT_EQ(c.Sends(), 3);
}

} // namespace
