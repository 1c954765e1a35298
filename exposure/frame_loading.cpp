// Decoding a set's TIFFs in parallel; the load that reports them takes them
// over in set order, so the set is that of a file-by-file load.
#include "exposure/frame_loading.h"

#include "support/parallel.h"

namespace {

// Takes the frame decoded ahead for this file, when it is still that file.
bool takePreloaded(FrameCandidate& c, std::vector<TIFFPrecargado>& preloaded) {
    for (TIFFPrecargado& p : preloaded) {
        if (p.path != c.path || p.image.empty()) continue;
        const FileStamp now = fileStamp(c.path);
        if (!now.valid || now != p.stamp) return false;
        c.stamp = now;
        c.image = std::move(p.image);
        return true;
    }
    return false;
}

}  // namespace

std::vector<FrameCandidate> listFrameCandidates(const QString& folder, const QStringList& archivosRAW,
                                                const QString& tiffFolder) {
    std::vector<FrameCandidate> candidates;
    for (const QString& raw : archivosRAW) {
        FrameCandidate c;
        try {
            c.path = tiffDeRaw(folder + raw, tiffFolder);
        } catch (...) {
            c.badName = std::current_exception();
            candidates.push_back(std::move(c));
            break;
        }
        c.exists = ExisteArchivo(c.path);
        candidates.push_back(std::move(c));
    }
    return candidates;
}

void decodeFrameCandidates(std::vector<FrameCandidate>& candidates,
                           std::vector<TIFFPrecargado>& preloaded,
                           const std::function<void(int percent)>& progress) {
    std::vector<FrameCandidate*> present;
    for (FrameCandidate& c : candidates)
        if (c.exists && !takePreloaded(c, preloaded)) present.push_back(&c);
    std::vector<TIFFPrecargado>().swap(preloaded);
    // One band per file: as many files at once as there are worker threads.
    SharedProgress shared(static_cast<long long>(present.size()), progress);
    parallelRows(static_cast<int>(present.size()), 1, [&](const RowBand& band) {
        for (int i = band.begin; i < band.end; ++i) {
            FrameCandidate& c = *present[static_cast<size_t>(i)];
            c.stamp = fileStamp(c.path);
            c.io = loadBitmapQuiet(c.path, c.image);
            shared.done();
        }
    });
    shared.finish();
}
