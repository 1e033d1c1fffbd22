// Readable failure output and tolerant comparisons for vectors and matrices.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <random>

#include "Matrix.h"
#include "Vector.h"

inline void PrintTo(const Vector& v, std::ostream* os) {
    *os << "(";
    for (int i = 0; i < v.size(); ++i)
        *os << (i ? ", " : "") << v[i];
    *os << ")";
}

inline void PrintTo(const Matrix& m, std::ostream* os) {
    *os << m.getRows() << "x" << m.getCols() << " [";
    for (int i = 0; i < m.getRows(); ++i) {
        *os << (i ? "; " : "");
        for (int j = 0; j < m.getCols(); ++j)
            *os << (j ? ", " : "") << m[i][j];
    }
    *os << "]";
}

inline ::testing::AssertionResult VectorNear(const Vector& actual, const Vector& expected, double tol) {
    if (actual.size() != expected.size())
        return ::testing::AssertionFailure() << "length " << actual.size() << " != " << expected.size();
    for (int i = 0; i < actual.size(); ++i)
        if (!(std::fabs(actual[i] - expected[i]) <= tol)) {
            ::testing::AssertionResult r = ::testing::AssertionFailure();
            r << "element " << i << ": " << ::testing::PrintToString(actual) << " vs expected "
              << ::testing::PrintToString(expected) << " (tolerance " << tol << ")";
            return r;
        }
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult MatrixNear(const Matrix& actual, const Matrix& expected, double tol) {
    if (actual.getRows() != expected.getRows() || actual.getCols() != expected.getCols())
        return ::testing::AssertionFailure() << "shape " << ::testing::PrintToString(actual) << " vs "
                                             << ::testing::PrintToString(expected);
    for (int i = 0; i < actual.getRows(); ++i)
        for (int j = 0; j < actual.getCols(); ++j)
            if (!(std::fabs(actual[i][j] - expected[i][j]) <= tol))
                return ::testing::AssertionFailure()
                       << "element (" << i << ", " << j << "): " << ::testing::PrintToString(actual)
                       << " vs expected " << ::testing::PrintToString(expected) << " (tolerance " << tol << ")";
    return ::testing::AssertionSuccess();
}

inline Vector vec(std::initializer_list<double> values) {
    return Vector(std::vector<double>(values));
}

// Throws and checks the full message of a MathException (with its prefix).
#define EXPECT_MATH_ERROR(statement, text)                                   \
    do {                                                                     \
        try {                                                                \
            statement;                                                       \
            ADD_FAILURE() << "expected MathException: " << (text);           \
        } catch (const MathException& e) {                                   \
            EXPECT_EQ(std::string(e.what()), std::string("Math Error: ") + (text)); \
        }                                                                    \
    } while (0)
