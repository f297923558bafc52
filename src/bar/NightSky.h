#pragma once

#include <QList>
#include <cstdint>

namespace daybrook {

struct Star {
    double x = 0; // fraction of the sky's width
    double y = 0; // fraction of the sky's height
    double size = 0;
    double brightness = 0;
};

// The bar's sky: 80 stars from seed 42.
inline constexpr int barStarCount = 80;
inline constexpr std::uint64_t barStarSeed = 42;

// A reproducible star field: the same count and seed always give the same sky.
// A seed of 0 would leave the generator stuck at 0; it is replaced by 1.
QList<Star> makeStars(int count, std::uint64_t seed);

} // namespace daybrook
