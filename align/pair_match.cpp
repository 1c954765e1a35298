// Matching two frames of neighbouring exposures. The model is rigid; the
// comparison is on log luminance, where the exposure difference is one
// constant that is estimated along. Steps are inverse compositional
// Gauss-Newton: the reference's gradients stay fixed, only the frame is
// resampled, on data smoothed beforehand. Everything here runs on one
// thread: pairs are what runs in parallel, so results never depend on the
// thread count.
#include "align/pair_match.h"

#include "align/align.h"

#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Levels with more samples than this are read at every other sample.
constexpr long long kDenseSamples = 300000;

// Template samples [i0, i1) x [j0, j1) of `reference`, every `stride`-th in
// each direction, matched against `frame`.
struct Piece {
    const LumImage* reference;
    int i0, j0, i1, j1;
    const LumImage* frame;
    int stride = 1;
};

struct Sums {
    cv::Matx44d h = cv::Matx44d::zeros();
    cv::Vec4d b = cv::Vec4d::all(0);
    long long n = 0;
    double t = 0, f = 0, tt = 0, ff = 0, tf = 0;  // for the correlation

    double correlation() const {
        if (n < 2) return 0;
        const double vt = tt - t * t / n, vf = ff - f * f / n, c = tf - t * f / n;
        return vt > 0 && vf > 0 ? c / std::sqrt(vt * vf) : 0;
    }
};

// Catmull-Rom weights of the samples at -1, 0, 1, 2 for a position t in [0, 1).
inline void cubicWeights(double t, double w[4]) {
    const double t2 = t * t, t3 = t2 * t;
    w[0] = (-t3 + 2 * t2 - t) / 2;
    w[1] = (3 * t3 - 5 * t2 + 2) / 2;
    w[2] = (-3 * t3 + 4 * t2 + t) / 2;
    w[3] = (t3 - t2) / 2;
}

double cubicAt(const LumImage& f, int ix, int iy, double fx, double fy) {
    double wx[4], wy[4];
    cubicWeights(fx, wx);
    cubicWeights(fy, wy);
    double v = 0;
    for (int r = 0; r < 4; ++r) {
        const float* row = f.value.data() + f.index(ix - 1, iy - 1 + r);
        v += wy[r] * (wx[0] * row[0] + wx[1] * row[1] + wx[2] * row[2] + wx[3] * row[3]);
    }
    return v;
}

// One pass over the pieces with the warp `g` (reference position -> frame
// position) and the log offset. The rotation's column is scaled by `radius`
// so that the four unknowns are of one size. The frame is sampled bilinearly
// on the pyramid (fast, and the levels only steer) and with a cubic at full
// resolution, where the bilinear's pull towards whole pixels would show.
Sums accumulate(const std::vector<Piece>& pieces, const RigidMove& g, double offset, int width,
                int height, double radius, bool cubic) {
    const auto a = affineOf(g, width, height);
    const double cx = (width - 1) / 2.0, cy = (height - 1) / 2.0;
    Sums s;
    for (const Piece& p : pieces) {
        const LumImage& t = *p.reference;
        const LumImage& f = *p.frame;
        const double ts = t.scale, fs = f.scale;
        for (int j = p.j0; j < p.j1; j += p.stride) {
            const double uy = t.originY + ts * j;
            for (int i = p.i0; i < p.i1; i += p.stride) {
                const size_t ti = t.index(i, j);
                if (!t.usable[ti]) continue;
                const double ux = t.originX + ts * i;
                const double qx = (a[0] * ux + a[1] * uy + a[2] - f.originX) / fs;
                const double qy = (a[3] * ux + a[4] * uy + a[5] - f.originY) / fs;
                if (!(qx >= 0 && qy >= 0 && qx < f.width - 1 && qy < f.height - 1)) continue;
                const int ix = static_cast<int>(qx), iy = static_cast<int>(qy);
                const size_t fi = f.index(ix, iy);
                const size_t below = fi + static_cast<size_t>(f.width);
                if (!(f.usable[fi] & f.usable[fi + 1] & f.usable[below] & f.usable[below + 1]))
                    continue;
                const double fx = qx - ix, fy = qy - iy;
                double fv;
                if (cubic && ix >= 1 && iy >= 1 && ix + 2 < f.width && iy + 2 < f.height) {
                    fv = cubicAt(f, ix, iy, fx, fy);
                } else {
                    const double top = f.value[fi] + (f.value[fi + 1] - f.value[fi]) * fx;
                    const double bottom =
                        f.value[below] + (f.value[below + 1] - f.value[below]) * fx;
                    fv = top + (bottom - top) * fy;
                }
                const double tv = t.value[ti];
                const double gx = (t.value[ti + 1] - t.value[ti - 1]) / (2 * ts);
                const double gy =
                    (t.value[ti + static_cast<size_t>(t.width)] -
                     t.value[ti - static_cast<size_t>(t.width)]) / (2 * ts);
                const cv::Vec4d jac(gx, gy, (gy * (ux - cx) - gx * (uy - cy)) / radius, 1.0);
                const double e = fv - tv - offset;
                for (int r = 0; r < 4; ++r) {
                    s.b[r] += jac[r] * e;
                    for (int c = r; c < 4; ++c) s.h(r, c) += jac[r] * jac[c];
                }
                ++s.n;
                s.t += tv;
                s.f += fv;
                s.tt += tv * tv;
                s.ff += fv * fv;
                s.tf += tv * fv;
            }
        }
    }
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < r; ++c) s.h(r, c) = s.h(c, r);
    return s;
}

struct Steps {
    RigidMove g;
    double offset = 0;
    bool settled = false;
    double lastStep = std::numeric_limits<double>::infinity();  // corner shift of the last step
    Sums last;
};

// Gauss-Newton steps until a step moves no corner by more than `tolerance`
// pixels, at most `maxSteps` of them.
Steps iterate(const std::vector<Piece>& pieces, Steps start, int width, int height,
              double tolerance, int maxSteps, bool cubic) {
    const double radius = std::max(1.0, std::hypot(width, height) / 2);
    Steps st = start;
    st.settled = false;
    for (int k = 0; k < maxSteps; ++k) {
        st.last = accumulate(pieces, st.g, st.offset, width, height, radius, cubic);
        if (st.last.n < 8) return st;
        cv::Vec4d step;
        if (!cv::solve(st.last.h, st.last.b, step, cv::DECOMP_CHOLESKY)) return st;
        if (!std::isfinite(step[0] + step[1] + step[2] + step[3])) return st;
        const RigidMove delta{step[0], step[1], step[2] / radius};
        st.g = compose(st.g, inverse(delta));
        st.offset += step[3];
        st.lastStep = cornerShift(delta, width, height);
        if (st.lastStep < tolerance) {
            st.settled = true;
            st.last = accumulate(pieces, st.g, st.offset, width, height, radius, cubic);
            return st;
        }
    }
    return st;
}

// Whole-sample shift of the coarsest level that best matches up to an offset
// (least variance of the differences), searched as far as the largest move
// allowed, among the shifts that keep at least half the largest overlap.
// Returns false when no shift leaves enough samples in common.
bool coarseShift(const LumImage& t, const LumImage& f, int reach, int& bestX, int& bestY) {
    struct Candidate {
        int x, y;
        long long n;
        double variance;
    };
    std::vector<Candidate> candidates;
    long long most = 0;
    for (int sy = -reach; sy <= reach; ++sy)
        for (int sx = -reach; sx <= reach; ++sx) {
            long long n = 0;
            double sum = 0, squares = 0;
            for (int j = std::max(0, -sy); j < std::min(t.height, f.height - sy); ++j)
                for (int i = std::max(0, -sx); i < std::min(t.width, f.width - sx); ++i) {
                    const size_t ti = t.index(i, j), fi = f.index(i + sx, j + sy);
                    if (!(t.usable[ti] & f.usable[fi])) continue;
                    const double d = static_cast<double>(f.value[fi]) - t.value[ti];
                    ++n;
                    sum += d;
                    squares += d * d;
                }
            if (n == 0) continue;
            candidates.push_back({sx, sy, n, squares / n - (sum / n) * (sum / n)});
            most = std::max(most, n);
        }
    double best = std::numeric_limits<double>::infinity();
    for (const Candidate& c : candidates)
        if (c.n >= std::max<long long>(16, most / 2) && c.variance < best) {
            best = c.variance;
            bestX = c.x;
            bestY = c.y;
        }
    return std::isfinite(best);
}

// Texture of the reference over a tile, from the base level: the smaller
// eigenvalue of the gradients' structure tensor over samples usable in both
// frames (a tile with edges in one direction only scores low). 0 when less
// than half the tile is usable.
double tileScore(const LumImage& t, const LumImage& f, const std::array<double, 6>& a, int x0,
                 int y0, int size) {
    const int i0 = std::max(1, static_cast<int>(std::ceil((x0 - t.originX) / t.scale)));
    const int j0 = std::max(1, static_cast<int>(std::ceil((y0 - t.originY) / t.scale)));
    const int i1 = std::min(t.width - 1, static_cast<int>((x0 + size - 1 - t.originX) / t.scale) + 1);
    const int j1 = std::min(t.height - 1, static_cast<int>((y0 + size - 1 - t.originY) / t.scale) + 1);
    double xx = 0, yy = 0, xy = 0;
    long long used = 0, all = 0;
    for (int j = j0; j < j1; ++j)
        for (int i = i0; i < i1; ++i) {
            ++all;
            const size_t ti = t.index(i, j);
            if (!t.usable[ti]) continue;
            const double ux = t.originX + t.scale * i, uy = t.originY + t.scale * j;
            // The nearest frame sample (no call into the maths library: the
            // position is checked before it is truncated).
            const double qx = (a[0] * ux + a[1] * uy + a[2] - f.originX) / f.scale + 0.5;
            const double qy = (a[3] * ux + a[4] * uy + a[5] - f.originY) / f.scale + 0.5;
            if (!(qx >= 0 && qy >= 0 && qx < f.width && qy < f.height) ||
                !f.usable[f.index(static_cast<int>(qx), static_cast<int>(qy))])
                continue;
            const double gx = t.value[ti + 1] - t.value[ti - 1];
            const double gy = t.value[ti + static_cast<size_t>(t.width)] -
                              t.value[ti - static_cast<size_t>(t.width)];
            xx += gx * gx;
            yy += gy * gy;
            xy += gx * gy;
            ++used;
        }
    if (all == 0 || 2 * used < all) return 0;
    return (xx + yy) / 2 - std::sqrt((xx - yy) * (xx - yy) / 4 + xy * xy);
}

struct Tile {
    LumImage reference, frame;
    int size;
    int x0, y0;
};

// Picks the most textured tile of each cell of a grid over the frame and
// cuts its full-resolution regions out of both frames around where the
// current warp puts it.
std::vector<Tile> chooseTiles(const MatchFrame& ref, const MatchFrame& frame, const RigidMove& g) {
    const GflBitmap& image = *ref.image;
    const int width = image.width, height = image.height;
    const int size = std::clamp(std::min(width, height) / 4, 16, 64);
    const int across = std::clamp(width / (size), 1, 8);
    const int down = std::clamp(height / (size), 1, 6);
    const auto a = affineOf(g, width, height);
    constexpr int kCandidates = 4;
    // Template: the tile plus the smoothing rim and one sample for gradients.
    constexpr int kTemplateRim = 3;
    // Frame: the rim, the bilinear neighbour and room for the steps still to come.
    constexpr int kFrameRim = 8;
    std::vector<Tile> tiles;
    for (int cy = 0; cy < down; ++cy)
        for (int cx = 0; cx < across; ++cx) {
            const int cellX0 = width * cx / across, cellX1 = width * (cx + 1) / across;
            const int cellY0 = height * cy / down, cellY1 = height * (cy + 1) / down;
            double best = 0;
            int bx = 0, by = 0;
            for (int ky = 0; ky < kCandidates; ++ky)
                for (int kx = 0; kx < kCandidates; ++kx) {
                    const int x0 = std::clamp(
                        cellX0 + (cellX1 - cellX0 - size) * kx / (kCandidates - 1), 0, width - size);
                    const int y0 = std::clamp(
                        cellY0 + (cellY1 - cellY0 - size) * ky / (kCandidates - 1), 0, height - size);
                    const double score =
                        tileScore(ref.pyramid.front(), frame.pyramid.front(), a, x0, y0, size);
                    if (score > best) {
                        best = score;
                        bx = x0;
                        by = y0;
                    }
                }
            if (best <= 0) continue;
            Tile tile;
            tile.size = size;
            tile.x0 = bx;
            tile.y0 = by;
            const int rx0 = std::max(0, bx - kTemplateRim), ry0 = std::max(0, by - kTemplateRim);
            const int rx1 = std::min(width, bx + size + kTemplateRim);
            const int ry1 = std::min(height, by + size + kTemplateRim);
            tile.reference = lumRegion(image, rx0, ry0, rx1 - rx0, ry1 - ry0);
            double minX = width, minY = height, maxX = -1, maxY = -1;
            for (const double x : {double(bx), double(bx + size - 1)})
                for (const double y : {double(by), double(by + size - 1)}) {
                    const double sx = a[0] * x + a[1] * y + a[2];
                    const double sy = a[3] * x + a[4] * y + a[5];
                    minX = std::min(minX, sx);
                    maxX = std::max(maxX, sx);
                    minY = std::min(minY, sy);
                    maxY = std::max(maxY, sy);
                }
            const int fx0 = std::max(0, static_cast<int>(std::floor(minX)) - kFrameRim);
            const int fy0 = std::max(0, static_cast<int>(std::floor(minY)) - kFrameRim);
            const int fx1 = std::min(width, static_cast<int>(std::ceil(maxX)) + kFrameRim + 1);
            const int fy1 = std::min(height, static_cast<int>(std::ceil(maxY)) + kFrameRim + 1);
            if (fx1 - fx0 < 8 || fy1 - fy0 < 8) continue;
            tile.frame = lumRegion(*frame.image, fx0, fy0, fx1 - fx0, fy1 - fy0);
            tiles.push_back(std::move(tile));
        }
    return tiles;
}

}  // namespace

PyramidShape pyramidShape(int width, int height) {
    const int side = std::min(width, height);
    PyramidShape shape;
    if (side < 16) return shape;  // nothing worth a match
    shape.baseScale = side >= 128 ? 4 : side >= 64 ? 2 : 1;
    // Coarser levels while the next one keeps at least 40 samples a side: the
    // coarsest must still hold the scene's large shapes for the first search.
    shape.levels = 1;
    for (int s = shape.baseScale * 2; side / s >= 40; s *= 2) ++shape.levels;
    return shape;
}

MatchFrame prepareFrame(const GflBitmap& image) {
    MatchFrame m;
    m.image = &image;
    const PyramidShape shape = pyramidShape(image.width, image.height);
    if (shape.levels > 0) m.pyramid = lumPyramid(image, shape.baseScale, shape.levels);
    return m;
}

PairMatch matchPair(const MatchFrame& reference, const MatchFrame& frame) {
    PairMatch result;
    if (reference.pyramid.empty() || frame.pyramid.empty()) return result;
    const int width = reference.image->width, height = reference.image->height;

    // Coarsest level: the best whole-sample shift within the allowed move.
    const LumImage& coarseT = reference.pyramid.back();
    const LumImage& coarseF = frame.pyramid.back();
    const int reach = static_cast<int>(std::ceil(kMaxShiftShare * width / coarseT.scale)) + 1;
    int sx = 0, sy = 0;
    if (!coarseShift(coarseT, coarseF, reach, sx, sy)) return result;
    Steps st;
    st.g = RigidMove{static_cast<double>(sx) * coarseT.scale, static_cast<double>(sy) * coarseT.scale, 0};

    // Down the pyramid: each level only has to bring the next well within its
    // reach, so a twentieth of a sample will do; full resolution settles it.
    for (size_t l = reference.pyramid.size(); l-- > 0;) {
        const LumImage& t = reference.pyramid[l];
        // A large level is read at every other sample: a quarter of the work
        // for a step that only has to land within the next one's reach.
        const int stride = static_cast<long long>(t.width) * t.height > kDenseSamples ? 2 : 1;
        const std::vector<Piece> pieces{
            {&t, 1, 1, t.width - 1, t.height - 1, &frame.pyramid[l], stride}};
        st = iterate(pieces, st, width, height, 0.05 * t.scale, 12, false);
        if (st.last.n < 8) return result;
    }

    // Full resolution on tiles spread over the frame, out to its corners.
    const std::vector<Tile> tiles = chooseTiles(reference, frame, st.g);
    std::vector<Piece> pieces;
    for (const Tile& tile : tiles) {
        const LumImage& t = tile.reference;
        const int i0 = tile.x0 - static_cast<int>(t.originX);
        const int j0 = tile.y0 - static_cast<int>(t.originY);
        pieces.push_back({&t, std::max(1, i0), std::max(1, j0), std::min(t.width - 1, i0 + tile.size),
                          std::min(t.height - 1, j0 + tile.size), &tile.frame, 1});
    }
    if (pieces.empty()) return result;
    st = iterate(pieces, st, width, height, kSettledShift, 30, true);
    result.samples = static_cast<int>(std::min<long long>(st.last.n, std::numeric_limits<int>::max()));
    result.correlation = st.last.correlation();
    result.move = inverse(st.g);
    // Samples that enter and leave the usable areas from one step to the next
    // can keep the last steps trembling by a few thousandths of a pixel: that
    // is settled too. Steps still a hundredth of a pixel long are not.
    result.ok = (st.settled || st.lastStep < kUnsettledShift) && result.samples >= kMinSamples &&
                result.correlation >= kMinCorrelation;
    return result;
}
