// The image set of one "Calc EV" run: the developed TIFF files, their decoded
// images, their order by exposure and the measured relative exposures. Owned
// by the main window and handed to the exposure, map and blend procedures.
#pragma once

#include "support/gfl_bitmap.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

// Lists are stored 0-based: image k of the set lives at index k - 1.
// OrdenExposicion holds 1-based positions, as the log and the map code count.
struct ImageSet {
    QStringList ArchivosTIFF;             // full paths, parallel to ImagenesTIFF
    std::vector<GflBitmap> ImagenesTIFF;  // decoded 16-bit RGB images
    int32_t AnchoImagen = 0, AltoImagen = 0;
    bool TIFFsCargados = false;            // ImagenesTIFF holds valid pixels of the same size
    std::vector<int16_t> OrdenExposicion;  // entry k: load position of the k-th darkest
    QString TIFFMenosExpuesto;             // full path of the least exposed TIFF
    std::vector<double> ExpRelativas;      // factor to image 1's exposure; image 1 = 1

    // Frees every image's pixels (the records stay, 0 x 0) and clears
    // TIFFsCargados. The file lists and the ranking are kept.
    void release();

    // True when the set may be read by a later stage: loaded, at least two
    // images, one path per image and every image AnchoImagen x AltoImagen.
    bool usable() const;
};
