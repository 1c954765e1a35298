// Test helpers for the exposure analysis: synthetic exposure brackets, TIFF
// sets on disk, and numbers written the way the status log writes them.
#pragma once

#include "support/gfl_bitmap.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

// One frame of a static scene at `gain` times the base exposure: a smooth
// radiance field spanning about ten stops, shot noise of about 1 % and a
// sensor that saturates at 62000 (everything above reads 65535).
GflBitmap bracketFrame(int width, int height, double gain, uint32_t noiseSeed);

// An image whose every pixel is (r, g, b).
GflBitmap uniformBitmap(int width, int height, uint16_t r, uint16_t g, uint16_t b);

// Writes each image as an uncompressed 16-bit RGB TIFF named names[i] in
// `folder` (which ends in "/").
void writeTiffSet(const QString& folder, const QStringList& names,
                  const std::vector<GflBitmap>& images);

// Writes `count` bracket frames two stops apart, darkest first, as IMG_1.tiff,
// IMG_2.tiff, ... in `folder` and returns the RAW names they stand for
// (IMG_1.CR2, ...).
QStringList writeBracketSet(const QString& folder, int count, int width, int height,
                            uint32_t firstSeed);

// A decimal number as the log writes it in the system locale, from its "."
// form: dec("8.1") is "8,1" in a comma locale.
QString dec(const char* pointForm);
