// The frames of one set as every stage sees them: the developed TIFF files,
// their decoded images, their order by exposure, what each frame covers after
// alignment and the measured relative exposures.
#pragma once

#include "support/gfl_bitmap.h"
#include "support/paths.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

// The samples of an image that show something it saw, after it was moved
// into image 1's geometry: on row y, x from begin[y] to end[y] - 1. A moved
// frame covers one run per row (the image of a rectangle is convex). Empty
// lists mean every sample is covered.
struct CoveredRows {
    std::vector<int32_t> begin, end;

    bool all() const { return begin.empty(); }
    bool covers(int x, int y) const {
        return all() || (x >= begin[static_cast<size_t>(y)] && x < end[static_cast<size_t>(y)]);
    }
};

// Lists are stored 0-based: image k of the set lives at index k - 1.
// OrdenExposicion holds 1-based positions, as the log and the map code count.
struct FrameSet {
    QStringList ArchivosTIFF;             // full paths, parallel to ImagenesTIFF
    std::vector<GflBitmap> ImagenesTIFF;  // decoded 16-bit RGB images
    int32_t AnchoImagen = 0, AltoImagen = 0;
    bool TIFFsCargados = false;            // ImagenesTIFF holds valid pixels of the same size
    std::vector<int16_t> OrdenExposicion;  // entry k: load position of the k-th darkest
    QString TIFFMenosExpuesto;             // full path of the least exposed TIFF
    std::vector<double> ExpRelativas;      // factor to image 1's exposure; image 1 = 1
    // What each file was on disk when it was decoded, parallel to ArchivosTIFF:
    // a later reload may skip a file that has not changed since.
    std::vector<FileStamp> SellosTIFF;
    // Coverage of each image after alignment, parallel to ImagenesTIFF; empty
    // when the set was not aligned. Every load empties it.
    std::vector<CoveredRows> Cobertura;

    // Frees every image's pixels (the records stay, 0 x 0) and clears
    // TIFFsCargados. The file lists and the ranking are kept.
    void release();

    // True when the set may be read by a later stage: loaded, at least two
    // images, one path per image and every image AnchoImagen x AltoImagen.
    bool usable() const;

    // Whether the set was aligned: one coverage list per image.
    bool aligned() const { return !Cobertura.empty() && Cobertura.size() == ImagenesTIFF.size(); }
};
