// The technician's round with the in-process simulated module (address 1,
// outputs wired back to inputs): from the main window's menu, the walking
// one runs and is closed, then the input view shows where it stopped.
#include "Hlavni.h"
#include "OkamDIN.h"
#include "OkamDOUT.h"
#include "ViewTest.h"

#include <QAction>

#include <gtest/gtest.h>

namespace {

TEST(SimulatedModule, InputViewShowsWhereTheWalkStopped)
{
    TForm1 w; // never closed: closing would save the settings file
    ASSERT_NE(w.Data, nullptr);
    DrvSetLibraryDirectory(BIN_DIR);
    ASSERT_EQ(DrvInit(ifUsb, w.Data->Handle, TInitParams{}), 0);
    ASSERT_EQ(DrvSetConfig(ifUsb, w.Data->Handle, 9600, 200, 2), 0);
    w.Data->Kind = ifUsb;
    w.Data->Address = 1;
    w.Data->Connected = true;

    OnShow<TForm9> walk([](TForm9 *p) {
        p->Button3Click();
        for (int i = 0; i < 5; ++i)
            p->Timer1Timer();
        EXPECT_EQ(StatusText(*p), " Data zapsána");
        p->close();
    });
    w.OkamDOUT1->trigger();
    std::string inputs, status;
    OnShow<TForm11> look([&](TForm11 *v) {
        v->Timer1Timer();
        inputs = Values(*v);
        status = StatusText(*v).toStdString();
    });
    w.OkamDIN2->trigger();
    EXPECT_EQ(walk.count + look.count, 2);
    EXPECT_EQ(inputs, Bits(0x10)); // DIN4, the fifth step's output
    EXPECT_EQ(status, " V pořádku");
    DrvDone(ifUsb, w.Data->Handle);
}

} // namespace
