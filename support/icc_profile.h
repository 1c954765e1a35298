// ICC colour profiles on LittleCMS: what a developed file's profile says about
// its primaries, and the profile of an output file built from them.
#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <optional>

struct CieXyz {
    double X = 0, Y = 0, Z = 0;
};

// The colours an RGB matrix-shaper profile gives a file's three channels.
struct RgbColourSpace {
    // Colorants as the profile stores them: the XYZ of full red, green and
    // blue, adapted to the D50 connection space.
    CieXyz red, green, blue;
    // The media white before adaptation (D65 in every profile dcraw writes).
    CieXyz white;
    // The profile's description, e.g. "Adobe RGB (1998)"; may be empty.
    QString name;
    // The channels are X, Y and Z (dcraw's "CIE XYZ" profile) rather than RGB.
    bool xyz = false;
};

// A colour's CIE 1931 chromaticity.
struct Chromaticity {
    double x = 0, y = 0;
};

// What a file's three channels stand for, as OpenEXR's chromaticities
// attribute holds it: the primaries and the white (R = G = B).
struct Primaries {
    Chromaticity red, green, blue, white;
};

// The primaries of a colour space: its colorants brought back from the D50
// connection space to its own white (Bradford, as profiles are adapted), the
// white being the sum of the three. An XYZ space gets the XYZ primaries
// exactly: (1, 0), (0, 1), (0, 0) and the white (1/3, 1/3).
Primaries primariesOf(const RgbColourSpace& colours);

// Row-major 3 x 3 matrix from linear values of `colours` to linear BT.2020
// (ITU-R BT.2020 primaries, D65 white), through the D50 connection space as a
// colour-managed conversion does: the space's own white becomes BT.2020's.
std::array<double, 9> matrixToBt2020(const RgbColourSpace& colours);

// Reads a profile with LittleCMS. Gives a colour space only for a matrix-shaper
// profile of three channels with the XYZ connection space: readable colorants
// and tone curves, finite, non-singular primaries and a white with Y > 0. The
// colour space may be RGB or XYZ: dcraw's "CIE XYZ" profile is an ordinary
// matrix-shaper under the XYZ label. The white comes from the chromatic
// adaptation tag when there is one (version 4), otherwise from the media
// white tag (version 2). Empty for no profile, a truncated, damaged, grey,
// CMYK or table-only profile: never throws and never reports.
std::optional<RgbColourSpace> readRgbProfile(const QByteArray& icc) noexcept;

// The profile of an output file, built by LittleCMS: the given colorants
// (verbatim) and media white, and on each channel the pure power tone curve
// e -> e^gamma, since output pixels hold e = lin^(1/gamma); gamma 1 is linear.
// Display class, ICC version 4, so the curve is stored as a parametric gamma
// exact to 1/65536 (version 2 keeps a gamma in 1/256 steps: 2.2 would become
// 2.1992). Described as the source profile's name plus ", gamma 2.2".
// Empty when `colours` is empty (a development without a profile) or when
// LittleCMS fails. Throws std::invalid_argument for a gamma outside 0.1..10.
QByteArray buildOutputProfile(const std::optional<RgbColourSpace>& colours, double gamma);
