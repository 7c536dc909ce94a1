// The summary pyramid against a brute-force minimum and maximum.
#include "view/summary_pyramid.h"

#include <gtest/gtest.h>

#include <random>

namespace zqd::view {
namespace {

MinMax Brute(const std::vector<std::int32_t>& v, std::uint64_t a, std::uint64_t b) {
    MinMax r;
    for (std::uint64_t i = a; i < std::min<std::uint64_t>(b, v.size()); ++i) r.Add(v[static_cast<std::size_t>(i)]);
    return r;
}

TEST(SummaryPyramid, RangesAndEnvelopesEqualBruteForceOnRandomData) {
    std::mt19937_64 random(4830);
    for (int finest : {0, 2, 4}) {
        std::vector<std::int32_t> v;
        SummaryPyramid p(finest);
        std::uint64_t reads = 0, most = 0;
        const SampleReader read = [&](std::uint64_t first, std::size_t n, std::int32_t* out) {
            ASSERT_LE(first + n, v.size());
            for (std::size_t i = 0; i < n; ++i) out[i] = v[static_cast<std::size_t>(first + i)];
            reads += n;
        };
        // Appended in pieces of every size, as live blocks arrive.
        while (v.size() < 50000) {
            std::vector<std::int32_t> piece(random() % 700);
            for (auto& s : piece) s = static_cast<std::int32_t>(random() % 65536) - (random() % 97 == 0 ? 100000 : 0);
            v.insert(v.end(), piece.begin(), piece.end());
            p.Append(piece.data(), piece.size());
        }
        ASSERT_EQ(p.Size(), v.size());
        for (int t = 0; t < 3000; ++t) {
            std::uint64_t a = random() % (v.size() + 10), b = random() % (v.size() + 10);
            if (t % 10 == 0) a = 0;
            if (t % 10 == 1) b = v.size();
            if (a > b) std::swap(a, b);
            reads = 0;
            ASSERT_EQ(p.Range(a, b, read), Brute(v, a, b)) << finest << " " << a << " " << b;
            if (b - a >= (4u << finest)) most = std::max(most, reads);
        }
        EXPECT_LE(most, 2u * ((1u << finest) - 1) + (1u << finest)) << "reads a bounded number of samples";
        for (int width : {1, 7, 640, 1920}) {
            const std::uint64_t a = random() % 1000, b = v.size() - random() % 1000;
            const auto env = p.Envelope(a, b, width, read);
            ASSERT_EQ(env.size(), static_cast<std::size_t>(width));
            for (int c = 0; c < width; ++c) {
                const std::uint64_t ca = a + (b - a) * static_cast<std::uint64_t>(c) / static_cast<std::uint64_t>(width);
                const std::uint64_t cb = a + (b - a) * static_cast<std::uint64_t>(c + 1) / static_cast<std::uint64_t>(width);
                ASSERT_EQ(env[static_cast<std::size_t>(c)], Brute(v, ca, cb)) << width << " column " << c;
            }
        }
    }
}

TEST(SummaryPyramid, EmptyAndOutOfRangeSpans) {
    SummaryPyramid p;
    const SampleReader none = [](std::uint64_t, std::size_t n, std::int32_t*) { ASSERT_EQ(n, 0u); };
    EXPECT_TRUE(p.Range(0, 100, none).Empty());
    std::vector<std::int32_t> v(40, 7);
    p.Append(v.data(), v.size());
    const SampleReader read = [&](std::uint64_t first, std::size_t n, std::int32_t* out) {
        for (std::size_t i = 0; i < n; ++i) out[i] = v[static_cast<std::size_t>(first + i)];
    };
    EXPECT_TRUE(p.Range(40, 1000, read).Empty());
    EXPECT_TRUE(p.Range(5, 5, read).Empty());
    EXPECT_EQ(p.Range(0, 1000, read), (MinMax{7, 7}));
    EXPECT_EQ(p.Envelope(0, 40, 0, read).size(), 0u);
}

}  // namespace
}  // namespace zqd::view
