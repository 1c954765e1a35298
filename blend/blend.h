// Blending the sorted set through the map into gamma-encoded planes, the
// output files made from them, and the B&W contact sheet.
#pragma once

#include "exposure/image_set.h"

#include <QImage>
#include <QString>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

class Reporter;

// How the images are merged: each pixel from the map's choice ("Select"), or
// every usable image averaged with inverse-variance weights ("Weighted").
enum class BlendMerge { Select, Weighted };

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
    QString perfil;        // output colour profile as the list shows it
    QString rutaMapa;      // the map file to blend through
};

// One blend with its outputs. Returns 1 when it ran to its end, -1 when the
// map did not fit, the table was built for another set, or a failure ended it.
int FusionarImagenes(const QString& rutaReferencia, const BlendSettings& settings, ImageSet& set,
                     Reporter& reporter);

// "T": the B&W contact sheet of 66 channel mixes. Returns 1 when the sheet
// was written, -1 otherwise.
int TestImagenesBN(const QString& rutaReferencia, const QString& rutaMapa, ImageSet& set,
                   Reporter& reporter);

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
// The gamma as file names show it: 1 / g rounded to single precision, at most
// 7 significant digits, "." as separator.
QString gammaForFileName(float g);

// B&W channel weights: red and blue as set, green what they leave, all in
// single precision.
struct MixWeights {
    float r, g, b;
};
MixWeights mixWeights(int pesoRojo, int pesoAzul);

// "OD[_BW]_hhmmss_<profile>_g<gamma>" and the bracket suffix of file o of
// `count` ("" for a single file, "_0EV", "_+2EV", ...), without ".tif".
QString outputBaseName(bool blancoNegro, const QString& hhmmss, const QString& perfil, float g);
// The same named as the set's place says: "IMG_0003_OD[_BW]_<profile>_g<gamma>"
// with a stem, the time of day taken now without.
QString outputBaseName(bool blancoNegro, const OutputPlace& place, const QString& perfil, float g);
QString bracketSuffix(int o, int count, int step);
