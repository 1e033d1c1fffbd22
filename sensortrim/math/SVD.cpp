#include "SVD.h"

#include <cmath>

SVD::SVD(const Matrix& a)
    : U(a.getCols(), a.getCols()), V(a.getRows(), a.getRows()), sigma(a.getRows(), a.getCols()) {
    if (a.getRows() == 3 && a.getCols() == 3)
        svd3x3(a);
}

void SVD::svd3x3(const Matrix& a) {
    const Matrix m = a * a.transpose();
    const Vector lambda = m.eigen3x3();
    if (m.isDiagonal()) {
        U = Matrix::Identity(3);
    } else {
        U = Matrix(3, 3);
        for (int k = 0; k < 3; ++k)
            U.setColumn(m.eigenVector(lambda[k]), k);
    }
    sigma = Matrix::Identity(3);
    for (int k = 0; k < 3; ++k)
        sigma[k][k] = lambda[k] > 0 ? 1.0 / std::sqrt(lambda[k]) : 0.0;
    V = a.transpose() * U * sigma;
    for (int k = 0; k < 3; ++k)
        sigma[k][k] = std::sqrt(lambda[k]);
}
