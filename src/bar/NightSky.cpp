#include "bar/NightSky.h"

namespace daybrook {

namespace {
// 64 x 64 -> 128-bit products for the bounded draw.
__extension__ typedef unsigned __int128 UInt128;

class XorShift64 {
public:
    explicit XorShift64(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t next() {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 7;
        m_state ^= m_state << 17;
        return m_state;
    }

    // A uniform double in [a, b]: one bounded draw r in 0...2^53 by
    // multiply-and-reject, so that the sky is the same on every platform.
    double uniform(double a, double b) {
        constexpr std::uint64_t range = (std::uint64_t(1) << 53) + 1; // values 0...2^53
        // 2^64 mod range: products whose low half falls below it are biased.
        constexpr std::uint64_t threshold = std::uint64_t(0x1FFFFFFFFFF801);
        UInt128 product = UInt128(next()) * range;
        while (std::uint64_t(product) < threshold)
            product = UInt128(next()) * range;
        const std::uint64_t r = std::uint64_t(product >> 64);
        if (r == (std::uint64_t(1) << 53))
            return b;
        return a + (b - a) * (double(r) * 0x1p-53);
    }

private:
    std::uint64_t m_state;
};
} // namespace

QList<Star> makeStars(int count, std::uint64_t seed) {
    QList<Star> stars;
    if (count <= 0)
        return stars;
    XorShift64 generator(seed == 0 ? 1 : seed);
    stars.reserve(count);
    for (int i = 0; i < count; ++i) {
        Star star;
        star.x = generator.uniform(0, 1);
        star.y = generator.uniform(0, 1);
        star.size = generator.uniform(0.3, 0.8);
        star.brightness = generator.uniform(0.4, 1.0);
        stars.append(star);
    }
    return stars;
}

} // namespace daybrook
