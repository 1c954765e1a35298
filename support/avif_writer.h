// HDR AVIF files through libavif: BT.2100 PQ codes, BT.2020 primaries, YUV
// 4:4:4 (CICP 9/16/9), with the content light levels and an EXIF block.
#pragma once

#include "support/gfl_bitmap.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>

// The encoder's settings, measured with orrindale_bench's BM_AvifSpeed on 24
// megapixels: every speed kept the decoded PQ codes well above 45 dB PSNR of
// their source at quantizer 10 (55 dB on a textured bracket's blend, 61 on a
// grainy frame; 49 at quantizer 30), so the fastest one is taken, with
// quantizer 10's margin for finer detail than those.
struct AvifPqOptions {
    int depth = 10;      // bits per sample: 10 or 12
    int speed = 10;      // libavif's speed, 0 (slowest) .. 10 (AOM's cpu-used 9 either way)
    int quantizer = 10;  // AV1 quantizer, 0 (best) .. 63
    QByteArray exif;     // an EXIF block (see exif_block.h); empty for none
};

// MaxCLL and MaxFALL in cd/m², as the clli property states them.
struct ContentLightLevel {
    uint16_t maxCll = 0;
    uint16_t maxFall = 0;
};

// Writes `codes`, full-range R'G'B' PQ codes of `options.depth` bits, as one
// AV1 still image: the rows are made into the YUV planes on all cores, then
// AOM encodes them with a tiling fixed by the image size, so the bytes do not
// depend on the thread count. `light` is asked once every row is made.
// Through a temporary file renamed over the target once whole. Throws
// LibraryError with libavif's message, std::bad_alloc when memory runs short.
void writeAvifPq(const RgbRows& codes, const QString& path, const AvifPqOptions& options,
                 const std::function<ContentLightLevel()>& light);

// The AVIF file with a clli property (MaxCLL, MaxFALL) on its primary item:
// for libavif versions that cannot write one themselves. Throws LibraryError
// when the file's boxes are not laid out as an AVIF still image's.
QByteArray withContentLightLevel(const QByteArray& avif, const ContentLightLevel& light);
