// Helpers for the elliptic-integral tests: error in ulps against a reference
// held as two doubles, the reader of the mpmath reference vectors, and the
// sweep of one kernel over one region of its vectors.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "numerics/elliptic/ellip_result.hpp"

namespace elliptic_test {

// |got − (hi + lo)| in units of the last place of hi; a reference of exactly 0
// or ±∞ is met only by that value.
inline double ulp_error(double got, double hi, double lo = 0.0) {
    if (got == hi && lo == 0) return 0.0;
    if (std::isnan(got) || hi == 0 || std::isinf(hi)) return std::numeric_limits<double>::infinity();
    const double a = std::fabs(hi);
    const double ulp = std::nextafter(a, std::numeric_limits<double>::infinity()) - a;
    return std::fabs((got - hi) - lo) / ulp;
}

struct ReferenceRow {
    std::vector<double> args;
    double expected;
    double expected_lo;
};

// Rows of tests/cpp/data/<name>.csv: '#' comment lines, one header line, then
// the arguments followed by expected and expected_lo.
inline std::vector<ReferenceRow> read_reference(const std::string& name) {
    std::ifstream in(std::string(CORVANIS_TEST_DATA_DIR) + "/" + name + ".csv");
    std::vector<ReferenceRow> rows;
    std::string line;
    bool header_seen = false;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        if (!header_seen) {
            header_seen = true;
            continue;
        }
        std::vector<double> fields;
        std::stringstream ss(line);
        std::string field;
        while (std::getline(ss, field, ',')) fields.push_back(std::strtod(field.c_str(), nullptr));
        ReferenceRow row;
        row.expected_lo = fields.back();
        fields.pop_back();
        row.expected = fields.back();
        fields.pop_back();
        row.args = std::move(fields);
        rows.push_back(std::move(row));
    }
    return rows;
}

using Args = std::vector<double>;

struct Sweep {
    const char* file;    // tests/cpp/data/<file>.csv
    const char* region;  // which rows, for the report
    std::function<bool(const Args&)> in_region;
    std::function<ellip::EllipResult(const Args&)> kernel;
    double max_ulps;
};

inline void PrintTo(const Sweep& s, std::ostream* os) { *os << s.file << " [" << s.region << "]"; }

inline std::string sweep_name(const ::testing::TestParamInfo<Sweep>& info) {
    return std::string(info.param.file) + "_" + std::to_string(info.index);
}

// Every row of the region must succeed within max_ulps; the worst error is
// printed so that the bound can be kept just above it.
inline void check_sweep(const Sweep& sweep) {
    const auto rows = read_reference(sweep.file);
    ASSERT_GE(rows.size(), 1000u) << "missing or short reference file " << sweep.file;
    double worst = 0;
    int count = 0;
    for (const auto& row : rows) {
        if (!sweep.in_region(row.args)) continue;
        ++count;
        const ellip::EllipResult r = sweep.kernel(row.args);
        ASSERT_TRUE(r.ok()) << ::testing::PrintToString(row.args) << ": " << r.error;
        const double err = ulp_error(r.value, row.expected, row.expected_lo);
        EXPECT_LE(err, sweep.max_ulps) << ::testing::PrintToString(row.args) << " gave "
                                       << r.value << ", expected " << row.expected;
        if (err > worst) worst = err;
    }
    EXPECT_GT(count, 0);
    std::printf("  %s [%s]: %d points, worst %.2f ulps\n", sweep.file, sweep.region, count, worst);
}

// A call expected to fail with a message, and one expected to succeed within
// a number of ulps of a reference value.
struct MessageCase {
    const char* call;
    ellip::EllipResult result;
    const char* message;
};

struct ValueCase {
    const char* call;
    ellip::EllipResult result;
    double expected;
    double max_ulps;
};

template <std::size_t N>
void check_messages(const MessageCase (&cases)[N]) {
    for (const auto& c : cases) {
        ASSERT_FALSE(c.result.ok()) << c.call << " gave " << c.result.value;
        EXPECT_STREQ(c.result.error, c.message) << c.call;
    }
}

template <std::size_t N>
void check_values(const ValueCase (&cases)[N]) {
    for (const auto& c : cases) {
        ASSERT_TRUE(c.result.ok()) << c.call << ": " << c.result.error;
        EXPECT_LE(ulp_error(c.result.value, c.expected), c.max_ulps)
            << c.call << " = " << c.result.value;
    }
}

}  // namespace elliptic_test
