// What one decoder process needs (memory per RAW photosite) and what the
// machine offers (cores, free memory), for running several at once.
#pragma once

#include <QString>
#include <QtGlobal>

// dcraw holds the mosaic (2 bytes a photosite) and the 4-channel 16-bit image
// it develops into (8 bytes a photosite) at the same time.
constexpr qint64 kDecoderBytesPerPixel = 10;

// Photosites of a RAW file, estimated cheaply from its first bytes: the
// largest image a TIFF-structured header declares (DNG, CR2, NEF, ARW, PEF,
// ORF ...; the main IFD chain and SubIFDs). When no such header is found, the
// file size in bytes: an upper bound whenever a photosite takes at least a
// byte, as in uncompressed RAW data. 0 for a file that cannot be read.
qint64 rawPixelEstimate(const QString& rawPath);

// MemAvailable of /proc/meminfo in bytes; -1 when it cannot be read.
qint64 availableMemoryBytes();

// Cores this process may run on (at least 1).
int availableCores();
