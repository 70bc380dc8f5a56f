#include "Program.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
#ifdef _WIN32
    // Under wine: wine hands no QT_ variable of the build machine on, the
    // offscreen platform hangs there at start, and the plugins lie beside
    // the program rather than beside the tests.
    qputenv("QT_QPA_PLATFORM", "minimal");
    QCoreApplication::addLibraryPath(QStringLiteral(BIN_DIR));
#else
    // No display in CI; the listing run of the test discovery needs none
    // either.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    ::testing::InitGoogleTest(&argc, argv);
    TApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
