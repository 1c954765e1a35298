// Minimal DNG writer (see dng_writer.h). Written by hand rather than through
// libtiff: the file is two small IFDs with a fixed set of tags, and the EXIF
// directory would need libtiff's custom-directory API for no gain.
#include "dng_writer.h"

#include "camera.h"

#include <unistd.h>
#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <system_error>

namespace make_bracket {
namespace {

enum FieldType : std::uint16_t {
    kByte = 1,
    kAscii = 2,
    kShort = 3,
    kLong = 4,
    kRational = 5,
    kUndefined = 7,
    kSRational = 10
};

void put16(std::vector<std::uint8_t>& out, std::size_t at, std::uint16_t v) {
    out[at] = static_cast<std::uint8_t>(v);
    out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void append32(std::vector<std::uint8_t>& data, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) data.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// One image file directory. Values of more than four bytes are stored right
// after the entry table, each starting on an even offset as TIFF requires.
class Ifd {
  public:
    // Adding a tag again replaces its value (offsets are filled in late).
    void raw(std::uint16_t tag, FieldType type, std::uint32_t count,
             std::vector<std::uint8_t> data) {
        auto same = std::find_if(entries_.begin(), entries_.end(),
                                 [tag](const Entry& e) { return e.tag == tag; });
        if (same != entries_.end()) entries_.erase(same);
        entries_.push_back({tag, type, count, std::move(data)});
    }
    void shorts(std::uint16_t tag, const std::vector<std::uint16_t>& values) {
        std::vector<std::uint8_t> data;
        for (auto v : values) {
            data.push_back(static_cast<std::uint8_t>(v));
            data.push_back(static_cast<std::uint8_t>(v >> 8));
        }
        raw(tag, kShort, static_cast<std::uint32_t>(values.size()), std::move(data));
    }
    void longs(std::uint16_t tag, const std::vector<std::uint32_t>& values) {
        std::vector<std::uint8_t> data;
        for (auto v : values) append32(data, v);
        raw(tag, kLong, static_cast<std::uint32_t>(values.size()), std::move(data));
    }
    void ascii(std::uint16_t tag, const std::string& text) {
        std::vector<std::uint8_t> data(text.begin(), text.end());
        data.push_back(0);
        const auto count = static_cast<std::uint32_t>(data.size());  // before the move below
        raw(tag, kAscii, count, std::move(data));
    }
    void rationals(std::uint16_t tag, const std::vector<double>& values) {
        std::vector<std::uint8_t> data;
        for (double v : values) {
            const auto [num, den] = toRational(v);
            append32(data, num);
            append32(data, den);
        }
        raw(tag, kRational, static_cast<std::uint32_t>(values.size()), std::move(data));
    }
    // Signed fractions over a fixed 10^6: matrices need no more precision.
    void srationals(std::uint16_t tag, const std::vector<double>& values) {
        std::vector<std::uint8_t> data;
        for (double v : values) {
            append32(data,
                     static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lround(v * 1e6))));
            append32(data, 1000000u);
        }
        raw(tag, kSRational, static_cast<std::uint32_t>(values.size()), std::move(data));
    }

    std::size_t size() const {
        std::size_t total = 2 + 12 * entries_.size() + 4;
        for (const auto& e : entries_)
            if (e.data.size() > 4) total += (e.data.size() + 1) & ~std::size_t{1};
        return total;
    }

    void write(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t nextIfd) {
        std::sort(entries_.begin(), entries_.end(),
                  [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
        put16(out, at, static_cast<std::uint16_t>(entries_.size()));
        std::size_t dataAt = at + 2 + 12 * entries_.size() + 4;
        std::size_t slot = at + 2;
        for (const auto& e : entries_) {
            put16(out, slot, e.tag);
            put16(out, slot + 2, e.type);
            put32(out, slot + 4, e.count);
            if (e.data.size() <= 4) {
                std::copy(e.data.begin(), e.data.end(),
                          out.begin() + static_cast<std::ptrdiff_t>(slot + 8));
            } else {
                put32(out, slot + 8, static_cast<std::uint32_t>(dataAt));
                std::copy(e.data.begin(), e.data.end(),
                          out.begin() + static_cast<std::ptrdiff_t>(dataAt));
                dataAt += (e.data.size() + 1) & ~std::size_t{1};
            }
            slot += 12;
        }
        put32(out, slot, nextIfd);
    }

  private:
    struct Entry {
        std::uint16_t tag;
        FieldType type;
        std::uint32_t count;
        std::vector<std::uint8_t> data;
    };
    std::vector<Entry> entries_;
};

// XYZ -> camera matrix. The camera's primaries are those of linear sRGB, scaled
// by its channel sensitivities; a converter that inverts this to reach sRGB
// therefore applies no cross-talk between channels (only the white balance),
// and neutral stays neutral. The XYZ -> sRGB matrix is the exact inverse of the
// sRGB -> XYZ one decoders commonly use.
std::vector<double> colorMatrix() {
    const double rgbToXyz[3][3] = {{0.412453, 0.357580, 0.180423},
                                   {0.212671, 0.715160, 0.072169},
                                   {0.019334, 0.119193, 0.950227}};
    const auto& m = rgbToXyz;
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    double inverse[3][3];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            // Cofactor of m[j][i] over the determinant.
            const int r0 = (j + 1) % 3, r1 = (j + 2) % 3, c0 = (i + 1) % 3, c1 = (i + 2) % 3;
            inverse[i][j] = (m[r0][c0] * m[r1][c1] - m[r0][c1] * m[r1][c0]) / det;
        }
    }
    std::vector<double> out;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) out.push_back(inverse[i][j] / CameraModel::kWhiteBalance[i]);
    return out;
}

// One fixed time for every frame: a real bracket is shot within a second or
// two, and a fixed value keeps the files byte-identical for a given seed.
constexpr const char* kTimestamp = "2024:06:21 12:00:00";

constexpr std::size_t kStripBytes = 256 * 1024;  // strips of whole rows, about this size

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

std::pair<std::uint32_t, std::uint32_t> toRational(double value) {
    if (!(value > 0.0)) return {0, 1};
    constexpr double kMax = 4294967295.0;
    // Convergents h/k of the continued fraction; stop before a part overflows.
    double hPrev = 1, h = std::floor(value), kPrev = 0, k = 1;
    double rest = value - std::floor(value);
    while (rest > 1e-12 && std::fabs(h / k - value) > value * 1e-12) {
        const double inv = 1.0 / rest;
        const double a = std::floor(inv);
        const double hNext = a * h + hPrev, kNext = a * k + kPrev;
        if (hNext > kMax || kNext > kMax) break;
        hPrev = h, h = hNext, kPrev = k, k = kNext;
        rest = inv - a;
    }
    if (h > kMax) return {static_cast<std::uint32_t>(kMax), 1};
    return {static_cast<std::uint32_t>(h), static_cast<std::uint32_t>(k)};
}

std::string formatExposureTime(double seconds) {
    char text[64];
    if (seconds < 0.4) {
        std::snprintf(text, sizeof text, "1/%.0f s", 1.0 / seconds);
    } else {
        std::snprintf(text, sizeof text, "%.3g s", seconds);
    }
    return text;
}

std::vector<std::uint8_t> dngHeader(int width, int height, const ShotSettings& shot) {
    const auto rowBytes = static_cast<std::uint32_t>(width) * 2;
    const std::uint32_t rowsPerStrip = std::clamp<std::uint32_t>(kStripBytes / rowBytes, 1, height);
    const std::uint32_t strips = (height + rowsPerStrip - 1) / rowsPerStrip;

    Ifd exif;
    exif.rationals(33434, {shot.exposureTime});                  // ExposureTime
    exif.rationals(33437, {shot.fNumber});                       // FNumber
    exif.shorts(34855, {static_cast<std::uint16_t>(shot.iso)});  // ISOSpeedRatings
    exif.raw(36864, kUndefined, 4, {'0', '2', '3', '0'});        // ExifVersion
    exif.ascii(36867, kTimestamp);                               // DateTimeOriginal
    exif.rationals(37386, {shot.focalLengthMm});                 // FocalLength

    Ifd ifd0;
    ifd0.longs(254, {0});  // NewSubfileType: full-resolution main image
    ifd0.longs(256, {static_cast<std::uint32_t>(width)});
    ifd0.longs(257, {static_cast<std::uint32_t>(height)});
    ifd0.shorts(258, {16});     // BitsPerSample
    ifd0.shorts(259, {1});      // Compression: none
    ifd0.shorts(262, {32803});  // PhotometricInterpretation: CFA
    ifd0.ascii(271, "Orrindale");
    ifd0.ascii(272, "Synthetic");
    ifd0.longs(273, std::vector<std::uint32_t>(strips, 0));  // StripOffsets, set below
    ifd0.shorts(274, {1});                                   // Orientation: top-left
    ifd0.shorts(277, {1});                                   // SamplesPerPixel
    ifd0.longs(278, {rowsPerStrip});
    std::vector<std::uint32_t> stripBytes(strips, rowsPerStrip * rowBytes);
    stripBytes.back() = (height - (strips - 1) * rowsPerStrip) * rowBytes;
    ifd0.longs(279, stripBytes);
    ifd0.shorts(284, {1});  // PlanarConfiguration: chunky
    ifd0.ascii(305, "orrindale-make-bracket");
    ifd0.ascii(306, kTimestamp);                    // DateTime
    ifd0.shorts(33421, {2, 2});                     // CFARepeatPatternDim
    ifd0.raw(33422, kByte, 4, {0, 1, 1, 2});        // CFAPattern: R G / G B
    ifd0.longs(34665, {0});                         // ExifIFD offset, set below
    ifd0.raw(50706, kByte, 4, {1, 4, 0, 0});        // DNGVersion
    ifd0.raw(50707, kByte, 4, {1, 1, 0, 0});        // DNGBackwardVersion
    ifd0.ascii(50708, "Orrindale Synthetic");       // UniqueCameraModel
    ifd0.longs(50714, {CameraModel::kBlackLevel});  // BlackLevel
    ifd0.longs(50717, {CameraModel::kWhiteLevel});  // WhiteLevel
    ifd0.srationals(50721, colorMatrix());          // ColorMatrix1
    const auto& wb = CameraModel::kWhiteBalance;
    ifd0.rationals(50728, {1.0 / wb[0], 1.0 / wb[1], 1.0 / wb[2]});  // AsShotNeutral
    ifd0.shorts(50778, {21});                                        // CalibrationIlluminant1: D65

    // Layout: header, IFD0 and its values, EXIF IFD and its values, pixels.
    // The strips follow each other without gaps: dcraw reads the whole mosaic
    // as one block from the first strip's offset. Replacing the two offset
    // tags below keeps every size, so the layout computed here stays valid.
    const std::size_t mainAt = 8;
    const std::size_t exifAt = mainAt + ifd0.size();
    const std::size_t pixelsAt = (exifAt + exif.size() + 15) & ~std::size_t{15};
    std::vector<std::uint32_t> offsets(strips);
    for (std::uint32_t i = 0; i < strips; ++i)
        offsets[i] = static_cast<std::uint32_t>(pixelsAt + static_cast<std::size_t>(i) *
                                                               rowsPerStrip * rowBytes);
    ifd0.longs(273, offsets);
    ifd0.longs(34665, {static_cast<std::uint32_t>(exifAt)});

    std::vector<std::uint8_t> out(pixelsAt, 0);
    out[0] = 'I';
    out[1] = 'I';
    put16(out, 2, 42);
    put32(out, 4, static_cast<std::uint32_t>(mainAt));
    ifd0.write(out, mainAt, 0);
    exif.write(out, exifAt, 0);
    return out;
}

void writeDng(const std::filesystem::path& path, int width, int height,
              const std::vector<std::uint16_t>& mosaic, const ShotSettings& shot) {
    const std::vector<std::uint8_t> header = dngHeader(width, height, shot);
    // Hidden (leading dot) and unique per process, so neither a file listing
    // nor a second generator writing the same folder ever picks it up.
    const std::filesystem::path temporary =
        path.parent_path() /
        ("." + path.filename().string() + "." + std::to_string(::getpid()) + ".tmp");
    auto fail = [&](const std::string& what, int error) {
        if (error == 0) error = EIO;  // a short write need not set errno
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        throw std::runtime_error(what + " " + temporary.string() + ": " + std::strerror(error));
    };

    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(temporary.c_str(), "wb"));
    if (!file) fail("cannot create", errno);
    bool ok = std::fwrite(header.data(), 1, header.size(), file.get()) == header.size();
    if constexpr (std::endian::native == std::endian::little) {
        ok = ok && std::fwrite(mosaic.data(), 2, mosaic.size(), file.get()) == mosaic.size();
    } else {
        // Byte-swap through a small buffer; DNG here is always little-endian.
        std::vector<std::uint8_t> chunk;
        for (std::size_t i = 0; ok && i < mosaic.size(); i += 65536) {
            const std::size_t n = std::min<std::size_t>(65536, mosaic.size() - i);
            chunk.resize(2 * n);
            for (std::size_t j = 0; j < n; ++j) {
                chunk[2 * j] = static_cast<std::uint8_t>(mosaic[i + j]);
                chunk[2 * j + 1] = static_cast<std::uint8_t>(mosaic[i + j] >> 8);
            }
            ok = std::fwrite(chunk.data(), 1, chunk.size(), file.get()) == chunk.size();
        }
    }
    if (!ok) fail("cannot write", errno);
    // fclose reports late write errors (full disk), so it is checked here
    // rather than left to the deleter.
    if (std::fclose(file.release()) != 0) fail("cannot write", errno);

    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    if (error) fail("cannot rename to " + path.string() + " from", error.value());
}

}  // namespace make_bracket
