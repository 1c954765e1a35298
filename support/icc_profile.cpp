// ICC profile reading and building on LittleCMS. Every call works in its own
// LittleCMS context with a silent error handler, so bad profiles never print
// and calls on several threads never share state.
#include "support/icc_profile.h"

#include "support/numbers.h"

#include <lcms2.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <type_traits>

namespace {

struct ContextDeleter {
    void operator()(std::remove_pointer_t<cmsContext>* c) const { cmsDeleteContext(c); }
};
using ContextPtr = std::unique_ptr<std::remove_pointer_t<cmsContext>, ContextDeleter>;

struct ProfileCloser {
    void operator()(void* p) const { cmsCloseProfile(p); }
};
using ProfilePtr = std::unique_ptr<void, ProfileCloser>;

struct CurveFree {
    void operator()(cmsToneCurve* c) const { cmsFreeToneCurve(c); }
};
using CurvePtr = std::unique_ptr<cmsToneCurve, CurveFree>;

struct MluFree {
    void operator()(cmsMLU* m) const { cmsMLUfree(m); }
};
using MluPtr = std::unique_ptr<cmsMLU, MluFree>;

void ignoreError(cmsContext, cmsUInt32Number, const char*) {}

// Profiles opened in a context must be closed before it: declare the context
// first so it outlives them.
ContextPtr quietContext() {
    ContextPtr context(cmsCreateContext(nullptr, nullptr));
    if (context) cmsSetLogErrorHandlerTHR(context.get(), ignoreError);
    return context;
}

bool finite(const CieXyz& v) {
    return std::isfinite(v.X) && std::isfinite(v.Y) && std::isfinite(v.Z);
}

CieXyz fromCms(const cmsCIEXYZ& v) {
    return {v.X, v.Y, v.Z};
}
cmsCIEXYZ toCms(const CieXyz& v) {
    return {v.X, v.Y, v.Z};
}

using Matrix = std::array<std::array<double, 3>, 3>;

double determinant(const Matrix& m) {
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
           m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

// Solves m * x = b by Cramer's rule; the caller has checked det(m) != 0.
CieXyz solve(const Matrix& m, const CieXyz& b) {
    const double det = determinant(m);
    const std::array<double, 3> rhs{b.X, b.Y, b.Z};
    std::array<double, 3> x{};
    for (int col = 0; col < 3; ++col) {
        Matrix replaced = m;
        for (int row = 0; row < 3; ++row) replaced[row][col] = rhs[row];
        x[col] = determinant(replaced) / det;
    }
    return {x[0], x[1], x[2]};
}

// The media white before adaptation. With a chromatic adaptation matrix
// (version 4 always, some version 2 profiles too) the white is the colour it
// maps onto the D50 connection white; without one, version 2 keeps the white
// itself in the media white tag.
std::optional<CieXyz> mediaWhite(cmsHPROFILE profile) {
    const cmsCIEXYZ* d50 = cmsD50_XYZ();
    if (const auto* chad = static_cast<const cmsFloat64Number*>(
            cmsReadTag(profile, cmsSigChromaticAdaptationTag))) {
        const Matrix m{{{chad[0], chad[1], chad[2]},
                        {chad[3], chad[4], chad[5]},
                        {chad[6], chad[7], chad[8]}}};
        const double det = determinant(m);
        if (!std::isfinite(det) || std::abs(det) < 1e-6) return std::nullopt;
        return solve(m, fromCms(*d50));
    }
    if (const auto* wtpt =
            static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, cmsSigMediaWhitePointTag)))
        return fromCms(*wtpt);
    return fromCms(*d50);  // the connection white, as LittleCMS assumes too
}

QString description(cmsHPROFILE profile) {
    const cmsUInt32Number size =
        cmsGetProfileInfoASCII(profile, cmsInfoDescription, "en", "US", nullptr, 0);
    if (size == 0) return {};
    QByteArray text(static_cast<qsizetype>(size), '\0');
    cmsGetProfileInfoASCII(profile, cmsInfoDescription, "en", "US", text.data(), size);
    return QString::fromLatin1(text.constData()).trimmed();  // stops at the terminating zero
}

std::optional<RgbColourSpace> parse(const QByteArray& icc) {
    // A header and a tag count at least, and every byte the header declares:
    // LittleCMS would read a profile cut short behind the tags we use.
    if (icc.size() < 132) return std::nullopt;
    const auto* head = reinterpret_cast<const unsigned char*>(icc.constData());
    const uint32_t declared =
        (uint32_t{head[0]} << 24) | (uint32_t{head[1]} << 16) | (uint32_t{head[2]} << 8) | head[3];
    if (declared > static_cast<uint64_t>(icc.size())) return std::nullopt;
    const ContextPtr context = quietContext();
    if (!context) return std::nullopt;
    const ProfilePtr profile(cmsOpenProfileFromMemTHR(context.get(), icc.constData(),
                                                      static_cast<cmsUInt32Number>(icc.size())));
    if (!profile) return std::nullopt;
    cmsHPROFILE p = profile.get();
    const cmsColorSpaceSignature space = cmsGetColorSpace(p);
    if ((space != cmsSigRgbData && space != cmsSigXYZData) || cmsGetPCS(p) != cmsSigXYZData)
        return std::nullopt;
    // Tags of a truncated or damaged profile fail to read here.
    const auto* red = static_cast<const cmsCIEXYZ*>(cmsReadTag(p, cmsSigRedColorantTag));
    const auto* green = static_cast<const cmsCIEXYZ*>(cmsReadTag(p, cmsSigGreenColorantTag));
    const auto* blue = static_cast<const cmsCIEXYZ*>(cmsReadTag(p, cmsSigBlueColorantTag));
    if (!red || !green || !blue) return std::nullopt;
    for (cmsTagSignature trc : {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag})
        if (!cmsReadTag(p, trc)) return std::nullopt;

    RgbColourSpace colours;
    colours.red = fromCms(*red);
    colours.green = fromCms(*green);
    colours.blue = fromCms(*blue);
    const std::optional<CieXyz> white = mediaWhite(p);
    if (!white || !finite(*white) || !(white->Y > 0)) return std::nullopt;
    colours.white = *white;
    if (!finite(colours.red) || !finite(colours.green) || !finite(colours.blue))
        return std::nullopt;
    const Matrix primaries{{{colours.red.X, colours.green.X, colours.blue.X},
                            {colours.red.Y, colours.green.Y, colours.blue.Y},
                            {colours.red.Z, colours.green.Z, colours.blue.Z}}};
    if (std::abs(determinant(primaries)) < 1e-6) return std::nullopt;
    colours.name = description(p);
    colours.xyz = space == cmsSigXYZData;
    return colours;
}

Matrix columns(const CieXyz& r, const CieXyz& g, const CieXyz& b) {
    return {{{r.X, g.X, b.X}, {r.Y, g.Y, b.Y}, {r.Z, g.Z, b.Z}}};
}

Matrix product(const Matrix& a, const Matrix& b) {
    Matrix m{};
    for (size_t i = 0; i < 3; ++i)
        for (size_t j = 0; j < 3; ++j)
            for (size_t k = 0; k < 3; ++k) m[i][j] += a[i][k] * b[k][j];
    return m;
}

// The inverse by Cramer's rule, column by column; the caller's matrix is a
// checked, non-singular one.
Matrix inverse(const Matrix& m) {
    Matrix inv{};
    for (size_t col = 0; col < 3; ++col) {
        CieXyz unit;
        (col == 0 ? unit.X : col == 1 ? unit.Y : unit.Z) = 1;
        const CieXyz x = solve(m, unit);
        inv[0][col] = x.X;
        inv[1][col] = x.Y;
        inv[2][col] = x.Z;
    }
    return inv;
}

Chromaticity chromaticityOf(const CieXyz& v) {
    const double sum = v.X + v.Y + v.Z;
    return {v.X / sum, v.Y / sum};
}

CieXyz fromChromaticity(const Chromaticity& c, double luminance) {
    return {c.x / c.y * luminance, luminance, (1 - c.x - c.y) / c.y * luminance};
}

// A colour seen under `from` as it looks under `to` (Bradford).
CieXyz adapted(const CieXyz& v, const CieXyz& from, const CieXyz& to) {
    const cmsCIEXYZ in = toCms(v), source = toCms(from), target = toCms(to);
    cmsCIEXYZ out;
    if (!cmsAdaptToIlluminant(&out, &source, &target, &in)) return v;
    return fromCms(out);
}

// ITU-R BT.2020: primaries and D65 white.
constexpr Chromaticity kBt2020[4] = {
    {0.708, 0.292}, {0.170, 0.797}, {0.131, 0.046}, {0.3127, 0.3290}};

// BT.2020's colorants adapted to the D50 connection space, as a profile of it
// would store them: each primary scaled so that the three add up to the white.
Matrix bt2020Colorants() {
    const CieXyz white = fromChromaticity(kBt2020[3], 1);
    const Matrix unscaled =
        columns(fromChromaticity(kBt2020[0], 1), fromChromaticity(kBt2020[1], 1),
                fromChromaticity(kBt2020[2], 1));
    const CieXyz scale = solve(unscaled, white);
    const double s[3] = {scale.X, scale.Y, scale.Z};
    const CieXyz d50 = fromCms(*cmsD50_XYZ());
    CieXyz c[3];
    for (size_t k = 0; k < 3; ++k) c[k] = adapted(fromChromaticity(kBt2020[k], s[k]), white, d50);
    return columns(c[0], c[1], c[2]);
}

}  // namespace

Primaries primariesOf(const RgbColourSpace& colours) {
    if (colours.xyz) return {{1, 0}, {0, 1}, {0, 0}, {1.0 / 3, 1.0 / 3}};
    const CieXyz d50 = fromCms(*cmsD50_XYZ());
    const CieXyz r = adapted(colours.red, d50, colours.white),
                 g = adapted(colours.green, d50, colours.white),
                 b = adapted(colours.blue, d50, colours.white);
    const CieXyz white{r.X + g.X + b.X, r.Y + g.Y + b.Y, r.Z + g.Z + b.Z};
    return {chromaticityOf(r), chromaticityOf(g), chromaticityOf(b), chromaticityOf(white)};
}

std::array<double, 9> matrixToBt2020(const RgbColourSpace& colours) {
    const Matrix m =
        product(inverse(bt2020Colorants()), columns(colours.red, colours.green, colours.blue));
    return {m[0][0], m[0][1], m[0][2], m[1][0], m[1][1], m[1][2], m[2][0], m[2][1], m[2][2]};
}

std::optional<RgbColourSpace> readRgbProfile(const QByteArray& icc) noexcept {
    try {
        return parse(icc);
    } catch (...) {
        return std::nullopt;  // only memory can run out here; no profile then
    }
}

QByteArray buildOutputProfile(const std::optional<RgbColourSpace>& colours, double gamma) {
    if (!(gamma >= 0.1 && gamma <= 10.0))
        throw std::invalid_argument("output gamma must lie within 0.1 and 10");
    if (!colours) return {};
    const ContextPtr context = quietContext();
    if (!context) return {};
    cmsContext ctx = context.get();

    const cmsCIEXYZ whiteXyz = toCms(colours->white);
    cmsCIExyY white;
    cmsXYZ2xyY(&white, &whiteXyz);
    const CurvePtr curve(cmsBuildGamma(ctx, gamma));
    if (!curve) return {};
    cmsToneCurve* curves[3] = {curve.get(), curve.get(), curve.get()};
    // Without primaries LittleCMS writes the white (as the D50 media white
    // plus the adaptation matrix from the real white) and the curves; the
    // colorants then go in as the developed file has them, to the last bit.
    const ProfilePtr profile(cmsCreateRGBProfileTHR(ctx, &white, nullptr, curves));
    if (!profile) return {};
    cmsHPROFILE p = profile.get();
    const cmsCIEXYZ red = toCms(colours->red), green = toCms(colours->green),
                    blue = toCms(colours->blue);
    if (!cmsWriteTag(p, cmsSigRedColorantTag, &red) ||
        !cmsWriteTag(p, cmsSigGreenColorantTag, &green) ||
        !cmsWriteTag(p, cmsSigBlueColorantTag, &blue))
        return {};

    const QString name = (colours->name.isEmpty() ? QStringLiteral("RGB") : colours->name) +
                         QStringLiteral(", gamma ") + decimalForCommand(gamma);
    const MluPtr text(cmsMLUalloc(ctx, 1));
    if (!text || !cmsMLUsetASCII(text.get(), "en", "US", name.toLatin1().constData()) ||
        !cmsWriteTag(p, cmsSigProfileDescriptionTag, text.get()))
        return {};
    cmsMD5computeID(p);

    cmsUInt32Number size = 0;
    if (!cmsSaveProfileToMem(p, nullptr, &size) || size == 0) return {};
    QByteArray bytes(static_cast<qsizetype>(size), '\0');
    if (!cmsSaveProfileToMem(p, bytes.data(), &size)) return {};
    bytes.resize(static_cast<qsizetype>(size));
    return bytes;
}
