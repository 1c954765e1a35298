// Descriptive tags of TIFF files (ICC profile, camera, date, description, EXIF),
// and the libtiff set-up every TIFF file shares: its own message handlers.
#include "support/tiff_tags.h"

#include "support/tiff_internal.h"
#include "support/tiff_io.h"

#include <tiffio.h>

#include <QByteArray>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <new>
#include <optional>

using tiff_internal::fail;
using tiff_internal::Messages;
using tiff_internal::openTiff;
using tiff_internal::TiffPtr;

namespace {

int onError(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
    auto* messages = static_cast<Messages*>(user);
    if (errno == ENOMEM) messages->memoryShort = true;
    if (messages->firstError.isEmpty()) {
        char text[1024];
        std::vsnprintf(text, sizeof text, fmt, ap);
        messages->firstError = (module && *module)
                                   ? QString::fromLocal8Bit(module) + QStringLiteral(": ") +
                                         QString::fromLocal8Bit(text)
                                   : QString::fromLocal8Bit(text);
    }
    return 1;  // handled: nothing reaches stderr
}

int onWarning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

void setText(TIFF* t, uint32_t tag, const QString& text) {
    if (!text.isEmpty()) TIFFSetField(t, tag, text.toUtf8().constData());
}

QString textField(TIFF* t, uint32_t tag) {
    const char* text = nullptr;
    if (!TIFFGetField(t, tag, &text) || !text) return {};
    return QString::fromUtf8(text).trimmed();
}

std::optional<double> positive(double v) {
    return std::isfinite(v) && v > 0 ? std::optional<double>(v) : std::nullopt;
}

// A rational EXIF value. libtiff hands some rationals out as float and others
// as double, and has changed which between versions: its field table says.
std::optional<double> rationalField(TIFF* t, uint32_t tag) {
    const TIFFField* field = TIFFFieldWithTag(t, tag);
    if (!field) return std::nullopt;
    if (TIFFFieldSetGetSize(field) == sizeof(float)) {
        float v = 0;
        return TIFFGetField(t, tag, &v) ? positive(v) : std::nullopt;
    }
    double v = 0;
    return TIFFGetField(t, tag, &v) ? positive(v) : std::nullopt;
}

ExifShot readExif(TIFF* t, uint64_t offset) {
    ExifShot exif;
    if (!TIFFReadEXIFDirectory(t, offset)) return exif;
    exif.exposureTime = rationalField(t, EXIFTAG_EXPOSURETIME);
    exif.fNumber = rationalField(t, EXIFTAG_FNUMBER);
    exif.focalLength = rationalField(t, EXIFTAG_FOCALLENGTH);
    uint16_t count = 0;
    const uint16_t* iso = nullptr;
    if (TIFFGetField(t, EXIFTAG_ISOSPEEDRATINGS, &count, &iso) && count > 0 && iso && iso[0] > 0)
        exif.iso = iso[0];
    return exif;
}

}  // namespace

namespace tiff_internal {

OptionsPtr messageOptions(Messages& messages) {
    initTiffLibrary();
    OptionsPtr options(TIFFOpenOptionsAlloc());
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), onError, &messages);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), onWarning, &messages);
    return options;
}

TiffPtr openTiff(const QString& path, const char* mode, Messages& messages) {
    const OptionsPtr options = messageOptions(messages);
    errno = 0;  // an older ENOMEM must not make a bad file look like a full memory
    TiffPtr tif(TIFFOpenExt(QFile::encodeName(path).constData(), mode, options.get()));
    // A file that could not be mapped is read instead; that failure is no error.
    if (!messages.memoryShort) errno = 0;
    return tif;
}

[[noreturn]] void fail(const Messages& messages, const QString& fallback) {
    if (messages.memoryShort) throw std::bad_alloc();
    throw TiffError(messages.firstError.isEmpty() ? fallback : messages.firstError);
}

uint64_t writeExifDirectory(TIFF* t, const ExifShot& exif, const Messages& messages) {
    if (TIFFCreateEXIFDirectory(t) != 0)  // 0 is success here
        fail(messages, QStringLiteral("Cannot start the EXIF directory"));
    // An EXIF directory must state its version; 2.3 defines every field here.
    TIFFSetField(t, EXIFTAG_EXIFVERSION, "0230");
    if (exif.exposureTime) TIFFSetField(t, EXIFTAG_EXPOSURETIME, *exif.exposureTime);
    if (exif.fNumber) TIFFSetField(t, EXIFTAG_FNUMBER, *exif.fNumber);
    if (exif.iso) {
        // The field is 16 bits; EXIF reads 65535 as "this or more".
        const auto iso = static_cast<uint16_t>(std::clamp(*exif.iso, 0, 65535));
        TIFFSetField(t, EXIFTAG_ISOSPEEDRATINGS, uint16_t{1}, &iso);
    }
    if (exif.focalLength) TIFFSetField(t, EXIFTAG_FOCALLENGTH, *exif.focalLength);
    uint64_t offset = 0;
    if (!TIFFWriteCustomDirectory(t, &offset) || offset == 0)
        fail(messages, QStringLiteral("Cannot write the EXIF directory"));
    // TIFFCreateDirectory clears the fields without freeing the EXIF values.
    TIFFFreeDirectory(t);
    if (TIFFCreateDirectory(t) != 0) fail(messages, QStringLiteral("Cannot start the image"));
    return offset;
}

void setDescriptiveFields(TIFF* t, const TiffTags& tags, uint64_t exifOffset) {
    setText(t, TIFFTAG_MAKE, tags.make);
    setText(t, TIFFTAG_MODEL, tags.model);
    setText(t, TIFFTAG_DATETIME, tags.dateTime);
    setText(t, TIFFTAG_IMAGEDESCRIPTION, tags.description);
    if (!tags.iccProfile.isEmpty())
        TIFFSetField(t, TIFFTAG_ICCPROFILE, static_cast<uint32_t>(tags.iccProfile.size()),
                     tags.iccProfile.constData());
    if (exifOffset != 0) TIFFSetField(t, TIFFTAG_EXIFIFD, exifOffset);
}

}  // namespace tiff_internal

void initTiffLibrary() {
    static std::once_flag silenceGlobal;
    std::call_once(silenceGlobal, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
}

TiffTags readTiffTags(const QString& path) {
    Messages messages;
    TiffPtr tif = openTiff(path, "r", messages);
    if (!tif) fail(messages, QStringLiteral("Cannot open ") + path);
    TIFF* t = tif.get();
    TiffTags tags;
    uint32_t iccSize = 0;
    const void* icc = nullptr;
    if (TIFFGetField(t, TIFFTAG_ICCPROFILE, &iccSize, &icc) && icc && iccSize > 0)
        tags.iccProfile =
            QByteArray(static_cast<const char*>(icc), static_cast<qsizetype>(iccSize));
    tags.make = textField(t, TIFFTAG_MAKE);
    tags.model = textField(t, TIFFTAG_MODEL);
    tags.dateTime = textField(t, TIFFTAG_DATETIME);
    tags.description = textField(t, TIFFTAG_IMAGEDESCRIPTION);
    // Last: reading the EXIF directory replaces the image directory's fields.
    uint64_t exifOffset = 0;
    if (TIFFGetField(t, TIFFTAG_EXIFIFD, &exifOffset) && exifOffset != 0)
        tags.exif = readExif(t, exifOffset);
    return tags;
}
