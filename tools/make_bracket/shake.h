// Handheld brackets: a seeded rigid move per frame, the frames rendered as a
// moved camera sees the scene, and the true moves written beside them.
#pragma once

#include "scene.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace make_bracket {

// Photosite (x, y) of a moved frame sees what the still frame sees at
// R(degrees) ((x, y) - c) + c + (dx, dy), c = ((W - 1) / 2, (H - 1) / 2), with x
// to the right and y down: the alignment's convention.
struct FrameMove {
    double dx = 0.0;
    double dy = 0.0;
    double degrees = 0.0;
};

// One move per exposure index: none for index 0 (the least exposed), for the
// others a shift of up to maxShift photosites in any direction and a turn of
// up to maxDegrees either way, drawn from the seed.
std::vector<FrameMove> drawMoves(int count, double maxShift, double maxDegrees, std::uint64_t seed);

// Expected photo-electrons per photosite of a frame moved by `move`, as
// referenceElectrons gives them for a still one.
std::vector<float> movedElectrons(const Scene& scene, int width, int height, const FrameMove& move);

// "shake.txt": one line "<file name> <dx> <dy> <deg>" per frame, in file order.
void writeShakeFile(const std::filesystem::path& path, const std::vector<std::string>& names,
                    const std::vector<FrameMove>& moves);

}  // namespace make_bracket
