#include "numerics/quadrature/double_exponential.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace de = quadrature::double_exponential;

namespace {

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

// Every stored value must be the double nearest to the 60-digit value of the
// rule (glibc's strtod rounds correctly).
TEST(DeNodes, EveryValueIsTheNearestDoubleToTheRule) {
    std::ifstream in(CORVANIS_TEST_DATA_DIR "/de_nodes_reference.txt");
    ASSERT_TRUE(in) << "missing de_nodes_reference.txt";
    std::vector<std::size_t> per_level(7, 0);
    std::size_t total = 0;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::size_t level;
        std::string t, weight, abscissa;
        ASSERT_TRUE(fields >> level >> t >> weight >> abscissa) << line;
        ASSERT_GE(level, 1u);
        ASSERT_LE(level, 7u);
        const std::size_t j = per_level[level - 1]++;
        ASSERT_LT(j, de::DE_NODES[level - 1].size()) << line;
        const de::Node& node = de::DE_NODES[level - 1][j];
        EXPECT_EQ(bits(node.weight), bits(std::strtod(weight.c_str(), nullptr))) << "level " << level << " t = " << t;
        EXPECT_EQ(bits(node.abscissa), bits(std::strtod(abscissa.c_str(), nullptr))) << "level " << level << " t = " << t;
        ++total;
    }
    EXPECT_EQ(total, 192u);
    const std::vector<std::size_t> sizes = {3, 3, 6, 12, 24, 48, 96};
    EXPECT_EQ(per_level, sizes);
    for (std::size_t k = 0; k < 7; ++k) EXPECT_EQ(de::DE_NODES[k].size(), sizes[k]) << "level " << k + 1;
}

// Independent of the generator: the first and last pair of each level.
TEST(DeNodes, FirstAndLastPairOfEachLevel) {
    struct Row { de::Node first, last; };
    const Row rows[7] = {
        {{0.23002239451478868, 0.9513679640727469}, {1.3581784274539091e-12, 0.999999999999957}},
        {{0.4829882897061506, 0.6742714922484359}, {1.071560227847152e-07, 0.9999999888756649}},
        {{0.3474036898118141, 0.3772097381640342}, {2.9077914535639456e-10, 0.9999999999528565}},
        {{0.19041046482933816, 0.19435700332493544}, {6.172317347078991e-12, 0.9999999999982322}},
        {{0.09742333472083313, 0.09792388528783233}, {5.422457134362253e-13, 0.9999999999997081}},
        {{0.04899316972835068, 0.049055967305077885}, {1.088810552195658e-13, 0.9999999999998863}},
        {{0.024531906707493643, 0.02453976357464916}, {3.411862828005251e-14, 0.9999999999999298}},
    };
    for (std::size_t k = 0; k < 7; ++k) {
        const auto& level = de::DE_NODES[k];
        EXPECT_EQ(level.front().weight, rows[k].first.weight) << "level " << k + 1;
        EXPECT_EQ(level.front().abscissa, rows[k].first.abscissa) << "level " << k + 1;
        EXPECT_EQ(level.back().weight, rows[k].last.weight) << "level " << k + 1;
        EXPECT_EQ(level.back().abscissa, rows[k].last.abscissa) << "level " << k + 1;
    }
}

struct Case {
    const char* name;
    std::function<double(double)> f;
    double a, b, target;
    double value, error;  // exact bits, from an independent double-precision run of the algorithm
    unsigned count;
    double integral, accuracy;  // the true integral, and how close the rule gets
};

// Bit-exact results pin the arithmetic order.
TEST(Integrate, ResultsAndAccuracy) {
    const Case cases[] = {
        // Target 1e-16 is out of reach: 1.7e-14 below 1/3, error estimate 4.1e-15.
        {"x^2 on [0,1]", [](double x) { return x * x; }, 0.0, 1.0, 1e-16,
         0x1.555555555542ap-2, 0x1.2a00000000000p-48, 385, 1.0 / 3.0, 2e-14},
        {"x^2 on [1,0]", [](double x) { return x * x; }, 1.0, 0.0, 1e-16,
         -0x1.555555555542ap-2, -0x1.2a00000000000p-48, 385, -1.0 / 3.0, 2e-14},
        {"exp on [0,1]", [](double x) { return std::exp(x); }, 0.0, 1.0, 1e-10,
         0x1.b7e151628aebap+0, 0x1.0f4f000000000p-36, 49, std::exp(1.0) - 1.0, 1e-14},
        {"cos on [-1,2]", [](double x) { return std::cos(x); }, -1.0, 2.0, 1e-12,
         0x1.c0325bced608fp+0, 0x1.0800000000000p-49, 97, std::sin(2.0) + std::sin(1.0), 1e-14},
        // The pole at 0 counts as 0; the truncated tail costs about 2.6e-7.
        {"1/sqrt(x) on [0,1]", [](double x) { return 1.0 / std::sqrt(x); }, 0.0, 1.0, 1e-16,
         0x1.fffffbaa6e170p+0, 0x1.131e8ed000000p-25, 385, 2.0, 2.7e-7},
    };
    for (const Case& c : cases) {
        const de::IntegrationResult r = de::integrate(c.f, c.a, c.b, c.target);
        EXPECT_EQ(bits(r.value), bits(c.value)) << c.name << ": " << r.value;
        EXPECT_EQ(bits(r.estimated_error), bits(c.error)) << c.name << ": " << r.estimated_error;
        EXPECT_EQ(r.evaluation_count, c.count) << c.name;
        EXPECT_NEAR(r.value, c.integral, c.accuracy) << c.name;
    }
}

TEST(Integrate, EarlyStops) {
    struct Stop { const char* name; double (*f)(double); double a, b; };
    const Stop stops[] = {
        {"zero integrand", [](double) { return 0.0; }, 0.0, 1.0},
        {"empty interval", [](double x) { return std::exp(x); }, 0.5, 0.5},
    };
    for (const Stop& s : stops) {
        const auto r = de::integrate(s.f, s.a, s.b, 1e-16);
        EXPECT_EQ(r.value, 0.0) << s.name;
        EXPECT_EQ(r.estimated_error, 0.0) << s.name;
        EXPECT_EQ(r.evaluation_count, 25u) << s.name;
    }
}

TEST(Integrate, UnreachableTargetRunsAllLevels) {
    const auto exp = [](double x) { return std::exp(x); };
    EXPECT_EQ(de::integrate(exp, 0.0, 1.0, 0.0).evaluation_count, 385u);
    EXPECT_EQ(de::integrate(exp, 0.0, 1.0, std::nan("")).evaluation_count, 385u);
    // b < a: the scaled target is negative.
    EXPECT_EQ(de::integrate(exp, 1.0, 0.0, 1.0).evaluation_count, 385u);
}

// NaN and infinities count exactly as zeros.
TEST(Integrate, NonFiniteValuesCountAsZero) {
    const double specials[] = {std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity()};
    const auto zeroed = de::integrate([](double x) { return x < 0.3 ? std::exp(x) : 0.0; }, 0.0, 1.0, 1e-16);
    for (double special : specials) {
        const auto r = de::integrate([special](double x) { return x < 0.3 ? std::exp(x) : special; }, 0.0, 1.0, 1e-16);
        EXPECT_EQ(bits(r.value), bits(zeroed.value)) << special;
        EXPECT_EQ(bits(r.estimated_error), bits(zeroed.estimated_error)) << special;
        EXPECT_EQ(r.evaluation_count, zeroed.evaluation_count) << special;
    }
}

// The mapped abscissae are infinite or NaN, every value counts as 0, and the
// result is 0 times the infinite half-width.
TEST(Integrate, InfiniteBoundGivesNaN) {
    const auto r = de::integrate([](double x) { return std::exp(-x); }, 0.0, std::numeric_limits<double>::infinity(), 1e-10);
    EXPECT_TRUE(std::isnan(r.value));
}

// Centre first, then level by level, each pair as +x then -x; the recorder
// is a stateful callable taken by reference.
TEST(Integrate, EvaluationOrder) {
    struct Recorder {
        std::vector<double> points;
        double operator()(double x) { points.push_back(x); return std::sin(x); }
    };
    const double a = -1.0, b = 2.0, c = 1.5, d = 0.5;
    for (double target : {1e-16, 1e-6}) {
        Recorder recorder;
        const auto r = de::integrate(recorder, a, b, target);
        ASSERT_EQ(recorder.points.size(), r.evaluation_count);
        std::vector<double> expected = {0.0 * c + d};
        for (const auto& level : de::DE_NODES) {
            for (const de::Node& node : level) {
                expected.push_back(node.abscissa * c + d);
                expected.push_back(-node.abscissa * c + d);
            }
        }
        expected.resize(r.evaluation_count);
        EXPECT_EQ(recorder.points, expected) << "target " << target;
    }
}

}  // namespace
