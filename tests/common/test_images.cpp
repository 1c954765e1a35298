// Synthetic images and hand-made TIFF files for tests.
#include "tests/common/test_images.h"

#include <tiffio.h>

#include <QFile>
#include <algorithm>
#include <cmath>
#include <random>
#include <stdexcept>
#include <vector>

GflBitmap randomBitmap(int width, int height, uint32_t seed) {
    GflBitmap b;
    b.width = width;
    b.height = height;
    b.pixels.resize(b.sampleCount());
    std::mt19937 rng(seed);
    for (auto& v : b.pixels) v = static_cast<uint16_t>(rng() & 0xFFFF);
    return b;
}

GflBitmap makeBitmap(int width, int height, const std::function<double(int, int, int)>& f) {
    GflBitmap b;
    b.width = width;
    b.height = height;
    b.pixels.resize(b.sampleCount());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                b.row(y)[x * 3 + c] =
                    static_cast<uint16_t>(std::clamp(std::lround(f(x, y, c)), 0L, 65535L));
    return b;
}

void testPaletteEntry(int i, int entries, uint16_t rgb[3]) {
    // Distinct, unsorted colours, so a reader that ignores the map shows it.
    const uint32_t spread = static_cast<uint32_t>(i) * 2654435761u;
    rgb[0] = static_cast<uint16_t>(i * (65535 / (entries - 1)));
    rgb[1] = static_cast<uint16_t>(spread >> 16);
    rgb[2] = static_cast<uint16_t>(65535 - rgb[0]);
}

void writeTestTiff(const QString& path, const GflBitmap& image, const TiffLayout& layout) {
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif) throw std::runtime_error("cannot create test tiff");
    const int w = image.width, h = image.height, spp = layout.samples;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, layout.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, spp);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                 layout.palette ? PHOTOMETRIC_PALETTE
                 : spp >= 3     ? PHOTOMETRIC_RGB
                                : (layout.minIsWhite ? PHOTOMETRIC_MINISWHITE
                                                     : PHOTOMETRIC_MINISBLACK));
    if (layout.palette) {
        const int entries = 1 << layout.bits;
        std::vector<uint16_t> map[3];
        for (auto& m : map) m.resize(static_cast<size_t>(entries));
        for (int i = 0; i < entries; ++i) {
            uint16_t rgb[3];
            testPaletteEntry(i, entries, rgb);
            for (int c = 0; c < 3; ++c) map[c][static_cast<size_t>(i)] = rgb[c];
        }
        TIFFSetField(tif, TIFFTAG_COLORMAP, map[0].data(), map[1].data(), map[2].data());
    }
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG,
                 layout.separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, layout.compression);
    if (layout.floating) TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
    if (spp == 2 || spp == 4) {
        const uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    if (layout.tiled) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, 16);
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, layout.rowsPerStrip);
    }
    // Sample s of pixel (x, y) in the layout's terms.
    auto sample = [&](int x, int y, int s) -> double {
        if (s >= (spp >= 3 ? 3 : 1)) return 0x1234;  // alpha
        const int c = spp >= 3 ? s : 0;
        double v = image.row(y)[x * 3 + c];
        if (layout.minIsWhite) v = 65535 - v;
        return v;
    };
    const int planes = layout.separate ? spp : 1;
    const int perPixel = layout.separate ? 1 : spp;
    auto fill = [&](std::vector<uint8_t>& buf, int x0, int y0, int cols, int rows, int stride,
                    int plane) {
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c) {
                if (x0 + c >= w || y0 + r >= h) continue;
                for (int k = 0; k < perPixel; ++k) {
                    const int s = layout.separate ? plane : k;
                    const double v = sample(x0 + c, y0 + r, s);
                    const size_t i = static_cast<size_t>(r) * stride * perPixel +
                                     static_cast<size_t>(c) * perPixel + k;
                    if (layout.bits == 8)
                        buf[i] = static_cast<uint8_t>(static_cast<int>(v) >> 8);
                    else if (layout.bits == 16)
                        reinterpret_cast<uint16_t*>(buf.data())[i] = static_cast<uint16_t>(v);
                    else if (layout.bits == 32)
                        reinterpret_cast<float*>(buf.data())[i] = static_cast<float>(v / 65535);
                    else if (layout.bits == 1 && v >= 32768)
                        buf[r * ((stride + 7) / 8) + c / 8] |= static_cast<uint8_t>(0x80 >> (c % 8));
                }
            }
    };
    if (layout.tiled) {
        std::vector<uint8_t> tile(static_cast<size_t>(TIFFTileSize(tif)));
        for (int p = 0; p < planes; ++p)
            for (int ty = 0; ty < h; ty += 16)
                for (int tx = 0; tx < w; tx += 16) {
                    std::fill(tile.begin(), tile.end(), 0);
                    fill(tile, tx, ty, 16, 16, 16, p);
                    TIFFWriteTile(tif, tile.data(), tx, ty, 0, static_cast<uint16_t>(p));
                }
    } else {
        std::vector<uint8_t> line(static_cast<size_t>(TIFFScanlineSize(tif)));
        for (int p = 0; p < planes; ++p)
            for (int y = 0; y < h; ++y) {
                std::fill(line.begin(), line.end(), 0);
                fill(line, 0, y, w, 1, w, p);
                TIFFWriteScanline(tif, line.data(), y, static_cast<uint16_t>(p));
            }
    }
    TIFFClose(tif);
}

QByteArray headerFirstTiff(const GflBitmap& image) {
    QByteArray out;
    auto u16 = [&](uint16_t v) {
        out.append(static_cast<char>(v & 255));
        out.append(static_cast<char>(v >> 8));
    };
    auto u32 = [&](uint32_t v) {
        for (int k = 0; k < 4; ++k) out.append(static_cast<char>((v >> (8 * k)) & 255));
    };
    const uint16_t entries = 10;
    const uint32_t ifd = 8, bpsAt = ifd + 2 + entries * 12 + 4, dataAt = bpsAt + 6;
    const uint32_t bytes = static_cast<uint32_t>(image.sampleCount() * 2);
    out.append("II*", 3);
    out.append('\0');
    u32(ifd);
    u16(entries);
    auto entry = [&](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        u16(tag);
        u16(type);
        u32(count);
        if (type == 3 && count == 1) {
            u16(static_cast<uint16_t>(value));
            u16(0);
        } else {
            u32(value);
        }
    };
    entry(256, 4, 1, static_cast<uint32_t>(image.width));
    entry(257, 4, 1, static_cast<uint32_t>(image.height));
    entry(258, 3, 3, bpsAt);
    entry(259, 3, 1, 1);
    entry(262, 3, 1, 2);
    entry(273, 4, 1, dataAt);
    entry(277, 3, 1, 3);
    entry(278, 4, 1, static_cast<uint32_t>(image.height));
    entry(279, 4, 1, bytes);
    entry(284, 3, 1, 1);
    u32(0);
    u16(16);
    u16(16);
    u16(16);
    for (uint16_t v : image.pixels) u16(v);
    return out;
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write test file");
}

QByteArray readBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}
