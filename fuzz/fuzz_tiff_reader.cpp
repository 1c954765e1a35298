// Fuzz target: the TIFF reader the image set, the preview and the output
// stage's tag copy go through (readTiffRgb16, readTiffTags, tiffFileIsComplete).
#include "fuzz/fuzz_common.h"
#include "support/gfl_bitmap.h"
#include "support/tiff_io.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    startQt(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString path = scratchFile(data, size);
    // A failed load must leave the caller's record as it was.
    GflBitmap image;
    image.width = 2;
    image.height = 1;
    image.pixels.assign(6, 7);
    try {
        readTiffRgb16(path, image);
        require(image.width > 0 && image.height > 0, "a decoded image has pixels");
        require(image.pixels.size() == image.sampleCount(), "one sample per channel and pixel");
        require(static_cast<long long>(image.width) * image.height <= kMaxTiffPixels,
                "the size limit holds");
    } catch (const TiffError&) {
        require(image.width == 2 && image.height == 1 && image.pixels.size() == 6,
                "a failed load keeps the record");
    }
    try {
        (void)readTiffTags(path);
    } catch (const TiffError&) {
    }
    (void)tiffFileIsComplete(path);
    return 0;
}
