// Test entry for the core: a GUI application object (offscreen) is needed for
// fonts, text drawing and the clipboard in picture tests.
#include <QGuiApplication>
#include <gtest/gtest.h>
#include <malloc.h>

int main(int argc, char** argv) {
    // One heap for every thread: the per-thread heaps glibc reserves would let
    // a forked child under an address-space limit grow inside their reserved
    // ranges, past the limit the memory tests set.
    mallopt(M_ARENA_MAX, 1);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
