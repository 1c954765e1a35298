// Test entry for window and end-to-end tests: a real widget application on
// Qt's offscreen platform, so the tests drive the same window a user sees.
#include <gtest/gtest.h>
#include <malloc.h>
#include <QApplication>

int main(int argc, char** argv) {
    // One heap for every thread, so that an address-space limit in a forked
    // child bounds every allocation (see tests/core_main.cpp).
    mallopt(M_ARENA_MAX, 1);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("LC_ALL")) qputenv("LC_ALL", "C.UTF-8");  // as in core_main.cpp
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
