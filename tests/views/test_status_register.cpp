// The status register view against the fake driver: the named bits, a
// failed poll, and the clear that leaves its result to the next poll.
#include "StatReg.h"
#include "ViewTest.h"

#include <QPushButton>

#include <gtest/gtest.h>

namespace {

// The value label on the row of the name label with `caption`.
QString Beside(const TForm15 &w, const QString &caption)
{
    for (int n = 1; n <= 32; ++n) {
        if (w.findChild<QLabel *>(QStringLiteral("Label%1").arg(n))->text() == caption)
            return w.findChild<QLabel *>(QStringLiteral("Label%1").arg(32 + n))->text();
    }
    return QStringLiteral("no such name");
}

TEST(StatusRegister, BitsShowBesideTheirNamesAndFailedPollsKeepThem)
{
    FakeConnection c(3);
    c.fake->script_len = 3;
    c.fake->script[0] = Answer({0x70, 0, 0, 0});
    c.fake->script[1] = Answer({0xFF, 0xFF, 0xFF, 0xFF}, 6);
    c.fake->script[2] = Answer({0x02, 0, 0x01, 0});
    TForm15 view;
    view.Data = &c.data;
    view.show();

    view.Timer1Timer();
    for (const char *name : {"PWR", "RST", "ERR24"})
        EXPECT_EQ(Beside(view, name), "1") << name;
    EXPECT_EQ(Values(view), Bits(0x70));
    EXPECT_EQ(StatusText(view), " fake error 0");
    view.Timer1Timer();
    EXPECT_EQ(Values(view), Bits(0x70));
    EXPECT_EQ(StatusText(view), " fake error 6");
    view.Timer1Timer();
    EXPECT_EQ(Beside(view, "FN"), "1");
    EXPECT_EQ(Values(view), Bits(0x00010002)); // bit 16 beside a "---"
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(c.Request(i), (std::array<int32_t, 8>{3, 100, 0, 0, 0, 0, 0, 0})) << i;
}

TEST(StatusRegister, GoodClearLeavesTheWindowToTheNextPoll)
{
    FakeConnection c(3);
    c.fake->script_len = 5;
    c.fake->script[0] = Answer({0x30, 0, 0, 0});
    c.fake->script[1] = Answer({}, 5);
    c.fake->script[2] = Answer({0xFF, 0xFF, 0xFF, 0xFF}, 0, 0x44); // the clear
    c.fake->script[3] = Answer({});
    c.fake->script[4] = Answer({}, 21); // a clear that fails
    TForm15 view;
    view.Data = &c.data;
    view.show();
    view.Timer1Timer();
    view.Timer1Timer();

    view.Button2->click();
    EXPECT_EQ(c.Request(2), (std::array<int32_t, 8>{3, 101, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(StatusText(view), " fake error 5");
    EXPECT_EQ(Values(view), Bits(0x30));
    EXPECT_EQ(c.fake->error_code, 0); // its text was fetched all the same
    view.Timer1Timer();
    EXPECT_EQ(Values(view), Bits(0));
    EXPECT_EQ(StatusText(view), " fake error 0");
    view.Button2Click();
    EXPECT_EQ(StatusText(view), " fake error 21");
}

} // namespace
