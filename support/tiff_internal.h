// What the TIFF reader, writer and tag code share: libtiff handles that close
// themselves, and each file's libtiff messages captured and turned into exceptions.
#pragma once

#include "support/gfl_bitmap.h"
#include "support/tiff_tags.h"

#include <tiffio.h>

#include <QString>
#include <cstdint>
#include <memory>

namespace tiff_internal {

struct Messages {
    QString firstError;
    // libtiff tells a failed allocation as an error message; malloc has just
    // set errno then. Such a failure is reported as out of memory.
    bool memoryShort = false;
};

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

struct OptionsFree {
    void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

using OptionsPtr = std::unique_ptr<TIFFOpenOptions, OptionsFree>;

// Open options that send a file's libtiff errors and warnings to `messages`
// instead of stderr; `messages` must outlive the file.
OptionsPtr messageOptions(Messages& messages);

// What a TIFF's first image holds, checked against what the reader decodes.
enum class Layout { Rgb, Grey, GreyInverted, Palette };
struct Format {
    uint32_t width = 0, height = 0;
    uint16_t bits = 0, samples = 0, planar = PLANARCONFIG_CONTIG;
    Layout layout = Layout::Rgb;
    const uint16_t* palette[3] = {nullptr, nullptr, nullptr};
};

// The image's format, refused (TiffError) when the reader cannot decode it or
// when its data blocks cannot fit in a file of `fileSize` bytes: checked
// before any pixel buffer is allocated.
Format readFormat(TIFF* tif, uint64_t fileSize);

// `count` pixels of one decoded row (plane < 0: interleaved samples; else one
// plane of a planar-separate image) into 16-bit RGB, 8-bit values times 257.
void convertRun(const void* src, uint32_t count, const Format& f, int plane, uint16_t* dst);

// The whole image of an opened TIFF of format `f`, as readTiffRgb16 gives it.
GflBitmap readImage(TIFF* tif, const Format& f, const Messages& messages);

// Opens a TIFF with its own message handlers; null when libtiff refuses it,
// with the reason in `messages`.
TiffPtr openTiff(const QString& path, const char* mode, Messages& messages);

// Throws libtiff's first message as a TiffError, `fallback` when there was
// none, or std::bad_alloc when memory ran short.
[[noreturn]] void fail(const Messages& messages, const QString& fallback);

// Writes the EXIF directory and returns its offset. It goes into the file
// before the image's directory is set up, because libtiff discards the current
// directory's fields when it starts a custom one.
uint64_t writeExifDirectory(TIFF* t, const ExifShot& exif, const Messages& messages);

// The image directory's share of the tags; exifOffset 0 = no EXIF directory.
void setDescriptiveFields(TIFF* t, const TiffTags& tags, uint64_t exifOffset);

}  // namespace tiff_internal
