// The disc mask, anti-ghosting (a minimum over the disc) and progressive
// borders (a mean over the disc), with the decoding table.
//
// Both filters walk the disc column by column: for column offset dx the disc
// holds the rows |dy| <= v(dx). Growing a vertical window over h = 0..r rows
// each side, one pass adds rows y - h and y + h, and every dx with v(dx) = h
// takes the window as it stands, shifted by dx. That is (4r + 1) passes over a
// row of bytes per output row, whatever the pixel, with integer minimums and
// sums: the very values of a pixel-by-pixel walk over the disc.
#include "maps/maps.h"

#include "support/errors.h"
#include "support/numbers.h"
#include "support/parallel.h"

#include <algorithm>
#include <cstring>

namespace {

// Rows per parallel band, and chunks between progress read-outs.
constexpr int kBandRows = 8;
constexpr int kProgressChunks = 20;

// For each vertical half-height h = 0..r, the column offsets whose disc
// column reaches exactly h rows up and down.
std::vector<std::vector<int>> columnsByHeight(int r) {
    const int32_t limit = discLimit(r);
    std::vector<std::vector<int>> byHeight(static_cast<size_t>(r) + 1);
    for (int dx = -r; dx <= r; ++dx) {
        int h = 0;
        while (dx * dx + (h + 1) * (h + 1) <= limit) ++h;
        byHeight[static_cast<size_t>(h)].push_back(dx);
    }
    return byHeight;
}

void checkRadius(int r) {
    // (r + 1)^2 must fit the 16-bit arithmetic of the mask.
    if (r < 1 || (r + 1) * (r + 1) > 32767)
        throw RunError(kErrOverflow, QStringLiteral("Overflow"));
}

void minInto(uint8_t* __restrict out, const uint8_t* __restrict in, int count) {
    for (int i = 0; i < count; ++i) out[i] = std::min(out[i], in[i]);
}

void addInto(uint16_t* __restrict out, const uint8_t* __restrict in, int count) {
    for (int i = 0; i < count; ++i) out[i] = static_cast<uint16_t>(out[i] + in[i]);
}

void addInto(uint32_t* __restrict out, const uint16_t* __restrict in, int count) {
    for (int i = 0; i < count; ++i) out[i] += in[i];
}

ByteMap sameSize(const ByteMap& in) {
    ByteMap out;
    out.width = in.width;
    out.height = in.height;
    out.data.resize(in.data.size());
    return out;
}

}  // namespace

int32_t discLimit(int r) {
    if (r == 2) return 5;
    if (r == 3) return 10;
    if (r == 5) return 26;
    return r * r + 2 * r;
}

DiscMask GenerarMascara(int r) {
    checkRadius(r);
    DiscMask mask;
    mask.r = r;
    const int side = 2 * r + 1;
    mask.cells.assign(static_cast<size_t>(side) * side, 0);
    auto cell = [&](int a, int b) -> uint8_t& {
        return mask.cells[static_cast<size_t>(b + r) * side + (a + r)];
    };
    const int16_t outer = static_cast<int16_t>((r + 1) * (r + 1));
    for (int a = -r; a <= r; ++a)
        for (int b = -r; b <= r; ++b)
            if (static_cast<int16_t>(a * a + b * b) < outer) cell(a, b) = 1;
    // Cells the round disc keeps but these radii drop.
    auto clear = [&](int a, int b) {
        for (int sa : {-1, 1})
            for (int sb : {-1, 1}) cell(sa * a, sb * b) = 0;
    };
    if (r == 2) clear(2, 2);
    if (r == 3) {
        clear(2, 3);
        clear(3, 2);
    }
    if (r == 5) {
        clear(2, 5);
        clear(5, 2);
        clear(3, 5);
        clear(5, 3);
        clear(4, 4);
    }
    return mask;
}

ByteMap antiGhostMap(const ByteMap& in, int r, const StageProgress& progress) {
    checkRadius(r);
    const auto byHeight = columnsByHeight(r);
    ByteMap out = sameSize(in);
    const int w = in.width, h = in.height;
    parallelRowsWithProgress(h, kBandRows, kProgressChunks, [&](const RowBand& band) {
        // The vertical window's minimum, with r cells of 255 either side so
        // that columns beyond the border never win.
        std::vector<uint8_t> window(static_cast<size_t>(w) + 2 * r, 255);
        uint8_t* mid = window.data() + r;
        for (int y = band.begin; y < band.end; ++y) {
            uint8_t* o = out.data.data() + static_cast<size_t>(y) * w;
            std::memset(o, 255, static_cast<size_t>(w));
            std::memcpy(mid, in.data.data() + static_cast<size_t>(y) * w, static_cast<size_t>(w));
            for (int reach = 0; reach <= r; ++reach) {
                if (reach > 0) {
                    if (y - reach >= 0)
                        minInto(mid, in.data.data() + static_cast<size_t>(y - reach) * w, w);
                    if (y + reach < h)
                        minInto(mid, in.data.data() + static_cast<size_t>(y + reach) * w, w);
                }
                for (int dx : byHeight[static_cast<size_t>(reach)]) minInto(o, mid + dx, w);
            }
        }
    }, progress);
    return out;
}

uint8_t greyOfImage(int k, int n) {
    return static_cast<uint8_t>(roundHalfEven(static_cast<double>(k - n) * 255 / (1 - n)));
}

ByteMap progressiveGreyMap(const ByteMap& in, int r, int n, const StageProgress& progress) {
    if (n < 2 || n > 255) throw RunError(kErrInvalidArgument, QStringLiteral("Invalid image count"));
    ByteMap out = sameSize(in);
    const int w = in.width, h = in.height;
    if (r < 1) {
        uint8_t grey[256] = {};
        for (int k = 1; k <= n; ++k) grey[k] = greyOfImage(k, n);
        for (size_t i = 0; i < in.data.size(); ++i) out.data[i] = grey[in.data[i]];
        return out;
    }
    checkRadius(r);
    const auto byHeight = columnsByHeight(r);
    std::vector<int> heightOf(static_cast<size_t>(2 * r + 1));
    for (int reach = 0; reach <= r; ++reach)
        for (int dx : byHeight[static_cast<size_t>(reach)]) heightOf[static_cast<size_t>(dx + r)] = reach;

    parallelRowsWithProgress(h, kBandRows, kProgressChunks, [&](const RowBand& band) {
        // Column sums of the vertical window (at most 201 values of 255),
        // with r zero cells either side for columns beyond the border.
        std::vector<uint16_t> window(static_cast<size_t>(w) + 2 * r, 0);
        uint16_t* mid = window.data() + r;
        std::vector<uint32_t> sum(static_cast<size_t>(w));
        std::vector<int> rowsAt(static_cast<size_t>(r) + 1);       // window rows inside the image
        std::vector<int64_t> cellsBefore(static_cast<size_t>(2 * r + 2));  // prefix over dx
        for (int y = band.begin; y < band.end; ++y) {
            const uint8_t* row = in.data.data() + static_cast<size_t>(y) * w;
            for (int x = 0; x < w; ++x) mid[x] = row[x];
            std::fill(sum.begin(), sum.end(), 0u);
            int rows = 1;
            for (int reach = 0; reach <= r; ++reach) {
                if (reach > 0) {
                    if (y - reach >= 0) {
                        addInto(mid, in.data.data() + static_cast<size_t>(y - reach) * w, w);
                        ++rows;
                    }
                    if (y + reach < h) {
                        addInto(mid, in.data.data() + static_cast<size_t>(y + reach) * w, w);
                        ++rows;
                    }
                }
                rowsAt[static_cast<size_t>(reach)] = rows;
                for (int dx : byHeight[static_cast<size_t>(reach)]) addInto(sum.data(), mid + dx, w);
            }
            // Disc cells inside the image: the columns dx that stay inside,
            // each with its window's rows.
            cellsBefore[0] = 0;
            for (int i = 0; i <= 2 * r; ++i)
                cellsBefore[static_cast<size_t>(i) + 1] =
                    cellsBefore[static_cast<size_t>(i)] + rowsAt[static_cast<size_t>(heightOf[static_cast<size_t>(i)])];
            uint8_t* o = out.data.data() + static_cast<size_t>(y) * w;
            for (int x = 0; x < w; ++x) {
                const int lo = std::max(-r, -x), hi = std::min(r, w - 1 - x);
                const int64_t count = cellsBefore[static_cast<size_t>(hi + r) + 1] -
                                      cellsBefore[static_cast<size_t>(lo + r)];
                const double mean = static_cast<double>(sum[static_cast<size_t>(x)]) / static_cast<double>(count);
                o[x] = static_cast<uint8_t>(roundHalfEven((mean - n) * 255 / (1 - n)));
            }
        }
    }, progress);
    return out;
}

std::vector<float> buildTablaMapa(int n) {
    std::vector<float> table(256);
    for (int j = 0; j < 256; ++j)
        table[static_cast<size_t>(j)] = static_cast<float>(n + (1.0 - n) * j / 255);
    // Whole image numbers decode exactly.
    for (int k = 1; k <= n; ++k) table[greyOfImage(k, n)] = static_cast<float>(k);
    return table;
}
