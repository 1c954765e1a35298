// EXIF blocks: two TIFF directories laid out by hand, entries in tag order,
// values that do not fit an entry placed right after their directory.
#include "support/exif_block.h"

#include "orrindale_version.h"

#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

enum FieldType : uint16_t { kAscii = 2, kShort = 3, kLong = 4, kRational = 5, kUndefined = 7 };

struct Entry {
    uint16_t tag;
    uint16_t type;
    uint32_t count;
    QByteArray value;  // little-endian bytes
};

void put16(QByteArray& b, uint16_t v) {
    char bytes[2];
    qToLittleEndian(v, bytes);
    b.append(bytes, 2);
}
void put32(QByteArray& b, uint32_t v) {
    char bytes[4];
    qToLittleEndian(v, bytes);
    b.append(bytes, 4);
}

Entry ascii(uint16_t tag, const QString& text) {
    QByteArray bytes = text.toLatin1();
    for (char& c : bytes)
        if (static_cast<unsigned char>(c) > 126) c = '?';
    bytes.append('\0');
    return {tag, kAscii, static_cast<uint32_t>(bytes.size()), bytes};
}

Entry shortValue(uint16_t tag, uint16_t v) {
    QByteArray b;
    put16(b, v);
    return {tag, kShort, 1, b};
}

// The nearest fraction with a denominator up to 10^6 (continued fractions):
// 1/250 s stays 1/250, f/5.6 becomes 28/5.
Entry rational(uint16_t tag, double v) {
    uint64_t h0 = 0, h1 = 1, k0 = 1, k1 = 0;
    double x = v;
    for (int i = 0; i < 40; ++i) {
        const double a = std::floor(x);
        const uint64_t h = static_cast<uint64_t>(a) * h1 + h0,
                       k = static_cast<uint64_t>(a) * k1 + k0;
        if (k > 1000000 || h > 0xFFFFFFFFu) break;
        h0 = h1, h1 = h, k0 = k1, k1 = k;
        if (x - a < 1e-9) break;
        x = 1 / (x - a);
    }
    QByteArray b;
    put32(b, static_cast<uint32_t>(h1));
    put32(b, static_cast<uint32_t>(std::max<uint64_t>(k1, 1)));
    return {tag, kRational, 1, b};
}

// A directory at `offset` in the block, its long values right behind it.
QByteArray directory(std::vector<Entry> entries, uint32_t offset) {
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
    QByteArray ifd, data;
    uint32_t dataOffset = offset + 2 + 12 * static_cast<uint32_t>(entries.size()) + 4;
    put16(ifd, static_cast<uint16_t>(entries.size()));
    for (const Entry& e : entries) {
        put16(ifd, e.tag);
        put16(ifd, e.type);
        put32(ifd, e.count);
        if (e.value.size() <= 4) {
            ifd.append(e.value);
            ifd.append(4 - static_cast<int>(e.value.size()), '\0');
        } else {
            put32(ifd, dataOffset + static_cast<uint32_t>(data.size()));
            data.append(e.value);
            if (data.size() % 2) data.append('\0');  // values start on a word boundary
        }
    }
    put32(ifd, 0);  // no next directory
    return ifd + data;
}

}  // namespace

QByteArray exifBlock(const TiffTags& tags) {
    std::vector<Entry> image, exif;
    if (!tags.description.isEmpty()) image.push_back(ascii(0x010E, tags.description));
    if (!tags.make.isEmpty()) image.push_back(ascii(0x010F, tags.make));
    if (!tags.model.isEmpty()) image.push_back(ascii(0x0110, tags.model));
    image.push_back(ascii(0x0131, QStringLiteral("Orrindale " ORRINDALE_VERSION)));
    if (!tags.dateTime.isEmpty()) {
        image.push_back(ascii(0x0132, tags.dateTime));
        exif.push_back(ascii(0x9003, tags.dateTime));
    }
    exif.push_back({0x9000, kUndefined, 4, QByteArray("0230", 4)});
    if (tags.exif.exposureTime) exif.push_back(rational(0x829A, *tags.exif.exposureTime));
    if (tags.exif.fNumber) exif.push_back(rational(0x829D, *tags.exif.fNumber));
    if (tags.exif.iso)
        exif.push_back(
            shortValue(0x8827, static_cast<uint16_t>(std::clamp(*tags.exif.iso, 0, 65535))));
    if (tags.exif.focalLength) exif.push_back(rational(0x920A, *tags.exif.focalLength));

    // The EXIF directory follows the first one, whose size is known once its
    // pointer entry is counted.
    constexpr uint32_t kFirst = 8;
    image.push_back({0x8769, kLong, 1, QByteArray(4, '\0')});
    const auto exifOffset = static_cast<uint32_t>(kFirst + directory(image, kFirst).size());
    image.back().value.clear();
    put32(image.back().value, exifOffset);

    QByteArray block("II*\0", 4);
    put32(block, kFirst);
    block.append(directory(image, kFirst));
    block.append(directory(exif, exifOffset));
    return block;
}
