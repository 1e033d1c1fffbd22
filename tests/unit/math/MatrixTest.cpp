#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "MathTestUtil.h"

namespace {

const char kWrong[] =
    "Wrong matrices. The number of columns in the first matrix should be equal to the number of rows in the "
    "second";

Matrix randomWellConditioned(int n, std::mt19937& rng) {
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    Matrix m(n, n);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            m[i][j] = u(rng) + (i == j ? n : 0.0);
    // Scramble rows so that pivoting has work to do.
    for (int i = 0; i + 1 < n; i += 2)
        m.swapRow(i, i + 1);
    return m;
}

TEST(Matrix, ErrorsCarryTheirTexts) {
    EXPECT_MATH_ERROR(Matrix(2, 3) * Matrix(2, 3), kWrong);
    EXPECT_MATH_ERROR(Matrix(2, 3) * vec({1, 2}), kWrong);
    EXPECT_MATH_ERROR(Matrix(2, 2).determinant3x3(), "Matrix is not 3x3");
    EXPECT_MATH_ERROR(Matrix(3, 2).invert3x3(), "Matrix is not 3x3");
    EXPECT_MATH_ERROR(Matrix::eigenValue(Matrix(2, 2)), "Matrix is not 3x3");
    EXPECT_MATH_ERROR(Matrix(3, 3).invert3x3(), "Failed to invert matrix");
    EXPECT_MATH_ERROR(Matrix(2, 3).invert(), "Matrix is not square");
    EXPECT_MATH_ERROR(Matrix::getIndexOfAbsoluteMax(vec({1, 2})),
                      "Error from getIndexOfAbsoluteMax, expected a 3X1 matrix");
    Matrix asym = Matrix::Identity(3);
    asym[0][1] = 0.001;  // s = 1e-6
    EXPECT_MATH_ERROR(Matrix::eigenValue(asym), "Matrix is not symmetric");
    EXPECT_THROW(Matrix(3, 1).innerProduct(Matrix(2, 1)), MathException);
    EXPECT_THROW(Matrix(2, 2) + Matrix(1, 2), MathException);
    EXPECT_THROW(Matrix(2, 2).getRow(2), MathException);
    EXPECT_THROW(Matrix(2, 2).swapColumn(0, -1), MathException);
}

TEST(Matrix, InverseTimesMatrixIsIdentity) {
    std::mt19937 rng(42);
    for (int n = 1; n <= 9; ++n) {
        for (int trial = 0; trial < 5; ++trial) {
            const Matrix a = randomWellConditioned(n, rng);
            EXPECT_TRUE(MatrixNear(a * a.invert(), Matrix::Identity(n), 1e-12)) << "n = " << n;
            if (n == 3) {
                EXPECT_TRUE(MatrixNear(a.invert3x3(), a.invert(), 1e-12));
            }
        }
    }
    EXPECT_EQ(Matrix(1, 1, {4.0}).invert(), Matrix(1, 1, {0.25}));
}

TEST(Matrix, SingularInverseYieldsNonFiniteWithoutThrowing) {
    const Matrix singular(3, 3, {1, 2, 3, 2, 4, 6, 1, 1, 1});
    Matrix inv;
    EXPECT_NO_THROW(inv = singular.invert());
    bool nonFinite = false;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            nonFinite = nonFinite || !std::isfinite(inv[i][j]);
    EXPECT_TRUE(nonFinite);
    EXPECT_THROW(Matrix(3, 3).invert3x3(), MathException);
}

TEST(Matrix, PivotOfAllZeroBlockIsItsTopLeft) {
    EXPECT_EQ(Matrix(3, 3).getAbsMaxIndex(), 0);
    EXPECT_EQ(Matrix(2, 2, {0, 0, 0, 5}).getAbsMaxIndex(), 3);
    EXPECT_EQ(Matrix(2, 2, {-5, 5, 0, 5}).getAbsMaxIndex(), 0);
}

TEST(Matrix, AbsMaxValueIsSignedUnlikeTheVectorForm) {
    EXPECT_EQ(Matrix(1, 2, {-3, 2}).getAbsMaxValue(), -3.0);
    EXPECT_EQ(vec({-3, 2}).getAbsMaxValue(), 3.0);
    EXPECT_EQ(Matrix::getIndexOfAbsoluteMax(vec({-3, 3, 1})), 0);
    EXPECT_EQ(Matrix::getIndexOfAbsoluteMax(vec({1, -2, 2})), 1);
}

TEST(Matrix, EigenValuesOfDiagonalKeepTheirOrder) {
    EXPECT_EQ(Matrix::eigenValue(Matrix(3, 3, {3, 0, 0, 0, 1, 0, 0, 0, 2})), vec({3, 1, 2}));
    EXPECT_EQ(Matrix::eigenValue(Matrix(3, 3, {5, 0, 0, 0, 9, 0, 0, 0, 7})), vec({5, 9, 7}));
    EXPECT_EQ(Matrix(3, 3, {3, 0, 0, 0, 1, 0, 0, 0, 2}).eigen3x3(), vec({3, 1, 2}));
}

TEST(Matrix, EigenValuesOfSymmetricMatricesAreAscendingAndSumToTheTrace) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(-3.0, 3.0);
    for (int trial = 0; trial < 50; ++trial) {
        Matrix a(3, 3);
        for (int i = 0; i < 3; ++i)
            for (int j = i; j < 3; ++j)
                a[i][j] = a[j][i] = u(rng);
        for (const Vector& lambda : {Matrix::eigenValue(a), a.eigen3x3()}) {
            EXPECT_LE(lambda[0], lambda[1]);
            EXPECT_LE(lambda[1], lambda[2]);
            EXPECT_NEAR(lambda.Sum(), a.getTrace(), 1e-10);
            for (int k = 0; k < 3; ++k) {
                // Each value makes a - lambda*I singular.
                EXPECT_NEAR((a - Matrix::Identity(3) * lambda[k]).determinant3x3(), 0.0, 1e-8);
                const Vector x = a.eigenVector(lambda[k]);
                EXPECT_NEAR(x.norm(), 1.0, 1e-12);
                EXPECT_GT(x[0], 0.0);
                EXPECT_TRUE(VectorNear(a * x, x * lambda[k], 1e-6));
            }
        }
    }
}

TEST(Matrix, DiagonalTestUsesTheRatioToTheSmallestDiagonal) {
    EXPECT_TRUE(Matrix(2, 2, {1, 1e-11, 1e-11, 1}).isDiagonal());
    EXPECT_FALSE(Matrix(2, 2, {1, 1e-9, 1e-9, 1}).isDiagonal());
    EXPECT_FALSE(Matrix(2, 3).isDiagonal());
    EXPECT_TRUE(Matrix(1, 1, {0}).isDiagonal());
    EXPECT_TRUE(Matrix(2, 2).isDiagonal());
}

TEST(Matrix, IsIntRefusesValuesOutsideTheIntegerRange) {
    EXPECT_TRUE(Matrix(1, 3, {1, -2, 0}).isInt());
    EXPECT_FALSE(Matrix(1, 2, {1, 0.5}).isInt());
    EXPECT_FALSE(Matrix(1, 1, {1e12}).isInt());
    EXPECT_FALSE(Matrix(1, 1, {NAN}).isInt());
}

TEST(Matrix, RotationVectorRoundTrips) {
    const std::vector<Vector> cases = {vec({0.1, 0, 0}), vec({0, -1.2, 0}), vec({0.3, 0.4, -0.5}),
                                       vec({1.5, 1.0, 2.0}), vec({1e-3, 2e-3, 0})};
    for (const Vector& w : cases) {
        const Matrix r = Matrix::rotationMatrixFromAxis(w);
        EXPECT_TRUE(MatrixNear(r * r.transpose(), Matrix::Identity(3), 1e-12));
        EXPECT_NEAR(r.determinant3x3(), 1.0, 1e-12);
        EXPECT_TRUE(VectorNear(r.rotationMatrixToRotationAxis(), w, 1e-9));
    }
    EXPECT_EQ(Matrix::rotationMatrixFromAxis(Vector(3)), Matrix::Identity(3));
    EXPECT_EQ(Matrix::Identity(3).rotationMatrixToRotationAxis(), Vector(3));
    // A half turn has no unique axis: the row of the largest element carries pi/2.
    const Matrix halfTurnAboutZ(3, 3, {-1, 0, 0, 0, -1, 0, 0, 0, 1});
    EXPECT_TRUE(VectorNear(halfTurnAboutZ.rotationMatrixToRotationAxis(), vec({M_PI / 2, 0, 0}), 1e-15));
    const Matrix nearlyHalfTurn(3, 3, {-0.99, 0, 0, 0, -0.99, 0, 0, 0, 1});
    EXPECT_TRUE(VectorNear(nearlyHalfTurn.rotationMatrixToRotationAxis(), vec({0, 0, M_PI / 2}), 1e-15));
}

TEST(Matrix, RodriguesRotatesAboutTheAxis) {
    const Matrix r = Matrix::rotationMatrixFromAxis(vec({0, 0, M_PI / 2}));
    EXPECT_TRUE(VectorNear(r * vec({1, 0, 0}), vec({0, 1, 0}), 1e-15));
}

TEST(Matrix, ApproximateRotationKeepsAnOrthonormalFrame) {
    const Matrix frame = Matrix::Identity(3).applyApproximateRotation(vec({0.01, -0.02, 0.005}));
    // The second row is orthogonalised against the not yet normalised first row.
    EXPECT_TRUE(MatrixNear(frame * frame.transpose(), Matrix::Identity(3), 1e-6));
    EXPECT_TRUE(MatrixNear(frame, Matrix::rotationMatrixFromAxis(vec({-0.01, 0.02, -0.005})).transpose(), 1e-3));
}

TEST(Matrix, ShapeOperations) {
    const Matrix m(2, 3, {1, 2, 3, 4, 5, 6});
    EXPECT_EQ(m.transpose(), Matrix(3, 2, {1, 4, 2, 5, 3, 6}));
    EXPECT_EQ(m.getCol(1), Matrix(2, 1, {2, 5}));
    EXPECT_EQ(m.getRow(1), vec({4, 5, 6}));
    EXPECT_EQ(m.getRect(0, 1, 2, 3), Matrix(2, 2, {2, 3, 5, 6}));
    EXPECT_EQ(Matrix::getAsVector(m), vec({1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(Matrix(vec({7, 8})), Matrix(2, 1, {7, 8}));
    EXPECT_EQ(Matrix(std::vector<Vector>{vec({1, 2}), vec({3, 4})}), Matrix(2, 2, {1, 2, 3, 4}));
    EXPECT_EQ(Matrix::multiplyVecByMat(vec({1, 1}), m), vec({5, 7, 9}));
    EXPECT_EQ(m * vec({1, 0, 1}), vec({4, 10}));
    EXPECT_EQ(m.transposeMultiply(), m.transpose() * m);
    EXPECT_DOUBLE_EQ(Matrix(3, 1, {1, 2, 2}).innerProduct(Matrix(3, 1, {2, 0, 1})), 4.0);
    EXPECT_NEAR(Matrix::VectorAngle(Matrix(3, 1, {1, 0, 0}), Matrix(3, 1, {0, 3, 0})), M_PI / 2, 1e-15);
    EXPECT_EQ(Matrix::projection(vec({1, 2})), Matrix(2, 2, {1, 2, 2, 4}));
    EXPECT_EQ(Matrix::cross(vec({1, 2, 3})) * vec({4, 5, 6}), vec({1, 2, 3}).vector3CrossProduct(vec({4, 5, 6})));
    EXPECT_DOUBLE_EQ(Matrix(2, 2, {1, 2, 2, 4}).norm(), 5.0);
    EXPECT_DOUBLE_EQ(Matrix(3, 3, {2, 0, 0, 0, 3, 0, 0, 0, 4}).determinant3x3(), 24.0);
}

TEST(Matrix, PrintedForms) {
    EXPECT_EQ(Matrix::Identity(3).printArr(),
              "1.000000,0.000000,0.000000;0.000000,1.000000,0.000000;0.000000,0.000000,1.000000;");
    EXPECT_EQ(Matrix(2, 1, {1, 2}).print(), "  1.000000 \n  2.000000 \n");
}

}  // namespace
