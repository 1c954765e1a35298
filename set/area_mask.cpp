// Growing, shrinking and splitting area masks.
//
// A disc is grown in two passes, exact in integers: down and up each column,
// the distance g to the nearest on sample of that column; then along each row,
// every sample with g <= r switches on the run of the row that the disc's
// chord at height g covers, |dx| <= floor(sqrt(r^2 - g^2)). Those chords are
// the disc, so the result is a sample-by-sample test over the disc, at a cost
// that does not grow with r.
#include "set/area_mask.h"

#include "support/parallel.h"

#include <algorithm>
#include <numeric>

namespace {

// Columns per parallel band in the column pass; rows per band in the row pass.
constexpr int kColumnBand = 256;
constexpr int kRowBand = 16;

// floor(sqrt(r^2 - g^2)) for g = 0..r.
std::vector<int> chordHalfWidths(int r) {
    std::vector<int> half(static_cast<size_t>(r) + 1);
    for (int g = 0; g <= r; ++g) {
        int w = 0;
        while ((w + 1) * (w + 1) + g * g <= r * r) ++w;
        half[static_cast<size_t>(g)] = w;
    }
    return half;
}

}  // namespace

void dilateArea(AreaMask& mask, int r) {
    if (r <= 0 || mask.on.empty()) return;
    const int w = mask.width, h = mask.height;
    // Vertical distance to the nearest on sample, r + 1 for "further than r".
    std::vector<uint16_t> g(mask.on.size());
    const uint16_t far = static_cast<uint16_t>(std::min(r + 1, 65535));
    parallelRows(w, kColumnBand, [&](const RowBand& band) {
        const int count = band.end - band.begin;
        std::vector<uint16_t> run(static_cast<size_t>(count), far);
        for (int y = 0; y < h; ++y) {
            const uint8_t* in = mask.on.data() + static_cast<size_t>(y) * w + band.begin;
            uint16_t* out = g.data() + static_cast<size_t>(y) * w + band.begin;
            for (int i = 0; i < count; ++i) {
                run[static_cast<size_t>(i)] =
                    in[i] ? 0 : std::min<uint16_t>(far, run[static_cast<size_t>(i)] + 1);
                out[i] = run[static_cast<size_t>(i)];
            }
        }
        std::fill(run.begin(), run.end(), far);
        for (int y = h - 1; y >= 0; --y) {
            const uint8_t* in = mask.on.data() + static_cast<size_t>(y) * w + band.begin;
            uint16_t* out = g.data() + static_cast<size_t>(y) * w + band.begin;
            for (int i = 0; i < count; ++i) {
                run[static_cast<size_t>(i)] =
                    in[i] ? 0 : std::min<uint16_t>(far, run[static_cast<size_t>(i)] + 1);
                out[i] = std::min(out[i], run[static_cast<size_t>(i)]);
            }
        }
    });
    const std::vector<int> half = chordHalfWidths(r);
    parallelRows(h, kRowBand, [&](const RowBand& band) {
        std::vector<int32_t> starts(static_cast<size_t>(w) + 1);
        for (int y = band.begin; y < band.end; ++y) {
            std::fill(starts.begin(), starts.end(), 0);
            const uint16_t* gy = g.data() + static_cast<size_t>(y) * w;
            for (int x = 0; x < w; ++x) {
                if (gy[x] > r) continue;
                const int reach = half[gy[x]];
                ++starts[static_cast<size_t>(std::max(0, x - reach))];
                --starts[static_cast<size_t>(std::min(w, x + reach + 1))];
            }
            uint8_t* out = mask.on.data() + static_cast<size_t>(y) * w;
            int32_t covering = 0;
            for (int x = 0; x < w; ++x) {
                covering += starts[static_cast<size_t>(x)];
                out[x] = covering > 0 ? 1 : 0;
            }
        }
    });
}

void erodeArea(AreaMask& mask, int r) {
    if (r <= 0) return;
    for (uint8_t& v : mask.on) v ^= 1;
    dilateArea(mask, r);
    for (uint8_t& v : mask.on) v ^= 1;
}

AreaPieces areaPieces(const AreaMask& mask) {
    const int w = mask.width, h = mask.height;
    AreaPieces pieces;
    pieces.label.assign(mask.on.size(), 0);
    // Provisional numbers row by row, joined through a union-find forest
    // whose roots are always the smallest number of their tree.
    std::vector<uint32_t> parent{0};
    auto root = [&](uint32_t a) {
        while (parent[a] != a) a = parent[a] = parent[parent[a]];
        return a;
    };
    auto join = [&](uint32_t a, uint32_t b) {
        a = root(a);
        b = root(b);
        if (a != b) parent[std::max(a, b)] = std::min(a, b);
    };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = static_cast<size_t>(y) * w + x;
            if (!mask.on[i]) continue;
            uint32_t mine = 0;
            // The neighbours already numbered: left, and the three above.
            const int dx[4] = {-1, -1, 0, 1}, dy[4] = {0, -1, -1, -1};
            for (int k = 0; k < 4; ++k) {
                const int nx = x + dx[k], ny = y + dy[k];
                if (nx < 0 || nx >= w || ny < 0) continue;
                const uint32_t other = pieces.label[static_cast<size_t>(ny) * w + nx];
                if (other == 0) continue;
                if (mine == 0)
                    mine = other;
                else
                    join(mine, other);
            }
            if (mine == 0) {
                mine = static_cast<uint32_t>(parent.size());
                parent.push_back(mine);
            }
            pieces.label[i] = mine;
        }
    // Final numbers in the order the pieces' first samples come.
    std::vector<uint32_t> number(parent.size(), 0);
    uint32_t next = 0;
    for (uint32_t& l : pieces.label) {
        if (l == 0) continue;
        const uint32_t top = root(l);
        if (number[top] == 0) {
            number[top] = ++next;
            pieces.size.push_back(0);
        }
        l = number[top];
        ++pieces.size[l - 1];
    }
    return pieces;
}
