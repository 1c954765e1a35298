// Log-luminance regions and pyramids for the alignment's matching.
#include "align/luminance.h"

#include "set/levels.h"
#include "support/errors.h"
#include "support/parallel.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace {

// Smooths the log values over the usable samples only (a normalised
// convolution: a clipped or dark neighbour never bleeds into a usable value),
// then erodes the usable flags by `erosion` samples, so that the gradients of
// a usable sample see usable neighbours; the outer `rim` samples are never usable.
void finish(LumImage& lum, int erosion, int rim, bool normalised) {
    cv::Mat value(lum.height, lum.width, CV_32F, lum.value.data());
    cv::Mat usable(lum.height, lum.width, CV_8U, lum.usable.data());
    if (!normalised) cv::GaussianBlur(value, value, cv::Size(5, 5), 1.0, 1.0, cv::BORDER_REPLICATE);
    cv::Mat weight, weighted;
    usable.convertTo(weight, CV_32F);
    if (normalised) cv::multiply(value, weight, weighted);
    if (normalised) {
    cv::GaussianBlur(weighted, weighted, cv::Size(5, 5), 1.0, 1.0, cv::BORDER_REPLICATE);
    cv::GaussianBlur(weight, weight, cv::Size(5, 5), 1.0, 1.0, cv::BORDER_REPLICATE);
    for (int j = 0; j < lum.height; ++j) {
        const float* w = weight.ptr<float>(j);
        const float* v = weighted.ptr<float>(j);
        float* out = value.ptr<float>(j);
        for (int i = 0; i < lum.width; ++i)
            if (w[i] > 1e-3f) out[i] = v[i] / w[i];
    }
    }
    if (erosion > 0) {
        const cv::Mat kernel =
            cv::getStructuringElement(cv::MORPH_RECT, cv::Size(2 * erosion + 1, 2 * erosion + 1));
        cv::erode(usable, usable, kernel, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT, 0);
    }
    for (int j = 0; j < lum.height; ++j)
        for (int i = 0; i < lum.width; ++i)
            if (i < rim || j < rim || i >= lum.width - rim || j >= lum.height - rim)
                lum.usable[lum.index(i, j)] = 0;
}

void addRow(const uint16_t* __restrict row, uint32_t* __restrict sums, uint16_t* __restrict tops,
            size_t n) {
    for (size_t k = 0; k < n; ++k) sums[k] += row[k];
    for (size_t k = 0; k < n; ++k) tops[k] = std::max(tops[k], row[k]);
}

LumImage sized(int width, int height, int scale, double originX, double originY) {
    LumImage lum;
    lum.width = width;
    lum.height = height;
    lum.scale = scale;
    lum.originX = originX;
    lum.originY = originY;
    lum.value.assign(static_cast<size_t>(width) * height, 0.0f);
    lum.usable.assign(static_cast<size_t>(width) * height, 0);
    return lum;
}

}  // namespace

LumImage lumRegion(const GflBitmap& image, int x0, int y0, int w, int h) {
    if (x0 < 0 || y0 < 0 || w < 1 || h < 1 || x0 + w > image.width || y0 + h > image.height)
        throw RunError(kErrInvalidArgument, QStringLiteral("Region outside the image"));
    LumImage lum = sized(w, h, 1, x0, y0);
    for (int j = 0; j < h; ++j) {
        const uint16_t* p = image.row(y0 + j) + static_cast<size_t>(x0) * 3;
        for (int i = 0; i < w; ++i, p += 3) {
            // Green alone at full resolution: the mosaic samples it twice as
            // densely as red and blue, so it carries the least aliasing.
            const int green = p[1];
            const int top = std::max(p[0], std::max(p[1], p[2]));
            lum.value[lum.index(i, j)] = std::log(static_cast<float>(std::max(green, 1)));
            lum.usable[lum.index(i, j)] = top < kClipLevel && 3 * green >= kAlignMinSum;
        }
    }
    finish(lum, 2, 2, false);
    return lum;
}

std::vector<LumImage> lumPyramid(const GflBitmap& image, int baseScale, int levels) {
    const int f = baseScale;
    const int w = image.width / f, h = image.height / f;
    if (w < 1 || h < 1 || levels < 1)
        throw RunError(kErrInvalidArgument, QStringLiteral("Image too small for a pyramid"));
    std::vector<LumImage> pyramid;
    // Linear block means first: coarser levels average them before any logarithm.
    LumImage base = sized(w, h, f, (f - 1) / 2.0, (f - 1) / 2.0);
    const size_t samples = static_cast<size_t>(w) * f * 3;  // of a row, whole blocks only
    parallelRows(h, std::max(1, 4096 / std::max(1, w)), [&](const RowBand& band) {
        // The block rows' pixel rows added sample by sample first (plain
        // loops over contiguous samples, which the compiler vectorises), then
        // each block's 3 f samples of every channel summed and maximised.
        std::vector<uint32_t> sums(samples);
        std::vector<uint16_t> tops(samples);
        for (int j = band.begin; j < band.end; ++j) {
            std::fill(sums.begin(), sums.end(), 0u);
            std::fill(tops.begin(), tops.end(), uint16_t{0});
            for (int r = 0; r < f; ++r) {
                addRow(image.row(j * f + r), sums.data(), tops.data(), samples);
            }
            for (int i = 0; i < w; ++i) {
                const size_t first = static_cast<size_t>(i) * f * 3;
                uint32_t sum = 0;
                uint16_t top = 0;
                for (size_t k = first; k < first + static_cast<size_t>(f) * 3; ++k) {
                    sum += sums[k];
                    top = std::max(top, tops[k]);
                }
                const float mean = static_cast<float>(sum) / (f * f);
                base.value[base.index(i, j)] = mean;
                base.usable[base.index(i, j)] = top < kClipLevel && mean >= kAlignMinSum;
            }
        }
    });
    pyramid.push_back(std::move(base));
    while (static_cast<int>(pyramid.size()) < levels) {
        const LumImage& fine = pyramid.back();
        const int cw = fine.width / 2, ch = fine.height / 2;
        if (cw < 1 || ch < 1) break;
        LumImage coarse = sized(cw, ch, fine.scale * 2, fine.originX + fine.scale / 2.0,
                                fine.originY + fine.scale / 2.0);
        // The mean of the usable samples of each 2 x 2 block; usable when at
        // least two were: coarse levels only steer the finer ones.
        for (int j = 0; j < ch; ++j)
            for (int i = 0; i < cw; ++i) {
                const size_t a = fine.index(2 * i, 2 * j), b = fine.index(2 * i, 2 * j + 1);
                float sum = 0;
                int count = 0;
                for (const size_t q : {a, a + 1, b, b + 1})
                    if (fine.usable[q]) {
                        sum += fine.value[q];
                        ++count;
                    }
                coarse.value[coarse.index(i, j)] =
                    count > 0 ? sum / count
                              : (fine.value[a] + fine.value[a + 1] + fine.value[b] + fine.value[b + 1]) / 4;
                coarse.usable[coarse.index(i, j)] = count >= 2;
            }
        pyramid.push_back(std::move(coarse));
    }
    for (LumImage& level : pyramid) {
        for (float& v : level.value) v = std::log(std::max(v, 1.0f));
        finish(level, 1, 1, true);
    }
    return pyramid;
}
