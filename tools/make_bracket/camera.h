// The invented camera behind every synthetic frame: sensor levels, gain, noise,
// colour response and the fixed shooting settings written into the files.
#pragma once

#include <array>

namespace make_bracket {

struct CameraModel {
    // Raw levels in DN. The white level sits below the 14-bit ceiling, as on
    // real sensors whose full well saturates before the converter does.
    static constexpr int kBlackLevel = 512;
    static constexpr int kWhiteLevel = 15000;
    // Electrons per DN and read noise in DN: full well about 36k e-, read noise
    // about 5.5 e-, typical of an APS-C sensor at base ISO.
    static constexpr double kGain = 2.5;
    static constexpr double kReadNoiseDn = 2.2;
    // Green response is 1; red and blue are weaker so that a neutral grey has
    // raw R:G:B = 1/2.132483 : 1 : 1/1.480864, i.e. the usual daylight
    // multipliers 2.132483, 1, 1.480864 neutralise it.
    static constexpr std::array<double, 3> kWhiteBalance{2.132483, 1.0, 1.480864};

    // Shooting settings. Only the time changes between frames (aperture
    // bracketing would change depth of field, which a static blend cannot use).
    static constexpr double kReferenceTime = 1.0 / 64.0;  // the bracket's centre, in s
    static constexpr double kFNumber = 8.0;
    static constexpr int kIso = 100;
    static constexpr double kFocalLengthMm = 35.0;

    // Electrons that fill the green channel at the reference time for a scene
    // value of 1: scene value 1 is the brightest unclipped green at the centre.
    static constexpr double fullWellElectrons() { return (kWhiteLevel - kBlackLevel) * kGain; }

    // Photo-electrons at the reference time per unit of scene value, by CFA
    // colour: red and blue respond less than green, by the multipliers.
    static constexpr double electronsPerUnit(int colour) {
        return fullWellElectrons() / kWhiteBalance[static_cast<unsigned>(colour)];
    }

    // CFA colour of a photosite (RGGB: 0 = red, 1 = green, 2 = blue).
    static constexpr int cfaColour(int x, int y) { return (y & 1) + (x & 1); }
};

}  // namespace make_bracket
