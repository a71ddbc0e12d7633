// Batched K, E and Π, and the R_J duplication in lanes, against the scalar
// routines bit for bit: on both lane widths, over random arguments that mix in
// one group of lanes values needing a few and many duplication steps, values
// the lanes hand to the scalar routines, NaN, infinities, zeros and arguments
// that fail with a message. The lanes raise no floating-point exception that
// the scalar routines do not raise for the same arguments.
#include "numerics/elliptic/batch/legendre_batch.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "numerics/elliptic/batch/elliprj_lanes.hpp"
#include "numerics/elliptic/carlson_detail.hpp"
#include "numerics/elliptic/legendre.hpp"

namespace {

using ellip::EllipResult;
namespace batch = ellip::legendre::batch;

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// The same value bit for bit (any NaN matches any NaN), or the same message.
::testing::AssertionResult same(const EllipResult& got, const EllipResult& want) {
    if (got.error || want.error) {
        if (got.error && want.error && std::strcmp(got.error, want.error) == 0) {
            return ::testing::AssertionSuccess();
        }
    } else if (std::bit_cast<std::uint64_t>(got.value) == std::bit_cast<std::uint64_t>(want.value) ||
               (std::isnan(got.value) && std::isnan(want.value))) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "got " << (got.error ? got.error : std::to_string(got.value)) << ", want "
           << (want.error ? want.error : std::to_string(want.value));
}

std::vector<const batch::Kernels*> lane_widths() {
    std::vector<const batch::Kernels*> widths = {&batch::sse2_kernels()};
    if (batch::avx2_kernels()) widths.push_back(batch::avx2_kernels());
    return widths;
}

// (n, m) pairs: most in the lanes' own domain, from a few to many duplication
// steps (m and n next to 0 or next to 1), shuffled so that one group of lanes
// mixes them, with the scalar routines' cases in between.
std::vector<std::pair<double, double>> random_arguments(std::size_t count) {
    std::mt19937_64 rng(20240611);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto log_uniform = [&](double lo, double hi) { return std::pow(10.0, lo + (hi - lo) * unit(rng)); };
    const double special[] = {0.0, -0.0, 1.0, -1.0, 0.5, 2.0, INF, -INF, NaN, 1e-300, 5e-324,
                              1 - 0x1p-53, 1 - 0x1p-52, 1 + 0x1p-52, 1e-17, -1e300};
    const auto pick_special = [&] { return special[rng() % std::size(special)]; };
    std::vector<std::pair<double, double>> args;
    args.reserve(count);
    while (args.size() < count) {
        double n, m;
        switch (rng() % 8) {
            case 0:  // a ring: 4lr/(l + r)^2 and 16lr g/((l + r)^2 (4g + d^2))
            case 1: {
                const double l = log_uniform(-3, 3), r = unit(rng), g = log_uniform(-4, 4);
                const double d = r - l, S = l + r;
                n = ((l * 4) * r) / (S * S);
                const double k = std::sqrt(l * r / (g * 4 + d * d)) * ((std::sqrt(g) * 4) / S);
                m = k * k;
                break;
            }
            case 2: n = unit(rng); m = unit(rng); break;
            case 3: n = 1 - log_uniform(-16, -1); m = 1 - log_uniform(-16, -1); break;
            case 4:  // n or m so small that 1 − n or 1 − m rounds to 1
                n = log_uniform(-300, -1);
                m = rng() % 2 ? log_uniform(-300, -1) : 1 - log_uniform(-16, -8);
                break;
            case 5: n = -log_uniform(-3, 3); m = 1 - 6 * unit(rng); break;
            case 6: n = pick_special(); m = rng() % 2 ? pick_special() : unit(rng); break;
            default: n = 1 + 2 * unit(rng) * (rng() % 2); m = 1 + 2 * unit(rng) * (rng() % 2); break;
        }
        args.emplace_back(n, m);
    }
    return args;
}

TEST(LegendreBatch, EveryLaneEqualsTheScalarRoutine) {
    // Odd, so that the last group of lanes is padded.
    const auto args = random_arguments(120001);
    std::vector<double> n(args.size()), m(args.size());
    for (std::size_t i = 0; i < args.size(); ++i) std::tie(n[i], m[i]) = args[i];
    std::vector<EllipResult> K(args.size()), E(args.size()), P(args.size());
    for (const batch::Kernels* kernels : lane_widths()) {
        SCOPED_TRACE(kernels->name);
        kernels->ellipk(m.data(), K.data(), m.size());
        kernels->ellipe(m.data(), E.data(), m.size());
        kernels->ellippi(n.data(), m.data(), P.data(), m.size());
        std::size_t failures = 0, errors = 0;
        for (std::size_t i = 0; i < args.size() && failures < 20; ++i) {
            const auto k = same(K[i], ellip::legendre::ellipk(m[i]));
            const auto e = same(E[i], ellip::legendre::ellipe(m[i]));
            const auto p = same(P[i], ellip::legendre::ellippi(n[i], m[i]));
            EXPECT_TRUE(k) << "K(" << m[i] << ")";
            EXPECT_TRUE(e) << "E(" << m[i] << ")";
            EXPECT_TRUE(p) << "Pi(" << n[i] << ", " << m[i] << ")";
            failures += !k + !e + !p;
            errors += !P[i].ok();
        }
        EXPECT_GT(errors, 10000u);  // the message lanes are really there
    }
}

// Every length of array, at every offset: whole groups and padded remainders.
TEST(LegendreBatch, ShortArraysAndTheirRemainders) {
    const auto args = random_arguments(64);
    for (const batch::Kernels* kernels : lane_widths()) {
        SCOPED_TRACE(kernels->name);
        for (std::size_t first = 0; first < 8; ++first) {
            for (std::size_t count = 0; first + count <= 24; ++count) {
                std::vector<double> n, m;
                for (std::size_t i = first; i < first + count; ++i) {
                    n.push_back(args[i].first);
                    m.push_back(args[i].second);
                }
                std::vector<EllipResult> P(count + 1, ellip::Failure{"untouched"});
                kernels->ellippi(n.data(), m.data(), P.data(), count);
                for (std::size_t i = 0; i < count; ++i) {
                    EXPECT_TRUE(same(P[i], ellip::legendre::ellippi(n[i], m[i]))) << i;
                }
                EXPECT_STREQ(P[count].error, "untouched");
            }
        }
    }
}

// The duplication core for general (x, y, z, p): arguments spanning hundreds
// of orders of magnitude (up to ~100 steps beside lanes of 2 or 3), E of both
// signs and in the band where R_C(1, b) is used, and NaN lanes, which exhaust
// the step limit and fail with the scalar routine's message while the lanes
// beside them succeed.
TEST(LegendreBatch, DuplicationLanesEqualTheScalarCore) {
    using simd::f64x2;
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> exponent(-150.0, 150.0);
    const auto draw = [&]() -> double {
        switch (rng() % 16) {
            case 0: return NaN;
            case 1: return 0.0;
            case 2: return 1.0;
            default: return std::pow(10.0, rng() % 2 ? exponent(rng) : exponent(rng) / 100);
        }
    };
    std::size_t messages = 0;
    for (int trial = 0; trial < 50000; ++trial) {
        f64x2 x, y, z, p;
        for (int i = 0; i < 2; ++i) {
            x[i] = draw(), y[i] = draw(), z[i] = draw(), p[i] = draw();
            if (!(p[i] > 0)) p[i] = 0.5;  // the core is for p > 0
        }
        const char* error[2];
        const f64x2 got = ellip::carlson::batch::elliprj_duplication_lanes(x, y, z, p, error);
        for (int i = 0; i < 2; ++i) {
            const EllipResult want = ellip::carlson::_elliprj(x[i], y[i], z[i], p[i]);
            const EllipResult lane = error[i] ? EllipResult(ellip::Failure{error[i]}) : EllipResult(got[i]);
            ASSERT_TRUE(same(lane, want)) << "R_J(" << x[i] << ", " << y[i] << ", " << z[i] << ", " << p[i] << ")";
            messages += !want.ok();
        }
    }
    EXPECT_GT(messages, 1000u);
}

// The floating-point exceptions raised while f runs.
template <class F>
int raised_by(F&& f) {
    std::feclearexcept(FE_ALL_EXCEPT);
    f();
    return std::fetestexcept(FE_ALL_EXCEPT);
}

std::string flag_names(int flags) {
    std::string names;
    for (auto [flag, name] : {std::pair{FE_INVALID, "invalid "}, std::pair{FE_DIVBYZERO, "divbyzero "},
                              std::pair{FE_OVERFLOW, "overflow "}, std::pair{FE_UNDERFLOW, "underflow "}}) {
        if (flags & flag) names += name;
    }
    return names;
}

// A group of lanes holds arguments that the lanes evaluate and arguments they
// hand to the scalar routines (whose values the lanes then discard); the
// exceptions of the group are at most those of the scalar routines on the
// same arguments. With finite arguments only: a NaN lane's comparisons raise
// "invalid" in lanes and in the scalar code alike, but not always in the same
// group of operations.
TEST(LegendreBatch, LanesRaiseNoExceptionTheScalarRoutinesDoNot) {
    auto args = random_arguments(40001);
    std::erase_if(args, [](const auto& a) { return !std::isfinite(a.first) || !std::isfinite(a.second); });
    for (const batch::Kernels* kernels : lane_widths()) {
        SCOPED_TRACE(kernels->name);
        const std::size_t N = std::string(kernels->name) == "avx2" ? 4 : 2;
        std::size_t extra = 0;
        for (std::size_t first = 0; first + N <= args.size() && extra < 10; first += N) {
            double n[4], m[4];
            for (std::size_t i = 0; i < N; ++i) std::tie(n[i], m[i]) = args[first + i];
            EllipResult out[4];
            volatile double sink = 0;
            const int scalar = raised_by([&] {
                for (std::size_t i = 0; i < N; ++i) {
                    sink = sink + ellip::legendre::ellipk(m[i]).value + ellip::legendre::ellipe(m[i]).value +
                           ellip::legendre::ellippi(n[i], m[i]).value;
                }
            });
            const int lanes = raised_by([&] {
                kernels->ellipk(m, out, N);
                kernels->ellipe(m, out, N);
                kernels->ellippi(n, m, out, N);
            });
            if (lanes & ~scalar & ~FE_INEXACT) {
                ++extra;
                ADD_FAILURE() << flag_names(lanes & ~scalar) << "for (n, m) = (" << n[0] << ", " << m[0]
                              << "), (" << n[1] << ", " << m[1] << ")" << (N == 4 ? ", ..." : "");
            }
        }
    }
}

// The duplication core alone, lanes against the scalar core lane by lane, with
// finite positive arguments spanning hundreds of orders of magnitude and zeros:
// E of both signs, lanes that stop many steps before the others.
TEST(LegendreBatch, DuplicationLanesRaiseNoExceptionTheScalarCoreDoesNot) {
    using simd::f64x2;
    std::mt19937_64 rng(8);
    std::uniform_real_distribution<double> exponent(-150.0, 150.0);
    const auto draw = [&]() -> double {
        switch (rng() % 16) {
            case 1: return 0.0;
            case 2: return 1.0;
            default: return std::pow(10.0, rng() % 2 ? exponent(rng) : exponent(rng) / 100);
        }
    };
    std::size_t extra = 0;
    for (int trial = 0; trial < 50000 && extra < 10; ++trial) {
        f64x2 x, y, z, p;
        for (int i = 0; i < 2; ++i) {
            x[i] = draw(), y[i] = draw(), z[i] = draw(), p[i] = draw();
            if (!(p[i] > 0)) p[i] = 0.5;
        }
        volatile double sink = 0;
        const int scalar = raised_by([&] {
            for (int i = 0; i < 2; ++i) sink = sink + ellip::carlson::_elliprj(x[i], y[i], z[i], p[i]).value;
        });
        const char* error[2];
        const int lanes = raised_by([&] {
            const f64x2 v = ellip::carlson::batch::elliprj_duplication_lanes(x, y, z, p, error);
            sink = sink + v[0] + v[1];
        });
        if (lanes & ~scalar & ~FE_INEXACT) {
            ++extra;
            ADD_FAILURE() << flag_names(lanes & ~scalar) << "for R_J(" << x[0] << ", " << y[0] << ", " << z[0]
                          << ", " << p[0] << ") and R_J(" << x[1] << ", " << y[1] << ", " << z[1] << ", "
                          << p[1] << ")";
        }
    }
}

}  // namespace
