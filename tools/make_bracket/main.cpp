// orrindale-make-bracket: writes a set of synthetic DNG frames of one static
// scene at exposures a fixed EV step apart, for samples, tests and benchmarks.
#include "camera.h"
#include "dng_writer.h"
#include "mover.h"
#include "options.h"
#include "random.h"
#include "scene.h"
#include "sensor.h"
#include "shake.h"

#include <cmath>
#include <cstdio>
#include <exception>
#include <numeric>
#include <string>
#include <vector>

using namespace make_bracket;

namespace {

constexpr const char* kProgram = "orrindale-make-bracket";

// File number (0-based) for each exposure index. With --shuffle it is a seeded
// permutation that is never the identity, so file order never reveals exposure
// order; the frames' contents do not change, only their names.
std::vector<int> fileOrder(const Options& o) {
    std::vector<int> order(o.count);
    std::iota(order.begin(), order.end(), 0);
    if (!o.shuffle || o.count < 2) return order;
    Rng rng(mixSeed(o.seed, 0x53485546464c45ULL));
    const std::vector<int> identity = order;
    do {
        for (int i = o.count - 1; i > 0; --i)
            std::swap(order[i], order[rng.below(static_cast<std::uint64_t>(i) + 1)]);
    } while (order == identity);  // at most 1 in 2 for two frames; rarer beyond
    return order;
}

std::string fileName(const Options& o, int fileIndex) {
    char number[16];
    std::snprintf(number, sizeof number, "%04d", fileIndex + 1);
    return o.prefix + number + ".dng";
}

int run(const Options& o) {
    std::error_code error;
    std::filesystem::create_directories(o.out, error);
    if (error || !std::filesystem::is_directory(o.out)) {
        std::fprintf(stderr, "%s: cannot create folder %s: %s\n", kProgram, o.out.c_str(),
                     error ? error.message().c_str() : "a file of that name exists");
        return 1;
    }

    Scene scene(o.width, o.height, o.seed);
    scene.setTextured(o.textured);
    scene.setWarm(o.warm);
    const std::vector<float> still = referenceElectrons(scene, o.width, o.height);
    const std::vector<int> order = fileOrder(o);
    const std::vector<FrameMove> moves =
        drawMoves(o.count, o.shake ? o.shakeShift : 0.0, o.shake ? o.shakeDegrees : 0.0, o.seed);
    if (o.shake) {
        std::vector<std::string> names(static_cast<std::size_t>(o.count));
        std::vector<FrameMove> inFileOrder(static_cast<std::size_t>(o.count));
        for (int i = 0; i < o.count; ++i) {
            names[static_cast<std::size_t>(order[i])] = fileName(o, order[i]);
            inFileOrder[static_cast<std::size_t>(order[i])] = moves[static_cast<std::size_t>(i)];
        }
        writeShakeFile(o.out / "shake.txt", names, inFileOrder);
    }
    std::vector<std::uint16_t> mosaic;
    for (int i = 0; i < o.count; ++i) {
        // The least exposed frame stays where it is; the others see the scene moved.
        const bool moved = o.shake && i > 0;
        const std::vector<float> reference =
            moved ? movedElectrons(scene, o.width, o.height, moves[static_cast<std::size_t>(i)])
                  : std::vector<float>();
        // EV relative to the bracket's centre, which sits at the reference time.
        const double ev = o.step * (i - (o.count - 1) / 2.0);
        const double relative = std::exp2(ev);
        ShotSettings shot;
        shot.exposureTime = CameraModel::kReferenceTime * relative;
        shot.fNumber = CameraModel::kFNumber;
        shot.iso = CameraModel::kIso;
        shot.focalLengthMm = CameraModel::kFocalLengthMm;

        const std::vector<float>& scenery = moved ? reference : still;
        // The subject is laid over a copy: the still scene serves every frame.
        std::vector<float> withSubject;
        if (o.moving) {
            withSubject = scenery;
            addMover(o.mover, i, o.width, o.height, withSubject);
        }
        exposeFrame(o.moving ? withSubject : scenery, o.width, o.height, relative, o.seed, i,
                    o.noise, mosaic);
        const std::filesystem::path path = o.out / fileName(o, order[i]);
        writeDng(path, o.width, o.height, mosaic, shot);
        std::printf("%s  %s  f/%g  ISO %d  %+g EV\n", path.c_str(),
                    formatExposureTime(shot.exposureTime).c_str(), shot.fNumber, shot.iso, ev);
        std::fflush(stdout);  // one line per finished file, even through a pipe
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    const auto options = parseOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kProgram, error.c_str(), kProgram);
        return 2;
    }
    if (options->help) {
        std::fputs(usageText().c_str(), stdout);
        return 0;
    }
    try {
        return run(*options);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s: not enough memory for %d x %d frames\n", kProgram, options->width,
                     options->height);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", kProgram, e.what());
    }
    return 1;
}
