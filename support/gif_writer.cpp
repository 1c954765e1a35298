// GIF encoding on giflib, written through QSaveFile so a failed save never
// leaves a broken file and the file gets the usual permissions.
#include "support/gif_writer.h"

#include "support/errors.h"
#include "support/gif_lzw.h"
#include "support/image_memory.h"

#include <gif_lib.h>
#include <unistd.h>

#include <QHash>
#include <QSaveFile>
#include <algorithm>
#include <memory>
#include <vector>

namespace {

struct GifCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        EGifCloseFile(gif, &error);
    }
};
struct MapFree {
    void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};

[[noreturn]] void gifFailure(int code, const QString& path) {
    if (code == E_GIF_ERR_NOT_ENOUGH_MEM)
        throw RunError(kErrOutOfMemory, QStringLiteral("Out of memory"));
    const char* text = GifErrorString(code);
    throw RunError(kErrFileAccess, QString::fromLatin1(text ? text : "GIF error") +
                                       QStringLiteral(": ") + path);
}

// Colour pictures: an exact palette when at most 256 colours are used, a
// quantised one otherwise.
void indexColours(const QImage& picture, std::vector<GifByteType>& indexes,
                  std::vector<GifColorType>& palette) {
    const int width = picture.width(), height = picture.height();
    QHash<QRgb, int> exact;
    bool fits = true;
    for (int y = 0; fits && y < height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            const QRgb c = line[x] & 0xFFFFFF;
            auto it = exact.constFind(c);
            if (it == exact.constEnd()) {
                if (exact.size() == 256) {
                    fits = false;
                    break;
                }
                it = exact.insert(c, exact.size());
                palette.push_back({static_cast<GifByteType>(qRed(c)),
                                   static_cast<GifByteType>(qGreen(c)),
                                   static_cast<GifByteType>(qBlue(c))});
            }
            indexes[static_cast<size_t>(y) * width + x] = static_cast<GifByteType>(it.value());
        }
    }
    if (!fits) {
        std::vector<GifByteType> r(indexes.size()), g(indexes.size()), b(indexes.size());
        for (int y = 0; y < height; ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
            for (int x = 0; x < width; ++x) {
                const size_t i = static_cast<size_t>(y) * width + x;
                r[i] = static_cast<GifByteType>(qRed(line[x]));
                g[i] = static_cast<GifByteType>(qGreen(line[x]));
                b[i] = static_cast<GifByteType>(qBlue(line[x]));
            }
        }
        int size = 256;
        palette.assign(256, GifColorType{0, 0, 0});
        if (GifQuantizeBuffer(static_cast<unsigned>(width), static_cast<unsigned>(height), &size,
                              r.data(), g.data(), b.data(), indexes.data(),
                              palette.data()) == GIF_ERROR)
            throw RunError(kErrGeneric, QStringLiteral("GIF colour quantisation failed"));
        palette.resize(static_cast<size_t>(size));
    }
}

}  // namespace

void writeGif(const QImage& source, const QString& path) {
    const int width = source.width(), height = source.height();
    if (width <= 0 || height <= 0 || width > 65535 || height > 65535)
        throw RunError(kErrInvalidArgument, QStringLiteral("Invalid GIF size"));

    std::vector<GifByteType> indexes(static_cast<size_t>(width) * height);
    std::vector<GifColorType> palette;
    if (source.format() == QImage::Format_Grayscale8) {
        // Grey pictures fit 256 entries: the palette is the levels in use.
        std::vector<int> slot(256, -1);
        for (int y = 0; y < height; ++y) {
            const uchar* line = source.constScanLine(y);
            for (int x = 0; x < width; ++x) slot[line[x]] = 0;
        }
        for (int level = 0; level < 256; ++level)
            if (slot[static_cast<size_t>(level)] == 0) {
                slot[static_cast<size_t>(level)] = static_cast<int>(palette.size());
                const auto g = static_cast<GifByteType>(level);
                palette.push_back({g, g, g});
            }
        for (int y = 0; y < height; ++y) {
            const uchar* line = source.constScanLine(y);
            GifByteType* out = indexes.data() + static_cast<size_t>(y) * width;
            for (int x = 0; x < width; ++x) out[x] = static_cast<GifByteType>(slot[line[x]]);
        }
    } else {
        indexColours(convertedImage(source, QImage::Format_RGB32), indexes, palette);
    }
    // giflib wants a power-of-two palette of at least 2 entries.
    int mapSize = 2;
    while (mapSize < static_cast<int>(palette.size())) mapSize *= 2;
    palette.resize(static_cast<size_t>(mapSize), GifColorType{0, 0, 0});
    std::unique_ptr<ColorMapObject, MapFree> map(GifMakeMapObject(mapSize, palette.data()));
    if (!map) throw RunError(kErrOutOfMemory, QStringLiteral("Out of memory"));

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw RunError(kErrFileAccess, file.errorString() + QStringLiteral(": ") + path);
    // giflib closes the descriptor it gets; QSaveFile keeps its own.
    const int fd = dup(file.handle());
    if (fd < 0) throw RunError(kErrFileAccess, QStringLiteral("Cannot write ") + path);
    int error = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(EGifOpenFileHandle(fd, &error));
    if (!gif) {
        close(fd);
        gifFailure(error, path);
    }
    if (EGifPutScreenDesc(gif.get(), width, height, GifBitSize(mapSize), 0, map.get()) ==
            GIF_ERROR ||
        EGifPutImageDesc(gif.get(), 0, 0, width, height, false, nullptr) == GIF_ERROR)
        gifFailure(gif->Error, path);
    // The image data coded on all cores, handed to giflib in its 255-byte blocks.
    const int minCodeSize = std::max(2, GifBitSize(mapSize));
    const std::vector<uint8_t> coded = gifLzwEncode(indexes.data(), indexes.size(), minCodeSize);
    GifByteType block[256];
    for (size_t at = 0; at < coded.size(); at += 255) {
        const size_t n = std::min<size_t>(255, coded.size() - at);
        block[0] = static_cast<GifByteType>(n);
        std::copy_n(coded.data() + at, n, block + 1);
        const int put = at == 0 ? EGifPutCode(gif.get(), minCodeSize, block)
                                : EGifPutCodeNext(gif.get(), block);
        if (put == GIF_ERROR) gifFailure(gif->Error, path);
    }
    if (EGifPutCodeNext(gif.get(), nullptr) == GIF_ERROR) gifFailure(gif->Error, path);
    GifFileType* raw = gif.release();
    if (EGifCloseFile(raw, &error) == GIF_ERROR) gifFailure(error, path);
    if (!file.commit()) throw RunError(kErrFileAccess, file.errorString() + QStringLiteral(": ") + path);
}
