// Small seeded random source for the device model: the same seed gives the same noise
// and the same faults on every platform, which std::uniform_*_distribution does not.
#pragma once

#include <cstdint>

namespace quenta_sim {

class Rng {
  public:
    explicit Rng(std::uint64_t seed = 0) : state_(seed) {}

    void Seed(std::uint64_t seed) { state_ = seed; }

    // splitmix64
    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // Uniform in [0, 1).
    double Unit() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }

    // Uniform in [0, n); n > 0.
    std::uint32_t Below(std::uint32_t n) {
        return static_cast<std::uint32_t>((Next() >> 32) * n >> 32);
    }

    // Triangular noise in [-amplitude, amplitude]: sums of uniforms look more like sensor
    // noise than a flat spread does.
    double Noise(double amplitude) { return (Unit() + Unit() - 1.0) * amplitude; }

  private:
    std::uint64_t state_;
};

}  // namespace quenta_sim
