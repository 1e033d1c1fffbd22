#include "Matrix.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

const char kWrongMatrices[] =
    "Wrong matrices. The number of columns in the first matrix should be equal to the number of rows in the "
    "second";
const char kNot3x3[] = "Matrix is not 3x3";
const char kOutOfRange[] = "Matrix index out of range";
const double kPiOver3 = 1.0471975511965976;
const double kTwoPiOver3 = 2.0943951023931953;
const double kHalfPi = 1.5707963267948966;
const double kPi = 3.14159265358979323846;

}  // namespace

Matrix::Matrix(int rows, int cols) {
    init(rows, cols);
}

Matrix::Matrix(int rows, int cols, const std::vector<double>& rowMajor) {
    init(rows, cols);
    if (rowMajor.size() < static_cast<size_t>(rows) * static_cast<size_t>(cols))
        throw MathException("Not enough elements for the matrix");
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j)
            rowsData[static_cast<size_t>(i)][j] = rowMajor[static_cast<size_t>(i) * cols + j];
}

Matrix::Matrix(const Vector& column) {
    init(column.size(), 1);
    for (int i = 0; i < rowCount; ++i)
        rowsData[static_cast<size_t>(i)][0] = column[i];
}

Matrix::Matrix(const std::vector<Vector>& rowVectors) {
    const int cols = rowVectors.empty() ? 0 : rowVectors.front().size();
    init(static_cast<int>(rowVectors.size()), cols);
    for (int i = 0; i < rowCount; ++i) {
        const Vector& v = rowVectors[static_cast<size_t>(i)];
        for (int j = 0; j < cols && j < v.size(); ++j)
            rowsData[static_cast<size_t>(i)][j] = v[j];
    }
}

void Matrix::init(int rows, int cols) {
    if (rows < 0 || cols < 0)
        throw MathException("Invalid matrix size");
    rowsData.assign(static_cast<size_t>(rows), Vector(cols));
    rowCount = rows;
    colCount = cols;
}

Matrix Matrix::Identity(int n) {
    Matrix m(n, n);
    for (int i = 0; i < n; ++i)
        m[i][i] = 1.0;
    return m;
}

void Matrix::checkRow(int i) const {
    if (i < 0 || i >= rowCount)
        throw MathException(kOutOfRange);
}

void Matrix::checkCol(int j) const {
    if (j < 0 || j >= colCount)
        throw MathException(kOutOfRange);
}

void Matrix::require3x3() const {
    if (rowCount != 3 || colCount != 3)
        throw MathException(kNot3x3);
}

Matrix Matrix::transpose() const {
    Matrix t(colCount, rowCount);
    for (int i = 0; i < rowCount; ++i)
        for (int j = 0; j < colCount; ++j)
            t[j][i] = (*this)[i][j];
    return t;
}

Vector Matrix::getRow(int i) const {
    checkRow(i);
    return (*this)[i];
}

Matrix Matrix::getCol(int j) const {
    checkCol(j);
    Matrix c(rowCount, 1);
    for (int i = 0; i < rowCount; ++i)
        c[i][0] = (*this)[i][j];
    return c;
}

Matrix Matrix::getRect(int r0, int c0, int r1, int c1) const {
    if (r0 < 0 || c0 < 0 || r1 > rowCount || c1 > colCount || r1 < r0 || c1 < c0)
        throw MathException(kOutOfRange);
    Matrix m(r1 - r0, c1 - c0);
    for (int i = r0; i < r1; ++i)
        for (int j = c0; j < c1; ++j)
            m[i - r0][j - c0] = (*this)[i][j];
    return m;
}

void Matrix::setColumn(const Vector& v, int j) {
    checkCol(j);
    if (v.size() < rowCount)
        throw MathException(kOutOfRange);
    for (int i = 0; i < rowCount; ++i)
        (*this)[i][j] = v[i];
}

void Matrix::setRow(const Vector& v, int i) {
    checkRow(i);
    if (v.size() < colCount)
        throw MathException(kOutOfRange);
    for (int j = 0; j < colCount; ++j)
        (*this)[i][j] = v[j];
}

void Matrix::setRow(const Matrix& m, int i) {
    if (m.rowCount < 1)
        throw MathException(kOutOfRange);
    setRow(m[0], i);
}

Vector Matrix::getAsVector(const Matrix& m) {
    Vector v(m.rowCount * m.colCount);
    for (int i = 0; i < m.rowCount; ++i)
        for (int j = 0; j < m.colCount; ++j)
            v[i * m.colCount + j] = m[i][j];
    return v;
}

void Matrix::multiplyRow(double s, int i) {
    checkRow(i);
    for (int j = 0; j < colCount; ++j)
        (*this)[i][j] *= s;
}

void Matrix::multiplyColumn(double s, int j) {
    checkCol(j);
    for (int i = 0; i < rowCount; ++i)
        (*this)[i][j] *= s;
}

void Matrix::swapRow(int a, int b) {
    checkRow(a);
    checkRow(b);
    std::swap(rowsData[static_cast<size_t>(a)], rowsData[static_cast<size_t>(b)]);
}

void Matrix::swapColumn(int a, int b) {
    checkCol(a);
    checkCol(b);
    for (int i = 0; i < rowCount; ++i)
        std::swap((*this)[i][a], (*this)[i][b]);
}

Matrix Matrix::operator*(const Matrix& b) const {
    if (colCount != b.rowCount)
        throw MathException(kWrongMatrices);
    Matrix r(rowCount, b.colCount);
    for (int i = 0; i < rowCount; ++i)
        for (int k = 0; k < colCount; ++k) {
            const double aik = (*this)[i][k];
            for (int j = 0; j < b.colCount; ++j)
                r[i][j] += aik * b[k][j];
        }
    return r;
}

Vector Matrix::operator*(const Vector& v) const {
    if (colCount != v.size())
        throw MathException(kWrongMatrices);
    Vector r(rowCount);
    for (int i = 0; i < rowCount; ++i)
        r[i] = (*this)[i].innerProduct(v);
    return r;
}

Vector Matrix::multiplyVecByMat(const Vector& v, const Matrix& m) {
    if (v.size() != m.rowCount)
        throw MathException(kWrongMatrices);
    Vector r(m.colCount);
    for (int k = 0; k < m.rowCount; ++k)
        for (int j = 0; j < m.colCount; ++j)
            r[j] += v[k] * m[k][j];
    return r;
}

Matrix Matrix::operator+(const Matrix& b) const {
    if (b.rowCount < rowCount || b.colCount < colCount)
        throw MathException("Matrix dimensions do not match");
    Matrix r(*this);
    for (int i = 0; i < rowCount; ++i)
        for (int j = 0; j < colCount; ++j)
            r[i][j] += b[i][j];
    return r;
}

Matrix Matrix::operator-(const Matrix& b) const {
    return *this + b * -1.0;
}

Matrix Matrix::operator*(double s) const {
    Matrix r(*this);
    for (Vector& row : r.rowsData)
        row = row * s;
    return r;
}

Matrix Matrix::operator/(double s) const {
    return *this * (1.0 / s);
}

double Matrix::innerProduct(int i, int j) const {
    checkCol(i);
    checkCol(j);
    double sum = 0.0;
    for (int k = 0; k < rowCount; ++k)
        sum += (*this)[k][i] * (*this)[k][j];
    return sum;
}

double Matrix::innerProduct(int j) const {
    return innerProduct(j, j);
}

double Matrix::innerProduct(const Matrix& b) const {
    if (b.rowCount != 3 || b.colCount != 1 || rowCount < 3 || colCount < 1)
        throw MathException("Expected two 3X1 matrices");
    double sum = 0.0;
    for (int k = 0; k < 3; ++k)
        sum += (*this)[k][0] * b[k][0];
    return sum;
}

double Matrix::norm() const {
    double sum = 0.0;
    for (const Vector& row : rowsData)
        sum += row.SumOfSquares();
    return std::sqrt(sum);
}

double Matrix::VectorAngle(const Matrix& a, const Matrix& b) {
    return std::acos(a.innerProduct(b) / (a.norm() * b.norm()));
}

double Matrix::getTrace() const {
    double sum = 0.0;
    for (int i = 0; i < std::min(rowCount, colCount); ++i)
        sum += (*this)[i][i];
    return sum;
}

double Matrix::determinant3x3() const {
    require3x3();
    const Matrix& a = *this;
    double d = 0.0;
    for (int i = 0; i < 3; ++i)
        d += a[0][i] * (a[1][(i + 1) % 3] * a[2][(i + 2) % 3] - a[2][(i + 1) % 3] * a[1][(i + 2) % 3]);
    return d;
}

Matrix Matrix::invert() const {
    if (rowCount != colCount)
        throw MathException("Matrix is not square");
    const int n = rowCount;
    Matrix w(*this);
    std::vector<int> pivotRow(static_cast<size_t>(n)), pivotCol(static_cast<size_t>(n));
    for (int k = 0; k < n; ++k) {
        const int m = n - k;
        const int p = w.getRect(k, k, n, n).getAbsMaxIndex();
        const int r = k + p / m;
        const int c = k + p % m;
        pivotRow[static_cast<size_t>(k)] = r;
        pivotCol[static_cast<size_t>(k)] = c;
        if (r != k)
            w.swapRow(k, r);
        if (c != k)
            w.swapColumn(k, c);
        const double q = 1.0 / w[k][k];
        w.multiplyRow(q, k);
        for (int i = 0; i < n; ++i) {
            if (i == k)
                continue;
            const double wik = w[i][k];
            for (int j = 0; j < n; ++j)
                if (j != k)
                    w[i][j] -= w[k][j] * wik;
        }
        w.multiplyColumn(-q, k);
        w[k][k] = q;
    }
    for (int k = n - 1; k >= 0; --k) {
        const int c = pivotCol[static_cast<size_t>(k)];
        const int r = pivotRow[static_cast<size_t>(k)];
        if (c != k)
            w.swapRow(c, k);
        if (r != k)
            w.swapColumn(k, r);
    }
    return w;
}

Matrix Matrix::invert3x3() const {
    require3x3();
    const double d = determinant3x3();
    if (d == 0.0)
        throw MathException("Failed to invert matrix");
    const Matrix& a = *this;
    Matrix inv(3, 3);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            inv[j][i] = (a[(i + 1) % 3][(j + 1) % 3] * a[(i + 2) % 3][(j + 2) % 3] -
                         a[(i + 1) % 3][(j + 2) % 3] * a[(i + 2) % 3][(j + 1) % 3]) /
                        d;
    return inv;
}

Matrix Matrix::transposeMultiply() const {
    Matrix g(colCount, colCount);
    for (int i = 0; i < colCount; ++i) {
        g[i][i] = innerProduct(i);
        for (int j = i + 1; j < colCount; ++j)
            g[i][j] = g[j][i] = innerProduct(i, j);
    }
    return g;
}

Vector Matrix::eigenValue(const Matrix& a) {
    a.require3x3();
    const double s = std::pow(a[0][1] - a[1][0], 2) + std::pow(a[0][2] - a[2][0], 2) +
                     std::pow(a[1][2] - a[2][1], 2);
    if (s > 1e-7)
        throw MathException("Matrix is not symmetric");
    const double p1 = a[0][1] * a[0][1] + a[0][2] * a[0][2] + a[1][2] * a[1][2];
    if (p1 == 0.0)
        return Vector(std::vector<double>{a[0][0], a[1][1], a[2][2]});

    const double q = a.getTrace() / 3.0;
    const double p2 = std::pow(a[0][0] - q, 2) + std::pow(a[1][1] - q, 2) + std::pow(a[2][2] - q, 2) + 2.0 * p1;
    const double p = std::sqrt(p2 / 6.0);
    const Matrix b = (a - Identity(3) * q) * (1.0 / p);
    const double r = b.determinant3x3() / 2.0;
    double phi;
    if (r <= -1.0)
        phi = kPiOver3;
    else if (r >= 1.0)
        phi = 0.0;
    else
        phi = std::acos(r) / 3.0;
    const double largest = q + 2.0 * p * std::cos(phi);
    const double smallest = q + 2.0 * p * std::cos(phi + kTwoPiOver3);
    const double middle = 3.0 * q - largest - smallest;
    return Vector(std::vector<double>{smallest, middle, largest});
}

Vector Matrix::eigen3x3() const {
    require3x3();
    if (isDiagonal())
        return Vector(std::vector<double>{(*this)[0][0], (*this)[1][1], (*this)[2][2]});
    const double q = getTrace() / 3.0;
    const Matrix b = *this - Identity(3) * q;
    const double p = std::sqrt((b * b).getTrace() / 6.0);
    const Matrix d = b / p;
    const double angle = std::acos(d.determinant3x3() / 2.0) * (1.0 / 3.0);
    std::vector<double> lambda(3);
    for (int k = 0; k < 3; ++k)
        lambda[static_cast<size_t>(k)] = p * 2.0 * std::cos(angle + 2.0 * k * kPi / 3.0) + q;
    std::sort(lambda.begin(), lambda.end());
    return Vector(lambda);
}

Matrix Matrix::eigenVector(const Matrix& a, double lambda) {
    a.require3x3();
    const Matrix b(2, 2, {a[1][1] - lambda, a[1][2], a[2][1], a[2][2] - lambda});
    const Matrix bi = b.invert();
    const double y = -a[0][1] * bi[0][0] - a[0][2] * bi[1][0];
    const double z = -a[0][1] * bi[0][1] - a[0][2] * bi[1][1];
    const double n = std::sqrt(y * y + z * z + 1.0);
    return Matrix(1, 3, {1.0 / n, y / n, z / n});
}

Vector Matrix::eigenVector(double lambda) const {
    return getAsVector(eigenVector(*this, lambda));
}

bool Matrix::isDiagonal() const {
    if (rowCount != colCount)
        return false;
    if (rowCount == 0)
        return true;
    double dmin = (*this)[0][0];
    for (int i = 1; i < rowCount; ++i)
        if ((*this)[i][i] < dmin)
            dmin = (*this)[i][i];
    for (int i = 0; i < rowCount; ++i)
        for (int j = 0; j < colCount; ++j)
            if (i != j && std::fabs(dmin / (*this)[i][j]) < 1e10)
                return false;
    return true;
}

bool Matrix::isFinite() const {
    for (const Vector& row : rowsData)
        for (int j = 0; j < colCount; ++j)
            if (!std::isfinite(row[j]))
                return false;
    return true;
}

bool Matrix::isInt() const {
    for (const Vector& row : rowsData)
        for (int j = 0; j < colCount; ++j) {
            const double x = row[j];
            // Outside the 32-bit range (or NaN) a value cannot equal its truncation.
            if (!(x >= INT_MIN && x <= INT_MAX))
                return false;
            if (static_cast<double>(static_cast<int>(x)) != x)
                return false;
        }
    return true;
}

void Matrix::absMax(int& row, int& col) const {
    row = 0;
    col = 0;
    double best = -1.0;
    for (int i = 0; i < rowCount; ++i)
        for (int j = 0; j < colCount; ++j) {
            const double sq = (*this)[i][j] * (*this)[i][j];
            if (sq > best) {
                best = sq;
                row = i;
                col = j;
            }
        }
}

int Matrix::getAbsMaxIndex() const {
    int row, col;
    absMax(row, col);
    return row * rowCount + col;
}

double Matrix::getAbsMaxValue() const {
    if (rowCount == 0 || colCount == 0)
        return 0.0;
    int row, col;
    absMax(row, col);
    return (*this)[row][col];
}

int Matrix::getIndexOfAbsoluteMax(const Vector& v) {
    if (v.size() != 3)
        throw MathException("Error from getIndexOfAbsoluteMax, expected a 3X1 matrix");
    int index = 0;
    for (int i = 1; i < 3; ++i)
        if (std::fabs(v[i]) > std::fabs(v[index]))
            index = i;
    return index;
}

Matrix Matrix::projection(const Vector& u) {
    const int n = u.size();
    Matrix m(n, n);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            m[i][j] = u[i] * u[j];
    return m;
}

Matrix Matrix::cross(const Vector& u) {
    if (u.size() != 3)
        throw MathException("Error from vector3CrossProduct, expected vector length was 3");
    return Matrix(3, 3, {0.0, -u[2], u[1], u[2], 0.0, -u[0], -u[1], u[0], 0.0});
}

Matrix Matrix::rotationMatrixFromAxis(const Vector& w) {
    const double theta = w.norm();
    if (theta == 0.0)
        return Identity(3);
    const Vector u = w / theta;
    return Identity(3) * std::cos(theta) + cross(u) * std::sin(theta) + projection(u) * (1.0 - std::cos(theta));
}

Vector Matrix::rotationMatrixToRotationAxis() const {
    require3x3();
    const double eps = 0.0001;
    const Matrix& r = *this;
    double t = getTrace();
    const Vector v(std::vector<double>{r[2][1] - r[1][2], r[0][2] - r[2][0], r[1][0] - r[0][1]});
    if (v.norm() < eps) {
        Vector result(3);
        if (std::fabs(t - 3.0) < eps)
            return result;
        result[getAbsMaxIndex() / 3] = kHalfPi;
        return result;
    }
    if (std::fabs(t) > 3.0)
        t = 3.0 * Vector::sign(t);
    const double theta = std::acos((t - 1.0) / 2.0);
    return v * theta / (2.0 * std::sin(theta));
}

Matrix Matrix::applyApproximateRotation(const Vector& w) const {
    require3x3();
    Vector x = (*this)[0];
    Vector y = (*this)[1];
    x = x - w.vector3CrossProduct(x);
    y = y - w.vector3CrossProduct(y);
    y = y - x * x.innerProduct(y);
    const Vector z = x.vector3CrossProduct(y);
    return Matrix(std::vector<Vector>{x.normalize(), y.normalize(), z.normalize()});
}

std::string Matrix::print() const {
    std::string text;
    for (const Vector& row : rowsData)
        text += row.print();
    return text;
}

std::string Matrix::printArr() const {
    std::string text;
    for (const Vector& row : rowsData)
        text += row.printArr();
    return text;
}

bool operator==(const Matrix& a, const Matrix& b) {
    if (a.getRows() != b.getRows() || a.getCols() != b.getCols())
        return false;
    for (int i = 0; i < a.getRows(); ++i)
        if (a[i] != b[i])
            return false;
    return true;
}
