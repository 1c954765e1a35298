// Decoding the developed TIFFs of a set: one candidate per RAW file, decoded
// in parallel, each taken from a frame decoded ahead when that is still the
// file on disk.
#pragma once

#include "support/gfl_bitmap.h"
#include "support/paths.h"

#include <QString>
#include <QStringList>
#include <exception>
#include <functional>
#include <vector>

// A TIFF decoded ahead of the load that needs it (while the rest of its set
// was still developing), with the version of the file it was decoded from.
struct TIFFPrecargado {
    QString path;
    FileStamp stamp;
    GflBitmap image;
};

// Files decoded ahead: the next load takes each one whose file is still the
// version decoded, instead of reading it again, and then drops them.
struct PreloadedFrames {
    std::vector<TIFFPrecargado> TIFFsPrecargados;
};

// One RAW file's TIFF as the load finds it.
struct FrameCandidate {
    QString path;
    bool exists = false;
    FileStamp stamp;             // taken before decoding: a file changed meanwhile reloads later
    std::exception_ptr badName;  // the RAW name had no extension
    GflBitmap image;
    BitmapIoResult io;
};

// The entries a file-by-file load would reach, up to and including the first
// RAW name that cannot be turned into a TIFF path. `tiffFolder` empty: the
// TIFFs lie beside the RAW files.
std::vector<FrameCandidate> listFrameCandidates(const QString& folder, const QStringList& archivosRAW,
                                                const QString& tiffFolder);

// Decodes every existing candidate, as many files at once as there are worker
// threads, taking frames decoded ahead where they are still the file on disk.
// `preloaded` is emptied: those not taken are stale or not of this set.
// `progress` hears the share of files done (0..100) on the calling thread.
void decodeFrameCandidates(std::vector<FrameCandidate>& candidates,
                           std::vector<TIFFPrecargado>& preloaded,
                           const std::function<void(int percent)>& progress);
