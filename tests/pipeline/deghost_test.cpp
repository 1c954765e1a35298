// "Build map" with Deghost and the blends through its map, on brackets made
// in memory: still sets keep every byte, a moving subject shows once, and
// the bad inputs end as the user is told.
#include "pipeline/blend_stage.h"
#include "pipeline/map_stage.h"
#include "support/recording_reporter.h"
#include "tests/common/blend_reference.h"
#include "tests/common/moving_sets.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <cmath>

namespace {

class DeghostTest : public ::testing::Test {
  protected:
    ImageSet load(const MovingScene& scene, std::vector<GflBitmap> frames = {}) {
        const QString folder = dir.path() + QStringLiteral("/%1/").arg(sets++);
        QDir().mkpath(folder);
        ImageSet set = diskSet(folder, frames.empty() ? movingFrames(scene) : frames, scene.gap);
        set.place.stem = QStringLiteral("IMG");  // names without the time of day
        return set;
    }
    static QString reference(const ImageSet& set) {
        return CarpetaArchivo(set.ArchivosTIFF[0]) + "IMG_1.CR2";
    }
    // The map's path, "" when the build failed; kept under `keep` when given,
    // as the next build writes the same name.
    static QString build(ImageSet& set, bool deghost, RecordingReporter& rep, int ref = 0,
                         const QString& keep = {}) {
        MapSettings s;
        s.deghost = deghost;
        s.deghostRef = ref;
        const QString map = GenerarMapa(reference(set), s, set, rep);
        if (keep.isEmpty() || map.isEmpty()) return map;
        const QString copy = CarpetaArchivo(map) + keep;
        EXPECT_TRUE(QFile::copy(map, copy));
        return copy;
    }
    // One blend at gamma 1.0 through `map`, its file read back and removed.
    static GflBitmap blend(ImageSet& set, const QString& map, BlendMerge merge, bool bw = false) {
        BlendSettings s;
        s.merge = merge;
        s.blancoNegro = bw;
        s.gamma = 10;
        s.perfil = "sRGB";
        s.rutaMapa = map;
        RecordingReporter rep;
        EXPECT_EQ(FusionarImagenes(reference(set), s, set, rep), 1) << rep.log.toStdString();
        GflBitmap out;
        EXPECT_FALSE(CargarGflBitmap(rep.written.value(rep.written.size() - 1), out, rep));
        QFile::remove(rep.written.value(rep.written.size() - 1));
        return out;
    }
    QTemporaryDir dir;
    int sets = 0;
};

TEST_F(DeghostTest, StillSetsKeepEveryByteWithDeghostOn) {
    for (const MovingScene& scene : {MovingScene{.left = 900, .right = 900},
                                     MovingScene{.x = 70, .y = 40, .w = 30, .h = 30}}) {
        ImageSet set = load(scene);
        RecordingReporter off, on;
        const QString plainMap = build(set, false, off, 0, "plain.png");
        const QString map = build(set, true, on);
        ASSERT_FALSE(map.isEmpty()) << on.log.toStdString();
        EXPECT_EQ(QImage(map), QImage(plainMap));
        // The log: three lines more, the same otherwise.
        QStringList lines = on.logLines();
        EXPECT_EQ(lines.filter("Moving areas: none").size(), 1);
        EXPECT_EQ(lines.filter("Saving moving areas as IMG_Moving.png...").size(), 1);
        lines.removeIf([](const QString& l) { return l.contains("oving "); });
        EXPECT_EQ(lines, off.logLines());
        for (BlendMerge merge : {BlendMerge::Select, BlendMerge::Weighted})
            EXPECT_EQ(blend(set, map, merge).pixels, blend(set, plainMap, merge).pixels);
    }
}

// Root mean square difference of the green channel over the moving areas.
double differenceInAreas(const GflBitmap& a, const GflBitmap& b, const MotionAreas& areas) {
    double sum = 0;
    long count = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x)
            if (areas.areaAt(x, y) != 0) {
                sum += std::pow(a.row(y)[x * 3 + 1] - b.row(y)[x * 3 + 1], 2);
                ++count;
            }
    return std::sqrt(sum / std::max(count, 1L));
}

TEST_F(DeghostTest, ASubjectCrossingAnEdgeShowsOnceInEveryOutput) {
    const MovingScene moving{.x = 50, .y = 40, .w = 24, .h = 30, .dx = 20};
    ImageSet set = load(moving);
    RecordingReporter rep, ignored;
    const QString ghostMap = build(set, false, ignored, 0, "ghost.png");
    const QString map = build(set, true, rep);
    ASSERT_EQ(set.motion.references.size(), 1u) << rep.log.toStdString();
    const int r = set.motion.references[0];
    EXPECT_TRUE(rep.logLines()[rep.logLines().indexOf("DONE") - 2].endsWith(
        QString("% of the picture (references IMG_%1.tiff)").arg(r)));
    EXPECT_TRUE(QFile::exists(CarpetaArchivo(map) + "IMG_Moving.png"));
    ASSERT_EQ(rep.results.size(), 2u);
    EXPECT_EQ(rep.results.back().kind, ResultKind::Moving);

    // The same scene with the subject standing where the reference shows
    // it, with the same noise and with other noise.
    MovingScene still = moving, otherNoise = moving;
    still.dx = otherNoise.dx = 0;
    still.x = otherNoise.x = moving.x + (r - 1) * moving.dx;
    otherNoise.seed = 9;
    ImageSet stillSet = load(still), otherSet = load(otherNoise);
    const QString stillMap = build(stillSet, false, ignored);
    const QString otherMap = build(otherSet, false, ignored);
    for (bool bw : {false, true})
        for (BlendMerge merge : {BlendMerge::Select, BlendMerge::Weighted}) {
            SCOPED_TRACE(testing::Message()
                         << "B&W " << bw << " merge " << static_cast<int>(merge));
            const GflBitmap stillOut = blend(stillSet, stillMap, merge, bw);
            auto difference = [&](ImageSet& s, const QString& m) {
                return differenceInAreas(blend(s, m, merge, bw), stillOut, set.motion);
            };
            const double noise = difference(otherSet, otherMap);
            // The reference may be a noisier frame than a still set's choice.
            EXPECT_LT(difference(set, map), 2.5 * noise);
            EXPECT_GT(difference(set, ghostMap), 4 * noise);
        }
}

TEST_F(DeghostTest, BadInputs) {
    struct Case {
        const char* what;
        MovingScene scene;
        int reference;  // --deghost-ref
        QString title;  // of the box told, if any
        QString box;
    };
    const MovingScene twoFrames{.count = 2, .x = 60, .y = 40, .w = 20, .h = 20, .dx = 30};
    const QString mostDiffer =
        "most of the picture differs between images: deghosting takes everything from IMG_%1.tiff";
    const Case cases[] = {
        {"subject at the border", {.x = -10, .y = 100, .w = 30, .h = 40, .dx = 20}, 0, "", ""},
        {"two frames", twoFrames, 0, "", ""},
        {"clipped in every frame",
         {.x = 85, .y = 40, .w = 20, .h = 20, .dx = 30, .subject = 80000},
         0,
         "",
         ""},
        {"unrelated scenes", {.count = 3}, 0, "WARNING", mostDiffer},
        {"reference beyond the set", twoFrames, 3, "ERROR",
         "The deghosting reference, image 3, is not in this set of 2 images"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<GflBitmap> frames = movingFrames(c.scene);
        if (c.title == "WARNING")  // the halves swapped in the middle frame
            frames[1] = movingFrames(MovingScene{.count = 3, .left = 40, .right = 3000})[1];
        ImageSet set = load(c.scene, frames);
        RecordingReporter rep;
        const QString map = build(set, true, rep, c.reference);
        EXPECT_EQ(map.isEmpty(), c.title == "ERROR") << rep.log.toStdString();
        ASSERT_EQ(rep.boxes.size(), c.title.isEmpty() ? 0u : 1u) << rep.log.toStdString();
        if (map.isEmpty()) {
            EXPECT_EQ(rep.boxes[0].text, c.box);
            continue;
        }
        ASSERT_FALSE(set.motion.none());
        const int r = set.motion.references[0];
        if (!c.title.isEmpty()) {
            EXPECT_EQ(rep.boxes[0].text, c.box.arg(r));
            EXPECT_EQ(QImage(map).pixelColor(7, 7).red(), greyOfImage(r, c.scene.count));
        }
        for (BlendMerge merge : {BlendMerge::Select, BlendMerge::Weighted})
            EXPECT_EQ(blend(set, map, merge).width, c.scene.width);
    }
}

// After alignment, what a frame did not see holds another frame's values:
// never evidence of motion.
TEST_F(DeghostTest, UncoveredSamplesOfAlignedFramesAreNoMotion) {
    ImageSet set = load(MovingScene{});
    set.Cobertura.resize(set.ImagenesTIFF.size());
    for (size_t k = 1; k < set.Cobertura.size(); ++k) {
        set.Cobertura[k].begin.assign(static_cast<size_t>(set.AltoImagen), static_cast<int>(4 * k));
        set.Cobertura[k].end.assign(static_cast<size_t>(set.AltoImagen), set.AnchoImagen);
        for (int y = 0; y < set.AltoImagen; ++y)
            std::fill_n(set.ImagenesTIFF[k].row(y), 12 * k, uint16_t{5000});
    }
    RecordingReporter rep;
    ASSERT_FALSE(build(set, true, rep).isEmpty()) << rep.log.toStdString();
    EXPECT_TRUE(rep.logLines().contains("Moving areas: none"));
}

}  // namespace
