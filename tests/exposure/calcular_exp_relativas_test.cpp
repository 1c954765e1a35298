// Relative exposures: the factors measured on synthetic brackets, the exact
// log of a run, the gap checks, the histogram picture and its save failure.
#include "pipeline/calc_ev.h"
#include "exposure/histogram_band.h"
#include "support/objeto_imagen.h"
#include "support/parallel.h"
#include "support/recording_reporter.h"
#include "tests/common/exposure_sets.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

constexpr uint32_t kRed = packColor(255, 0, 0);
constexpr uint32_t kGrey = packColor(192, 192, 192);
constexpr uint32_t kWhite = packColor(255, 255, 255);
constexpr bool kAverage = true;
constexpr bool kMedian = false;

// A ramp of usable values (1100..about 6000) times an exact gain, so that the
// log ratio of every sample of two frames is exactly log2 of the gain ratio.
GflBitmap rampFrame(int w, int h, int gain) {
    GflBitmap b = uniformBitmap(w, h, 0, 0, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                b.row(y)[x * 3 + c] =
                    static_cast<uint16_t>((1100 + 7 * x + 5 * y + 300 * c) * gain);
    return b;
}

class ExpRelativasTest : public ::testing::Test {
  protected:
    void SetUp() override { folder = dir.path() + QStringLiteral("/"); }
    void TearDown() override { setParallelThreads(0); }

    // Writes IMG_1.tiff, IMG_2.tiff, ... and returns the RAW names.
    QStringList write(const std::vector<GflBitmap>& images) {
        QStringList tiffs, raws;
        for (size_t i = 1; i <= images.size(); ++i) {
            tiffs << QStringLiteral("IMG_%1.tiff").arg(i);
            raws << QStringLiteral("IMG_%1.CR2").arg(i);
        }
        writeTiffSet(folder, tiffs, images);
        return raws;
    }
    QString ref() const { return folder + QStringLiteral("IMG_1.CR2"); }
    int run(const std::vector<GflBitmap>& images, bool metodoMedia) {
        return calcularEV(ref(), write(images), metodoMedia, set, rep);
    }
    QStringList histograms() const {
        return QDir(folder).entryList({QStringLiteral("His_*.gif")}, QDir::Files);
    }
    // The log with the histogram's time stamp replaced by "hhmmss".
    QStringList logWithoutTime() const {
        QStringList lines = rep.logLines();
        for (QString& line : lines)
            line.replace(QRegularExpression(QStringLiteral("His_\\d{6}\\.gif")),
                         QStringLiteral("His_hhmmss.gif"));
        return lines;
    }
    // An in-memory set in the given order, as if loaded and sorted.
    void setInMemory(const std::vector<GflBitmap>& images) {
        set = ImageSet();
        for (size_t i = 1; i <= images.size(); ++i)
            set.ArchivosTIFF << folder + QStringLiteral("IMG_%1.tiff").arg(i);
        set.ImagenesTIFF = images;
        set.AnchoImagen = images[0].width;
        set.AltoImagen = images[0].height;
        set.TIFFsCargados = true;
    }

    QTemporaryDir dir;
    QString folder;
    RecordingReporter rep;
    ImageSet set;
};

TEST_F(ExpRelativasTest, FactorsOfANoisyClippedBracketWithinHalfAPercent) {
    // Loaded as 16x, 1x, 4x: the sort must bring them into order first.
    const std::vector<GflBitmap> frames = {
        bracketFrame(240, 160, 16, 3), bracketFrame(240, 160, 1, 1), bracketFrame(240, 160, 4, 2)};
    for (bool method : {kAverage, kMedian}) {
        SCOPED_TRACE(method ? "Average" : "Median");
        rep = RecordingReporter();
        ASSERT_EQ(run(frames, method), 1);
        const QStringList sorted = {folder + "IMG_2.tiff", folder + "IMG_3.tiff",
                                    folder + "IMG_1.tiff"};
        EXPECT_EQ(set.ArchivosTIFF, sorted);
        ASSERT_EQ(set.ExpRelativas.size(), 3u);
        EXPECT_EQ(set.ExpRelativas[0], 1.0);
        EXPECT_NEAR(set.ExpRelativas[1] / 0.25, 1.0, 0.005);
        EXPECT_NEAR(set.ExpRelativas[2] / 0.0625, 1.0, 0.005);
        EXPECT_EQ(rep.beeps, 1);
        EXPECT_TRUE(rep.boxes.empty());
    }
}

TEST_F(ExpRelativasTest, ExactLogOfATwoImageRun) {
    // 4 x 4 with blue 0: the 9 centre pixels give 18 of 48 samples, 37.5 %.
    const std::vector<GflBitmap> frames = {uniformBitmap(4, 4, 8000, 8000, 0),
                                           uniformBitmap(4, 4, 2000, 2000, 0)};
    const QStringList common = {"Loading 2 TIFF files...",
                                "",
                                "Calculating absolute exposure...",
                                "IMG_1.tiff: " + dec("8.1") + "%",
                                "IMG_2.tiff: 2%",
                                "Sorting images by exposure...",
                                "Reloading sorted images...",
                                "",
                                "Calculating relative exposure...",
                                "IMG_2.tiff: 1 (0EV)",
                                "IMG_1.tiff: 4 (+2EV) (" + dec("37.5") + "% lev)"};
    ASSERT_EQ(run(frames, kAverage), 1);
    EXPECT_EQ(rep.logLines(), common + QStringList{"DONE"});
    EXPECT_TRUE(histograms().isEmpty());

    rep = RecordingReporter();
    ASSERT_EQ(run(frames, kMedian), 1);
    const QStringList saving = {"", "Saving exposure histogram as His_hhmmss.gif...", "DONE"};
    EXPECT_EQ(logWithoutTime(), common + saving);
    ASSERT_EQ(histograms().size(), 1);
    EXPECT_TRUE(rep.log.contains(histograms()[0]));
    EXPECT_EQ(set.ExpRelativas, (std::vector<double>{1.0, 0.25}));
    EXPECT_EQ(rep.beeps, 1);
}

TEST_F(ExpRelativasTest, HistogramOfThreeImagesHasOneBandPerPairWithTheMedianInRed) {
    // One stop, then two more: medians at bins 1000 and 2000.
    ASSERT_EQ(run({rampFrame(60, 40, 8), rampFrame(60, 40, 1), rampFrame(60, 40, 2)}, kMedian), 1);
    // The whole log in order; no clipping and every value usable, so the
    // samples are those of the 59 x 39 centres of 60 x 40 pixels.
    const QStringList expected = {"Loading 3 TIFF files...",
                                  "",
                                  "Calculating absolute exposure...",
                                  "IMG_1.tiff: " + dec("20.8") + "%",
                                  "IMG_2.tiff: " + dec("2.6") + "%",
                                  "IMG_3.tiff: " + dec("5.2") + "%",
                                  "Sorting images by exposure...",
                                  "Reloading sorted images...",
                                  "",
                                  "Calculating relative exposure...",
                                  "IMG_2.tiff: 1 (0EV)",
                                  "IMG_3.tiff: 2 (+1EV) (" + dec("95.9") + "% lev)",
                                  "IMG_1.tiff: 8 (+3EV) (" + dec("95.9") + "% lev)",
                                  "",
                                  "Saving exposure histogram as His_hhmmss.gif...",
                                  "DONE"};
    EXPECT_EQ(logWithoutTime(), expected);
    EXPECT_EQ(set.ExpRelativas, (std::vector<double>{1.0, 0.5, 0.125}));

    ASSERT_EQ(histograms().size(), 1);
    ObjetoImagen gif;
    gif.Cargar(folder + histograms()[0]);
    ASSERT_EQ(gif.Ancho(), 1024);
    ASSERT_EQ(gif.Alto(), 256);
    // The pair (1, 2) is on top: its red line at x = 125 (+1EV), the pair
    // (2, 3) below at x = 250 (+2EV).
    for (int y = 0; y < 128; ++y) {
        EXPECT_EQ(gif.ColorEn(125, y), kRed) << y;
        EXPECT_EQ(gif.ColorEn(250, 128 + y), kRed) << y;
    }
    EXPECT_NE(gif.ColorEn(125, 129), kRed);
    EXPECT_NE(gif.ColorEn(250, 1), kRed);
    // Dotted grey lines at whole EVs where no bar stands, white between dots.
    EXPECT_EQ(gif.ColorEn(375, 0), kGrey);
    EXPECT_EQ(gif.ColorEn(375, 1), kWhite);
    EXPECT_EQ(gif.ColorEn(1000, 254), kGrey);
    // The red median text right of the line, 70 rows above the band's bottom.
    int redText = 0;
    for (int y = 127 - 70; y < 127 - 55; ++y)
        for (int x = 145; x < 200; ++x) redText += gif.ColorEn(x, y) == kRed;
    EXPECT_GT(redText, 10);
}

TEST_F(ExpRelativasTest, IdenticalImagesAreZeroEvApart) {
    const GflBitmap same = rampFrame(8, 6, 2);
    for (bool method : {kAverage, kMedian}) {
        rep = RecordingReporter();
        ASSERT_EQ(run({same, same}, method), 1);
        const QStringList lines = logWithoutTime();
        // Of two equal images the second loaded ranks first.
        EXPECT_TRUE(lines.contains("IMG_2.tiff: 1 (0EV)"));
        EXPECT_TRUE(lines.contains("IMG_1.tiff: 1 (+0EV) (" + dec("72.9") + "% lev)"))
            << lines.join("|").toStdString();
        EXPECT_EQ(set.ExpRelativas, (std::vector<double>{1.0, 1.0}));
    }
    // The median line lies at x = 0.
    ObjetoImagen gif;
    gif.Cargar(folder + histograms()[0]);
    EXPECT_EQ(gif.ColorEn(0, 64), kRed);
}

TEST_F(ExpRelativasTest, TooWideGapsStopTheRunWithoutBeepOrHistogram) {
    const GflBitmap normal = rampFrame(8, 6, 4);
    struct Case {
        std::vector<GflBitmap> frames;
        QString box;
    };
    const Case cases[] = {
        // The brighter image clipped everywhere.
        {{normal, uniformBitmap(8, 6, 65535, 65535, 65535)},
         "Too wide exposure gap between IMG_1.tiff and IMG_2.tiff"},
        // The darker image black everywhere: ranked first, at 0 %.
        {{normal, uniformBitmap(8, 6, 0, 0, 0)},
         "Too wide exposure gap between IMG_2.tiff and IMG_1.tiff"},
    };
    for (const Case& c : cases)
        for (bool method : {kAverage, kMedian}) {
            rep = RecordingReporter();
            EXPECT_EQ(run(c.frames, method), -1);
            ASSERT_EQ(rep.boxes.size(), 1u);
            EXPECT_EQ(rep.boxes[0].title, "ERROR");
            EXPECT_EQ(rep.boxes[0].text, c.box);
            EXPECT_EQ(rep.logLines().mid(rep.logLines().size() - 2),
                      QStringList({"Too wide exposure gap", "DONE"}));
            EXPECT_EQ(rep.beeps, 0);
            EXPECT_TRUE(histograms().isEmpty());
        }
    EXPECT_TRUE(rep.log.contains("IMG_2.tiff: 0%"));

    // A failure at the second pair keeps the first factor; the rest are 0.
    rep = RecordingReporter();
    EXPECT_EQ(
        run({rampFrame(8, 6, 1), rampFrame(8, 6, 2), uniformBitmap(8, 6, 65535, 65535, 65535)},
            kMedian),
        -1);
    EXPECT_EQ(set.ExpRelativas, (std::vector<double>{1.0, 0.5, 0.0}));
    EXPECT_TRUE(histograms().isEmpty());
}

TEST_F(ExpRelativasTest, APairInTheWrongOrderIsTooNarrowForAverageAndZeroEvForMedian) {
    setInMemory({rampFrame(8, 6, 4), rampFrame(8, 6, 1)});
    EXPECT_EQ(CalcularExpRelativas(ref(), kAverage, set, rep), -1);
    ASSERT_EQ(rep.boxes.size(), 1u);
    EXPECT_EQ(rep.boxes[0].text, "Too narrow exposure gap between IMG_1.tiff and IMG_2.tiff");
    EXPECT_EQ(rep.logLines().mid(rep.logLines().size() - 2),
              QStringList({"Too narrow exposure gap", "DONE"}));
    EXPECT_EQ(set.ExpRelativas, (std::vector<double>{1.0, 0.0}));

    rep = RecordingReporter();
    EXPECT_EQ(CalcularExpRelativas(ref(), kMedian, set, rep), 1);
    EXPECT_TRUE(rep.logLines().contains("IMG_2.tiff: 1 (+0EV) (" + dec("72.9") + "% lev)"));
    EXPECT_EQ(set.ExpRelativas, (std::vector<double>{1.0, 1.0}));
}

TEST_F(ExpRelativasTest, AFailedHistogramSaveIsReportedAndLosesNothing) {
    ASSERT_EQ(CargarTIFFs(ref(), write({rampFrame(9, 7, 1), rampFrame(9, 7, 2)}), set, rep), 2);
    OrdenarPorExposicion(true, set, rep);
    const std::vector<GflBitmap> images = set.ImagenesTIFF;
    rep = RecordingReporter();
    // The reference's folder has gone since loading.
    EXPECT_EQ(CalcularExpRelativas(folder + "gone/IMG_1.CR2", kMedian, set, rep), -1);
    ASSERT_EQ(rep.boxes.size(), 1u);
    EXPECT_TRUE(rep.boxes[0].text.startsWith(
        "Unexpected error occurred in module CalcularExpRelativas \r\n"));
    EXPECT_EQ(rep.logLines(), QStringList{"An unexpected error occurred"});
    EXPECT_EQ(rep.beeps, 0);
    EXPECT_EQ(set.ExpRelativas, (std::vector<double>{1.0, 0.5}));
    EXPECT_TRUE(set.TIFFsCargados);
    EXPECT_EQ(set.ImagenesTIFF[0].pixels, images[0].pixels);
    EXPECT_EQ(set.ImagenesTIFF[1].pixels, images[1].pixels);
}

TEST_F(ExpRelativasTest, ASetThatIsNotLoadedIsAnUnexpectedError) {
    EXPECT_EQ(CalcularExpRelativas(ref(), kMedian, set, rep), -1);
    ASSERT_EQ(rep.boxes.size(), 1u);
    EXPECT_TRUE(rep.boxes[0].text.startsWith(
        "Unexpected error occurred in module CalcularExpRelativas \r\n"));
    // Nor does "Calc EV" measure anything when loading fails.
    rep = RecordingReporter();
    EXPECT_EQ(calcularEV(ref(), {"IMG_1.CR2", "IMG_2.CR2"}, kAverage, set, rep), -1);
    EXPECT_FALSE(rep.log.contains("Calculating"));
}

TEST_F(ExpRelativasTest, TheRunDoesNotDependOnTheThreadCount) {
    // 700 x 400 pixels: two row bands per scan.
    const QStringList raws = write({bracketFrame(700, 400, 1, 5), bracketFrame(700, 400, 3.3, 6),
                                    bracketFrame(700, 400, 11, 7)});
    QStringList firstLog;
    std::vector<double> firstFactors[2];
    for (int threads : {1, 2, 3}) {
        setParallelThreads(threads);
        for (bool method : {kAverage, kMedian}) {
            rep = RecordingReporter();
            ImageSet s;
            ASSERT_EQ(calcularEV(ref(), raws, method, s, rep), 1);
            std::vector<double>& first = firstFactors[method ? 0 : 1];
            if (threads == 1) {
                first = s.ExpRelativas;
                if (method == kMedian) firstLog = logWithoutTime();
                continue;
            }
            EXPECT_EQ(s.ExpRelativas, first);  // bit for bit
            if (method == kMedian) {
                EXPECT_EQ(logWithoutTime(), firstLog);
            }
        }
    }
}

TEST(HistogramBandTest, MedianBinsNearTheTopClipAtThePictureEdge) {
    ObjetoImagen picture;
    picture.Crear(kHistogramWidth, kBandHeight, kWhite);
    std::vector<uint64_t> bins(8192, 0);
    bins[8191] = 3;
    // Bin 8191 gives x = 1024, one past the last column: nothing red there.
    drawHistogramBand(picture, bins, 2, 8191);
    int red = 0;
    for (int y = 0; y < kBandHeight; ++y) red += picture.ColorEn(1023, y) == kRed;
    EXPECT_EQ(red, 0);
    // Its bar stands in the last column, full height.
    EXPECT_EQ(picture.ColorEn(1023, 127), packColor(0, 0, 0));
    EXPECT_EQ(picture.ColorEn(1023, 0), packColor(0, 0, 0));
}

}  // namespace
