// Singular value decomposition of 3x3 matrices through the eigen-decomposition
// of a*a^T. Singular values come out in ascending order: a = U * Sigma * V^T.
#pragma once

#include "Matrix.h"

class SVD {
public:
    // Sizes U, V and Sigma from a; decomposes only when a is 3x3 (otherwise all
    // three stay zero).
    explicit SVD(const Matrix& a);
    void svd3x3(const Matrix& a);

    Matrix getU() const { return U; }
    Matrix getV() const { return V; }
    Matrix getSigma() const { return sigma; }

private:
    Matrix U;
    Matrix V;
    Matrix sigma;
};
