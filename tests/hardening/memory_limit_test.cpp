// Sets that do not fit in memory: a child process under an address-space
// limit loads a set too big for it, and blends into planes that do not fit.
// Each ends in the out-of-memory report, keeps nothing half-made, and the
// same process then works on what fits. Skipped under AddressSanitizer, whose
// shadow memory alone is beyond any such limit.
#include "blend/blend.h"
#include "pipeline/blend_stage.h"
#include "pipeline/calc_ev.h"
#include "maps/maps.h"
#include "pipeline/map_stage.h"
#include "support/errors.h"
#include "support/image_memory.h"
#include "support/objeto_imagen.h"
#include "support/parallel.h"
#include "support/recording_reporter.h"
#include "tests/common/child_checks.h"
#include "tests/common/exposure_sets.h"
#include "tests/common/process_usage.h"
#include "tests/common/test_images.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>

#if defined(__SANITIZE_ADDRESS__)
#define ORRINDALE_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORRINDALE_UNDER_ASAN 1
#endif
#endif

namespace {

constexpr bool kMedian = false;

class MemoryLimitTest : public ::testing::Test {
  protected:
    void SetUp() override {
#ifdef ORRINDALE_UNDER_ASAN
        GTEST_SKIP() << "address-space limits do not apply under AddressSanitizer";
#endif
        if (procStatusBytes("VmSize") <= 0) GTEST_SKIP() << "no /proc/self/status";
    }

    // Writes frames IMG_1.tiff ... into `folder` and returns the RAW names.
    static QStringList writeSet(const QString& folder, int width, int height, int frames) {
        QStringList tiffs, raws;
        std::vector<GflBitmap> images;
        for (int i = 0; i < frames; ++i) {
            images.push_back(bracketFrame(width, height, 4.0 * std::pow(4.0, i), 21 + i));
            tiffs << QStringLiteral("IMG_%1.tiff").arg(i + 1);
            raws << QStringLiteral("IMG_%1.CR2").arg(i + 1);
        }
        writeTiffSet(folder, tiffs, images);
        return raws;
    }

    // Runs `body` in a child allowed `budget` bytes of address space beyond
    // what it has mapped at its start, with one thread for the pixel loops
    // (so the budget is not spent on thread stacks), and reports its findings.
    static void inChild(long long budget, const std::function<void(Findings&)>& body) {
        const QString found = checkInChild(ChildLimits{}, [&](Findings& f) {
            setParallelThreads(1);
            if (limitAddressSpaceFromNow(budget))
                body(f);
            else
                f.check(false, "the limit could not be set");
        });
        EXPECT_TRUE(found.isEmpty()) << found.toStdString();
    }
};

// Without room for another thread's stack the bands run on the threads
// there are: the same result, where the lost thread used to end the program.
TEST_F(MemoryLimitTest, RowLoopsRunOnTheThreadsThereAre) {
    inChild(1 << 20, [](Findings& f) {
        setParallelThreads(8);
        std::vector<int> seen(200, 0);
        std::atomic<int> bands{0};
        parallelRows(200, 3, [&](const RowBand& band) {
            ++bands;
            for (int y = band.begin; y < band.end; ++y) ++seen[static_cast<size_t>(y)];
        });
        f.check(bands == rowBandCount(200, 3), "not every band ran");
        f.check(std::all_of(seen.begin(), seen.end(), [](int n) { return n == 1; }),
                "a row ran twice or not at all");
    });
}

// QImage hands back a null picture when its pixels cannot be had; every
// picture the procedures make or read then fails as out of memory, not as a
// bad file or a crash on a null scan line.
TEST_F(MemoryLimitTest, PicturesThatCannotBeAllocatedFailAsOutOfMemory) {
    QTemporaryDir dir;
    const QString map = dir.filePath("Map_000000.png");
    QImage grey(3000, 2000, QImage::Format_Grayscale8);
    grey.fill(128);
    ASSERT_TRUE(grey.save(map));
    inChild(4 << 20, [&](Findings& f) {
        auto number = [](const std::function<void()>& work) {
            try {
                work();
            } catch (const RunError& e) {
                return e.number();
            }
            return 0;
        };
        f.check(number([] { allocatedImage(3000, 2000, QImage::Format_RGB32); }) == kErrOutOfMemory,
                "allocatedImage");
        f.check(number([&] { convertedImage(grey, QImage::Format_RGB32); }) == kErrOutOfMemory,
                "convertedImage");
        f.check(number([] { ObjetoImagen().Crear(3000, 2000, 0xFFFFFF); }) == kErrOutOfMemory,
                "ObjetoImagen::Crear");
        f.check(number([&] { ObjetoImagen().Cargar(map); }) == kErrOutOfMemory,
                "ObjetoImagen::Cargar");
        f.check(number([&] { loadMapLevels(map, QSize(3000, 2000), true); }) == kErrOutOfMemory,
                "loadMapLevels");
        // Small pictures still work under the same limit.
        f.check(number([] { allocatedImage(300, 200, QImage::Format_RGB32); }) == 0,
                "a small picture");
    });
}

// Calc EV on three frames of 6 MB each with 14 MB to spare: the load runs
// out, is reported as out of memory, and leaves no image behind; a set that
// fits then loads under the same limit, and the big one once it is lifted.
TEST_F(MemoryLimitTest, CalcEvOfASetThatDoesNotFitLeavesNothingLoaded) {
    QTemporaryDir big, small;
    const QStringList bigRaws = writeSet(big.path() + "/", 1000, 1000, 3);
    const QStringList smallRaws = writeSet(small.path() + "/", 500, 400, 2);
    const QString bigRef = big.path() + "/IMG_1.CR2", smallRef = small.path() + "/IMG_1.CR2";
    inChild(14LL << 20, [&](Findings& f) {
        ImageSet set;
        HistoryReporter rep;
        f.check(calcularEV(bigRef, bigRaws, kMedian, set, rep) == -1, "the big set loaded");
        f.check(
            rep.reportedOutOfMemory("CargarGflBitmap") || rep.reportedOutOfMemory("CargarTIFFs"),
            "no out-of-memory report: " + rep.all());
        f.check(!set.TIFFsCargados && !set.usable(), "the set is marked loaded");
        for (const GflBitmap& image : set.ImagenesTIFF)
            f.check(image.empty() && image.pixels.capacity() == 0, "an image kept its pixels");

        HistoryReporter fits;
        f.check(calcularEV(smallRef, smallRaws, kMedian, set, fits) == 1 && fits.boxes.empty(),
                "a set that fits did not load after: " + fits.all());
        f.check(set.usable() && set.AnchoImagen == 500, "the small set is not usable");

        liftChildLimits();
        HistoryReporter lifted;
        f.check(calcularEV(bigRef, bigRaws, kMedian, set, lifted) == 1 && set.usable(),
                "the big set did not load without the limit: " + lifted.all());
    });
}

// Bracketed outputs share planes of 24 bytes a pixel. When they do not fit:
// out of memory from FusionarImagenes, no output file, the set untouched;
// a single output, blended strip by strip as it is written, still fits, Build
// map works under the same limit, and the brackets once it is lifted.
TEST_F(MemoryLimitTest, BlendPlanesThatDoNotFitEndInTheOutOfMemoryReport) {
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    const QStringList raws = writeSet(folder, 1000, 750, 3);
    const QString ref = folder + "IMG_1.CR2";
    ImageSet set;
    RecordingReporter setup;
    ASSERT_EQ(calcularEV(ref, raws, kMedian, set, setup), 1) << setup.log.toStdString();
    BlendSettings s;
    s.perfil = "sRGB";
    s.numBracketing = 2;
    s.rutaMapa = GenerarMapa(ref, MapSettings{}, set, setup);
    ASSERT_FALSE(s.rutaMapa.isEmpty()) << setup.log.toStdString();
    const long long pixels = 1000LL * 750;
    // The map, the progressive map and its encoding fit in 16 bytes a pixel;
    // the planes alone take 24.
    inChild(16 * pixels, [&](Findings& f) {
        HistoryReporter rep;
        f.check(FusionarImagenes(ref, s, set, rep) == -1, "the blend reported success");
        f.check(rep.history.contains("Building output files..."),
                "the blend stopped before its planes: " + rep.all());
        f.check(rep.reportedOutOfMemory("FusionarImagenes"),
                "no out-of-memory report: " + rep.all());
        f.check(QDir(folder).entryList({"OD_*"}, QDir::Files).isEmpty(), "an output was written");
        f.check(set.usable(), "the set was lost");

        BlendSettings single = s;
        single.numBracketing = 1;
        HistoryReporter one;
        f.check(FusionarImagenes(ref, single, set, one) == 1 && one.boxes.empty(),
                "a single output did not fit: " + one.all());
        f.check(QDir(folder).entryList({"OD_*.tif"}, QDir::Files).size() == 1,
                "no single output file");

        HistoryReporter map;
        f.check(!GenerarMapa(ref, MapSettings{}, set, map).isEmpty(),
                "Build map failed after: " + map.all());

        liftChildLimits();
        HistoryReporter lifted;
        f.check(FusionarImagenes(ref, s, set, lifted) == 1 && lifted.boxes.empty(),
                "the blend failed without the limit: " + lifted.all());
        f.check(QDir(folder).entryList({"OD_*EV.tif"}, QDir::Files).size() == 2,
                "not two bracketed output files");
    });
}

}  // namespace
