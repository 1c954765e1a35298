// Literal, pixel-by-pixel readings of the map stages, to check the fast ones
// against, and random maps to feed both.
#pragma once

#include "pipeline/image_set.h"
#include "maps/maps.h"

#include <QString>
#include <cstdint>
#include <vector>

// Stage by stage as written: column-outer loops, the disc mask of
// GenerarMascara, the image border cut, the early stop at image 1.
ByteMap literalAntiGhost(const ByteMap& indices, int r, int n);
ByteMap literalProgressive(const ByteMap& antiGhost, int p, int n);

// A map of image numbers 1..n: random blobs (discs and bars) over a random
// base, with lone pixels sprinkled in.
ByteMap randomBlobMap(int width, int height, int n, uint32_t seed);

// An in-memory set as "Calc EV" leaves it: images in exposure order, paths
// folder + "IMG_k.tiff", image 1 = 1.0 and each next one `gap` times brighter.
ImageSet memorySet(const QString& folder, std::vector<GflBitmap> images, double gap = 4.0);
