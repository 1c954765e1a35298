// "Build map" with Deghost and the blends through its map, on brackets made
// in memory: still sets keep every byte, a moving subject shows once, and
// the bad inputs end as the user is told.
#include "blend/blend.h"
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
    ImageSet load(const MovingScene& scene, const QString& name = QStringLiteral("set")) {
        const QString folder = dir.path() + "/" + name + "/";
        QDir().mkpath(folder);
        ImageSet set = diskSet(folder, movingFrames(scene), scene.gap);
        set.place.stem = QStringLiteral("IMG");  // names without the time of day
        return set;
    }
    static QString reference(const ImageSet& set) {
        return CarpetaArchivo(set.ArchivosTIFF[0]) + "IMG_1.CR2";
    }
    // The map's path, "" when the build failed.
    static QString build(ImageSet& set, bool deghost, RecordingReporter& rep, int ref = 0) {
        MapSettings s;
        s.deghost = deghost;
        s.deghostRef = ref;
        return GenerarMapa(reference(set), s, set, rep);
    }
    // A copy of the map under another name: the next build writes the same one.
    static QString kept(const QString& map, const QString& name) {
        const QString copy = CarpetaArchivo(map) + name;
        QFile::remove(copy);
        EXPECT_TRUE(QFile::copy(map, copy));
        return copy;
    }
    // One blend at gamma 1.0 through `map`, its file read back and removed.
    static GflBitmap blend(ImageSet& set, const QString& map, BlendMerge merge, bool bw = false) {
        BlendSettings s;
        s.merge = merge;
        s.blancoNegro = bw;
        s.gamma = 10;
        s.perfil = QStringLiteral("sRGB");
        s.rutaMapa = map;
        RecordingReporter rep;
        EXPECT_EQ(FusionarImagenes(reference(set), s, set, rep), 1) << rep.log.toStdString();
        GflBitmap out;
        const QString file = rep.written.isEmpty() ? QString() : rep.written.back();
        EXPECT_FALSE(CargarGflBitmap(file, out, rep)) << file.toStdString();
        QFile::remove(file);
        return out;
    }
    QTemporaryDir dir;
};

QStringList without(QStringList lines, const QString& prefix) {
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [&](const QString& l) { return l.startsWith(prefix); }),
                lines.end());
    return lines;
}

TEST_F(DeghostTest, StillSetsKeepEveryByteWithDeghostOn) {
    MovingScene flat;
    flat.left = flat.right = 900;
    MovingScene standing;
    standing.x = 70, standing.y = 40, standing.w = 30, standing.h = 30;
    int index = 0;
    for (const MovingScene& scene : {MovingScene{}, flat, standing}) {
        ImageSet set = load(scene, QString::number(index++));
        RecordingReporter off, on;
        const QString plainMap = kept(build(set, false, off), "plain.png");
        const QImage plain(plainMap);
        const QString map = build(set, true, on);
        ASSERT_FALSE(map.isEmpty()) << on.log.toStdString();
        EXPECT_EQ(QImage(map), plain);
        QStringList lines = on.logLines();
        EXPECT_TRUE(lines.contains("Moving areas: none"));
        EXPECT_TRUE(lines.contains("Saving moving areas as IMG_Moving.png..."));
        for (const char* added : {"Detecting moving", "Moving areas", "Saving moving"})
            lines = without(lines, added);
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
                const double d = a.row(y)[x * 3 + 1] - b.row(y)[x * 3 + 1];
                sum += d * d;
                ++count;
            }
    return std::sqrt(sum / std::max(count, 1L));
}

TEST_F(DeghostTest, ASubjectCrossingAnEdgeShowsOnceInEveryOutput) {
    MovingScene moving;
    moving.x = 50, moving.y = 40, moving.w = 24, moving.h = 30, moving.dx = 20;
    ImageSet set = load(moving, "moving");
    RecordingReporter rep;
    const QString map = build(set, true, rep);
    ASSERT_FALSE(map.isEmpty()) << rep.log.toStdString();
    ASSERT_EQ(set.motion.references.size(), 1u);
    const int r = set.motion.references[0];
    const QString line = rep.logLines()[rep.logLines().indexOf("DONE") - 2];
    EXPECT_TRUE(line.startsWith("Moving areas: 1, ")) << line.toStdString();
    EXPECT_TRUE(line.endsWith(QString("% of the picture (references IMG_%1.tiff)").arg(r)));
    EXPECT_TRUE(QFile::exists(CarpetaArchivo(map) + "IMG_Moving.png"));
    ASSERT_EQ(rep.results.size(), 2u);
    EXPECT_EQ(rep.results.back().kind, ResultKind::Moving);

    // The same scene with the subject standing where the reference shows
    // it, with the same noise and with other noise.
    MovingScene still = moving;
    still.dx = 0;
    still.x = moving.x + (r - 1) * moving.dx;
    MovingScene otherNoise = still;
    otherNoise.seed = 9;
    ImageSet stillSet = load(still, "still"), otherSet = load(otherNoise, "other");
    RecordingReporter ignored;
    const QString stillMap = build(stillSet, false, ignored);
    const QString otherMap = build(otherSet, false, ignored);
    const QString ghostMap = kept(build(set, false, ignored), "ghost.png");
    // The earlier build's areas went with its map: built again.
    ASSERT_EQ(build(set, true, ignored), map);
    for (bool bw : {false, true})
        for (BlendMerge merge : {BlendMerge::Select, BlendMerge::Weighted}) {
            SCOPED_TRACE(testing::Message()
                         << (bw ? "B&W " : "colour ")
                         << (merge == BlendMerge::Weighted ? "weighted" : "select"));
            const GflBitmap stillOut = blend(stillSet, stillMap, merge, bw);
            const double noise =
                differenceInAreas(blend(otherSet, otherMap, merge, bw), stillOut, set.motion);
            const double deghosted =
                differenceInAreas(blend(set, map, merge, bw), stillOut, set.motion);
            const double ghosted =
                differenceInAreas(blend(set, ghostMap, merge, bw), stillOut, set.motion);
            // The reference may be a noisier frame than a still set's choice.
            EXPECT_LT(deghosted, 2.5 * noise) << deghosted << " / " << noise;
            EXPECT_GT(ghosted, 4 * noise) << ghosted << " / " << noise;
        }
}

TEST_F(DeghostTest, BadInputs) {
    struct Case {
        const char* what;
        MovingScene scene;
        int swapFrame = 0;  // replaced by another scene's frame (1-based)
        int reference = 0;  // --deghost-ref
        bool builds = true;
        QString box;  // the WARNING or ERROR told
    };
    MovingScene border;
    border.x = -10, border.y = 100, border.w = 30, border.h = 40, border.dx = 20;
    MovingScene twoFrames;
    twoFrames.count = 2, twoFrames.x = 60, twoFrames.y = 40, twoFrames.w = 20, twoFrames.h = 20,
    twoFrames.dx = 30;
    // Clipped in every frame, over the dark half.
    MovingScene bright = twoFrames;
    bright.count = 5, bright.x = 85, bright.subject = 80000;
    const Case cases[] = {
        {"subject at the border", border, 0, 0, true, ""},
        {"two frames", twoFrames, 0, 0, true, ""},
        {"subject clipped in every frame", bright, 0, 0, true, ""},
        {"unrelated scenes", MovingScene{}, 3, 0, true,
         "most of the picture differs between images: deghosting takes everything from "
         "IMG_%1.tiff"},
        {"reference beyond the set", twoFrames, 0, 3, false,
         "The deghosting reference, image 3, is not in this set of 2 images"},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ImageSet set = load(c.scene, QString::number(index++));
        if (c.swapFrame > 0) {
            MovingScene other = c.scene;
            other.left = 40, other.right = 3000;
            set.ImagenesTIFF[static_cast<size_t>(c.swapFrame) - 1] =
                movingFrames(other)[static_cast<size_t>(c.swapFrame) - 1];
        }
        RecordingReporter rep;
        const QString map = build(set, true, rep, c.reference);
        EXPECT_EQ(!map.isEmpty(), c.builds) << rep.log.toStdString();
        EXPECT_EQ(rep.boxes.size(), c.box.isEmpty() ? 0u : 1u) << rep.log.toStdString();
        if (!map.isEmpty() && !set.motion.none()) {
            const int r = set.motion.references[0];
            if (!c.box.isEmpty()) {
                EXPECT_EQ(rep.boxes[0].text, c.box.arg(r));
            }
            if (set.motion.mostDiffers) {
                EXPECT_EQ(QImage(map).pixelColor(7, 7).red(), greyOfImage(r, c.scene.count));
            }
            for (BlendMerge merge : {BlendMerge::Select, BlendMerge::Weighted})
                EXPECT_EQ(blend(set, map, merge).width, c.scene.width);
        } else if (!c.box.isEmpty() && !rep.boxes.empty()) {
            EXPECT_EQ(rep.boxes[0].title, "ERROR");
            EXPECT_EQ(rep.boxes[0].text, c.box);
        }
        if (c.swapFrame == 0 && c.builds) {
            EXPECT_FALSE(set.motion.none());
        }
    }
}

// After alignment, what a frame did not see holds another frame's values:
// never evidence of motion.
TEST_F(DeghostTest, UncoveredSamplesOfAlignedFramesAreNoMotion) {
    ImageSet set = load(MovingScene{});
    const int h = set.AltoImagen;
    set.Cobertura.resize(set.ImagenesTIFF.size());
    for (size_t k = 1; k < set.Cobertura.size(); ++k) {
        set.Cobertura[k].begin.assign(static_cast<size_t>(h), static_cast<int32_t>(4 * k));
        set.Cobertura[k].end.assign(static_cast<size_t>(h), set.AnchoImagen);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < static_cast<int>(4 * k); ++x)
                for (int c = 0; c < 3; ++c) set.ImagenesTIFF[k].row(y)[x * 3 + c] = 5000;
    }
    RecordingReporter rep;
    ASSERT_FALSE(build(set, true, rep).isEmpty()) << rep.log.toStdString();
    EXPECT_TRUE(rep.logLines().contains("Moving areas: none"));
}

}  // namespace
