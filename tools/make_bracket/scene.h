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
    // The same for a unit square whose top-left corner is anywhere: what a
    // photosite of a moved frame sees.
    Rgb atPoint(double x, double y) const;

    // Adds texture at several scales and in every direction (gravel, stone,
    // clouds): what an alignment needs, which a smooth gradient cannot give.
    // Edges are then also softened, as a lens and an anti-aliasing filter
    // soften them: an edge sharper than the photosite pitch aliases, and an
    // aliased edge does not move with the frame by a fraction of a photosite.
    void setTextured(bool textured) {
        textured_ = textured;
        soft_ = textured;
    }

    // A warm evening: the sky glows orange and the lamp is a warm bulb, so
    // their red reaches a frame's clip long before their green does.
    void setWarm(bool warm) { warm_ = warm; }

    // Radiance of the grey wedge's patches, brightest first (for tests/reports).
    static constexpr int kWedgeSteps = 11;
    static double wedgeValue(int step);

  private:
    struct Box {
        double x0, y0, x1, y1;  // in photosites
    };
    Box box(double u0, double v0, double u1, double v1) const;
    double coverage(const Box& b, double x, double y) const;
    double horizonAt(double u) const;

    // The smooth terms at a position: looked up from the tables at photosites
    // of a still frame, computed afresh anywhere else.
    struct Terms {
        double horizon, colWave, colSin, colCos, rowWave, rowSin, rowCos;
    };
    Terms termsAt(int x, int y) const;
    Terms termsAt(double x, double y) const;
    Rgb shade(double x, double y, const Terms& t) const;
    double texture(double x, double y) const;
    // Share of a photosite inside an edge, from the signed distance of its
    // centre to the edge in photosites.
    double edge(double insideBy) const;

    Rgb sky(double x, double y, const Terms& t) const;
    Rgb ground(const Terms& t, double y) const;
    void addBuilding(Rgb& c, double x, double y) const;
    void addChart(Rgb& c, double x, double y) const;
    void addWedge(Rgb& c, double x, double y) const;
    void addPole(Rgb& c, double x, double y) const;

    int width_;
    int height_;
    bool textured_ = false;
    bool soft_ = false;  // edges through a lens, not cut at the photosite's sides
    bool warm_ = false;
    std::uint64_t textureSalt_ = 0;
    double sunU_, sunV_, poleU_, poleBottom_;
    std::array<double, 4> phase_{};
    // Per-column and per-row factors of the smooth terms (horizon line, ground
    // undulation), so the per-photosite work has no trigonometry.
    std::vector<double> horizon_, colWave_, colSin_, colCos_;
    std::vector<double> rowWave_, rowSin_, rowCos_;
};

}  // namespace make_bracket
