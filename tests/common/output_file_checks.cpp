// Output-file test helpers on LittleCMS and plain libtiff.
#include "tests/common/output_file_checks.h"

#include "support/tiff_io.h"

#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <tiffio.h>

#include <QFile>
#include <cmath>
#include <cstring>
#include <limits>

namespace {
struct CurveFree {
    void operator()(cmsToneCurve* c) const { cmsFreeToneCurve(c); }
};
using Curve = std::unique_ptr<cmsToneCurve, CurveFree>;
struct MluFree {
    void operator()(cmsMLU* m) const { cmsMLUfree(m); }
};
struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
}  // namespace

LcmsProfile openProfile(const QByteArray& icc) {
    return LcmsProfile(
        cmsOpenProfileFromMem(icc.constData(), static_cast<cmsUInt32Number>(icc.size())));
}

QByteArray saveProfile(cmsHPROFILE profile) {
    cmsUInt32Number size = 0;
    if (!cmsSaveProfileToMem(profile, nullptr, &size)) return {};
    QByteArray bytes(static_cast<qsizetype>(size), '\0');
    if (!cmsSaveProfileToMem(profile, bytes.data(), &size)) return {};
    return bytes;
}

std::optional<cmsCIEXYZ> xyzTag(cmsHPROFILE profile, cmsTagSignature tag) {
    const auto* v = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, tag));
    if (!v) return std::nullopt;
    return *v;
}

std::optional<std::array<double, 9>> chadTag(cmsHPROFILE profile) {
    const auto* m =
        static_cast<const cmsFloat64Number*>(cmsReadTag(profile, cmsSigChromaticAdaptationTag));
    if (!m) return std::nullopt;
    std::array<double, 9> out{};
    for (int i = 0; i < 9; ++i) out[i] = m[i];
    return out;
}

double curveAt(cmsHPROFILE profile, cmsTagSignature tag, double x) {
    const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(profile, tag));
    if (!curve) return std::numeric_limits<double>::quiet_NaN();
    return cmsEvalToneCurveFloat(curve, static_cast<cmsFloat32Number>(x));
}

cmsCIEXYZ times(const std::array<double, 9>& m, const cmsCIEXYZ& v) {
    return {m[0] * v.X + m[1] * v.Y + m[2] * v.Z, m[3] * v.X + m[4] * v.Y + m[5] * v.Z,
            m[6] * v.X + m[7] * v.Y + m[8] * v.Z};
}

QByteArray version2Profile(const cmsCIEXYZ& red, const cmsCIEXYZ& green, const cmsCIEXYZ& blue,
                           const cmsCIEXYZ& white, cmsColorSpaceSignature space) {
    const LcmsProfile p(cmsCreateProfilePlaceholder(nullptr));
    cmsHPROFILE h = p.get();
    cmsSetProfileVersion(h, 2.1);
    cmsSetDeviceClass(h, cmsSigDisplayClass);
    cmsSetColorSpace(h, space);
    cmsSetPCS(h, cmsSigXYZData);
    cmsWriteTag(h, cmsSigRedColorantTag, &red);
    cmsWriteTag(h, cmsSigGreenColorantTag, &green);
    cmsWriteTag(h, cmsSigBlueColorantTag, &blue);
    cmsWriteTag(h, cmsSigMediaWhitePointTag, &white);
    const Curve linear(cmsBuildGamma(nullptr, 1.0));
    cmsWriteTag(h, cmsSigRedTRCTag, linear.get());
    cmsLinkTag(h, cmsSigGreenTRCTag, cmsSigRedTRCTag);
    cmsLinkTag(h, cmsSigBlueTRCTag, cmsSigRedTRCTag);
    const std::unique_ptr<cmsMLU, MluFree> text(cmsMLUalloc(nullptr, 1));
    cmsMLUsetASCII(text.get(), "en", "US", "test v2");
    cmsWriteTag(h, cmsSigProfileDescriptionTag, text.get());
    return saveProfile(h);
}

QByteArray dcrawStyleSrgb() {
    return version2Profile({0.436081, 0.222504, 0.013931}, {0.385086, 0.716888, 0.097092},
                           {0.143051, 0.060608, 0.714020}, {0.950455, 1.0, 1.089050});
}

QByteArray builtInSrgb() {
    const LcmsProfile p(cmsCreate_sRGBProfile());
    return saveProfile(p.get());
}

QByteArray greyProfile() {
    const Curve curve(cmsBuildGamma(nullptr, 2.2));
    const LcmsProfile p(cmsCreateGrayProfile(cmsD50_xyY(), curve.get()));
    return saveProfile(p.get());
}

QByteArray labProfile() {
    const LcmsProfile p(cmsCreateLab4Profile(nullptr));
    return saveProfile(p.get());
}

namespace {

uint32_t bigEndian32(const QByteArray& b, qsizetype at) {
    const auto* u = reinterpret_cast<const unsigned char*>(b.constData() + at);
    return (uint32_t{u[0]} << 24) | (uint32_t{u[1]} << 16) | (uint32_t{u[2]} << 8) | u[3];
}
}  // namespace

QByteArray withDamagedTag(QByteArray icc, cmsTagSignature tag) {
    // The tag table follows the 128-byte header: a count, then signature,
    // offset and size per tag. The first four bytes of a tag's data name its
    // type; an unknown type makes the tag unreadable.
    const uint32_t count = bigEndian32(icc, 128);
    for (uint32_t i = 0; i < count; ++i) {
        const qsizetype entry = 132 + 12 * static_cast<qsizetype>(i);
        if (bigEndian32(icc, entry) != static_cast<uint32_t>(tag)) continue;
        const qsizetype offset = bigEndian32(icc, entry + 4);
        std::memcpy(icc.data() + offset, "junk", 4);
    }
    return icc;
}

QByteArray iccOfTiff(const QString& path) {
    const std::unique_ptr<TIFF, TiffCloser> tif(TIFFOpen(QFile::encodeName(path).constData(), "r"));
    if (!tif) return {};
    uint32_t size = 0;
    const void* data = nullptr;
    if (!TIFFGetField(tif.get(), TIFFTAG_ICCPROFILE, &size, &data) || !data) return {};
    return QByteArray(static_cast<const char*>(data), static_cast<qsizetype>(size));
}

namespace {

QString textTag(TIFF* t, uint32_t tag) {
    const char* s = nullptr;
    return TIFFGetField(t, tag, &s) && s ? QString::fromUtf8(s) : QString();
}

// libtiff hands some rationals out as float and others as double; its field
// table says which.
double rational(TIFF* t, uint32_t tag) {
    const TIFFField* field = TIFFFieldWithTag(t, tag);
    if (!field) return -1;
    if (TIFFFieldSetGetSize(field) == sizeof(float)) {
        float v = 0;
        return TIFFGetField(t, tag, &v) ? v : -1;
    }
    double v = 0;
    return TIFFGetField(t, tag, &v) ? v : -1;
}

}  // namespace

PlainTags plainTags(const QString& path) {
    PlainTags p;
    const std::unique_ptr<TIFF, TiffCloser> tif(TIFFOpen(QFile::encodeName(path).constData(), "r"));
    if (!tif) return p;
    TIFF* t = tif.get();
    p.make = textTag(t, TIFFTAG_MAKE);
    p.model = textTag(t, TIFFTAG_MODEL);
    p.dateTime = textTag(t, TIFFTAG_DATETIME);
    p.software = textTag(t, TIFFTAG_SOFTWARE);
    p.description = textTag(t, TIFFTAG_IMAGEDESCRIPTION);
    uint64_t exif = 0;
    if (!TIFFGetField(t, TIFFTAG_EXIFIFD, &exif) || !TIFFReadEXIFDirectory(t, exif)) return p;
    p.hasExif = true;
    p.exposure = rational(t, EXIFTAG_EXPOSURETIME);
    p.aperture = rational(t, EXIFTAG_FNUMBER);
    p.focal = rational(t, EXIFTAG_FOCALLENGTH);
    uint16_t count = 0;
    const uint16_t* iso = nullptr;
    if (TIFFGetField(t, EXIFTAG_ISOSPEEDRATINGS, &count, &iso) && count > 0) p.iso = iso[0];
    const uint8_t* version = nullptr;
    if (TIFFGetField(t, EXIFTAG_EXIFVERSION, &version) && version)
        p.exifVersion = QByteArray(reinterpret_cast<const char*>(version), 4);
    return p;
}

std::array<double, 3> patchMean(const GflBitmap& image, double u0, double v0, double u1,
                                double v1) {
    const int x0 = static_cast<int>(u0 * image.width), x1 = static_cast<int>(u1 * image.width);
    const int y0 = static_cast<int>(v0 * image.height), y1 = static_cast<int>(v1 * image.height);
    std::array<double, 3> sum{0, 0, 0};
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            for (int c = 0; c < 3; ++c) sum[c] += image.row(y)[x * 3 + c];
    const double n = static_cast<double>(x1 - x0) * (y1 - y0);
    return {sum[0] / n, sum[1] / n, sum[2] / n};
}


QString tificcPath() { return QStandardPaths::findExecutable(QStringLiteral("tificc")); }

GflBitmap toSrgbWithTificc(const QString& tificc, const QString& in, const QString& out) {
    QProcess run;
    run.start(tificc, {"-w16", in, out});
    EXPECT_TRUE(run.waitForFinished(60000));
    EXPECT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();
    GflBitmap converted;
    readTiffRgb16(out, converted);
    return converted;
}

