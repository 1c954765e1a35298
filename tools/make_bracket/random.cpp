// Deterministic random numbers for the bracket generator (see random.h).
#include "random.h"

#include <cmath>
#include <cstdlib>

namespace make_bracket {
namespace {

constexpr std::uint64_t rotl(std::uint64_t x, int k) {
    return (x << k) | (x >> (64 - k));
}

// Ziggurat tables for the normal distribution, 128 layers (Marsaglia and Tsang,
// 2000). Layer 0 is the base strip plus the tail beyond kTailStart.
constexpr int kLayers = 128;
constexpr double kTailStart = 3.442619855899;
constexpr double kLayerArea = 9.91256303526217e-3;
constexpr double kScale = 2147483648.0;  // 2^31: the draws are signed 32-bit

struct ZigguratTables {
    std::array<std::uint32_t, kLayers> k{};  // |draw| below this is inside the layer's box
    std::array<double, kLayers> w{};         // draw to abscissa
    std::array<double, kLayers> f{};         // density exp(-x²/2) at each layer's edge

    ZigguratTables() {
        double dn = kTailStart;
        double tn = dn;
        const double q = kLayerArea / std::exp(-0.5 * dn * dn);
        k[0] = static_cast<std::uint32_t>((dn / q) * kScale);
        k[1] = 0;
        w[0] = q / kScale;
        w[kLayers - 1] = dn / kScale;
        f[0] = 1.0;
        f[kLayers - 1] = std::exp(-0.5 * dn * dn);
        for (int i = kLayers - 2; i >= 1; --i) {
            dn = std::sqrt(-2.0 * std::log(kLayerArea / dn + std::exp(-0.5 * dn * dn)));
            k[i + 1] = static_cast<std::uint32_t>((dn / tn) * kScale);
            tn = dn;
            f[i] = std::exp(-0.5 * dn * dn);
            w[i] = dn / kScale;
        }
    }
};

const ZigguratTables& zigguratTables() {
    static const ZigguratTables tables;
    return tables;
}

}  // namespace

std::uint64_t splitMix64(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

std::uint64_t mixSeed(std::uint64_t a, std::uint64_t b, std::uint64_t c) {
    std::uint64_t state = a;
    std::uint64_t h = splitMix64(state);
    state = h ^ b;
    h = splitMix64(state);
    state = h ^ c;
    return splitMix64(state);
}

Rng::Rng(std::uint64_t seed) {
    std::uint64_t state = seed;
    for (auto& word : s_) word = splitMix64(state);
}

std::uint64_t Rng::next() {
    const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
    const std::uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotl(s_[3], 45);
    return result;
}

double Rng::uniform() {
    // 53 random bits, shifted by half a step so the result is never 0 or 1.
    return (static_cast<double>(next() >> 11) + 0.5) * 0x1.0p-53;
}

std::uint64_t Rng::below(std::uint64_t bound) {
    // Rejection of the incomplete last block keeps every value equally likely.
    const std::uint64_t limit = (~std::uint64_t{0} / bound) * bound;
    std::uint64_t r = next();
    while (r >= limit) r = next();
    return r % bound;
}

double Rng::normal() {
    const ZigguratTables& t = zigguratTables();
    for (;;) {
        // Layer index and abscissa come from disjoint bits of one draw, so they
        // are independent (the original single-32-bit version correlates them).
        const std::uint64_t r = next();
        const int layer = static_cast<int>(r & (kLayers - 1));
        const auto draw = static_cast<std::int32_t>(static_cast<std::uint32_t>(r >> 32));
        const std::int64_t magnitude = std::llabs(static_cast<std::int64_t>(draw));
        const double x = draw * t.w[layer];
        if (magnitude < t.k[layer]) return x;  // inside the layer's box: ~99% of draws
        if (layer == 0) {
            // Tail beyond kTailStart, sampled exactly (Marsaglia 1964).
            double tx = 0.0;
            double ty = 0.0;
            do {
                tx = -std::log(uniform()) / kTailStart;
                ty = -std::log(uniform());
            } while (ty + ty < tx * tx);
            return draw > 0 ? kTailStart + tx : -kTailStart - tx;
        }
        // Wedge between the box and the curve: accept under the density.
        if (t.f[layer] + uniform() * (t.f[layer - 1] - t.f[layer]) < std::exp(-0.5 * x * x))
            return x;
    }
}

std::uint32_t Rng::poisson(double mean) {
    if (mean <= 0.0) return 0;
    // Inversion by sequential search: exact, and cheap because the caller only
    // uses it for a few tens of electrons at most.
    const double u = uniform();
    double p = std::exp(-mean);
    double cumulative = p;
    std::uint32_t k = 0;
    while (u > cumulative && p > 0.0) {
        ++k;
        p *= mean / k;
        cumulative += p;
    }
    return k;
}

}  // namespace make_bracket
