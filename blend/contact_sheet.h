// The B&W contact sheet: every 7th pixel of the blended scene under 66
// red/green/blue mixes, each tile labelled with its weights.
#pragma once

#include "blend/blend.h"

#include <QImage>
#include <functional>
#include <vector>

constexpr int kContactStep = 7;
constexpr int kContactTiles = 66;

// Every 7th pixel of the map as a fractional image number, row-major, with
// each image's share of them (index 1..n) and the count of blended ones.
struct DecimatedMap {
    int width = 0;
    int height = 0;
    std::vector<float> positions;
    std::vector<double> contribution;
    long long blended = 0;
};

// Throws "Subscript out of range" for a level naming an image the set of n
// images does not have.
DecimatedMap decimateMap(const MapLevels& map, const std::vector<float>& tabla, int n);

// The sheet of the set's frames (image 1 as it should be read) through the
// decimated map: black background, 11 x 11 tiles of which the 66 whose red
// and blue leave a green weight are drawn. `tileDrawn` hears the count of
// tiles drawn after each one.
QImage drawContactSheet(const FrameSet& set, const DecimatedMap& map,
                        const std::function<void(int tiles)>& tileDrawn);
