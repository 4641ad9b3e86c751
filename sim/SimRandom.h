#pragma once
// A repeatable random source for the simulator. std::mt19937's output is fixed by the standard,
// but the library's distributions are not, so the uniform and normal draws are done here: the
// same seed then gives the same instrument on every build.

#include <cmath>
#include <cstdint>
#include <random>

class TSimRandom {
public:
    explicit TSimRandom(std::uint64_t seed) : FEngine(Mix(seed)) {}

    // Derives independent streams from one user seed, so that one fault option does not shift
    // the numbers another one sees.
    static std::uint32_t Mix(std::uint64_t value)
    {
        // splitmix64 finaliser
        value += 0x9E3779B97F4A7C15ull;
        value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
        value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
        value ^= value >> 31;
        return static_cast<std::uint32_t>(value ^ (value >> 32));
    }

    std::uint32_t Next() { return static_cast<std::uint32_t>(FEngine()); }

    // Uniform in [0, 1).
    double Uniform() { return Next() / 4294967296.0; }

    // Uniform integer in [low, high].
    int Between(int low, int high)
    {
        return low + static_cast<int>(Uniform() * (static_cast<double>(high) - low + 1.0));
    }

    bool Chance(double probability) { return probability > 0.0 && Uniform() < probability; }

    // Standard normal draw (Box-Muller, one value per call).
    double Normal()
    {
        double u1 = Uniform();
        double u2 = Uniform();
        if (u1 < 1e-300)
            u1 = 1e-300;
        return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
    }

private:
    std::mt19937 FEngine;
};
