#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

#include "MathTestUtil.h"

namespace {

TEST(Vector, ErrorsCarryTheirTexts) {
    EXPECT_MATH_ERROR(vec({1, 2}) - vec({1, 2, 3}), "Error while substructing vector");
    EXPECT_MATH_ERROR(vec({1, 2}).vector3CrossProduct(vec({1, 2, 3})),
                      "Error from vector3CrossProduct, expected vector length was 3");
    EXPECT_MATH_ERROR(vec({1, 2, 3}).vector3CrossProduct(vec({1, 2})),
                      "Error from vector3CrossProduct, expected vector length was 3");
    EXPECT_MATH_ERROR(Vector::reduceBuffer({}, 1.0), "The buffer is empty");
}

TEST(Vector, ShorterOperandsNeverReadPastTheirEnd) {
    EXPECT_THROW(vec({1, 2, 3}).innerProduct(vec({1})), MathException);
    EXPECT_THROW(vec({1, 2, 3}) * vec({1, 2}), MathException);
    EXPECT_THROW(Vector::multiplyElements(vec({1, 2}), vec({1})), MathException);
    EXPECT_EQ(vec({1, 2, 3}) - vec({1}), vec({0, 2, 3}));
    EXPECT_EQ(vec({1}) + vec({1, 2}), vec({2, 2}));
    Vector a = vec({1, 2});
    a += std::vector<double>{1, 1, 1};
    EXPECT_EQ(a, vec({2, 3, 1}));
}

TEST(Vector, ShapeAndArithmetic) {
    EXPECT_EQ(Vector(3), vec({0, 0, 0}));
    EXPECT_EQ(Vector::Ones(2), vec({1, 1}));
    Vector v = vec({4, 5});
    v.resize(3);
    EXPECT_EQ(v, vec({4, 5, 0}));
    v.ZeroVector(2);
    EXPECT_EQ(v, vec({0, 0}));
    EXPECT_EQ(vec({1, 4}) / 2.0, vec({0.5, 2}));
    EXPECT_EQ(vec({1, 4}) - 1.0, vec({0, 3}));
    EXPECT_EQ(vec({4, 9}).Sqrt(), vec({2, 3}));
    EXPECT_EQ(vec({-4, 9}).Abs(), vec({4, 9}));
    EXPECT_DOUBLE_EQ(vec({3, 4}).norm(), 5.0);
    EXPECT_TRUE(VectorNear(vec({3, 4}).normalize(), vec({0.6, 0.8}), 1e-15));
    EXPECT_EQ(vec({1, 0, 0}).vector3CrossProduct(vec({0, 1, 0})), vec({0, 0, 1}));
    EXPECT_DOUBLE_EQ(vec({1, 2, 3}).Average(), 2.0);
    EXPECT_THROW(Vector(-1), MathException);
}

TEST(Vector, NormalizingZeroGivesNaNWithoutThrowing) {
    const Vector n = Vector(3).normalize();
    EXPECT_TRUE(std::isnan(n[0]));
}

TEST(Vector, MaxAndMinStartFromTheirLimits) {
    EXPECT_EQ(vec({-5, -1}).Max(), DBL_MIN);
    EXPECT_EQ(Vector().Max(), DBL_MIN);
    EXPECT_EQ(vec({3, 7, 1}).Max(), 7.0);
    EXPECT_EQ(Vector().Min(), DBL_MAX);
    EXPECT_EQ(vec({3, -7, 1}).Min(), -7.0);
}

TEST(Vector, AbsoluteMaximumPrefersTheFirstOfEquals) {
    EXPECT_EQ(vec({-3, 2}).getAbsMaxIndex(), 0);
    EXPECT_EQ(vec({-3, 2}).getAbsMaxValue(), 3.0);
    EXPECT_EQ(vec({1, -3, 3}).getAbsMaxIndex(), 1);
    EXPECT_EQ(vec({0, 0, 0}).getAbsMaxIndex(), 0);
    EXPECT_EQ(Vector().getAbsMaxValue(), 0.0);
}

TEST(Vector, SignTreatsNaNAsPositive) {
    EXPECT_EQ(Vector::sign(-2), -1.0);
    EXPECT_EQ(Vector::sign(0), 0.0);
    EXPECT_EQ(Vector::sign(3), 1.0);
    EXPECT_EQ(Vector::sign(NAN), 1.0);
}

TEST(Vector, AnglesOfEqualVectorsAreZero) {
    const Vector a = vec({0.1, 0.7, 0.3});
    EXPECT_EQ(a.vectorAngle(a * 3.0), 0.0);
    EXPECT_NEAR(Vector::Angle(vec({1, 0, 0}), vec({0, 2, 0})), M_PI / 2, 1e-15);
    EXPECT_NEAR(vec({1, 0, 0}).vectorAngle(vec({-1, 0, 0})), M_PI, 1e-15);
}

TEST(Vector, SetAngleCorrectsOnce) {
    Vector v = vec({-10, 370, 725, 0, 360});
    const Vector copy = v.setAngle();
    EXPECT_EQ(v, vec({350, 10, 365, 0, 360}));
    EXPECT_EQ(copy, v);
}

TEST(Vector, PrintedForms) {
    EXPECT_EQ(vec({1, 0, -0.5}).printArr(), "1.000000,0.000000,-0.500000;");
    EXPECT_EQ(vec({1, -22.25}).print(), "  1.000000 -22.250000 \n");
    EXPECT_EQ(vec({1e300}).printArr().size(), 309u);
}

TEST(Vector, ReduceBufferKeepsSamplesFartherThanTheDistance) {
    const std::vector<SensorData> buffer = {
        {0, {0, 0, 0}}, {1, {0, 0, 0}}, {2, {3, 4, 0}}, {3, {3, 4, 0.5}}, {4, {3, 4, 2}}};
    auto times = [](const std::vector<SensorData>& kept) {
        std::vector<double> t;
        for (const SensorData& s : kept)
            t.push_back(s.timestamp);
        return t;
    };
    EXPECT_EQ(times(Vector::reduceBuffer(buffer, 0.0)), (std::vector<double>{0, 2, 3, 4}));
    EXPECT_EQ(times(Vector::reduceBuffer(buffer, 1.0)), (std::vector<double>{0, 2, 4}));
    EXPECT_EQ(times(Vector::reduceBuffer(buffer, 5.0)), (std::vector<double>{0, 3}));
    EXPECT_EQ(times(Vector::reduceBuffer(buffer, 6.0)), (std::vector<double>{0}));
    EXPECT_EQ(times(Vector::reduceBuffer(buffer, 1e9)), (std::vector<double>{0}));
}

}  // namespace
