// The window tests run without a display, in one Qt application for the whole program.
#include "qtcore/QtMainThreadLoop.h"
#include "ui/Fonts.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    RegisterFontSubstitutes();
    InstallMainThreadQueueHook();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
