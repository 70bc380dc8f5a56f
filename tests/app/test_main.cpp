#include "Program.h"

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    // No display in CI; the listing run of the test discovery needs none
    // either.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    TApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
