// The synthetic static scene: sky with a sun, a building with a lamp and a dark
// doorway, ground, a colour chart and a grey step wedge, as linear radiance.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace make_bracket {

// Linear, white-balanced scene value per channel (neutral = equal values).
// 1.0 is the brightest green the reference exposure records without clipping;
// the scene spans about 0.0005 (doorway) to 2000 (sun disc).
struct Rgb {
    double r = 0.0, g = 0.0, b = 0.0;
};

class Scene {
  public:
    // Geometry is laid out in fractions of the frame, so every size shows the
    // same picture; the seed moves the sun and pole and changes the ground's
    // undulation, but never the chart or the wedge.
    Scene(int width, int height, std::uint64_t seed);

    // Mean radiance over the photosite whose top-left corner is (x, y); edges of
    // patches are anti-aliased by their coverage of the photosite.
    Rgb at(int x, int y) const;

    // Radiance of the grey wedge's patches, brightest first (for tests/reports).
    static constexpr int kWedgeSteps = 11;
    static double wedgeValue(int step);

  private:
    struct Box {
        double x0, y0, x1, y1;  // in photosites
    };
    Box box(double u0, double v0, double u1, double v1) const;
    static double coverage(const Box& b, double x, double y);
    double horizonAt(double u) const;

    Rgb sky(int x, int y) const;
    Rgb ground(int x, int y) const;
    void addBuilding(Rgb& c, double x, double y) const;
    void addChart(Rgb& c, double x, double y) const;
    void addWedge(Rgb& c, double x, double y) const;
    void addPole(Rgb& c, double x, double y) const;

    int width_;
    int height_;
    double sunU_, sunV_, poleU_, poleBottom_;
    std::array<double, 4> phase_{};
    // Per-column and per-row factors of the smooth terms (horizon line, ground
    // undulation), so the per-photosite work has no trigonometry.
    std::vector<double> horizon_, colWave_, colSin_, colCos_;
    std::vector<double> rowWave_, rowSin_, rowCos_;
};

}  // namespace make_bracket
