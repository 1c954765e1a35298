// Fuzz target: the blend's map decoding (loadMapLevels), PNG, GIF and TIFF
// maps, checked against what the blend and the contact sheet then rely on.
#include "blend/blend.h"
#include "fuzz/fuzz_common.h"
#include "support/errors.h"

#include <QImageReader>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    startQt(argc, argv);
    return 0;
}

namespace {

void decode(const QString& path, QSize expected, bool keepColours) {
    MapLevels map;
    try {
        map = loadMapLevels(path, expected, keepColours);
    } catch (const RunError&) {
        return;
    }
    if (QSize(map.width, map.height) != expected) {
        require(map.red.empty(), "a map of another size has no levels");
        return;
    }
    require(map.red.size() == static_cast<size_t>(map.width) * map.height, "one level per pixel");
    if (keepColours) {
        require(map.colours.size() == expected, "the colours have the map's size");
        require(map.colours.format() == QImage::Format_Grayscale8 ||
                    map.colours.format() == QImage::Format_RGB32,
                "the colours are grey or RGB32, as the progressive map reads them");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString path = scratchFile(data, size);
    // The seeds' size, so mutated maps of it decode all the way.
    decode(path, QSize(24, 16), true);
    // And the size the header claims, as a set of that size would expect,
    // while it stays small enough for thousands of runs a second.
    const QSize claimed = QImageReader(path).size();
    if (claimed.isValid() && static_cast<long long>(claimed.width()) * claimed.height() <= 1 << 16)
        decode(path, claimed, false);
    return 0;
}
