// Blending the sorted set through the map: its settings, the map file's
// levels, the output gamma and the B&W mix every blend shares.
#pragma once

#include "set/frame_set.h"

#include <QImage>
#include <QString>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

// How the images are merged: each pixel from the map's choice ("Select"), or
// every usable image averaged with inverse-variance weights ("Weighted").
enum class BlendMerge { Select, Weighted };

// The file each output is written as: today's 16-bit TIFF with the output
// gamma, scene-linear floating-point files for editors (32-bit float TIFF,
// OpenEXR half or float), or HDR AVIF in BT.2100 PQ for HDR screens.
enum class OutputFormat { Tiff16, TiffFloat, ExrHalf, ExrFloat, AvifPq };

// What "Colour" and "B&W" read from the window.
struct BlendSettings {
    BlendMerge merge = BlendMerge::Select;
    bool blancoNegro = false;
    int gamma = 22;        // output gamma in tenths (10..30)
    int pesoRojo = 33;     // B&W red weight, percent
    int pesoAzul = 33;     // B&W blue weight, percent
    bool ettr = false;
    int numBracketing = 1; // files per blend
    int evBracketing = 2;  // EV between them
    OutputFormat format = OutputFormat::Tiff16;
    QString perfil;        // output colour profile as the list shows it
    QString rutaMapa;      // the map file to blend through
};

// ---- Pieces shared by the blend, the contact sheet and their tests ----

// A map file's grey levels: the red component of every pixel, row-major.
// `colours` keeps the picture as read when asked for (the progressive map
// repaints non-genuine pixels with it). A map of another size than expected
// has its size and no levels.
struct MapLevels {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> red;
    QImage colours;
};

// Decodes the map when its header gives the expected size. Throws RunError
// when the file is missing or not a picture.
MapLevels loadMapLevels(const QString& path, QSize expected, bool keepColours);

// Inverse output gamma: the single-precision value nearest to 1 / (tenths / 10).
float inverseGamma(int tenths);
// Gamma encoding on the 0..65535 scale, in double with g widened: divide,
// raise, multiply; the identity when g is exactly 1.
inline double encodeGamma(double v, float g) {
    if (g == 1.0f) return v;
    return 65535 * std::pow(v / 65535, static_cast<double>(g));
}

// B&W channel weights: red and blue as set, green what they leave, all in
// single precision.
struct MixWeights {
    float r, g, b;
};
MixWeights mixWeights(int pesoRojo, int pesoAzul);
