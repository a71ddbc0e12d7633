// The uniform-disk kernel of corvanis_fspl: its limits, its derivatives, and
// its lanes against the scalar evaluation; the mean-value series' first terms.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "numerics/lensing/mean_value_series.hpp"
#include "numerics/lensing/uniform_disk.hpp"
#include "numerics/lensing/uniform_disk_batch.hpp"

namespace {

double disk(double u, double R) { return lensing::uniform_disk(u, R); }

TEST(UniformDisk, LensAtTheCentreAndOnTheEdge) {
    for (double R : {1e-5, 1e-2, 0.5, 3.0, 100.0}) {
        EXPECT_NEAR(disk(0.0, R), std::sqrt(R * R + 4) / R, 4e-16 * disk(0.0, R)) << R;
        // Approaching the edge from both sides meets the limit (a |d| log|d| term).
        const double edge = disk(R, R);
        for (double side : {-1.0, 1.0}) {
            EXPECT_NEAR(disk(R * (1 + side * 1e-12), R), edge, 1e-9 * edge) << R << " " << side;
        }
    }
}

TEST(UniformDisk, DerivativesAgreeWithDifferences) {
    for (double R : {1e-3, 0.3, 2.0, 50.0}) {
        for (double x : {0.01, 0.4, 0.9, 1.1, 1.7}) {
            const double u = x * R;
            const auto d = lensing::uniform_disk_and_derivatives<double, true>(u, R, u - R);
            const double h = 1e-6 * R;
            const double du = (disk(u + h, R) - disk(u - h, R)) / (2 * h);
            const double dR = (disk(u, R + h) - disk(u, R - h)) / (2 * h);
            // The differences are good to about 1e-7 of the scale, and lose
            // eps A / h to rounding.
            const double tolerance = 1e-7 * std::fabs(d.A - 1) / R + 1e-15 * d.A / h;
            EXPECT_NEAR(d.dA_du, du, tolerance) << R << " " << x;
            EXPECT_NEAR(d.dA_dR, dR, tolerance) << R << " " << x;
        }
        const auto edge = lensing::uniform_disk_and_derivatives<double, true>(R, R, 0.0);
        EXPECT_EQ(edge.dA_du, -INFINITY);
        EXPECT_EQ(edge.dA_dR, INFINITY);
    }
}

// A lane stops iterating only when every lane of its register has converged,
// so its last digits may differ from the scalar evaluation's.
TEST(UniformDisk, LanesGiveTheScalarValues) {
    std::mt19937_64 rng(7);
    // R from u/3 up: further out the three terms cancel (the kernel's error is
    // 1e-16 (u/R)^2 A there) and any difference in the last digits grows alike.
    std::uniform_real_distribution<double> log_r(-0.48, 3), x(0.9, 1.1);
    std::vector<double> R(1003), d(R.size()), out(R.size()), du(R.size()), dR(R.size());
    const double u = 0.37;
    for (std::size_t i = 0; i < R.size(); ++i) {
        R[i] = i % 5 == 0 ? u : u * std::pow(10.0, log_r(rng)) * x(rng);  // edges among them
        d[i] = u - R[i];
    }
    std::vector<lensing::UniformDiskBatch> batches = {lensing::uniform_disk_batch_sse2()};
    if (lensing::uniform_disk_batch_avx2()) batches.push_back(lensing::uniform_disk_batch_avx2());
    for (auto batch : batches) {
        batch(u, R.data(), d.data(), out.data(), du.data(), dR.data(), R.size());
        for (std::size_t i = 0; i < R.size(); ++i) {
            const auto s = lensing::uniform_disk_and_derivatives<double, true>(u, R[i], d[i]);
            ASSERT_NEAR(out[i], s.A, 1e-15 * s.A) << R[i];
            if (d[i] == 0.0) {  // on the edge: the limit and infinite derivatives
                ASSERT_EQ(out[i], s.A);
                ASSERT_EQ(du[i], -INFINITY);
                ASSERT_EQ(dR[i], INFINITY);
                continue;
            }
            ASSERT_NEAR(du[i], s.dA_du, 1e-14 * std::fabs(s.dA_du)) << R[i];
            ASSERT_NEAR(dR[i], s.dA_dR, 1e-14 * std::fabs(s.dA_dR)) << R[i];
        }
    }
}

TEST(MeanValueSeries, FirstTermsArePointSourceAndItsLaplacian) {
    for (double u : {0.02, 0.5, 3.0, 1e3}) {
        lensing::MeanValueSeries series(u, true);
        double M0, dM0, M1, dM1;
        series.next(M0, dM0, u);
        series.next(M1, dM1, u);
        const double w = u * u;
        EXPECT_NEAR(M0, (w + 2) / (u * std::sqrt(w + 4)), 4.5e-16 * M0);
        EXPECT_NEAR(dM0, -8 / (w * std::pow(w + 4, 1.5)), 1e-14 * std::fabs(dM0));
        // M_1 (rho/u)^2 <r^2> is <r^2> (rho^2/4) Laplacian A.
        const double laplacian = 32 * (w + 1) / (u * w * std::pow(w + 4, 2.5));
        EXPECT_NEAR(M1, w * laplacian / 4, 1e-13 * std::fabs(M1)) << u;
    }
}

}  // namespace
