// "Calc EV" through the window on a set that does not fit in memory: the
// out-of-memory report, nothing loaded, "Build map" still disabled, and the
// same window loading the set once memory is there again. The address-space
// limit is set on the test process itself around the click: a forked copy of
// a window process stalls as soon as it paints, as Qt's painting waits for
// worker threads that only the parent has.
#include "support/parallel.h"
#include "tests/app/window_fixture.h"
#include "tests/common/child_checks.h"
#include "tests/common/exposure_sets.h"
#include "tests/common/process_usage.h"

#include <cmath>

namespace {

class MemoryWindowTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        if (procStatusBytes("VmSize") <= 0) GTEST_SKIP() << "no /proc/self/status";
        folder = dir.path() + "/";
        // Three frames of 6 MB each.
        window->ArchivosRAW = writeBracketSet(folder, 3, 1000, 1000, 41);
        window->txtRuta->setText(folder + "IMG_1.CR2");
        window->estado.ImagenMostrada = true;
        window->cmdEV->setEnabled(true);
    }

    QTemporaryDir dir;
    QString folder;
};

// Lowers the address-space limit to `budget` bytes beyond the present size
// for its lifetime, with the pixel loops on one thread.
class MemoryBudget {
  public:
    explicit MemoryBudget(long long budget) : set_(limitAddressSpaceFromNow(budget)) {
        setParallelThreads(1);
    }
    ~MemoryBudget() {
        liftChildLimits();
        setParallelThreads(0);
    }
    bool set() const { return set_; }

  private:
    bool set_;
};

TEST_F(MemoryWindowTest, CalcEvOnASetThatDoesNotFitLeavesTheWindowUsable) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "address-space limits do not apply under AddressSanitizer";
#endif
    frmMain& w = *window;
    {
        MemoryBudget budget(14LL << 20);
        ASSERT_TRUE(budget.set());
        w.cmdEV->click();
    }
    bool outOfMemory = false;
    for (const RecordedBox& box : boxes) outOfMemory |= box.text.contains("Error number 7,");
    EXPECT_TRUE(outOfMemory) << w.statusText().toStdString();
    EXPECT_FALSE(w.imagenes.TIFFsCargados);
    EXPECT_FALSE(w.imagenes.usable());
    for (const GflBitmap& image : w.imagenes.ImagenesTIFF) EXPECT_EQ(image.pixels.capacity(), 0u);
    EXPECT_FALSE(w.cmdBuildMap->isEnabled());
    EXPECT_TRUE(w.cmdEV->isEnabled());
    EXPECT_FALSE(w.busy());

    boxes.clear();
    w.cmdEV->click();
    EXPECT_TRUE(boxes.empty()) << boxes[0].text.toStdString();
    EXPECT_TRUE(w.imagenes.usable());
    EXPECT_TRUE(w.cmdBuildMap->isEnabled());
    EXPECT_EQ(logLines().back(), "DONE");
}

}  // namespace
