// Test entry for the core: a GUI application object (offscreen) is needed for
// fonts, text drawing and the clipboard in picture tests.
#include <gtest/gtest.h>
#include <malloc.h>
#include <QGuiApplication>

int main(int argc, char** argv) {
    // One heap for every thread: the per-thread heaps glibc reserves would let
    // a forked child under an address-space limit grow inside their reserved
    // ranges, past the limit the memory tests set.
    mallopt(M_ARENA_MAX, 1);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // CTest's locale also when the binary runs by hand, as scripts/test does
    // under the sanitizers: expected numbers follow the system's decimal
    // separator while some tests pin another, so under a comma locale the
    // tests after those failed. A child that needs a locale sets LC_ALL.
    if (qEnvironmentVariableIsEmpty("LC_ALL")) qputenv("LC_ALL", "C.UTF-8");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
