#pragma once

#include <QGuiApplication>
#include <gtest/gtest.h>

// Skips the test unless it runs on a real X server (test.sh starts Xvfb).
#define QV_REQUIRE_X11()                                                                          \
    do {                                                                                          \
        if (QGuiApplication::platformName() != QLatin1String("xcb"))                              \
            GTEST_SKIP() << "needs an X server (DISPLAY)";                                        \
    } while (false)
