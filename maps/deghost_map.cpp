// The deghosted map (see deghost_map.h). Everything is computed over the
// areas' box widened by the filters' radii: each filter's value at an area
// pixel depends only on pixels within its radius, so the crop gives the very
// values the whole picture would.
#include "maps/deghost_map.h"

#include "support/errors.h"
#include "support/parallel.h"

#include <algorithm>

namespace {

struct Rect {
    int left, top, right, bottom;  // right and bottom excluded
    int width() const { return right - left; }
    int height() const { return bottom - top; }
};

Rect widened(const Rect& r, int by, int w, int h) {
    return {std::max(0, r.left - by), std::max(0, r.top - by), std::min(w, r.right + by),
            std::min(h, r.bottom + by)};
}

ByteMap cropOf(const ByteMap& m, const Rect& r) {
    ByteMap out;
    out.width = r.width();
    out.height = r.height();
    out.data.resize(static_cast<size_t>(out.width) * out.height);
    for (int y = r.top; y < r.bottom; ++y)
        std::copy_n(m.data.data() + static_cast<size_t>(y) * m.width + r.left, out.width,
                    out.data.data() + static_cast<size_t>(y - r.top) * out.width);
    return out;
}

uint8_t& at(ByteMap& m, const Rect& r, int x, int y) {
    return m.data[static_cast<size_t>(y - r.top) * m.width + (x - r.left)];
}

bool allows(uint16_t bits, int k) {
    return k >= 1 && ((bits >> (k - 1)) & 1u) != 0;
}

// The map's rule among the images that agree: the most exposed one under
// the thresholds, or the least exposed that agrees when none is.
uint8_t agreeingChoice(const FrameSet& set, const std::array<int32_t, 3>& umbral, uint16_t bits,
                       int x, int y) {
    const int n = static_cast<int>(set.ImagenesTIFF.size());
    for (int k = n; k >= 2; --k) {
        if (!allows(bits, k)) continue;
        const uint16_t* p = set.ImagenesTIFF[static_cast<size_t>(k) - 1].row(y) + x * 3;
        if (p[0] <= umbral[0] && p[1] <= umbral[1] && p[2] <= umbral[2])
            return static_cast<uint8_t>(k);
    }
    for (int k = 1; k <= n; ++k)
        if (allows(bits, k)) return static_cast<uint8_t>(k);
    throw RunError(kErrInvalidArgument, QStringLiteral("No image for a moving area"));
}

// The least image number from k up that agrees (the area's own choice
// always does, so there is one).
uint8_t raisedToAgreeing(uint16_t bits, int k, int own) {
    while (k < own && !allows(bits, k)) ++k;
    return static_cast<uint8_t>(k);
}

}  // namespace

ByteMap deghostedGreyMap(const FrameSet& set, const std::array<int32_t, 3>& umbral,
                         const ByteMap& indices, const ByteMap& antiGhost, ByteMap grey,
                         const MotionAreas& areas, const MapSettings& settings) {
    if (areas.none()) return grey;
    const int n = static_cast<int>(set.ImagenesTIFF.size());
    const int w = set.AnchoImagen, h = set.AltoImagen;
    if (areas.mostDiffers) {
        std::fill(grey.data.begin(), grey.data.end(), greyOfImage(areas.references[0], n));
        return grey;
    }
    const Rect box{areas.left, areas.top, areas.left + areas.boxWidth, areas.top + areas.boxHeight};
    const int radius = settings.antiGhost + settings.progressive;
    const int p = settings.progressive;

    // The areas' own index map, the normal one around them.
    const Rect eBox = widened(box, std::max(radius, 0), w, h);
    ByteMap own = cropOf(indices, eBox);
    parallelRows(box.height(), 16, [&](const RowBand& band) {
        for (int y = box.top + band.begin; y < box.top + band.end; ++y)
            for (int x = box.left; x < box.right; ++x)
                if (const uint16_t bits = areas.allowedAt(x, y))
                    at(own, eBox, x, y) = agreeingChoice(set, umbral, bits, x, y);
    });
    const ByteMap ownGhost = radius >= 1 ? antiGhostMap(own, radius) : own;

    // Deep inside an area (its progressive disc wholly in it) the area's
    // choice; on the rim and outside, the normal map, so that the blend
    // reaches the normal map exactly at the area's edge.
    const Rect cBox = widened(box, std::max(p, 0), w, h);
    ByteMap mixed = cropOf(antiGhost, cBox);
    ByteMap inside;
    if (p >= 1) {
        inside.width = cBox.width();
        inside.height = cBox.height();
        inside.data.assign(static_cast<size_t>(inside.width) * inside.height, 1);
        for (int y = box.top; y < box.bottom; ++y)
            for (int x = box.left; x < box.right; ++x)
                if (areas.areaAt(x, y) != 0) at(inside, cBox, x, y) = 2;
        inside = antiGhostMap(inside, p);
    }
    // Per area pixel of the box: its own choice, raised to one that agrees.
    ByteMap choice;
    choice.width = box.width();
    choice.height = box.height();
    choice.data.assign(static_cast<size_t>(choice.width) * choice.height, 0);
    for (int y = box.top; y < box.bottom; ++y)
        for (int x = box.left; x < box.right; ++x) {
            const uint16_t bits = areas.allowedAt(x, y);
            if (bits == 0) continue;
            const uint8_t raised = raisedToAgreeing(
                bits,
                ownGhost.data[static_cast<size_t>(y - eBox.top) * ownGhost.width + (x - eBox.left)],
                at(own, eBox, x, y));
            at(choice, box, x, y) = raised;
            if (p < 1 || at(inside, cBox, x, y) == 2) at(mixed, cBox, x, y) = raised;
        }
    const ByteMap mixedGrey = progressiveGreyMap(mixed, p, n);

    // A blend of two images stays only where both agree.
    const std::vector<float> table = buildTablaMapa(n);
    for (int y = box.top; y < box.bottom; ++y)
        for (int x = box.left; x < box.right; ++x) {
            const uint16_t bits = areas.allowedAt(x, y);
            if (bits == 0) continue;
            uint8_t g =
                mixedGrey
                    .data[static_cast<size_t>(y - cBox.top) * mixedGrey.width + (x - cBox.left)];
            const float m = table[g];
            const int k = static_cast<int>(m);
            const bool whole = static_cast<float>(k) == m;
            if (!allows(bits, k) || (!whole && !allows(bits, k + 1)))
                g = greyOfImage(at(choice, box, x, y), n);
            grey.data[static_cast<size_t>(y) * w + x] = g;
        }
    return grey;
}
