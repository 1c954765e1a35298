// Finding the moving areas of a set and the frames that agree with each
// area's reference (see motion.h).
//
// Two samples of a pixel are compared brought to image 1's exposure with the
// measured ratios, in double precision: their squared difference over its
// variance (the noise model's a * signal + b of both, and 1 % of the signal
// for the ratios' own error) is one channel's evidence. A clipped sample only
// says "at least this bright": it differs only from a darker one. A single
// sample lies past 3 sigma now and then by chance, so nothing is decided per
// sample: samples are taken at the centre of each block of 3 x 3 pixels, and
// the 5 x 5 blocks around one differ when their mean evidence is far beyond
// what noise gives (about 1). The verdict stands for the centre block.
#include "set/motion.h"

#include "set/area_mask.h"
#include "support/errors.h"
#include "support/parallel.h"

#include <algorithm>
#include <cmath>

namespace {

// A pixel is clipped when any channel reaches 90 % of its clip level: near
// saturation dcraw's colour conversion mixes a clipped raw channel into the
// others, and no channel can be trusted any more.
constexpr double kClipShare = 0.9;
// From half its clip level on, a channel of the more exposed image may hide
// a clipped raw channel (see mayBeClipped).
constexpr double kMayClipShare = 0.5;
// A sample is above the noise at 3 standard deviations of its own noise, and
// at 16 units at least (below, dcraw's clipping of negative values at 0
// bends the noise).
constexpr double kAboveNoise = 3;
constexpr double kLowestSignal = 16;
// Demosaicing fills a pixel's missing channels from its neighbours: within 2
// pixels of a clipped one a value may be a quarter too low or too high
// whatever its own level. Such a pixel is compared within that margin, or not
// at all when it is clipped itself; a clipped pixel says "at least this
// bright" only when all around it is clipped too.
constexpr int kDemosaicReach = 2;
constexpr double kNearClipTolerance = 0.25;
enum ClipState : uint8_t { kClear = 0, kNearClip = 1, kDeepClip = 2 };
// What a neighbourhood says of two images.
enum Verdict : uint8_t { kSame = 0, kDiffer = 1, kUnknown = 2 };
// Aligned frames sit within a fraction of a pixel of image 1 and are
// resampled (softened) where image 1 is not: at an edge they differ by up to
// about half a pixel's worth of its slope.
constexpr double kAlignedSlack = 0.5;
// The measured ratios are good to about 1 %.
constexpr double kRatioTolerance = 0.01;
// Neighbourhoods of 5 x 5 samples, each channel's evidence capped at 6 sigma
// squared so that one hot pixel cannot make one differ. Noise alone gives a
// mean of 1 (a little more where demosaicing ties neighbours together); a
// neighbourhood differs at a mean of 6 over at least a third of its samples.
constexpr int kHalf = 2;
constexpr double kCap = 36;
constexpr double kDiffers = 6;
constexpr int kMinSamples = 25;
// Evidence is summed in integers (units of 1/256) so that no order of
// addition can change a decision.
constexpr double kUnits = 256;
// Cleaning: holes up to 2 pixels across closed, specks under 16 pixels
// dropped, every area widened by 3 pixels so that its rim is covered.
constexpr int kClose = 2;
constexpr int64_t kSpeck = 16;
constexpr int kRim = 3;
constexpr double kMostDiffers = 0.5;
// The noise model's scale is checked against every 32nd row of each pair:
// the median of a chi-square variable of one degree of freedom.
constexpr int kCheckEvery = 32;
constexpr double kChiSquareMedian = 0.454936;
constexpr int kCheckBins = 64;  // per unit of evidence
constexpr int kBandRows = 64;   // rows of blocks per parallel band

// What a sample of one image means, per channel.
struct Terms {
    double q = 1;                 // to image 1's exposure
    double a[3] = {}, b[3] = {};  // variance at image 1's exposure: a * signal + b
    int clip[3] = {};             // from this sample on, the pixel is clipped
    int mayClip[3] = {};          // from this sample on, a raw channel may be clipped
    int floor[3] = {};            // from this sample on, it is above the noise
};

std::vector<Terms> termsOf(const FrameSet& set, const WeightedModel& model) {
    std::vector<Terms> terms(set.ImagenesTIFF.size());
    for (size_t k = 0; k < terms.size(); ++k) {
        Terms& t = terms[k];
        t.q = set.ExpRelativas[k];
        for (size_t c = 0; c < 3; ++c) {
            const double a = model.noise[k][c].a, b = model.noise[k][c].b;
            // A sample s reads s q with variance q^2 (a s + b), at s = signal / q.
            t.a[c] = t.q * a;
            t.b[c] = t.q * t.q * b;
            t.clip[c] = static_cast<int>(std::ceil(kClipShare * model.clipLevel[k][c]));
            t.mayClip[c] = static_cast<int>(std::ceil(kMayClipShare * model.clipLevel[k][c]));
            // s = 3 sqrt(a s + b) at the noise floor.
            const double k2 = kAboveNoise * kAboveNoise;
            const double floor = (k2 * a + std::sqrt(k2 * k2 * a * a + 4 * k2 * b)) / 2;
            t.floor[c] = static_cast<int>(std::ceil(std::max(floor, kLowestSignal)));
        }
    }
    return terms;
}

bool clipped(const uint16_t* s, const Terms& t) {
    return (s[0] >= t.clip[0]) | (s[1] >= t.clip[1]) | (s[2] >= t.clip[2]);
}

// The evidence that samples `s` of image `ts` and `r` of image `tr` show
// different things: squared differences over their variance, capped, summed
// over the channels that can tell, with the count of those. `inverse` scales
// each channel's variance to what the set shows.
struct Pair {
    Pair(const Terms& s, const Terms& r, const std::array<double, 3>& scale) : ts(s), tr(r) {
        for (size_t c = 0; c < 3; ++c) {
            inverse[c] = 1 / scale[c];
            a[c] = s.a[c] + r.a[c];
            b[c] = s.b[c] + r.b[c];
        }
    }
    const Terms& ts;
    const Terms& tr;
    double inverse[3];
    double a[3], b[3];  // the difference's variance: a * level + b
};

// The evidence of two unclipped samples clear of clipping: the common case.
inline void clearEvidence(const Pair& p, const uint16_t* s, const uint16_t* r, double tolerance,
                          const double* slack, double& sum, int& count) {
    for (int c = 0; c < 3; ++c) {
        // One of them clear of the noise is enough: the other's noise is in
        // the variance, and dcraw's cutting of negative values only lifts a
        // dark value towards the bright one.
        if (s[c] < p.ts.floor[c] && r[c] < p.tr.floor[c]) continue;
        const double vs = s[c] * p.ts.q, vr = r[c] * p.tr.q;
        const double d = vs - vr, level = std::max(vs, vr);
        const double variance =
            p.a[c] * level + p.b[c] + tolerance * tolerance * level * level + slack[c];
        sum += std::min(kCap, d * d / variance * p.inverse[c]);
        ++count;
    }
}

// Whether the more exposed of two unclipped samples may have lost light to a
// clipped raw channel: bright, and darker than the other sample says. The
// colour conversion spreads a raw channel's clipping over all three channels
// below the level where they pile up (strongly coloured patches, wide output
// spaces), and the more exposed image then shows a colour that is not there.
inline bool mayBeClipped(const Pair& p, const uint16_t* s, const uint16_t* r) {
    const bool sBrighter = p.ts.q < p.tr.q;
    const uint16_t* bright = sBrighter ? s : r;
    const Terms& tb = sBrighter ? p.ts : p.tr;
    if (bright[0] < tb.mayClip[0] && bright[1] < tb.mayClip[1] && bright[2] < tb.mayClip[2])
        return false;
    const double vs = (static_cast<double>(s[0]) + s[1] + s[2]) * p.ts.q;
    const double vr = (static_cast<double>(r[0]) + r[1] + r[2]) * p.tr.q;
    return sBrighter ? vs < vr : vr < vs;
}

// `stateS` and `stateR`: how near clipped pixels of their images the
// samples lie (ClipState).
// `slack`: variance added per channel for what aligned frames may differ by.
inline void evidence(const Pair& p, const uint16_t* s, const uint16_t* r, uint8_t stateS,
                     uint8_t stateR, const double* slack, double& sum, int& count) {
    if ((stateS == kNearClip && clipped(s, p.ts)) || (stateR == kNearClip && clipped(r, p.tr)) ||
        (stateS == kDeepClip && stateR == kDeepClip))
        return;
    const bool clipS = stateS == kDeepClip, clipR = stateR == kDeepClip;
    const double tolerance =
        stateS == kNearClip || stateR == kNearClip ? kNearClipTolerance : kRatioTolerance;
    if (!clipS && !clipR) {
        if (!mayBeClipped(p, s, r)) clearEvidence(p, s, r, tolerance, slack, sum, count);
        return;
    }
    for (int c = 0; c < 3; ++c) {
        const double vs = s[c] * p.ts.q, vr = r[c] * p.tr.q;
        double d, level;
        if (clipS) {
            // At least this bright: only a darker value differs.
            if (s[c] < p.ts.clip[c]) continue;
            d = std::max(0.0, vs - vr);
            level = vs;
        } else {
            if (r[c] < p.tr.clip[c]) continue;
            d = std::max(0.0, vr - vs);
            level = vr;
        }
        const double variance =
            p.a[c] * level + p.b[c] + tolerance * tolerance * level * level + slack[c];
        sum += std::min(kCap, d * d / variance * p.inverse[c]);
        ++count;
    }
}

// Covered columns of image k on row y (all when the set is not aligned).
void coveredRun(const FrameSet& set, int k, int y, int& from, int& to) {
    from = 0;
    to = set.AnchoImagen;
    if (!set.aligned() || set.Cobertura[static_cast<size_t>(k)].all()) return;
    from = set.Cobertura[static_cast<size_t>(k)].begin[static_cast<size_t>(y)];
    to = set.Cobertura[static_cast<size_t>(k)].end[static_cast<size_t>(y)];
}

// Points of a rectangle where samples are compared: columns x0 + i * step
// (i < nx) and rows y0 + j * step (j < ny).
struct Grid {
    int x0 = 0, y0 = 0, nx = 0, ny = 0, step = 1;
    int width = 0, height = 0;  // the picture's, which no point passes
    int x(int i) const { return std::min(x0 + i * step, width - 1); }
    int y(int j) const { return std::min(y0 + j * step, height - 1); }
    size_t size() const { return static_cast<size_t>(nx) * ny; }
};

// Frames are compared at the centre of every block of 3 x 3 pixels (a
// ninth of the work), and the verdict there stands for the block: a window
// of 5 x 5 points spans 13 x 13 pixels, and areas grow by more than a block.
constexpr int kBlock = 3;

// Points i0.. (ni of them) and j0.. (nj) of the picture's block grid.
Grid blockGrid(const FrameSet& set, int i0, int ni, int j0, int nj) {
    return Grid{kBlock / 2 + i0 * kBlock,
                kBlock / 2 + j0 * kBlock,
                ni,
                nj,
                kBlock,
                set.AnchoImagen,
                set.AltoImagen};
}

// The ClipState of image k at each point of the grid, from the clipped
// pixels within kDemosaicReach of it (a square cut at the picture's border).
std::vector<uint8_t> clipStates(const FrameSet& set, const Terms& t, int k, const Grid& g) {
    const int w = set.AnchoImagen, h = set.AltoImagen, reach = kDemosaicReach;
    const int xa = std::max(0, g.x(0) - reach), xb = std::min(w, g.x(g.nx - 1) + reach + 1);
    const int ya = std::max(0, g.y(0) - reach), yb = std::min(h, g.y(g.ny - 1) + reach + 1);
    // Clipped pixels along each row around each point (a running count),
    // then down the columns; a point is deep in clipping when every pixel of
    // its square inside the picture is clipped.
    std::vector<uint8_t> across(static_cast<size_t>(yb - ya) * g.nx),
        side(static_cast<size_t>(g.nx));
    for (int i = 0; i < g.nx; ++i)
        side[static_cast<size_t>(i)] = static_cast<uint8_t>(std::min(xb - 1, g.x(i) + reach) -
                                                            std::max(xa, g.x(i) - reach) + 1);
    // Each sample against its channel's threshold, the thresholds laid out
    // as the row is, so that the compiler compares many at once; then each
    // sample or-ed with the next two, which makes the first sample of every
    // pixel its flag. `reach` unclipped pixels lie beyond the picture's sides.
    const int samples = (xb - xa) * 3;
    std::vector<uint16_t> thresholds(static_cast<size_t>(samples));
    for (int i = 0; i < samples; ++i)
        thresholds[static_cast<size_t>(i)] = static_cast<uint16_t>(std::min(t.clip[i % 3], 65535));
    std::vector<uint8_t> sampleFlags(static_cast<size_t>(samples) + 2, 0);
    std::vector<uint8_t> flags(static_cast<size_t>(w + 2 * reach) * 3, 0);
    uint8_t* f = flags.data() + static_cast<size_t>(reach) * 3;  // pixel x's flag at f[3 x]
    for (int y = ya; y < yb; ++y) {
        const uint16_t* row = set.ImagenesTIFF[static_cast<size_t>(k)].row(y) + xa * 3;
        uint8_t any = 0;
        for (int i = 0; i < samples; ++i) {
            const uint8_t v = row[i] >= thresholds[static_cast<size_t>(i)];
            sampleFlags[static_cast<size_t>(i)] = v;
            any |= v;
        }
        uint8_t* out = across.data() + static_cast<size_t>(y - ya) * g.nx;
        // Most rows of most frames have no clipped sample.
        if (!any) {
            std::fill(out, out + g.nx, 0);
            continue;
        }
        uint8_t* pixel = f + static_cast<size_t>(xa) * 3;
        for (int i = 0; i < samples; ++i)
            pixel[i] = sampleFlags[static_cast<size_t>(i)] |
                       sampleFlags[static_cast<size_t>(i) + 1] |
                       sampleFlags[static_cast<size_t>(i) + 2];
        static_assert(kDemosaicReach == 2, "five flags around each point");
        for (int i = 0; i < g.nx; ++i) {
            const uint8_t* at = f + static_cast<size_t>(g.x(i)) * 3;
            out[i] = static_cast<uint8_t>(at[-6] + at[-3] + at[0] + at[3] + at[6]);
        }
    }
    std::vector<uint8_t> state(g.size());
    std::vector<uint8_t> count(static_cast<size_t>(g.nx));
    for (int j = 0; j < g.ny; ++j) {
        std::fill(count.begin(), count.end(), 0);
        const int from = std::max(ya, g.y(j) - reach), to = std::min(yb - 1, g.y(j) + reach);
        for (int y = from; y <= to; ++y) {
            const uint8_t* in = across.data() + static_cast<size_t>(y - ya) * g.nx;
            for (int i = 0; i < g.nx; ++i) count[static_cast<size_t>(i)] += in[i];
        }
        uint8_t* out = state.data() + static_cast<size_t>(j) * g.nx;
        for (int i = 0; i < g.nx; ++i) {
            const int all = side[static_cast<size_t>(i)] * (to - from + 1);
            const uint8_t c = count[static_cast<size_t>(i)];
            out[i] = c == 0 ? kClear : c == all ? kDeepClip : kNearClip;
        }
    }
    return state;
}

// The steepest slope of each channel at (x, y) of either image, at image 1's
// exposure, squared and times kAlignedSlack squared.
void alignedSlack(const FrameSet& set, const Terms& ts, const Terms& tr, int s, int r, int x, int y,
                  double* slack) {
    const int left = std::max(0, x - 1), right = std::min(set.AnchoImagen - 1, x + 1);
    const int up = std::max(0, y - 1), down = std::min(set.AltoImagen - 1, y + 1);
    for (int c = 0; c < 3; ++c) slack[c] = 0;
    for (const auto& [k, q] : {std::pair{s, ts.q}, std::pair{r, tr.q}}) {
        const GflBitmap& image = set.ImagenesTIFF[static_cast<size_t>(k)];
        const uint16_t* row = image.row(y);
        const uint16_t* above = image.row(up);
        const uint16_t* below = image.row(down);
        for (int c = 0; c < 3; ++c) {
            const double dx =
                (row[right * 3 + c] - row[left * 3 + c]) * q / std::max(1, right - left);
            const double dy = (below[x * 3 + c] - above[x * 3 + c]) * q / std::max(1, down - up);
            slack[c] = std::max(slack[c], (dx * dx + dy * dy) * kAlignedSlack * kAlignedSlack);
        }
    }
}

// Per-point evidence of images s and r (0-based) over a grid, and the
// verdict on the windows of 5 x 5 points.
class Strip {
  public:
    explicit Strip(const Grid& g) : g_(g), sum_(g.size()), count_(g.size()) {}

    // `stateS` and `stateR`: the images' clip states over the grid.
    void fill(const FrameSet& set, const Pair& p, int s, int r, const std::vector<uint8_t>& stateS,
              const std::vector<uint8_t>& stateR) {
        const bool aligned = set.aligned();
        for (int j = 0; j < g_.ny; ++j) {
            const int y = g_.y(j);
            int fromS, toS, fromR, toR;
            coveredRun(set, s, y, fromS, toS);
            coveredRun(set, r, y, fromR, toR);
            const int from = std::max(fromS, fromR), to = std::min(toS, toR);
            const uint16_t* rowS = set.ImagenesTIFF[static_cast<size_t>(s)].row(y);
            const uint16_t* rowR = set.ImagenesTIFF[static_cast<size_t>(r)].row(y);
            const size_t at = static_cast<size_t>(j) * g_.nx;
            for (int i = 0; i < g_.nx; ++i) {
                const int x = g_.x(i);
                double sum = 0;
                int count = 0;
                // Uncovered samples hold another image's values: no evidence.
                if (x >= from && x < to) {
                    double slack[3] = {0, 0, 0};
                    if (aligned) alignedSlack(set, p.ts, p.tr, s, r, x, y, slack);
                    const uint16_t* ps = rowS + x * 3;
                    const uint16_t* pr = rowR + x * 3;
                    if ((stateS[at + i] | stateR[at + i]) == kClear) {
                        if (!mayBeClipped(p, ps, pr))
                            clearEvidence(p, ps, pr, kRatioTolerance, slack, sum, count);
                    } else {
                        evidence(p, ps, pr, stateS[at + i], stateR[at + i], slack, sum, count);
                    }
                }
                sum_[at + i] = static_cast<uint16_t>(sum * kUnits);
                count_[at + i] = static_cast<uint8_t>(count);
            }
        }
    }

    // The verdict on the windows centred on grid row j: kSame, kDiffer, or
    // kUnknown when too few samples could tell.
    void verdicts(int j, std::vector<uint32_t>& columnSum, std::vector<uint32_t>& columnCount,
                  uint8_t* out) const {
        const int w = g_.nx;
        std::fill(columnSum.begin(), columnSum.end(), 0u);
        std::fill(columnCount.begin(), columnCount.end(), 0u);
        for (int jj = std::max(0, j - kHalf); jj <= std::min(g_.ny - 1, j + kHalf); ++jj) {
            const uint16_t* e = sum_.data() + static_cast<size_t>(jj) * w;
            const uint8_t* n = count_.data() + static_cast<size_t>(jj) * w;
            for (int i = 0; i < w; ++i) {
                columnSum[static_cast<size_t>(i)] += e[i];
                columnCount[static_cast<size_t>(i)] += n[i];
            }
        }
        uint64_t sum = 0, count = 0;
        for (int i = 0; i < std::min(kHalf, w); ++i) {
            sum += columnSum[static_cast<size_t>(i)];
            count += columnCount[static_cast<size_t>(i)];
        }
        for (int i = 0; i < w; ++i) {
            if (i + kHalf < w) {
                sum += columnSum[static_cast<size_t>(i + kHalf)];
                count += columnCount[static_cast<size_t>(i + kHalf)];
            }
            if (i - kHalf - 1 >= 0) {
                sum -= columnSum[static_cast<size_t>(i - kHalf - 1)];
                count -= columnCount[static_cast<size_t>(i - kHalf - 1)];
            }
            out[i] = count < kMinSamples ? kUnknown
                     : static_cast<double>(sum) >= kDiffers * kUnits * static_cast<double>(count)
                         ? kDiffer
                         : kSame;
        }
    }

  private:
    Grid g_;
    std::vector<uint16_t> sum_;
    std::vector<uint8_t> count_;
};

// Each channel's variance scaled up to what the pairs show, never down: on
// every 32nd row the median of the two-sided evidence, uncapped, against the
// median noise alone would give.
std::array<double, 3> checkedScale(const FrameSet& set, const std::vector<Terms>& terms) {
    const int n = static_cast<int>(terms.size());
    const int rows = (set.AltoImagen + kCheckEvery - 1) / kCheckEvery;
    constexpr int kBins = static_cast<int>(kCap) * kCheckBins;
    std::vector<std::array<std::vector<uint32_t>, 3>> perBand(
        static_cast<size_t>(rowBandCount(rows, 16)));
    parallelRows(rows, 16, [&](const RowBand& band) {
        auto& h = perBand[static_cast<size_t>(band.index)];
        for (auto& c : h) c.assign(kBins + 1, 0);
        for (int k = 0; k + 1 < n; ++k) {
            const Terms& ts = terms[static_cast<size_t>(k)];
            const Terms& tr = terms[static_cast<size_t>(k) + 1];
            for (int row = band.begin; row < band.end; ++row) {
                const int y = row * kCheckEvery;
                int fromS, toS, fromR, toR;
                coveredRun(set, k, y, fromS, toS);
                coveredRun(set, k + 1, y, fromR, toR);
                const uint16_t* s = set.ImagenesTIFF[static_cast<size_t>(k)].row(y);
                const uint16_t* r = set.ImagenesTIFF[static_cast<size_t>(k) + 1].row(y);
                for (int x = std::max(fromS, fromR); x < std::min(toS, toR); ++x) {
                    const uint16_t* ps = s + x * 3;
                    const uint16_t* pr = r + x * 3;
                    if (clipped(ps, ts) || clipped(pr, tr)) continue;
                    for (int c = 0; c < 3; ++c) {
                        if (ps[c] < ts.floor[c] || pr[c] < tr.floor[c]) continue;
                        const double vs = ps[c] * ts.q, vr = pr[c] * tr.q;
                        const double level = std::max(vs, vr);
                        const double variance = (ts.a[c] + tr.a[c]) * level + ts.b[c] + tr.b[c] +
                                                kRatioTolerance * kRatioTolerance * level * level;
                        const double z2 = (vs - vr) * (vs - vr) / variance;
                        ++h[static_cast<size_t>(c)][static_cast<size_t>(
                            std::min(static_cast<double>(kBins), z2 * kCheckBins))];
                    }
                }
            }
        }
    });
    std::array<double, 3> scale{1, 1, 1};
    for (size_t c = 0; c < 3; ++c) {
        std::vector<uint64_t> total(kBins + 1, 0);
        uint64_t all = 0;
        for (const auto& h : perBand)
            for (size_t i = 0; i < total.size(); ++i) {
                total[i] += h[c][i];
                all += h[c][i];
            }
        if (all < 1000) continue;  // too little to say the model is wrong
        uint64_t seen = 0;
        size_t bin = 0;
        while (bin < total.size() && (seen += total[bin]) * 2 < all) ++bin;
        const double median = (static_cast<double>(bin) + 0.5) / kCheckBins;
        scale[c] = std::max(1.0, median / kChiSquareMedian);
    }
    return scale;
}

Pair pairOf(const std::vector<Terms>& terms, int s, int r, const std::array<double, 3>& scale) {
    return Pair(terms[static_cast<size_t>(s)], terms[static_cast<size_t>(r)], scale);
}

// Where some neighbouring pair of images differs, over the whole picture:
// one sample per block of kBlock x kBlock pixels.
AreaMask differingPairs(const FrameSet& set, const std::vector<Terms>& terms,
                        const std::array<double, 3>& scale, const MotionProgress& progress) {
    const int w = set.AnchoImagen, h = set.AltoImagen;
    const int n = static_cast<int>(terms.size());
    const int nx = (w + kBlock - 1) / kBlock, ny = (h + kBlock - 1) / kBlock;
    AreaMask moving(nx, ny);
    parallelRowsWithProgress(
        ny, kBandRows, 10,
        [&](const RowBand& band) {
            const int j0 = std::max(0, band.begin - kHalf), j1 = std::min(ny, band.end + kHalf);
            const Grid grid = blockGrid(set, 0, nx, j0, j1 - j0);
            std::vector<std::vector<uint8_t>> states;
            for (int k = 0; k < n; ++k)
                states.push_back(clipStates(set, terms[static_cast<size_t>(k)], k, grid));
            Strip strip(grid);
            std::vector<uint32_t> columnSum(static_cast<size_t>(nx)),
                columnCount(static_cast<size_t>(nx));
            std::vector<uint8_t> verdict(static_cast<size_t>(nx));
            for (int k = 0; k + 1 < n; ++k) {
                strip.fill(set, pairOf(terms, k, k + 1, scale), k, k + 1,
                           states[static_cast<size_t>(k)], states[static_cast<size_t>(k) + 1]);
                for (int j = band.begin; j < band.end; ++j) {
                    strip.verdicts(j - j0, columnSum, columnCount, verdict.data());
                    uint8_t* out = moving.on.data() + static_cast<size_t>(j) * nx;
                    for (int i = 0; i < nx; ++i)
                        out[i] |= verdict[static_cast<size_t>(i)] == kDiffer;
                }
            }
        },
        progress ? progress : [](int) {});
    return moving;
}

struct Box {
    int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom excluded
    bool empty() const { return right <= left || bottom <= top; }
};

Box onBox(const AreaMask& m, int dx = 0, int dy = 0) {
    Box b{m.width, m.height, 0, 0};
    for (int y = 0; y < m.height; ++y) {
        const uint8_t* row = m.on.data() + static_cast<size_t>(y) * m.width;
        const uint8_t* first = std::find(row, row + m.width, 1);
        if (first == row + m.width) continue;
        const uint8_t* last =
            std::find(std::make_reverse_iterator(row + m.width), std::make_reverse_iterator(row), 1)
                .base();
        b.left = std::min(b.left, static_cast<int>(first - row));
        b.right = std::max(b.right, static_cast<int>(last - row));
        b.top = std::min(b.top, y);
        b.bottom = y + 1;
    }
    if (b.empty()) return Box{};
    return Box{b.left + dx, b.top + dy, b.right + dx, b.bottom + dy};
}

// Usable samples (unclipped, covered, above the noise) of each image in each
// area: counts[area * n + k].
std::vector<int64_t> usableSamples(const FrameSet& set, const std::vector<Terms>& terms,
                                   const MotionAreas& areas, int count) {
    const int n = static_cast<int>(terms.size());
    const Box b = areas.mostDiffers ? Box{0, 0, set.AnchoImagen, set.AltoImagen}
                                    : Box{areas.left, areas.top, areas.left + areas.boxWidth,
                                          areas.top + areas.boxHeight};
    std::vector<std::vector<int64_t>> perBand(
        static_cast<size_t>(rowBandCount(b.bottom - b.top, 16)),
        std::vector<int64_t>(static_cast<size_t>(count) * n, 0));
    parallelRows(b.bottom - b.top, 16, [&](const RowBand& band) {
        auto& counts = perBand[static_cast<size_t>(band.index)];
        for (int y = b.top + band.begin; y < b.top + band.end; ++y)
            for (int k = 0; k < n; ++k) {
                int from, to;
                coveredRun(set, k, y, from, to);
                const Terms& t = terms[static_cast<size_t>(k)];
                const uint16_t* row = set.ImagenesTIFF[static_cast<size_t>(k)].row(y);
                for (int x = std::max(b.left, from); x < std::min(b.right, to); ++x) {
                    const int area = areas.areaAt(x, y);
                    const uint16_t* p = row + x * 3;
                    if (area == 0 || clipped(p, t)) continue;
                    counts[static_cast<size_t>(area - 1) * n + k] +=
                        (p[0] >= t.floor[0]) + (p[1] >= t.floor[1]) + (p[2] >= t.floor[2]);
                }
            }
    });
    std::vector<int64_t> total(static_cast<size_t>(count) * n, 0);
    for (const auto& counts : perBand)
        for (size_t i = 0; i < total.size(); ++i) total[i] += counts[i];
    return total;
}

// Each area's reference: forced, or the image with the most usable samples
// in it, ties to the more exposed.
void chooseReferences(const FrameSet& set, const std::vector<Terms>& terms, int forced, int count,
                      MotionAreas& areas) {
    const int n = static_cast<int>(terms.size());
    areas.references.assign(static_cast<size_t>(count), forced);
    if (forced > 0) return;
    const std::vector<int64_t> usable = usableSamples(set, terms, areas, count);
    for (int a = 0; a < count; ++a) {
        int best = 0;
        for (int k = 1; k < n; ++k)
            if (usable[static_cast<size_t>(a) * n + k] >= usable[static_cast<size_t>(a) * n + best])
                best = k;
        areas.references[static_cast<size_t>(a)] = best + 1;
    }
}

// The images that agree with each area's reference, sample by sample, over
// the areas' box.
void findAgreement(const FrameSet& set, const std::vector<Terms>& terms,
                   const std::array<double, 3>& scale, MotionAreas& areas) {
    const int n = static_cast<int>(terms.size());
    const int left = areas.left, right = areas.left + areas.boxWidth;
    const int top = areas.top, bottom = areas.top + areas.boxHeight;
    // The blocks holding the box, and those around them the windows reach.
    const int nxAll = (set.AnchoImagen + kBlock - 1) / kBlock;
    const int nyAll = (set.AltoImagen + kBlock - 1) / kBlock;
    const int i0 = std::max(0, left / kBlock - kHalf);
    const int i1 = std::min(nxAll, (right - 1) / kBlock + 1 + kHalf);
    const int jTop = top / kBlock, jBottom = (bottom - 1) / kBlock + 1;
    std::vector<bool> isReference(static_cast<size_t>(n), false);
    for (int r : areas.references) isReference[static_cast<size_t>(r) - 1] = true;
    areas.agree.assign(areas.label.size(), 0);
    parallelRows(jBottom - jTop, 8, [&](const RowBand& band) {
        const int jb = jTop + band.begin, je = jTop + band.end;
        const int j0 = std::max(0, jb - kHalf), j1 = std::min(nyAll, je + kHalf);
        const Grid grid = blockGrid(set, i0, i1 - i0, j0, j1 - j0);
        const int y0 = std::max(top, jb * kBlock), y1 = std::min(bottom, je * kBlock);
        std::vector<std::vector<uint8_t>> states;
        for (int k = 0; k < n; ++k)
            states.push_back(clipStates(set, terms[static_cast<size_t>(k)], k, grid));
        Strip strip(grid);
        const size_t stripWidth = static_cast<size_t>(grid.nx);
        std::vector<uint32_t> columnSum(stripWidth), columnCount(stripWidth);
        std::vector<uint8_t> verdict(stripWidth);
        for (int r = 0; r < n; ++r) {
            if (!isReference[static_cast<size_t>(r)]) continue;
            for (int k = 0; k < n; ++k) {
                if (k != r)
                    strip.fill(set, pairOf(terms, k, r, scale), k, r,
                               states[static_cast<size_t>(k)], states[static_cast<size_t>(r)]);
                for (int j = jb; j < je; ++j) {
                    if (k != r) strip.verdicts(j - j0, columnSum, columnCount, verdict.data());
                    for (int y = std::max(y0, j * kBlock); y < std::min(y1, (j + 1) * kBlock);
                         ++y) {
                        int from, to;
                        coveredRun(set, k, y, from, to);
                        const size_t rowStart = static_cast<size_t>(y - top) * areas.boxWidth;
                        for (int x = left; x < right; ++x) {
                            const uint16_t area = areas.label[rowStart + (x - left)];
                            if (area == 0 || areas.references[area - 1u] != r + 1) continue;
                            // Only what is seen to agree: an image the noise
                            // or clipping leaves unjudged may show anything.
                            const bool agrees =
                                k == r || verdict[static_cast<size_t>(x / kBlock - i0)] == kSame;
                            if (x >= from && x < to && agrees)
                                areas.agree[rowStart + (x - left)] |=
                                    static_cast<uint16_t>(1u << k);
                        }
                    }
                }
            }
        }
        // Where the reference saw nothing of its own, nothing says another
        // image differs from it; where it is clipped and no darker image
        // agrees, its darker neighbour is taken anyway: a clipped reference
        // cannot be shown.
        for (int y = y0; y < y1; ++y) {
            const size_t rowStart = static_cast<size_t>(y - areas.top) * areas.boxWidth;
            for (int x = left; x < right; ++x) {
                const uint16_t area = areas.label[rowStart + (x - left)];
                if (area == 0) continue;
                const int r = areas.references[area - 1u] - 1;
                uint16_t& bits = areas.agree[rowStart + (x - left)];
                int from, to;
                coveredRun(set, r, y, from, to);
                if (x < from || x >= to) {
                    for (int k = 0; k < n; ++k) {
                        coveredRun(set, k, y, from, to);
                        if (x >= from && x < to) bits |= static_cast<uint16_t>(1u << k);
                    }
                    continue;
                }
                const uint16_t* p = set.ImagenesTIFF[static_cast<size_t>(r)].row(y) + x * 3;
                const uint16_t darker = static_cast<uint16_t>((1u << r) - 1);
                if (r > 0 && clipped(p, terms[static_cast<size_t>(r)]) && (bits & darker) == 0) {
                    int k = r - 1;
                    for (; k > 0; --k) {
                        coveredRun(set, k, y, from, to);
                        if (x >= from && x < to) break;
                    }
                    bits |= static_cast<uint16_t>(1u << k);
                }
            }
        }
    });
}

}  // namespace

MotionAreas detectMotion(const FrameSet& set, const WeightedModel& model,
                         const MotionSettings& settings, const MotionProgress& progress) {
    if (!set.usable() || set.ExpRelativas.size() != set.ImagenesTIFF.size())
        throw RunError(kErrInvalidArgument, QStringLiteral("The image set is not loaded"));
    const int n = static_cast<int>(set.ImagenesTIFF.size());
    if (n > kMaxMotionImages)
        throw RunError(kErrOverflow, QStringLiteral("Too many images to find moving subjects"));
    if (settings.reference < 0 || settings.reference > n)
        throw RunError(kErrOutOfRange, QStringLiteral("Subscript out of range"));
    if (model.clipLevel.size() != static_cast<size_t>(n) ||
        model.noise.size() != static_cast<size_t>(n))
        throw RunError(kErrInvalidArgument, QStringLiteral("The noise model is of another set"));

    MotionAreas areas;
    areas.width = set.AnchoImagen;
    areas.height = set.AltoImagen;
    const std::vector<Terms> terms = termsOf(set, model);
    const std::array<double, 3> scale = checkedScale(set, terms);
    const AreaMask blocks = differingPairs(set, terms, scale, progress);

    // Cleaned where anything differs, with room to grow: closing, then the
    // rim and the caller's widening.
    const Box foundBlocks = onBox(blocks);
    if (foundBlocks.empty()) return areas;
    const Box found{foundBlocks.left * kBlock, foundBlocks.top * kBlock,
                    std::min(areas.width, foundBlocks.right * kBlock),
                    std::min(areas.height, foundBlocks.bottom * kBlock)};
    const int grow = kRim + std::max(0, settings.widen);
    const int margin = 2 * kClose + 1 + grow;
    const Box crop{std::max(0, found.left - margin), std::max(0, found.top - margin),
                   std::min(areas.width, found.right + margin),
                   std::min(areas.height, found.bottom + margin)};
    AreaMask mask(crop.right - crop.left, crop.bottom - crop.top);
    for (int y = crop.top; y < crop.bottom; ++y)
        for (int x = crop.left; x < crop.right; ++x)
            mask.on[static_cast<size_t>(y - crop.top) * mask.width + (x - crop.left)] =
                blocks.at(x / kBlock, y / kBlock);
    dilateArea(mask, kClose);
    erodeArea(mask, kClose);
    const AreaPieces specks = areaPieces(mask);
    for (size_t i = 0; i < mask.on.size(); ++i)
        if (specks.label[i] != 0 && specks.size[specks.label[i] - 1] < kSpeck) mask.on[i] = 0;
    dilateArea(mask, grow);
    const Box box = onBox(mask, crop.left, crop.top);
    if (box.empty()) return areas;

    const AreaPieces pieces = areaPieces(mask);
    for (int64_t s : pieces.size) areas.samples += s;
    if (areas.samples > kMostDiffers * areas.width * areas.height || pieces.size.size() > 65535) {
        areas.mostDiffers = true;
        areas.samples = static_cast<int64_t>(areas.width) * areas.height;
        chooseReferences(set, terms, settings.reference, 1, areas);
        return areas;
    }
    areas.left = box.left;
    areas.top = box.top;
    areas.boxWidth = box.right - box.left;
    areas.boxHeight = box.bottom - box.top;
    areas.label.resize(static_cast<size_t>(areas.boxWidth) * areas.boxHeight);
    for (int y = 0; y < areas.boxHeight; ++y)
        for (int x = 0; x < areas.boxWidth; ++x)
            areas.label[static_cast<size_t>(y) * areas.boxWidth + x] = static_cast<uint16_t>(
                pieces.label[static_cast<size_t>(y + box.top - crop.top) * mask.width +
                             (x + box.left - crop.left)]);
    const int count = static_cast<int>(pieces.size.size());
    chooseReferences(set, terms, settings.reference, count, areas);
    findAgreement(set, terms, scale, areas);
    return areas;
}
