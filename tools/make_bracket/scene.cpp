// The synthetic static scene (see scene.h). Values are chosen so that a bracket
// of 5 frames 2 EV apart around 1/64 s needs every frame: the sky only survives
// the short frames and the doorway only the long ones.
#include "scene.h"

#include "random.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace make_bracket {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

Rgb scaled(const Rgb& tint, double level) {
    return {tint.r * level, tint.g * level, tint.b * level};
}

void blend(Rgb& c, const Rgb& over, double alpha) {
    if (alpha <= 0.0) return;
    c.r += (over.r - c.r) * alpha;
    c.g += (over.g - c.g) * alpha;
    c.b += (over.b - c.b) * alpha;
}

// Anti-aliased disc edge: fraction of a photosite inside a circle, from the
// signed distance to the rim in photosites.
double discCoverage(double insideBy) {
    return std::clamp(insideBy + 0.5, 0.0, 1.0);
}

// Reflectances of the chart's patches, white-balanced linear RGB, in the
// spirit of a common colour checker: skin tones, sky, foliage, primaries.
constexpr std::array<Rgb, 12> kChartColours{{
    {0.17, 0.09, 0.06},  // dark skin
    {0.58, 0.35, 0.27},  // light skin
    {0.12, 0.19, 0.34},  // blue sky
    {0.10, 0.15, 0.06},  // foliage
    {0.25, 0.22, 0.45},  // blue flower
    {0.14, 0.52, 0.42},  // bluish green
    {0.68, 0.20, 0.03},  // orange
    {0.07, 0.11, 0.38},  // purplish blue
    {0.55, 0.09, 0.12},  // moderate red
    {0.10, 0.04, 0.14},  // purple
    {0.34, 0.50, 0.05},  // yellow green
    {0.75, 0.37, 0.02},  // orange yellow
}};

constexpr Rgb kNeutral{1.0, 1.0, 1.0};

// The patches are drawn at 70% of those colours' saturation. At a patch edge a
// demosaicer mixes a clipped channel of the patch with unclipped neighbours and
// returns a plausible but too low value; the stronger the colour, the wider the
// exposure range where that happens. Full-strength colours bias the developed
// exposure ratio of small (600 x 400) frames by up to 1.5%; at 70% by < 0.5%.
constexpr double kChartSaturation = 0.7;

Rgb chartColour(int index) {
    const Rgb& p = kChartColours[index];
    const double mean = (p.r + p.g + p.b) / 3;
    const double k = kChartSaturation;
    return {mean + k * (p.r - mean), mean + k * (p.g - mean), mean + k * (p.b - mean)};
}

// Share of a photosite inside an edge, seen through a lens and an
// anti-aliasing filter: a Gaussian blur of 0.8 photosites (the photosite's
// own width included), from the signed distance of its centre to the edge.
double softEdge(double insideBy) {
    constexpr double kSigma = 0.8;
    if (insideBy > 5 * kSigma) return 1.0;
    if (insideBy < -5 * kSigma) return 0.0;
    return 0.5 * std::erfc(-insideBy / (kSigma * std::numbers::sqrt2));
}

// Smooth lattice noise in -1..1 at one wavelength (photosites): seeded values
// on a grid joined by a quintic, so the texture has no creases.
double latticeNoise(double x, double y, double wavelength, std::uint64_t salt) {
    auto value = [salt](std::int64_t i, std::int64_t j) {
        std::uint64_t state = mixSeed(salt, static_cast<std::uint64_t>(i), static_cast<std::uint64_t>(j));
        return static_cast<double>(splitMix64(state) >> 11) / 4503599627370496.0 - 1.0;
    };
    const double u = x / wavelength, v = y / wavelength;
    const double fu = std::floor(u), fv = std::floor(v);
    const auto i = static_cast<std::int64_t>(fu), j = static_cast<std::int64_t>(fv);
    auto ease = [](double t) { return t * t * t * (t * (t * 6 - 15) + 10); };
    const double tu = ease(u - fu), tv = ease(v - fv);
    const double top = value(i, j) + (value(i + 1, j) - value(i, j)) * tu;
    const double bottom = value(i, j + 1) + (value(i + 1, j + 1) - value(i, j + 1)) * tu;
    return top + (bottom - top) * tv;
}

}  // namespace

Scene::Scene(int width, int height, std::uint64_t seed) : width_(width), height_(height) {
    Rng rng(mixSeed(seed, 0x5343454e45ULL));  // scene layout stream, apart from noise
    sunU_ = 0.74 + 0.08 * (rng.uniform() - 0.5);
    sunV_ = 0.14 + 0.04 * (rng.uniform() - 0.5);
    poleU_ = 0.60 + 0.04 * (rng.uniform() - 0.5);
    for (auto& p : phase_) p = rng.uniform();
    poleBottom_ = horizonAt(poleU_) + 0.05;
    textureSalt_ = mixSeed(seed, 0x54455854ULL);  // drawn apart: the layout stays as it was

    // The ground's undulation is sin(a(u)) sin(b(v)) + sin(c(u) + d(v)); the
    // second term is split with sin(c + d) = sin c cos d + cos c sin d.
    for (int x = 0; x < width; ++x) {
        const double u = (x + 0.5) / width;
        horizon_.push_back(horizonAt(u));
        colWave_.push_back(std::sin(kTwoPi * (2.3 * u + phase_[2])));
        colSin_.push_back(std::sin(kTwoPi * (5.1 * u + phase_[0])));
        colCos_.push_back(std::cos(kTwoPi * (5.1 * u + phase_[0])));
    }
    for (int y = 0; y < height; ++y) {
        const double v = (y + 0.5) / height;
        rowWave_.push_back(std::sin(kTwoPi * (1.7 * v + phase_[3])));
        rowSin_.push_back(std::sin(kTwoPi * 0.8 * v));
        rowCos_.push_back(std::cos(kTwoPi * 0.8 * v));
    }
}

double Scene::wedgeValue(int step) {
    return 4.0 * std::exp2(-step);
}

Scene::Box Scene::box(double u0, double v0, double u1, double v1) const {
    return {u0 * width_, v0 * height_, u1 * width_, v1 * height_};
}

double Scene::coverage(const Box& b, double x, double y) const {
    if (soft_) {
        const double mx = x + 0.5, my = y + 0.5;
        const double wx = softEdge(mx - b.x0) - softEdge(mx - b.x1);
        if (wx <= 0.0) return 0.0;
        return wx * (softEdge(my - b.y0) - softEdge(my - b.y1));
    }
    const double cx = std::min(x + 1.0, b.x1) - std::max(x, b.x0);
    if (cx <= 0.0) return 0.0;
    const double cy = std::min(y + 1.0, b.y1) - std::max(y, b.y0);
    if (cy <= 0.0) return 0.0;
    return std::min(cx, 1.0) * std::min(cy, 1.0);
}

double Scene::horizonAt(double u) const {
    return 0.42 + 0.025 * std::sin(kTwoPi * (1.3 * u + phase_[0])) +
           0.012 * std::sin(kTwoPi * (3.1 * u + phase_[1]));
}

double Scene::edge(double insideBy) const {
    return soft_ ? softEdge(insideBy) : discCoverage(insideBy);
}

Scene::Terms Scene::termsAt(int x, int y) const {
    return {horizon_[x], colWave_[x], colSin_[x], colCos_[x], rowWave_[y], rowSin_[y], rowCos_[y]};
}

Scene::Terms Scene::termsAt(double x, double y) const {
    // As the tables are made, at any position.
    const double u = (x + 0.5) / width_;
    const double v = (y + 0.5) / height_;
    return {horizonAt(u),
            std::sin(kTwoPi * (2.3 * u + phase_[2])),
            std::sin(kTwoPi * (5.1 * u + phase_[0])),
            std::cos(kTwoPi * (5.1 * u + phase_[0])),
            std::sin(kTwoPi * (1.7 * v + phase_[3])),
            std::sin(kTwoPi * 0.8 * v),
            std::cos(kTwoPi * 0.8 * v)};
}

Rgb Scene::sky(double x, double y, const Terms& terms) const {
    const double u = (x + 0.5) / width_;
    const double v = (y + 0.5) / height_;
    const double t = std::clamp(v / terms.horizon, 0.0, 1.0);  // 0 at the top, 1 at the horizon
    // Hazy sky: bluish at the top, nearly white at the horizon. Large smooth
    // areas keep their channels within 10% of each other, so where one channel
    // clips in a frame the others are near clipping too; a strongly coloured
    // gradient would leave a wide band where a demosaicer mixes clipped and
    // unclipped channels, which biases exposure measurements.
    // An evening sky is warm throughout: red about twice green, blue half of
    // it, strongest towards the horizon.
    const Rgb top = warm_ ? Rgb{1.60, 0.95, 0.55} : Rgb{0.91, 0.96, 1.00};
    const Rgb low = warm_ ? Rgb{2.10, 1.00, 0.45} : Rgb{1.00, 1.00, 0.97};
    Rgb tint{top.r + (low.r - top.r) * t, top.g + (low.g - top.g) * t, top.b + (low.b - top.b) * t};
    // Distances in frame heights, so the sun stays round whatever the aspect.
    const double aspect = static_cast<double>(width_) / height_;
    const double dx = (u - sunU_) * aspect;
    const double dy = v - sunV_;
    const double d = std::sqrt(dx * dx + dy * dy);
    double level =
        (2.4 + 5.6 * std::pow(1.0 - t, 1.4)) * (1.0 + 0.45 * std::exp(-d * d / (2 * 0.18 * 0.18)));
    Rgb c = scaled(tint, level);
    // Glow: a narrow core that clips even the shortest frame, and a wide halo.
    const double glow = 50.0 * std::exp(-d / 0.028) + 4.0 * std::exp(-d / 0.12);
    c.r += glow * 1.00;
    c.g += glow * 0.96;
    c.b += glow * 0.88;
    const double sunRadius = 0.02;
    blend(c, scaled({1.0, 0.98, 0.93}, 2000.0), edge((sunRadius - d) * height_));
    return c;
}

Rgb Scene::ground(const Terms& terms, double y) const {
    const double h = terms.horizon;
    const double v = (y + 0.5) / height_;
    const double t =
        std::clamp((v - h) / (1.0 - h), 0.0, 1.0);  // 0 at the horizon, 1 at the bottom
    // Gentle undulation so the ground is a smooth gradient, not a flat field.
    const double undulation = 1.0 + 0.10 * terms.colWave * terms.rowWave +
                              0.05 * (terms.colSin * terms.rowCos + terms.colCos * terms.rowSin);
    // Falls off exponentially, 0.30 at the horizon to 0.008 at the bottom (5 EV),
    // so every octave of brightness covers a similar band of ground: each pair
    // of neighbouring frames then shares a broad, flat, unclipped region.
    const double level = 0.30 * std::exp(std::log(0.008 / 0.30) * t) * undulation;
    return scaled({1.0, 0.97, 0.91}, level);  // gravel: warm grey, see sky()
}

void Scene::addBuilding(Rgb& c, double x, double y) const {
    const Box wall = box(0.03, 0.20, 0.29, 0.95);
    const double wallCover = coverage(wall, x, y);
    if (wallCover <= 0.0) return;
    const double u = (x + 0.5) / width_;
    const double v = (y + 0.5) / height_;
    const double tv = std::clamp((v - 0.20) / 0.75, 0.0, 1.0);
    Rgb face = scaled({1.0, 0.96, 0.91}, 0.55 - 0.25 * tv);  // pale stone

    // A lamp by the door, bright enough to clip every frame, lighting the wall.
    const double aspect = static_cast<double>(width_) / height_;
    const double dx = (u - 0.16) * aspect;
    const double dy = v - 0.47;
    const double d = std::sqrt(dx * dx + dy * dy);
    const double spill = 1.2 * std::exp(-d * d / (2 * 0.04 * 0.04));
    // A warm bulb: red well above green, little blue.
    const Rgb light = warm_ ? Rgb{2.0, 0.93, 0.35} : Rgb{1.0, 0.93, 0.85};
    face.r += spill * light.r;
    face.g += spill * light.g;
    face.b += spill * light.b;

    // Windows reflect the sky: bright, bluish, clipped from the centre frame on.
    const Rgb window = scaled({0.85, 0.95, 1.15}, 2.6);
    blend(face, window, coverage(box(0.06, 0.27, 0.12, 0.39), x, y));
    blend(face, window, coverage(box(0.20, 0.27, 0.26, 0.39), x, y));

    // The doorway: the deepest shadow, darker towards the bottom and the far side.
    const Box door = box(0.10, 0.52, 0.22, 0.95);
    const double doorCover = coverage(door, x, y);
    if (doorCover > 0.0) {
        const double du = std::clamp((u - 0.10) / 0.12, 0.0, 1.0);
        const double dv = std::clamp((v - 0.52) / 0.43, 0.0, 1.0);
        blend(face, scaled({1.0, 0.95, 0.88}, 0.0045 * (1.0 - 0.85 * dv) * (1.0 - 0.3 * du)),
              doorCover);
    }
    blend(face, scaled({1.0, 0.80, 0.50}, 120.0), edge((0.012 - d) * height_));
    blend(c, face, wallCover);
}

void Scene::addChart(Rgb& c, double x, double y) const {
    constexpr double u0 = 0.355, u1 = 0.825, v0 = 0.495, v1 = 0.715;
    const double cardCover = coverage(box(u0, v0, u1, v1), x, y);
    if (cardCover <= 0.0) return;
    blend(c, scaled(kNeutral, 0.12), cardCover);  // mid-grey card: softer patch edges than black
    constexpr double gapU = 0.012, gapV = 0.018;  // wide enough to measure between patches
    constexpr double cellU = (u1 - u0 - 7 * gapU) / 6, cellV = (v1 - v0 - 3 * gapV) / 2;
    for (int row = 0; row < 2; ++row) {
        for (int col = 0; col < 6; ++col) {
            const double pu = u0 + gapU + col * (cellU + gapU);
            const double pv = v0 + gapV + row * (cellV + gapV);
            blend(c, chartColour(row * 6 + col),
                  coverage(box(pu, pv, pu + cellU, pv + cellV), x, y));
        }
    }
}

void Scene::addWedge(Rgb& c, double x, double y) const {
    constexpr double u0 = 0.335, u1 = 0.965, v0 = 0.775, v1 = 0.905;
    const double cardCover = coverage(box(u0, v0, u1, v1), x, y);
    if (cardCover <= 0.0) return;
    blend(c, scaled(kNeutral, 0.01), cardCover);
    constexpr double gap = 0.005, margin = 0.015;
    constexpr double cell = (u1 - u0 - (kWedgeSteps + 1) * gap) / kWedgeSteps;
    for (int step = 0; step < kWedgeSteps; ++step) {
        const double pu = u0 + gap + step * (cell + gap);
        blend(c, scaled(kNeutral, wedgeValue(step)),
              coverage(box(pu, v0 + margin, pu + cell, v1 - margin), x, y));
    }
}

void Scene::addPole(Rgb& c, double x, double y) const {
    const double top = 0.10;
    const double bottom = poleBottom_;
    blend(c, scaled(kNeutral, 0.025),
          coverage(box(poleU_ - 0.004, top, poleU_ + 0.004, bottom), x, y));
}

Rgb Scene::at(int px, int py) const {
    return shade(px, py, termsAt(px, py));
}

Rgb Scene::atPoint(double x, double y) const {
    return shade(x, y, termsAt(x, y));
}

Rgb Scene::shade(double x, double y, const Terms& terms) const {
    const double v = (y + 0.5) / height_;
    // Horizon anti-aliased over one photosite, like the patch edges.
    const double groundShare = edge((v - terms.horizon) * height_);
    Rgb c = groundShare < 1.0 ? sky(x, y, terms) : Rgb{};
    if (groundShare > 0.0) blend(c, ground(terms, y), groundShare);
    addPole(c, x, y);
    addBuilding(c, x, y);
    addChart(c, x, y);
    addWedge(c, x, y);
    if (textured_) c = scaled(c, texture(x + 0.5, y + 0.5));
    return c;
}

double Scene::texture(double x, double y) const {
    // Octaves from 8 to 512 photosites, each about as strong: detail at every
    // scale, in every direction, about +-40 % around the plain scene. Nothing
    // finer: the mosaic samples red and blue every second photosite.
    double stops = 0.0;
    double wavelength = 8.0;
    for (int octave = 0; octave < 7; ++octave, wavelength *= 2.0)
        stops += 0.13 * latticeNoise(x, y, wavelength, textureSalt_ + static_cast<std::uint64_t>(octave));
    return std::exp2(stops);
}

}  // namespace make_bracket
