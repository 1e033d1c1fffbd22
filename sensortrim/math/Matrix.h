// Dense row-major matrix of doubles with value semantics.
#pragma once

#include <string>
#include <vector>

#include "Vector.h"

class Matrix {
public:
    Matrix() = default;
    Matrix(int rows, int cols);
    Matrix(int rows, int cols, const std::vector<double>& rowMajor);
    explicit Matrix(const Vector& column);
    explicit Matrix(const std::vector<Vector>& rowVectors);

    void init(int rows, int cols);
    static Matrix Identity(int n);

    int getRows() const { return rowCount; }
    int getCols() const { return colCount; }

    // No range test: an index outside the shape is a caller error.
    Vector& operator[](int i) { return rowsData[static_cast<size_t>(i)]; }
    const Vector& operator[](int i) const { return rowsData[static_cast<size_t>(i)]; }

    Matrix copyMatrix() const { return *this; }
    Matrix transpose() const;
    Vector getRow(int i) const;
    Matrix getCol(int j) const;
    // Rows r0 .. r1-1 and columns c0 .. c1-1.
    Matrix getRect(int r0, int c0, int r1, int c1) const;
    void setColumn(const Vector& v, int j);
    void setRow(const Vector& v, int i);
    void setRow(const Matrix& m, int i);
    static Vector getAsVector(const Matrix& m);
    void multiplyRow(double s, int i);
    void multiplyColumn(double s, int j);
    void swapRow(int a, int b);
    void swapColumn(int a, int b);

    Matrix operator*(const Matrix& b) const;
    Vector operator*(const Vector& v) const;
    static Vector multiplyVecByMat(const Vector& v, const Matrix& m);
    Matrix operator+(const Matrix& b) const;
    Matrix operator-(const Matrix& b) const;
    Matrix operator*(double s) const;
    Matrix operator/(double s) const;

    double innerProduct(int i, int j) const;
    double innerProduct(int j) const;
    double innerProduct(const Matrix& b) const;
    double norm() const;
    static double VectorAngle(const Matrix& a, const Matrix& b);
    double getTrace() const;

    double determinant3x3() const;
    // Gauss-Jordan with full pivoting; no singularity test (a zero pivot gives
    // infinities or NaN).
    Matrix invert() const;
    // Adjugate over determinant; throws when the determinant is exactly 0.
    Matrix invert3x3() const;
    Matrix transposeMultiply() const;

    static Vector eigenValue(const Matrix& a);
    Vector eigen3x3() const;
    static Matrix eigenVector(const Matrix& a, double lambda);
    Vector eigenVector(double lambda) const;
    bool isDiagonal() const;
    bool isInt() const;
    // No element is NaN or infinite.
    bool isFinite() const;

    int getAbsMaxIndex() const;
    double getAbsMaxValue() const;
    static int getIndexOfAbsoluteMax(const Vector& v);

    static Matrix projection(const Vector& u);
    static Matrix cross(const Vector& u);
    static Matrix rotationMatrixFromAxis(const Vector& w);
    Vector rotationMatrixToRotationAxis() const;
    Matrix applyApproximateRotation(const Vector& w) const;

    std::string print() const;
    std::string printArr() const;

private:
    std::vector<Vector> rowsData;
    int rowCount = 0;
    int colCount = 0;

    void checkRow(int i) const;
    void checkCol(int j) const;
    void require3x3() const;
    // Position (row, column) of the element of largest magnitude; first wins.
    void absMax(int& row, int& col) const;
};

bool operator==(const Matrix& a, const Matrix& b);
inline bool operator!=(const Matrix& a, const Matrix& b) { return !(a == b); }
