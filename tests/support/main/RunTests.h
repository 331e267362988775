#pragma once

#include <QApplication>
#include <gtest/gtest.h>

namespace qv::test {

// Runs every test in a QApplication, after `install` has put the services in place.
template <typename Install>
int runTests(int argc, char** argv, Install install)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Tests that need X11 skip themselves when there is no display (see RequireX11.h).
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    install();
    return RUN_ALL_TESTS();
}

} // namespace qv::test
