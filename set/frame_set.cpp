// Release and sanity check of a set's frames.
#include "set/frame_set.h"

void FrameSet::release() {
    for (GflBitmap& image : ImagenesTIFF) LiberarGflBitmap(image);
    Cobertura.clear();
    TIFFsCargados = false;
}

bool FrameSet::usable() const {
    if (!TIFFsCargados || ImagenesTIFF.size() < 2 ||
        static_cast<size_t>(ArchivosTIFF.size()) != ImagenesTIFF.size())
        return false;
    if (AnchoImagen <= 0 || AltoImagen <= 0) return false;
    for (const GflBitmap& image : ImagenesTIFF)
        if (image.width != AnchoImagen || image.height != AltoImagen ||
            image.pixels.size() != image.sampleCount())
            return false;
    return true;
}
