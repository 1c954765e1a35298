// Benchmark input files written straight through libtiff.
#include "bench/bench_files.h"

#include <tiffio.h>

#include <QFile>
#include <stdexcept>

void writeUncompressedTiff(const GflBitmap& image, const QString& path) {
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif) throw std::runtime_error("cannot create benchmark TIFF");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(image.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(image.height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(image.height));
    const tmsize_t bytes = static_cast<tmsize_t>(image.sampleCount() * 2);
    const bool ok =
        TIFFWriteEncodedStrip(tif, 0, const_cast<uint16_t*>(image.pixels.data()), bytes) == bytes;
    TIFFClose(tif);
    if (!ok) throw std::runtime_error("cannot write benchmark TIFF");
}
