// Deterministic random numbers for the bracket generator: seeding, uniform,
// normal (ziggurat) and Poisson draws defined here, not by the standard library.
#pragma once

#include <array>
#include <cstdint>

namespace make_bracket {

// One step of SplitMix64; used to turn (seed, frame, row) into independent
// generator states, so each row's noise does not depend on how rows are split
// between threads.
std::uint64_t splitMix64(std::uint64_t& state);

// Mixes several 64-bit words into one seed; the order of the words matters.
std::uint64_t mixSeed(std::uint64_t a, std::uint64_t b, std::uint64_t c = 0);

// xoshiro256**: small state, fast, and good enough statistically for sensor
// noise. Not std::mt19937 + std::normal_distribution because the standard
// distributions are implementation-defined: with these, a seed gives the same
// files with any standard library (only the math library's last bits remain).
class Rng {
  public:
    explicit Rng(std::uint64_t seed);

    std::uint64_t next();
    // Uniform in the open interval (0, 1): never 0, so log() is always safe.
    double uniform();
    // Uniform integer in [0, bound) without modulo bias; bound > 0.
    std::uint64_t below(std::uint64_t bound);
    // Standard normal deviate (mean 0, variance 1).
    double normal();
    // Poisson deviate; meant for small means (inversion costs about mean steps).
    std::uint32_t poisson(double mean);

  private:
    std::array<std::uint64_t, 4> s_{};
};

}  // namespace make_bracket
