// The blend and its output stage: map positions and shares, the progressive
// map, ETTR, gamma, the B&W mix, bracketed files, and the program's blend
// against a literal pixel-by-pixel one on random sets and maps.
#include "blend/blend.h"
#include "pipeline/blend_stage.h"
#include "maps/maps.h"
#include "support/parallel.h"
#include "support/recording_reporter.h"
#include "tests/common/blend_reference.h"
#include "tests/common/child_process.h"
#include "tests/common/exposure_sets.h"
#include "tests/common/map_reference.h"
#include "tests/common/test_images.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <random>

namespace {

GflBitmap randomFrame(int w, int h, std::mt19937& rng) {
    std::uniform_int_distribution<int> any(0, 65535), pick(0, 9);
    GflBitmap b = uniformBitmap(w, h, 0, 0, 0);
    for (uint16_t& v : b.pixels) {
        const int p = pick(rng);
        v = static_cast<uint16_t>(p == 0 ? 0 : p == 1 ? 65535 : any(rng));
    }
    return b;
}

class BlendTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = dir.path() + "/";
        mapPath = folder + "Map_000000.png";
    }
    void TearDown() override { setParallelThreads(0); }

    void useSet(std::vector<GflBitmap> images, double gap = 4.0) {
        set = diskSet(folder, std::move(images), gap);
        set.TablaMapa = buildTablaMapa(static_cast<int>(set.ImagenesTIFF.size()));
        set.TablaMapaImagenes = static_cast<int>(set.ImagenesTIFF.size());
    }
    // Writes the grey map and keeps its levels for the literal blend.
    void writeMap(const std::vector<uint8_t>& lv, int w, int h) {
        levels = lv;
        QImage png(w, h, QImage::Format_Grayscale8);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) png.scanLine(y)[x] = lv[static_cast<size_t>(y) * w + x];
        ASSERT_TRUE(png.save(mapPath));
    }
    void writeUniformMap(uint8_t level) {
        writeMap(std::vector<uint8_t>(static_cast<size_t>(set.AnchoImagen) * set.AltoImagen, level),
                 set.AnchoImagen, set.AltoImagen);
    }
    BlendSettings settings(bool bw = false, int gamma = 10) const {
        BlendSettings s;
        s.blancoNegro = bw;
        s.gamma = gamma;
        s.perfil = "sRGB";
        s.rutaMapa = mapPath;
        return s;
    }
    QString ref() const { return folder + "IMG_1.CR2"; }
    QStringList outputs() const { return QDir(folder).entryList({"OD*.tif"}, QDir::Files, QDir::Name); }
    GflBitmap output(const QString& name) const {
        GflBitmap b;
        RecordingReporter r;
        EXPECT_FALSE(CargarGflBitmap(folder + name, b, r)) << name.toStdString();
        return b;
    }
    QStringList logWithoutTime() const {
        QStringList lines = rep.logLines();
        for (QString& l : lines) l.replace(QRegularExpression("(OD(?:_BW)?)_\\d{6}_"), "\\1_hhmmss_");
        return lines;
    }
    void removeOutputs() {
        for (const QString& f : outputs()) QFile::remove(folder + f);
    }

    QTemporaryDir dir;
    QString folder, mapPath;
    ImageSet set;
    std::vector<uint8_t> levels;
    RecordingReporter rep;
};

TEST_F(BlendTest, WholePositionsGiveEachImageTimesItsFactor) {
    std::mt19937 rng(5);
    useSet({randomFrame(9, 7, rng), randomFrame(9, 7, rng), randomFrame(9, 7, rng)});
    std::vector<uint8_t> lv;
    for (int i = 0; i < 63; ++i) lv.push_back(greyOfImage(1 + i % 3, 3));
    writeMap(lv, 9, 7);
    ASSERT_EQ(FusionarImagenes(ref(), settings(false, 10), set, rep), 1) << rep.log.toStdString();
    EXPECT_EQ(logWithoutTime(),
              (QStringList{"Loading blending map...", "Image contribution...", "IMG_1.tiff: 33.3%",
                           "IMG_2.tiff: 33.3%", "IMG_3.tiff: 33.3%", "100% genuine pixels",
                           "Blending images...", "", "Building output file...",
                           "Saving image as OD_hhmmss_sRGB_g1.tif", "DONE"}));
    EXPECT_FALSE(QFile::exists(folder + "Map_000000_PB.png"));
    ASSERT_EQ(outputs().size(), 1);
    const GflBitmap out = output(outputs()[0]);
    for (int i = 0; i < 63; ++i) {
        const int k = 1 + i % 3;
        const double q = set.ExpRelativas[static_cast<size_t>(k) - 1];
        for (int c = 0; c < 3; ++c)
            ASSERT_EQ(out.pixels[static_cast<size_t>(i) * 3 + c],
                      std::nearbyint(set.ImagenesTIFF[static_cast<size_t>(k) - 1].pixels[static_cast<size_t>(i) * 3 + c] * q));
    }
    // Image 1's pixels come out exactly as developed.
    EXPECT_EQ(out.pixels[0], set.ImagenesTIFF[0].pixels[0]);
    EXPECT_EQ(rep.beeps, 1);
}

TEST_F(BlendTest, AQuarterPositionMixesTwoImages) {
    useSet({uniformBitmap(4, 4, 1000, 2000, 3000), uniformBitmap(4, 4, 4000, 8000, 12000),
            uniformBitmap(4, 4, 16000, 32000, 48000)});
    set.TablaMapa[100] = 2.25f;
    writeUniformMap(100);
    ASSERT_EQ(FusionarImagenes(ref(), settings(false, 10), set, rep), 1);
    const QStringList log = rep.logLines();
    EXPECT_EQ(log.mid(2, 4), (QStringList{"IMG_1.tiff: 0%", "IMG_2.tiff: 75%", "IMG_3.tiff: 25%",
                                          "0% genuine pixels"}));
    EXPECT_EQ(log[6], "Saving PNG progressive map as Map_000000_PB.png...");
    // 75 % of image 2 and 25 % of image 3, each at image 1's exposure.
    const GflBitmap out = output(outputs()[0]);
    EXPECT_EQ(out.pixels[0], std::nearbyint(4000 / 4.0 * 0.75 + 16000 / 16.0 * 0.25));
    EXPECT_EQ(out.pixels[1], 8000 / 4.0 * 0.75 + 32000 / 16.0 * 0.25);
    EXPECT_EQ(out.pixels[2], 12000 / 4.0 * 0.75 + 48000 / 16.0 * 0.25);
    // Progressive pixels keep their grey in the progressive map.
    const QImage pb(folder + "Map_000000_PB.png");
    ASSERT_EQ(pb.size(), QSize(4, 4));
    EXPECT_EQ(pb.pixel(3, 3) & 0xFFFFFF, 0x646464u);
}

TEST_F(BlendTest, SharesRoundPerMilleHalvesToEven) {
    // 2000 pixels: shares of 1 and 3 pixels are exact per-mille halves.
    useSet({uniformBitmap(40, 50, 100, 100, 100), uniformBitmap(40, 50, 400, 400, 400),
            uniformBitmap(40, 50, 1600, 1600, 1600)});
    std::vector<uint8_t> lv(2000, 0);
    lv[7] = 255;
    lv[8] = lv[9] = lv[10] = 128;
    writeMap(lv, 40, 50);
    ASSERT_EQ(FusionarImagenes(ref(), settings(), set, rep), 1);
    EXPECT_EQ(rep.logLines().mid(2, 4), (QStringList{"IMG_1.tiff: 0%", "IMG_2.tiff: 0.2%",
                                                     "IMG_3.tiff: 99.8%", "100% genuine pixels"}));
    // One and three progressive pixels: 999.5 and 998.5 per mille genuine.
    for (auto [count, line] : {std::pair{1, "100% genuine pixels"}, std::pair{3, "99.8% genuine pixels"}}) {
        std::vector<uint8_t> p(2000, 0);
        for (int i = 0; i < count; ++i) p[static_cast<size_t>(i)] = 200;
        writeMap(p, 40, 50);
        rep = RecordingReporter();
        ASSERT_EQ(FusionarImagenes(ref(), settings(), set, rep), 1);
        EXPECT_EQ(rep.logLines()[5], line);
    }
}

TEST_F(BlendTest, AMapOfAnotherSizeStopsBeforeWriting) {
    useSet({uniformBitmap(6, 5, 1, 2, 3), uniformBitmap(6, 5, 4, 5, 6)});
    for (QSize size : {QSize(5, 5), QSize(6, 4)}) {
        writeMap(std::vector<uint8_t>(static_cast<size_t>(size.width()) * size.height(), 0),
                 size.width(), size.height());
        rep = RecordingReporter();
        EXPECT_EQ(FusionarImagenes(ref(), settings(), set, rep), -1);
        EXPECT_EQ(rep.logLines(), (QStringList{"Loading blending map...", "Map dimensions mismatch", "DONE"}));
        ASSERT_EQ(rep.boxes.size(), 1u);
        EXPECT_EQ(rep.boxes[0].title, "ERROR");
        EXPECT_EQ(rep.boxes[0].text, "Map dimensions do not match image dimensions");
        EXPECT_TRUE(outputs().isEmpty());
        EXPECT_EQ(rep.beeps, 0);
    }
}

TEST_F(BlendTest, ATableOfAnotherSetIsRefusedBeforeAnyPixelIsRead) {
    useSet({uniformBitmap(6, 5, 1, 2, 3), uniformBitmap(6, 5, 4, 5, 6), uniformBitmap(6, 5, 7, 8, 9)});
    writeUniformMap(0);
    for (int builtFor : {0, 2, 4}) {
        set.TablaMapa = builtFor ? buildTablaMapa(builtFor) : std::vector<float>();
        set.TablaMapaImagenes = builtFor;
        rep = RecordingReporter();
        EXPECT_EQ(FusionarImagenes(ref(), settings(), set, rep), -1);
        EXPECT_EQ(rep.logLines(), (QStringList{"Loading blending map...", "DONE"}));
        ASSERT_EQ(rep.boxes.size(), 1u);
        EXPECT_EQ(rep.boxes[0].text, "The blending map was built for another image set");
    }
    EXPECT_TRUE(outputs().isEmpty());
}

TEST_F(BlendTest, MissingOrBrokenMapFilesAreReported) {
    useSet({uniformBitmap(6, 5, 1, 2, 3), uniformBitmap(6, 5, 4, 5, 6)});
    writeBytes(folder + "notamap.png", "this is not a picture");
    for (const QString& path : {folder + "none.png", folder + "notamap.png", QString()}) {
        BlendSettings s = settings();
        s.rutaMapa = path;
        rep = RecordingReporter();
        EXPECT_EQ(FusionarImagenes(ref(), s, set, rep), -1);
        ASSERT_EQ(rep.boxes.size(), 1u);
        EXPECT_TRUE(rep.boxes[0].text.startsWith("Unexpected error occurred in module FusionarImagenes"))
            << rep.boxes[0].text.toStdString();
    }
    EXPECT_TRUE(outputs().isEmpty());
}

TEST_F(BlendTest, ETTRBringsTheBrightestSampleToFullScale) {
    GflBitmap dark = uniformBitmap(5, 4, 100, 200, 300);
    dark.pixels[7] = 32768;
    useSet({dark, uniformBitmap(5, 4, 400, 800, 1200)});
    writeUniformMap(255);  // image 1 everywhere
    BlendSettings s = settings(false, 10);
    s.ettr = true;
    ASSERT_EQ(FusionarImagenes(ref(), s, set, rep), 1);
    const QStringList log = rep.logLines();
    const qsizetype at = log.indexOf("Calculating ETTR correction...");
    ASSERT_GE(at, 0);
    EXPECT_EQ(log.mid(at, 4), (QStringList{"Calculating ETTR correction...", "",
                                           "Histogram correction by +1EV", "Blending images..."}));
    const GflBitmap out = output(outputs()[0]);
    EXPECT_EQ(out.pixels[7], 65535);
    EXPECT_EQ(out.pixels[0], std::nearbyint(100.0 * 65535 / 32768));
    // The gain never accumulates: a second blend starts from the measured factors.
    EXPECT_EQ(set.ExpRelativas[0], 1.0);

    // Already at full scale.
    set.ImagenesTIFF[0].pixels[7] = 65535;
    writeTiffSet(folder, {"IMG_1.tiff"}, {set.ImagenesTIFF[0]});
    removeOutputs();
    rep = RecordingReporter();
    ASSERT_EQ(FusionarImagenes(ref(), s, set, rep), 1);
    EXPECT_TRUE(rep.logLines().contains("Already clipped highlights"));
    EXPECT_EQ(output(outputs()[0]).pixels[0], 100);
}

TEST_F(BlendTest, ETTROnABlackImageIsAFailure) {
    useSet({uniformBitmap(5, 4, 0, 0, 0), uniformBitmap(5, 4, 400, 800, 1200)});
    writeUniformMap(0);
    BlendSettings s = settings();
    s.ettr = true;
    EXPECT_EQ(FusionarImagenes(ref(), s, set, rep), -1);
    ASSERT_EQ(rep.boxes.size(), 1u);
    EXPECT_TRUE(rep.boxes[0].text.contains("module FusionarImagenes"));
    EXPECT_TRUE(rep.boxes[0].text.contains("Error number 11"));
    EXPECT_TRUE(outputs().isEmpty());
}

TEST_F(BlendTest, MixWeightsAndTheirRoundingResidue) {
    const MixWeights w = mixWeights(33, 33);
    EXPECT_EQ(w.r, 0.33f);
    EXPECT_EQ(w.g, (1.0f - 0.33f) - 0.33f);
    EXPECT_NE(static_cast<double>(w.g), 0.34);
    // Red and blue adding to 100 % leave green a float residue, negative for
    // some pairs: a pixel without red and blue then comes out 0, not NaN.
    int red = -1;
    for (int r = 0; r <= 100 && red < 0; ++r)
        if (mixWeights(r, 100 - r).g < 0) red = r;
    ASSERT_GE(red, 0) << "some pair leaves a negative green weight";
    useSet({uniformBitmap(3, 2, 0, 5000, 0), uniformBitmap(3, 2, 0, 20000, 0)});
    writeUniformMap(255);
    BlendSettings s = settings(true, 22);
    s.pesoRojo = red;
    s.pesoAzul = 100 - red;
    ASSERT_EQ(FusionarImagenes(ref(), s, set, rep), 1);
    const GflBitmap out = output(outputs()[0]);
    EXPECT_EQ(out.pixels, std::vector<uint16_t>(18, 0));
}

TEST_F(BlendTest, GammaInFileNames) {
    for (int v = 10; v <= 30; ++v)
        EXPECT_EQ(gammaForFileName(inverseGamma(v)), QString::number(v / 10.0)) << v;
    // Double arithmetic, not float, finds the nearest single.
    for (int v : {11, 17, 21, 22, 23, 29}) EXPECT_EQ(inverseGamma(v), static_cast<float>(10.0 / v));
    EXPECT_EQ(outputBaseName(false, "143210", "sRGB", inverseGamma(22)), "OD_143210_sRGB_g2.2");
    EXPECT_EQ(outputBaseName(true, "090507", "ProPhoto RGB", inverseGamma(10)), "OD_BW_090507_ProPhotoRGB_g1");
    EXPECT_EQ(bracketSuffix(1, 1, 2), "");
    EXPECT_EQ(bracketSuffix(1, 3, 2), "_0EV");
    EXPECT_EQ(bracketSuffix(3, 3, 2), "_+4EV");
}

TEST_F(BlendTest, BracketedSeriesAndTheWholeLog) {
    std::mt19937 rng(11);
    useSet({randomFrame(8, 6, rng), randomFrame(8, 6, rng), randomFrame(8, 6, rng)});
    std::vector<uint8_t> lv(48);
    for (size_t i = 0; i < lv.size(); ++i) lv[i] = static_cast<uint8_t>(i * 5);
    writeMap(lv, 8, 6);
    BlendSettings s = settings(true, 10);
    s.perfil = "Adobe RGB";
    s.ettr = true;
    s.numBracketing = 3;
    s.evBracketing = 2;
    ASSERT_EQ(FusionarImagenes(ref(), s, set, rep), 1);
    const QStringList log = logWithoutTime();
    const LiteralBlend lit = literalBlend(set, levels, set.TablaMapa, s);
    ASSERT_EQ(log.size(), 20) << log.join("\n").toStdString();
    EXPECT_EQ(log.mid(0, 2), (QStringList{"Loading blending map...", "Image contribution..."}));
    EXPECT_TRUE(log[5].endsWith("% genuine pixels"));
    EXPECT_EQ(log[6], "Saving PNG progressive map as Map_000000_PB.png...");
    EXPECT_EQ(log.mid(7, 2), (QStringList{"Calculating ETTR correction...", ""}));
    EXPECT_TRUE(log[9] == "Already clipped highlights" || log[9].startsWith("Histogram correction by +"));
    EXPECT_EQ(log.mid(10), (QStringList{"Blending images...", "", "Building output files...",
                                        "Bracketing 1/3...", "Saving image as OD_BW_hhmmss_AdobeRGB_g1_0EV.tif",
                                        "Bracketing 2/3...", "Saving image as OD_BW_hhmmss_AdobeRGB_g1_+2EV.tif",
                                        "Bracketing 3/3...", "Saving image as OD_BW_hhmmss_AdobeRGB_g1_+4EV.tif",
                                        "DONE"}));
    ASSERT_EQ(outputs().size(), 3);
    const float g = inverseGamma(10);
    for (int o = 1; o <= 3; ++o) {
        const QString name = outputs().filter(bracketSuffix(o, 3, 2) + ".tif")[0];
        EXPECT_EQ(output(name).pixels, lit.bracket(o, 2, g).pixels) << name.toStdString();
    }
}

TEST_F(BlendTest, SevenBracketsFourEVApartClipAndComplete) {
    std::mt19937 rng(3);
    useSet({randomFrame(6, 4, rng), randomFrame(6, 4, rng)});
    writeUniformMap(100);
    BlendSettings s = settings(false, 22);
    s.numBracketing = 7;
    s.evBracketing = 4;
    ASSERT_EQ(FusionarImagenes(ref(), s, set, rep), 1);
    ASSERT_EQ(outputs().size(), 7);
    EXPECT_EQ(outputs().filter("_+24EV.tif").size(), 1);
    const GflBitmap top = output(outputs().filter("_+24EV.tif")[0]);
    const long clipped = std::count(top.pixels.begin(), top.pixels.end(), 65535);
    EXPECT_GT(clipped, static_cast<long>(top.pixels.size()) * 8 / 10);
}

TEST_F(BlendTest, BlendingTwiceGivesTheSamePixels) {
    std::mt19937 rng(8);
    useSet({randomFrame(7, 5, rng), randomFrame(7, 5, rng), randomFrame(7, 5, rng)});
    writeMap(randomBlobMap(7, 5, 255, 4).data, 7, 5);
    BlendSettings s = settings(false, 22);
    s.ettr = true;
    ASSERT_EQ(FusionarImagenes(ref(), s, set, rep), 1);
    const GflBitmap first = output(outputs()[0]);
    removeOutputs();
    ASSERT_EQ(FusionarImagenes(ref(), s, set, rep), 1);
    EXPECT_EQ(output(outputs()[0]).pixels, first.pixels);
    // Image 1 keeps its developed pixels: the output has a bitmap of its own.
    RecordingReporter r;
    GflBitmap disk;
    ASSERT_FALSE(CargarGflBitmap(folder + "IMG_1.tiff", disk, r));
    EXPECT_EQ(set.ImagenesTIFF[0].pixels, disk.pixels);
}

TEST_F(BlendTest, ImageOneIsTakenAsItIsOnDisk) {
    useSet({uniformBitmap(4, 3, 100, 100, 100), uniformBitmap(4, 3, 400, 400, 400)});
    writeUniformMap(255);
    // Developed again (highlight recovery, say) after the set was loaded.
    writeTiffSet(folder, {"IMG_1.tiff"}, {uniformBitmap(4, 3, 90, 91, 92)});
    ASSERT_EQ(FusionarImagenes(ref(), settings(), set, rep), 1);
    EXPECT_EQ(output(outputs()[0]).pixels[2], 92);
    // A file of another size leaves the loaded image in place.
    writeTiffSet(folder, {"IMG_1.tiff"}, {uniformBitmap(5, 3, 7, 7, 7)});
    removeOutputs();
    ASSERT_EQ(FusionarImagenes(ref(), settings(), set, rep), 1);
    EXPECT_EQ(output(outputs()[0]).pixels[2], 92);
}

TEST_F(BlendTest, FastBlendEqualsTheLiteralOneOnRandomSets) {
    std::mt19937 rng(2024);
    int runs = 0;
    for (int n = 2; n <= 6; ++n)
        for (int variant = 0; variant < 6; ++variant) {
            const int w = 1 + static_cast<int>(rng() % 23), h = 1 + static_cast<int>(rng() % 17);
            std::vector<GflBitmap> frames;
            for (int i = 0; i < n; ++i) frames.push_back(randomFrame(w, h, rng));
            useSet(frames, 1.5 + (rng() % 100) / 25.0);
            std::vector<uint8_t> lv(static_cast<size_t>(w) * h);
            for (uint8_t& v : lv) v = static_cast<uint8_t>(rng() % 256);
            writeMap(lv, w, h);
            BlendSettings s = settings(variant % 2 == 1, 10 + static_cast<int>(rng() % 21));
            s.ettr = variant >= 2;
            s.pesoRojo = static_cast<int>(rng() % 101);
            s.pesoAzul = static_cast<int>(rng() % (101 - s.pesoRojo));
            s.numBracketing = 1 + variant % 3;
            s.evBracketing = 1 + static_cast<int>(rng() % 4);
            setParallelThreads(variant % 3 + 1);
            SCOPED_TRACE(testing::Message() << "n=" << n << " variant=" << variant << " " << w << "x" << h
                                            << " gamma=" << s.gamma);
            removeOutputs();
            rep = RecordingReporter();
            ASSERT_EQ(FusionarImagenes(ref(), s, set, rep), 1) << rep.log.toStdString();
            const LiteralBlend lit = literalBlend(set, levels, set.TablaMapa, s);
            const QStringList log = rep.logLines();
            for (int i = 1; i <= n; ++i)
                EXPECT_EQ(log[1 + i], QStringLiteral("IMG_%1.tiff: ").arg(i) +
                                          QString::number(std::nearbyint(lit.contribution[static_cast<size_t>(i)] /
                                                                         (w * h) * 1000) / 10) + "%");
            ASSERT_EQ(outputs().size(), s.numBracketing);
            for (int o = 1; o <= s.numBracketing; ++o) {
                const QString suffix = bracketSuffix(o, s.numBracketing, s.evBracketing) + ".tif";
                const QStringList named = outputs().filter(QRegularExpression(QRegularExpression::escape(suffix) + "$"));
                ASSERT_EQ(named.size(), 1);
                ASSERT_EQ(output(named[0]).pixels, lit.bracket(o, s.evBracketing, inverseGamma(s.gamma)).pixels);
            }
            ++runs;
        }
    EXPECT_EQ(runs, 30);
}

TEST_F(BlendTest, AFolderWithoutWritePermissionReportsEachFile) {
    std::mt19937 rng(1);
    useSet({randomFrame(6, 4, rng), randomFrame(6, 4, rng)});
    QTemporaryDir mapDir;
    mapPath = mapDir.path() + "/Map_000000.png";
    writeMap(std::vector<uint8_t>(24, 100), 6, 4);
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
    QFile::setPermissions(mapDir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                             QFile::ReadOther | QFile::WriteOther | QFile::ExeOther);
    const int status = runInChild(
        [&] {
            RecordingReporter child;
            BlendSettings s = settings();
            s.numBracketing = 2;
            const int result = FusionarImagenes(ref(), s, set, child);
            int saves = 0;
            for (const auto& box : child.boxes) saves += box.text.contains("gflSaveBitmap");
            const bool done = child.logLines().last() == "DONE";
            return result == 1 && saves == 2 && child.boxes.size() == 2 && done ? 0 : 1;
        },
        ChildLimits{true, -1, -1});
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(outputs().isEmpty());
    EXPECT_TRUE(QDir(folder).entryList({"*.part", "*.tmp", "OD*"}, QDir::Files | QDir::Hidden).isEmpty());
}

}  // namespace

namespace {

// Qt refuses pictures above 256 MB unless asked: an RGB map of 72 MP takes
// 288 MB once decoded, and must load all the same.
TEST(MapFile, LargeRgbMapsLoadAndOnlyTheirRedCounts) {
    QTemporaryDir dir;
    const int w = 9000, h = 8000;
    QImage map(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(map.scanLine(y));
        for (int x = 0; x < w; ++x) line[x] = qRgb((x + y) % 256, 7, 200);
    }
    const QString path = dir.path() + "/big.png";
    ASSERT_TRUE(map.save(path, "png", 100));
    map = QImage();
    const MapLevels levels = loadMapLevels(path, QSize(w, h), true);
    ASSERT_EQ(levels.width, w);
    ASSERT_EQ(levels.red.size(), static_cast<size_t>(w) * h);
    EXPECT_EQ(levels.red[static_cast<size_t>(5000) * w + 123], (123 + 5000) % 256);
    EXPECT_EQ(qBlue(levels.colours.pixel(17, 4000)), 200);
    // Another size is refused from the header alone: nothing is decoded.
    const MapLevels other = loadMapLevels(path, QSize(w, h - 1), false);
    EXPECT_EQ(other.height, h);
    EXPECT_TRUE(other.red.empty());
}

}  // namespace
