// The body of every GUI test program's main(): the one QApplication the
// windows need, on the offscreen platform unless the caller chose another,
// then every test case. Only test programs that link Qt Widgets include it.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>

namespace tavrel::platform::testing {

inline int runGuiTests(int& argc, char** argv) {
    // CTest lists the cases without the test environment, so the windows
    // need no display then either.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

}  // namespace tavrel::platform::testing
