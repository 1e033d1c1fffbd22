#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <random>

#include "EllipsoidFit.h"
#include "MathTestUtil.h"

namespace {

// Points on the unit sphere, evenly spread (Fibonacci lattice).
std::vector<Vector> unitSphere(int n) {
    std::vector<Vector> points;
    const double golden = M_PI * (3.0 - std::sqrt(5.0));
    for (int i = 0; i < n; ++i) {
        const double z = 1.0 - 2.0 * (i + 0.5) / n;
        const double r = std::sqrt(1.0 - z * z);
        points.push_back(vec({r * std::cos(golden * i), r * std::sin(golden * i), z}));
    }
    return points;
}

// Samples on the ellipsoid centre + R * diag(radii) * unit sphere.
std::vector<SensorData> ellipsoid(const Vector& centre, const Vector& radii, const Matrix& rot, int n = 400) {
    std::vector<SensorData> samples;
    for (const Vector& u : unitSphere(n)) {
        const Vector p = rot * Vector::multiplyElements(u, radii) + centre;
        samples.emplace_back(0.0, p.elements());
    }
    return samples;
}

TEST(EllipsoidFit, DefaultsBeforeAnyFit) {
    const EllipsoidFit fit;
    EXPECT_EQ(fit.center, Vector(3));
    EXPECT_EQ(fit.axisScale, Vector::Ones(3));
    EXPECT_EQ(fit.radii, Vector::Ones(3));
    EXPECT_EQ(fit.transform, Matrix::Identity(3));
    EXPECT_EQ(fit.rotation, Matrix::Identity(3));
}

TEST(EllipsoidFit, SphereGivesItsCentreAndNoCorrection) {
    const EllipsoidFit fit(ellipsoid(vec({10, -5, 3}), vec({50, 50, 50}), Matrix::Identity(3)));
    EXPECT_TRUE(VectorNear(fit.center, vec({10, -5, 3}), 1e-9));
    EXPECT_TRUE(VectorNear(fit.axisScale, vec({1, 1, 1}), 1e-9));
    EXPECT_TRUE(VectorNear(fit.radii, vec({1, 1, 1}), 1e-9));
    EXPECT_NEAR(fit.scale, 1.0 / 50, 1e-12);
    EXPECT_TRUE(MatrixNear(fit.rotation, Matrix::Identity(3), 1e-12));
    EXPECT_TRUE(MatrixNear(fit.transform, Matrix::Identity(3), 1e-9));
}

TEST(EllipsoidFit, AxisAlignedEllipsoid) {
    const auto samples = ellipsoid(Vector(3), vec({2, 1, 1}), Matrix::Identity(3));
    const EllipsoidFit fit(samples);
    EXPECT_NEAR(fit.scale, (0.5 + 1 + 1) / 3, 1e-9);
    EXPECT_TRUE(VectorNear(fit.axisScale, vec({0.6, 1.2, 1.2}), 1e-9));
    for (const SensorData& s : samples)
        EXPECT_NEAR(fit.calibrate(Vector(s.values)).norm(), 1.2, 1e-9);
}

TEST(EllipsoidFit, RescaledFitGivesTheRequestedMagnitude) {
    const Matrix rot = Matrix::rotationMatrixFromAxis(vec({0.3, -0.5, 0.8}));
    const auto samples = ellipsoid(vec({28, -40, -27}), vec({55, 47, 51}), rot);
    const EllipsoidFit fit(samples, 48.0);
    EXPECT_TRUE(VectorNear(fit.center, vec({28, -40, -27}), 1e-8));
    for (const SensorData& s : samples)
        EXPECT_NEAR(fit.calibrate(Vector(s.values)).norm(), 48.0, 1e-8);
    EXPECT_NEAR(fit.ellipsoidError(samples, 48.0), 0.0, 1e-9);
    EXPECT_NEAR(EllipsoidFit(samples).ellipsoidError(samples, 48.0), std::fabs(1.0 / EllipsoidFit(samples).scale - 48.0),
                1.0);
}

TEST(EllipsoidFit, RealMagnetometerReadings) {
    std::ifstream in(TEST_DATA_DIR "/mag-readings.tsv");
    ASSERT_TRUE(in.good());
    std::vector<SensorData> samples;
    double x, y, z;
    while (in >> x >> y >> z)
        samples.emplace_back(0.0, std::vector<double>{x, y, z});
    ASSERT_EQ(samples.size(), 324u);
    const EllipsoidFit fit(samples, 53.3);
    // The published hard-iron centre of this data set.
    EXPECT_TRUE(VectorNear(fit.center, vec({28.557458, -39.981060, -27.428035}), 0.5));
    EXPECT_LT(fit.ellipsoidError(samples, 53.3), 1.0);
}

TEST(EllipsoidFit, TooFewOrDegenerateSamplesFailClearly) {
    std::vector<SensorData> few = ellipsoid(Vector(3), vec({1, 1, 1}), Matrix::Identity(3), 8);
    EXPECT_THROW(EllipsoidFit{few}, MathException);
    std::vector<SensorData> flat;
    for (int i = 0; i < 50; ++i)
        flat.emplace_back(0.0, std::vector<double>{std::cos(i * 0.3), std::sin(i * 0.3), 0.0});
    EXPECT_THROW(EllipsoidFit{flat}, MathException);
    EXPECT_THROW(EllipsoidFit(std::vector<SensorData>(20, SensorData(0.0, {1.0}))), MathException);
}

TEST(EllipsoidFit, CentreOfAPlanarTurn) {
    std::vector<SensorData> turn;
    for (int i = 0; i < 360; ++i) {
        const double a = i * M_PI / 180.0;
        turn.emplace_back(i, std::vector<double>{1 + 30 * std::cos(a), 2 + 30 * std::sin(a), 7});
    }
    EllipsoidFit fit;
    EXPECT_TRUE(VectorNear(fit.FindEllispseCenter(turn), vec({1, 2, 7}), 1e-9));
    EXPECT_TRUE(VectorNear(fit.axisScale, vec({30, 30}), 1e-9));
}

TEST(EllipsoidFit, TiltedEllipseInATiltedPlane) {
    const Matrix tilt = Matrix::rotationMatrixFromAxis(vec({0.4, 0.2, -0.3}));
    std::vector<SensorData> turn;
    for (int i = 0; i < 360; ++i) {
        const double a = i * M_PI / 180.0;
        const Vector local = vec({40 * std::cos(a) * std::cos(0.5) - 25 * std::sin(a) * std::sin(0.5),
                                  40 * std::cos(a) * std::sin(0.5) + 25 * std::sin(a) * std::cos(0.5), 0});
        turn.emplace_back(i, (tilt * local + vec({5, -3, 12})).elements());
    }
    EllipsoidFit fit;
    EXPECT_TRUE(VectorNear(fit.FindEllispseCenter(turn), vec({5, -3, 12}), 1e-6));
}

TEST(EllipsoidFit, ConicsThatAreNoEllipseAreReported) {
    std::vector<Vector> hyperbola;
    for (int i = -20; i <= 20; ++i) {
        const double t = i * 0.1;
        hyperbola.push_back(vec({std::cosh(t), std::sinh(t)}));
        hyperbola.push_back(vec({-std::cosh(t), std::sinh(t)}));
    }
    EllipsoidFit fit;
    EXPECT_MATH_ERROR(fit.Ellipse_Center(hyperbola), "Hyperbola found, fit_ellipse: Did not locate an ellipse");
    EXPECT_THROW(fit.FindEllispseCenter({SensorData(0, {1, 2, 3})}), MathException);
}

}  // namespace
