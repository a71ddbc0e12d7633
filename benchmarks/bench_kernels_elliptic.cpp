// Timing of the elliptic-integral kernels: median nanoseconds per call over
// repeated passes through a fixed set of random valid arguments.
//
// Standalone build, from the repository root:
//   g++ -O2 -ffp-contract=off -std=c++20 -I. benchmarks/bench_kernels_elliptic.cpp
//       numerics/elliptic/*.cpp -o bench_kernels_elliptic
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "numerics/elliptic/carlson.hpp"
#include "numerics/elliptic/legendre.hpp"

namespace {

using ellip::EllipResult;
using Args = std::array<double, 4>;

constexpr int ARGUMENT_SETS = 1000;  // calls per pass
constexpr int PASSES = 201;          // samples of which the median is taken

volatile double sink;  // keeps the compiler from dropping the calls

template <class Kernel>
double median_ns_per_call(const std::vector<Args>& args, Kernel kernel) {
    std::vector<double> samples;
    samples.reserve(PASSES);
    for (int pass = 0; pass < PASSES; ++pass) {
        double acc = 0;
        const auto start = std::chrono::steady_clock::now();
        for (const Args& a : args) {
            const EllipResult r = kernel(a);
            acc += r.value;
        }
        const auto stop = std::chrono::steady_clock::now();
        sink = acc;
        samples.push_back(std::chrono::duration<double, std::nano>(stop - start).count() /
                          static_cast<double>(args.size()));
    }
    std::nth_element(samples.begin(), samples.begin() + PASSES / 2, samples.end());
    return samples[PASSES / 2];
}

// Carlson arguments x, y, z, p in (0.001, 2).
std::vector<Args> make_args(std::mt19937_64& rng) {
    std::uniform_real_distribution<double> positive(1e-3, 2.0);
    std::vector<Args> args(ARGUMENT_SETS);
    for (Args& a : args) {
        a = {positive(rng), positive(rng), positive(rng), positive(rng)};
    }
    return args;
}

}  // namespace

int main() {
    using namespace ellip::carlson;
    using namespace ellip::legendre;
    std::mt19937_64 rng(20240611);
    const std::vector<Args> args = make_args(rng);
    std::vector<Args> parameters(ARGUMENT_SETS);
    // n and m in [0, 1), a quarter of the n made negative (down to −4).
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (Args& a : parameters) {
        const double n = unit(rng);
        a = {unit(rng) < 0.25 ? -4 * n : n, unit(rng), 0, 0};
    }

    struct Row {
        const char* name;
        double ns;
    };
    const Row rows[] = {
        {"elliprc", median_ns_per_call(args, [](const Args& a) { return elliprc(a[0], a[1]); })},
        {"elliprf",
         median_ns_per_call(args, [](const Args& a) { return elliprf(a[0], a[1], a[2]); })},
        {"elliprd",
         median_ns_per_call(args, [](const Args& a) { return elliprd(a[0], a[1], a[2]); })},
        {"elliprj", median_ns_per_call(
                        args, [](const Args& a) { return elliprj(a[0], a[1], a[2], a[3]); })},
        {"ellipk", median_ns_per_call(parameters, [](const Args& a) { return ellipk(a[1]); })},
        {"ellipe", median_ns_per_call(parameters, [](const Args& a) { return ellipe(a[1]); })},
        {"ellippi",
         median_ns_per_call(parameters, [](const Args& a) { return ellippi(a[0], a[1]); })},
    };
    std::printf("%-8s %12s\n", "kernel", "ns/call");
    for (const Row& row : rows) std::printf("%-8s %12.1f\n", row.name, row.ns);
    return 0;
}
