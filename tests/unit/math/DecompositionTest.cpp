// SVD, quaternions, statistics and interpolation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>

#include "Interpolation.h"
#include "MathTestUtil.h"
#include "Quaternion.h"
#include "Statistics.h"
#include "SVD.h"

namespace {

std::string calibrationError(const std::function<void()>& f) {
    try {
        f();
    } catch (const CalibrationException& e) {
        return e.what();
    }
    return "no error";
}

TEST(SVD, OtherShapesStayZero) {
    const SVD svd(Matrix(2, 3, {1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(svd.getU(), Matrix(3, 3));
    EXPECT_EQ(svd.getV(), Matrix(2, 2));
    EXPECT_EQ(svd.getSigma(), Matrix(2, 3));
}

TEST(SVD, DiagonalMatrix) {
    const SVD svd(Matrix(3, 3, {1, 0, 0, 0, 2, 0, 0, 0, 3}));
    EXPECT_TRUE(MatrixNear(svd.getSigma(), Matrix(3, 3, {1, 0, 0, 0, 2, 0, 0, 0, 3}), 1e-15));
    EXPECT_EQ(svd.getU(), Matrix::Identity(3));
    EXPECT_TRUE(MatrixNear(svd.getV(), Matrix::Identity(3), 1e-15));
}

TEST(SVD, RotationHasUnitSingularValues) {
    const Matrix r = Matrix::rotationMatrixFromAxis(vec({0.3, -0.2, 0.9}));
    const SVD svd(r);
    EXPECT_TRUE(MatrixNear(svd.getSigma(), Matrix::Identity(3), 1e-7));
}

TEST(SVD, ReconstructsWithAscendingSingularValues) {
    const Matrix a(3, 3, {2, 1, 0.5, -1, 3, 0.2, 0.4, 0.1, 1.5});
    const SVD svd(a);
    const Matrix s = svd.getSigma();
    EXPECT_LT(s[0][0], s[1][1]);
    EXPECT_LT(s[1][1], s[2][2]);
    EXPECT_TRUE(MatrixNear(svd.getU() * s * svd.getV().transpose(), a, 1e-9));
    EXPECT_TRUE(MatrixNear(svd.getV().transpose() * svd.getV(), Matrix::Identity(3), 1e-9));
}

TEST(Quaternion, IdentityAndRotation) {
    const Quaternion zero(Vector(3));
    EXPECT_EQ(zero.w, 1.0);
    EXPECT_EQ(zero.x, 0.0);
    const Quaternion q(vec({0, 0, M_PI / 2}));
    EXPECT_TRUE(VectorNear(Quaternion::RotateVector(vec({1, 0, 0}), q), vec({0, 1, 0}), 1e-15));
    const Quaternion p = q * Quaternion();
    EXPECT_EQ(p.x, q.x);
    EXPECT_EQ(p.z, q.z);
    EXPECT_EQ(p.w, q.w);
    // Two quarter turns make a half turn.
    EXPECT_TRUE(VectorNear(Quaternion::RotateVector(vec({1, 0, 0}), q * q), vec({-1, 0, 0}), 1e-15));
}

TEST(Quaternion, AgreesWithTheRotationMatrix) {
    const Vector w = vec({0.4, -0.7, 0.2});
    const Vector v = vec({1.5, 2.0, -0.5});
    EXPECT_TRUE(VectorNear(Quaternion::RotateVector(v, Quaternion(w)), Matrix::rotationMatrixFromAxis(w) * v, 1e-12));
}

std::vector<SensorData> buffer(std::initializer_list<std::vector<double>> rows) {
    std::vector<SensorData> b;
    double t = 0;
    for (const auto& r : rows)
        b.emplace_back(t++, r);
    return b;
}

TEST(Statistics, ListStatistics) {
    EXPECT_EQ(Statistics::Median({3, 1, 2}), 2.0);
    EXPECT_EQ(Statistics::Median({4, 1, 3, 2}), 2.5);
    EXPECT_EQ(Statistics::calcStd(std::vector<double>{1, 1, 1}), 0.0);
    EXPECT_EQ(Statistics::calcStd(std::vector<double>{0, 2}), 1.0);
    EXPECT_EQ(Statistics::calcStd(std::vector<double>{0.1, 0.1, 0.1}), 0.0);
    EXPECT_EQ(Statistics::calcStd(std::vector<double>{}), 0.0);
    EXPECT_EQ(Statistics::mean({}), 0.0);
    EXPECT_EQ(Statistics::mean({1, 2, 6}), 3.0);
    EXPECT_EQ(calibrationError([] { Statistics::Median(std::vector<double>{}); }), "Internal error");
    // The mean near the median: a coarse resolution's second code counts, a spike does not.
    EXPECT_DOUBLE_EQ(Statistics::RobustMean({1, 1, 1, 1, 1, 1, 1, 1, 1, 2}), 1.1);
    EXPECT_DOUBLE_EQ(Statistics::RobustMean({1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 3.5}), 1.1);  // 2.5 codes away: out
    EXPECT_DOUBLE_EQ(Statistics::RobustMean({10, 10.1, 9.9, 10, 10.05, 9.95, 100}), 10.0);
    EXPECT_EQ(Statistics::RobustMean({4, 4, 4}), 4.0);
    EXPECT_TRUE(std::isnan(Statistics::RobustMean({1, NAN, 2})));
    // An even count: the median between the middle two, the spike past four
    // deviations of it left out; a zero in the middle.
    EXPECT_DOUBLE_EQ(Statistics::RobustMean({1, 2, 3, 4, 100, 2.5}), 2.5);
    EXPECT_DOUBLE_EQ(Statistics::RobustMean({0, 0, 1, -1, 5, 0, 0.5}), 0.5 / 6);
    // Where the middle lies decides which values count: 11.0 and 11.9 are
    // past four deviations of the median 10.05, 10.7 is not.
    EXPECT_DOUBLE_EQ(Statistics::RobustMean({10.7, 9.9, 11.9, 10.0, 9.7, 10.2, 10.0, 11.0, 9.9, 10.1}), 80.5 / 8);
}

// The two ranks a median needs, as a full selection gives them, whether a
// long list is bracketed from a sample of it or selected whole: short and
// long lists, the ranks at both ends, values in order (a drift), long runs of
// equal values (a coarse resolution), a sample all of one value.
TEST(Statistics, RanksAsAFullSelectionGivesThem) {
    struct Case {
        const char* what;
        size_t n, k;
        std::function<double(size_t, std::mt19937&)> value;
    };
    std::normal_distribution<double> normal(0.0, 1.0);
    const auto noise = [&](size_t, std::mt19937& r) { return normal(r); };
    const Case cases[] = {
        {"short", 999, 499, noise},
        {"long, the middle", 200001, 100000, noise},
        {"long, the second", 100000, 1, noise},
        {"long, the last", 100000, 99999, noise},
        {"in order", 120000, 60000, [](size_t i, std::mt19937&) { return 1e-3 * static_cast<double>(i); }},
        {"coarse", 150000, 75000, [&](size_t, std::mt19937& r) { return std::round(normal(r) * 2) / 2; }},
        {"nearly all one value", 100000, 50000,
         [](size_t i, std::mt19937&) { return i % 1000 == 7 ? static_cast<double>(i) : 1.0; }},
        // Every sampled value is the largest: the rank lies at the bracket's
        // foot, the one below it under the bracket.
        {"a sample of the largest value only", 100000, 98969,
         [](size_t i, std::mt19937&) { return i % 97 == 0 ? 1.0 : static_cast<double>(i % 1000) / 1000; }},
        // ... and the rank just above the bracket's top.
        {"a sample of one value, the rank just above it", 100000, 99901, [](size_t i, std::mt19937&) {
             return i % 97 == 0 ? 1.0 : i % 1000 == 500 ? 2.0 : static_cast<double>(i % 1000) / 1000;
         }},
    };
    for (const Case& c : cases) {
        std::mt19937 random(7);
        std::vector<double> values(c.n);
        for (size_t i = 0; i < c.n; ++i)
            values[i] = c.value(i, random);
        std::vector<double> whole = values;
        std::sort(whole.begin(), whole.end());
        const std::pair<double, double> ranks = Statistics::ranksBelowAndAt(values, c.k);
        EXPECT_EQ(ranks.first, whole[c.k - 1]) << c.what;
        EXPECT_EQ(ranks.second, whole[c.k]) << c.what;
    }
    std::vector<double> two = {2, 1};
    EXPECT_EQ(calibrationError([&] { Statistics::ranksBelowAndAt(two, 0); }), "Internal error");
    EXPECT_EQ(calibrationError([&] { Statistics::ranksBelowAndAt(two, 2); }), "Internal error");
}

TEST(Statistics, BufferStatistics) {
    const auto b = buffer({{1, 10, 0}, {3, 20, 0}, {5, 60, 0}, {7, 10, 9}});
    EXPECT_EQ(Statistics::calcAvg(b, 0, 1, 2), 4.0);
    EXPECT_EQ(Statistics::calcStd(b, 0, 0, 2), 1.0);
    EXPECT_EQ(Statistics::Median(b, BufferRange(0, 2)), vec({3, 20, 0}));
    EXPECT_EQ(Statistics::Median(b, BufferRange(0, 3)), vec({4, 15, 0}));
    EXPECT_EQ(Statistics::Median(b, BufferRange(2, 1)), Vector());
    EXPECT_EQ(Statistics::FindRangeMax(b, BufferRange(0, 2)), 50.0);
    EXPECT_EQ(Statistics::FindRangeMax({}, BufferRange(0, 5)), 0.0);
    EXPECT_DOUBLE_EQ(Statistics::FindSTDMax(b, BufferRange(0, 1)), 5.0);
}

TEST(Statistics, OutOfRangeRequestsAreRefused) {
    const auto b = buffer({{1, 2, 3}, {4, 5, 6}});
    const auto shortSample = buffer({{1, 2, 3}, {4}});
    struct Case {
        std::function<void()> call;
        const char* message;
    };
    const Case cases[] = {
        {[&] { Statistics::calcAvg(b, 0, 0, 0); }, "Internal error"},
        {[&] { Statistics::calcAvg(b, 0, 1, 2); }, "Internal error"},
        {[&] { Statistics::calcAvg(b, 0, -1, 1); }, "Internal error"},
        {[&] { Statistics::calcAvg(b, 3, 0, 1); }, "Internal error"},
        {[&] { Statistics::calcAvg(b, -1, 0, 1); }, "Internal error"},
        {[&] { Statistics::calcStd(b, 0, 0, 3); }, "Internal error"},
        {[&] { Statistics::calcStd(b, 0, 0, 0); }, "Internal error"},
        {[&] { Statistics::FindRangeMax(b, BufferRange(0, 2)); }, "invalid buffer range"},
        {[&] { Statistics::FindRangeMax(b, BufferRange(2, 1)); }, "invalid buffer range"},
        {[&] { Statistics::FindRangeMax(shortSample, BufferRange(0, 1)); }, "invalid buffer range"},
        {[&] { Statistics::FindSTDMax({}, BufferRange(0, 0)); }, "invalid buffer range"},
        {[&] { Statistics::FindSTDMax(b, BufferRange(-1, 1)); }, "invalid buffer range"},
        {[&] { Statistics::FindSTDMax(b, BufferRange(0, 2)); }, "invalid buffer range"},
        {[&] { Statistics::Median(b, BufferRange(1, 2)); }, "invalid buffer range"},
        {[&] { Statistics::Median(shortSample, BufferRange(0, 1)); }, "invalid buffer range"},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
        EXPECT_EQ(calibrationError(cases[i].call), cases[i].message) << "case " << i;
}

TEST(Interpolation, LinearWithHeldEnds) {
    const std::vector<double> xs{0, 10}, ys{0, 100};
    EXPECT_EQ(Interpolation::LinearInterpolation(xs, ys, 5), 50.0);
    EXPECT_EQ(Interpolation::LinearInterpolation(xs, ys, -1), 0.0);
    EXPECT_EQ(Interpolation::LinearInterpolation(xs, ys, 11), 100.0);
    EXPECT_EQ(Interpolation::LinearInterpolation({1}, {7}, 5), 7.0);
}

TEST(Interpolation, FindIndexBisects) {
    std::vector<double> xs;
    for (int i = 0; i < 1000; ++i)
        xs.push_back(i * 0.5);
    for (int i = 0; i < 999; ++i) {
        EXPECT_EQ(Interpolation::findIndex(xs, i * 0.5), i);
        EXPECT_EQ(Interpolation::findIndex(xs, i * 0.5 + 0.25), i);
    }
}

TEST(Interpolation, MalformedListsAreRefused) {
    EXPECT_EQ(calibrationError([] { Interpolation::findIndex({0, 1}, 1); }), "Internal error");
    EXPECT_EQ(calibrationError([] { Interpolation::findIndex({}, 0); }), "Internal error");
    EXPECT_EQ(calibrationError([] { Interpolation::findIndex({0, 5, 9}, NAN); }), "Internal error");
    EXPECT_EQ(calibrationError([] { Interpolation::LinearInterpolation({}, {}, 0); }), "Internal error");
    EXPECT_EQ(calibrationError([] { Interpolation::LinearInterpolation({0, 1, 2}, {0, 1}, 5); }), "Internal error");
}

TEST(Interpolation, ResamplesABufferAtTargetTimes) {
    const std::vector<SensorData> source = {{0, {0, 10, -1}}, {10, {10, 20, -1}}, {20, {0, 0, 1}}};
    const std::vector<SensorData> target = {{-5, {}}, {5, {}}, {15, {}}, {25, {}}};
    const std::vector<Vector> r = Interpolation::LinearInterpolation(source, target);
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0], vec({0, 10, -1}));
    EXPECT_EQ(r[1], vec({5, 15, -1}));
    EXPECT_EQ(r[2], vec({5, 10, 0}));
    EXPECT_EQ(r[3], vec({0, 0, 1}));
    EXPECT_THROW(Interpolation::LinearInterpolation(std::vector<SensorData>{{0, {1}}}, target), CalibrationException);
}

}  // namespace
