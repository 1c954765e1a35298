// The synthetic bracket generator, run as users and other tests run it: file
// names, option errors, reproducibility, the raw data, and development by dcraw.
#include "support/gfl_bitmap.h"
#include "support/recording_reporter.h"

#include <tiffio.h>

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <memory>
#include <vector>

namespace {

const QString kGenerator = QStringLiteral(ORRINDALE_MAKE_BRACKET);
const QString kDcraw = QStringLiteral("/usr/bin/dcraw");

// The camera the generator models (tools/make_bracket/camera.h).
constexpr int kBlackLevel = 512;
constexpr int kWhiteLevel = 15000;

struct ProcessResult {
    int exitCode = -1;
    QString out;
    QString err;
};

ProcessResult runProgram(const QString& program, const QStringList& args,
                         const QString& workDir = {}) {
    QProcess process;
    if (!workDir.isEmpty()) process.setWorkingDirectory(workDir);
    process.start(program, args);
    ProcessResult run;
    if (!process.waitForStarted(10000) || !process.waitForFinished(120000)) {
        run.err = QStringLiteral("did not run: ") + process.errorString();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

ProcessResult generate(const QStringList& args) {
    return runProgram(kGenerator, args);
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every entry of the folder, hidden ones included, so a left-over temporary
// file would show up.
QStringList allEntries(const QString& dir) {
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// The raw CFA samples of a DNG, read through libtiff with its messages kept
// off stderr (it does not know every DNG tag).
struct Mosaic {
    int width = 0, height = 0;
    std::vector<uint16_t> samples;
};

int quietTiffHandler(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

Mosaic readMosaic(const QString& path) {
    struct OptionsFree {
        void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
    };
    struct Closer {
        void operator()(TIFF* t) const { TIFFClose(t); }
    };
    std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), quietTiffHandler, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), quietTiffHandler, nullptr);
    std::unique_ptr<TIFF, Closer> tif(
        TIFFOpenExt(QFile::encodeName(path).constData(), "r", options.get()));
    Mosaic m;
    if (!tif) return m;
    uint32_t w = 0, h = 0;
    uint16_t bits = 0, samples = 0;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &h);
    TIFFGetField(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    if (bits != 16 || samples != 1) return m;
    std::vector<uint16_t> all(static_cast<size_t>(w) * h);
    for (uint32_t y = 0; y < h; ++y)
        if (TIFFReadScanline(tif.get(), all.data() + static_cast<size_t>(y) * w, y) < 0) return m;
    m.width = static_cast<int>(w);
    m.height = static_cast<int>(h);
    m.samples = std::move(all);
    return m;
}

class MakeBracketTest : public ::testing::Test {
  protected:
    QString path(const QString& name) const { return dir.filePath(name); }
    QTemporaryDir dir;
};

TEST_F(MakeBracketTest, WritesNumberedFilesAndOneLinePerFile) {
    const ProcessResult run =
        generate({"--count", "3", "--width", "200", "--height", "134", "--out", dir.path()});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(allEntries(dir.path()),
              QStringList({"IMG_0001.dng", "IMG_0002.dng", "IMG_0003.dng"}));
    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(lines[i].contains(QString("IMG_000%1.dng").arg(i + 1)))
            << lines[i].toStdString();
    // Darkest first, 2 EV apart around 1/64 s.
    EXPECT_TRUE(lines[0].contains("1/256 s"));
    EXPECT_TRUE(lines[1].contains("1/64 s"));
    EXPECT_TRUE(lines[2].contains("1/16 s"));
    for (const QString& name : allEntries(dir.path())) {
        const QByteArray bytes = fileBytes(path(name));
        EXPECT_TRUE(bytes.startsWith(QByteArray("II*\0", 4))) << name.toStdString();
        EXPECT_GT(bytes.size(), 200 * 134 * 2);  // 16-bit samples, uncompressed
    }
}

TEST_F(MakeBracketTest, PrefixAndNestedOutputFolder) {
    const QString out = path("a/b c");
    const ProcessResult run = generate(
        {"--count", "2", "--width", "64", "--height", "48", "--prefix", "Set_", "--out", out});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(allEntries(out), QStringList({"Set_0001.dng", "Set_0002.dng"}));
}

TEST_F(MakeBracketTest, RefusesBadOptionsWithExitCodeTwo) {
    const QList<QStringList> bad = {
        {"--width", "201", "--height", "134"},  // odd
        {"--height", "133", "--width", "200"},  // odd
        {"--width", "8", "--height", "8"},      // too small
        {"--width", "100000"},                  // absurd
        {"--frobnicate"},                       // unknown
        {"--count", "0"},
        {"--count", "three"},
        {"--step", "-1"},
        {"--step"},           // missing value
        {"--prefix", "a/b"},  // would write elsewhere
        {"stray-argument"},
        {"--shake", "4"},       // no turn
        {"--shake", "-1,0.3"},  // a negative shift
        {"--shake", "4,20"},    // more than a handheld turn
        {"--shake", "60,1", "--width", "200", "--height", "134"},  // over a quarter of the frame
    };
    for (const QStringList& args : bad) {
        const ProcessResult run = generate(args + QStringList{"--out", dir.path()});
        EXPECT_EQ(run.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_FALSE(run.err.trimmed().isEmpty()) << args.join(' ').toStdString();
    }
    EXPECT_TRUE(allEntries(dir.path()).isEmpty());
    const ProcessResult oddWidth =
        generate({"--width", "201", "--height", "134", "--out", dir.path()});
    EXPECT_TRUE(oddWidth.err.contains("--width")) << oddWidth.err.toStdString();
    EXPECT_TRUE(oddWidth.err.contains("even")) << oddWidth.err.toStdString();
}

TEST_F(MakeBracketTest, HelpExitsCleanly) {
    const ProcessResult run = generate({"--help"});
    EXPECT_EQ(run.exitCode, 0);
    for (const char* option :
         {"--count", "--step", "--width", "--height", "--seed", "--out", "--prefix", "--shuffle",
          "--shake", "--texture"})
        EXPECT_TRUE(run.out.contains(option)) << option;
}

TEST_F(MakeBracketTest, SameSeedSameBytesOtherSeedOtherBytes) {
    const QStringList common = {"--count", "2", "--width", "200", "--height", "134"};
    ASSERT_EQ(generate(common + QStringList{"--seed", "7", "--out", path("a")}).exitCode, 0);
    ASSERT_EQ(generate(common + QStringList{"--seed", "7", "--out", path("b")}).exitCode, 0);
    ASSERT_EQ(generate(common + QStringList{"--seed", "8", "--out", path("c")}).exitCode, 0);
    for (const QString name : {"IMG_0001.dng", "IMG_0002.dng"}) {
        const QByteArray a = fileBytes(path("a/" + name));
        ASSERT_FALSE(a.isEmpty());
        EXPECT_EQ(a, fileBytes(path("b/" + name))) << name.toStdString();
        EXPECT_NE(a, fileBytes(path("c/" + name))) << name.toStdString();
    }
}

TEST_F(MakeBracketTest, NoNoiseWritesTheTwinTheNoisyFrameScattersAround) {
    const QStringList common = {"--count", "1", "--width", "200", "--height", "134"};
    ASSERT_EQ(generate(common + QStringList{"--out", path("noisy")}).exitCode, 0);
    ASSERT_EQ(generate(common + QStringList{"--no-noise", "--out", path("twin")}).exitCode, 0);
    const Mosaic noisy = readMosaic(path("noisy/IMG_0001.dng"));
    const Mosaic twin = readMosaic(path("twin/IMG_0001.dng"));
    ASSERT_EQ(twin.samples.size(), noisy.samples.size());
    // Over photosites well inside the range the noisy frame is the twin plus
    // noise of some spread and of mean 0 (within 4 standard errors).
    double sum = 0, squares = 0;
    size_t used = 0;
    for (size_t i = 0; i < twin.samples.size(); ++i) {
        const int t = twin.samples[i];
        if (t < kBlackLevel + 50 || t > kWhiteLevel - 500) continue;
        const double d = noisy.samples[i] - t;
        sum += d;
        squares += d * d;
        ++used;
    }
    ASSERT_GT(used, twin.samples.size() / 4);
    const double variance = squares / used;
    EXPECT_GT(variance, 4.0);
    EXPECT_NEAR(sum / used, 0, 4 * std::sqrt(variance / used));
    // Nothing in the twin falls below black: only noise can take it there.
    EXPECT_GE(*std::min_element(twin.samples.begin(), twin.samples.end()), kBlackLevel);
}

TEST_F(MakeBracketTest, ShuffleRenamesFramesWithoutChangingThem) {
    const QStringList common = {"--count", "4", "--width", "64", "--height", "48", "--seed", "3"};
    ASSERT_EQ(generate(common + QStringList{"--out", path("plain")}).exitCode, 0);
    ASSERT_EQ(generate(common + QStringList{"--shuffle", "--out", path("shuffled")}).exitCode, 0);
    const QStringList names = allEntries(path("plain"));
    ASSERT_EQ(names.size(), 4);
    ASSERT_EQ(allEntries(path("shuffled")), names);
    // Same frames, other names: every shuffled file is one of the plain ones,
    // each used once, and the numbering no longer follows the exposure.
    QList<int> used;
    int moved = 0;
    for (int i = 0; i < names.size(); ++i) {
        const QByteArray bytes = fileBytes(path("shuffled/" + names[i]));
        int match = -1;
        for (int j = 0; j < names.size(); ++j)
            if (bytes == fileBytes(path("plain/" + names[j]))) match = j;
        ASSERT_GE(match, 0) << names[i].toStdString();
        EXPECT_FALSE(used.contains(match));
        used.push_back(match);
        if (match != i) ++moved;
    }
    EXPECT_GT(moved, 0);
}

TEST_F(MakeBracketTest, ShakeMovesEveryFrameButTheLeastExposedAndWritesTheMoves) {
    const QStringList common = {"--count", "4", "--width", "200", "--height", "134", "--seed",
                                "5", "--texture", "--shuffle"};
    ASSERT_EQ(generate(common + QStringList{"--out", path("still")}).exitCode, 0);
    ASSERT_EQ(generate(common + QStringList{"--shake", "4,0.3", "--out", path("moved")}).exitCode, 0);
    EXPECT_FALSE(QFileInfo::exists(path("still/shake.txt")));
    QFile shake(path("moved/shake.txt"));
    ASSERT_TRUE(shake.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromLatin1(shake.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4);
    int unmoved = 0;
    for (int i = 0; i < 4; ++i) {
        const QStringList f = lines[i].split(' ');
        ASSERT_EQ(f.size(), 4) << lines[i].toStdString();
        EXPECT_EQ(f[0], QString("IMG_%1.dng").arg(i + 1, 4, 10, QChar('0')));
        const double dx = f[1].toDouble(), dy = f[2].toDouble(), deg = f[3].toDouble();
        EXPECT_LE(std::hypot(dx, dy), 4.0);
        EXPECT_LE(std::fabs(deg), 0.3);
        const bool same = fileBytes(path("moved/" + f[0])) == fileBytes(path("still/" + f[0]));
        EXPECT_EQ(same, dx == 0 && dy == 0 && deg == 0) << lines[i].toStdString();
        if (same) {
            ++unmoved;
            // The frame left where it is is the least exposed of the set.
            const Mosaic m = readMosaic(path("moved/" + f[0]));
            for (const QString& other : allEntries(path("moved"))) {
                if (!other.endsWith(".dng") || other == f[0]) continue;
                EXPECT_LT(m.samples[1000], readMosaic(path("moved/" + other)).samples[1000]);
            }
        }
    }
    EXPECT_EQ(unmoved, 1);
}

TEST_F(MakeBracketTest, RawFramesScaleByTheStepAndClipOnlyAtWhite) {
    ASSERT_EQ(generate({"--count", "3", "--step", "1.5", "--width", "200", "--height", "134",
                        "--out", dir.path()})
                  .exitCode,
              0);
    const Mosaic dark = readMosaic(path("IMG_0001.dng"));
    const Mosaic bright = readMosaic(path("IMG_0002.dng"));
    const Mosaic brightest = readMosaic(path("IMG_0003.dng"));
    ASSERT_EQ(dark.width, 200);
    ASSERT_EQ(dark.height, 134);
    ASSERT_EQ(bright.samples.size(), dark.samples.size());
    ASSERT_EQ(brightest.samples.size(), dark.samples.size());
    // Raw signal above black, over photosites well inside the range in both
    // frames: the mosaic itself carries the exposure ratio, before any decoder.
    double sumDark = 0, sumBright = 0;
    size_t used = 0;
    for (size_t i = 0; i < dark.samples.size(); ++i) {
        const int a = dark.samples[i], b = bright.samples[i];
        if (a < kBlackLevel + 300 || b > kWhiteLevel - 1500) continue;
        sumDark += a - kBlackLevel;
        sumBright += b - kBlackLevel;
        ++used;
    }
    ASSERT_GT(used, dark.samples.size() / 10);
    EXPECT_NEAR(sumBright / sumDark, std::exp2(1.5), std::exp2(1.5) * 0.005);
    // The sun clips every frame, at exactly the white level and never above.
    int highest = 0;
    for (uint16_t v : brightest.samples) highest = std::max<int>(highest, v);
    EXPECT_EQ(highest, kWhiteLevel);
    // Noise spreads the darkest photosites around black: some land below it,
    // which a generator that clipped at black would not produce.
    size_t belowBlack = 0;
    for (uint16_t v : dark.samples) belowBlack += v < kBlackLevel;
    EXPECT_GT(belowBlack, 0u);
}

TEST_F(MakeBracketTest, DcrawReadsTheShotSettings) {
    if (!QFileInfo(kDcraw).isExecutable()) GTEST_SKIP() << "no dcraw at " << kDcraw.toStdString();
    ASSERT_EQ(generate({"--width", "64", "--height", "48", "--out", dir.path()}).exitCode, 0);
    const ProcessResult info = runProgram(kDcraw, {"-i", "-v", path("IMG_0001.dng")});
    ASSERT_EQ(info.exitCode, 0) << info.err.toStdString();
    for (const char* line :
         {"Camera: Orrindale Synthetic", "ISO speed: 100", "Shutter: 1/1024.0 sec",
          "Aperture: f/8.0", "Filter pattern: RG/GB", "Image size:    64 x 48"})
        EXPECT_TRUE(info.out.contains(line)) << line << "\n" << info.out.toStdString();
    const ProcessResult last = runProgram(kDcraw, {"-i", "-v", path("IMG_0005.dng")});
    EXPECT_TRUE(last.out.contains("Shutter: 1/4.0 sec")) << last.out.toStdString();
}

// Develops two neighbouring frames exactly as Orrindale's users do and checks
// the exposure ratio in the linear 16-bit output.
void expectDevelopedRatio(const QTemporaryDir& dir, const QString& step) {
    const ProcessResult gen = generate(
        {"--count", "3", "--step", step, "--width", "600", "--height", "400", "--out", dir.path()});
    ASSERT_EQ(gen.exitCode, 0) << gen.err.toStdString();
    const QString first = dir.filePath("IMG_0001.dng"), second = dir.filePath("IMG_0002.dng");
    const ProcessResult dev = runProgram(kDcraw,
                                         {"-v", "-4", "-T", "-r", "2.132483", "1", "1.480864", "1",
                                          "-q", "3", "-o", "1", first, second},
                                         dir.path());
    ASSERT_EQ(dev.exitCode, 0) << dev.err.toStdString();

    RecordingReporter reporter;
    GflBitmap a, b;
    ASSERT_FALSE(CargarGflBitmap(dir.filePath("IMG_0001.tiff"), a, reporter));
    ASSERT_FALSE(CargarGflBitmap(dir.filePath("IMG_0002.tiff"), b, reporter));
    ASSERT_EQ(a.width, 600);
    ASSERT_EQ(a.height, 400);
    ASSERT_EQ(b.pixels.size(), a.pixels.size());
    // Samples usable in both frames: unclipped (below 90% of full scale) and
    // out of the noise floor.
    double sumA = 0, sumB = 0;
    size_t used = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) {
        const int va = a.pixels[i], vb = b.pixels[i];
        if (va < 1025 || va > 58981 || vb < 1025 || vb > 58981) continue;
        sumA += va;
        sumB += vb;
        ++used;
    }
    ASSERT_GT(used, a.pixels.size() / 10) << "too few usable samples";
    const double expected = std::exp2(step.toDouble());
    EXPECT_NEAR(sumB / sumA, expected, expected * 0.01);
}

TEST_F(MakeBracketTest, DcrawDevelopsFramesTwoEvApart) {
    if (!QFileInfo(kDcraw).isExecutable()) GTEST_SKIP() << "no dcraw at " << kDcraw.toStdString();
    expectDevelopedRatio(dir, "2");
}

TEST_F(MakeBracketTest, DcrawDevelopsFramesOneAndAHalfEvApart) {
    if (!QFileInfo(kDcraw).isExecutable()) GTEST_SKIP() << "no dcraw at " << kDcraw.toStdString();
    expectDevelopedRatio(dir, "1.5");
}

}  // namespace
