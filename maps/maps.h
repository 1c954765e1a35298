// The blending map: per-pixel choice of source image under the saturation
// thresholds, anti-ghosting, progressive borders, the map file and the table
// that decodes it.
#pragma once

#include "set/frame_set.h"

#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

// What "Build map" reads from the window's controls.
struct MapSettings {
    int umbral = 90;                   // map threshold, percent of full scale (0..99)
    bool balanceCamara = true;         // camera white balance: no per-channel multipliers
    std::array<QString, 3> txtWB;      // the R, G, B multiplier texts otherwise
    int antiGhost = 0;                 // anti-ghosting radius in pixels
    int progressive = 3;               // progressive-blending radius in pixels
    // The frames were developed with headroom: each channel clips where the
    // frames show it does, not at full scale times its multiplier.
    bool headroom = false;
    bool deghost = false;              // each moving subject shown once, from one image
    int deghostRef = 0;                // that image: 0 = each area's own, k = image k
};

// Highest threshold a channel may get, whatever its multiplier.
constexpr int32_t kUmbralMaximo = 65279;

// The R, G, B saturation thresholds. Throws RunError when a multiplier text
// is not a number.
std::array<int32_t, 3> OptimizarUmbral(const MapSettings& settings);

// The thresholds of frames developed with headroom: `umbral` percent of each
// channel's clip level as the frames show it (see set/noise_model.h).
std::array<int32_t, 3> thresholdsOfClipLevels(int umbral, const std::array<int, 3>& clipLevels);

// One byte per pixel, row-major (y * width + x), holding image numbers or
// grey levels.
struct ByteMap {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> data;

    uint8_t at(int x, int y) const { return data[static_cast<size_t>(y) * width + x]; }
};

// The most exposed image (1..n) whose three channels are all within their
// thresholds at each pixel; image 1 where none is.
ByteMap buildIndexMap(const FrameSet& set, const std::array<int32_t, 3>& umbral);

// The disc of GenerarMascara(r): offsets (a, b) with a^2 + b^2 <= discLimit(r).
int32_t discLimit(int r);

// Disc mask of radius r (r >= 1) as (2r + 1)^2 bytes, row b + r, column a + r.
struct DiscMask {
    int r = 0;
    std::vector<uint8_t> cells;
    bool inside(int a, int b) const {
        return cells[static_cast<size_t>(b + r) * (2 * r + 1) + (a + r)] != 0;
    }
};
DiscMask GenerarMascara(int r);

// Progress of a long stage: called between row chunks with the share done (0..100).
using StageProgress = std::function<void(int percent)>;

// Each pixel takes the smallest image number inside the disc of radius r
// around it, the disc cut at the image border. r >= 1.
ByteMap antiGhostMap(const ByteMap& indices, int r, const StageProgress& progress = {});

// Grey level of the mean image number over the disc of radius r cut at the
// image border (r >= 1), or of the pixel's own number (r < 1): image n is 0,
// image 1 is 255.
ByteMap progressiveGreyMap(const ByteMap& indices, int r, int n, const StageProgress& progress = {});

// Grey level of a whole image number k of n.
uint8_t greyOfImage(int k, int n);

// The 256-entry decoding table: grey level -> fractional image number.
std::vector<float> buildTablaMapa(int n);

// The decoding table of the last map built for a set (grey level ->
// fractional image number) and the number of images it was built for.
// Empty until a build; every load of the set empties it, so no stage
// decodes a map against a set it was not built for.
struct MapDecoding {
    std::vector<float> TablaMapa;
    int TablaMapaImagenes = 0;

    // Built for a set of `images` images.
    bool decodes(size_t images) const {
        return TablaMapa.size() == 256 && TablaMapaImagenes >= 2 &&
               static_cast<size_t>(TablaMapaImagenes) == images;
    }
    void forget() {
        TablaMapa.clear();
        TablaMapaImagenes = 0;
    }
    // The table of a map of a set of n images.
    void buildFor(int n) {
        TablaMapa = buildTablaMapa(n);
        TablaMapaImagenes = n;
    }
};
