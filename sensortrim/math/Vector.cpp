#include "Vector.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>

namespace {

const char kLengthsDiffer[] = "Vector lengths do not match";

void requireLength(const Vector& v, int atLeast) {
    if (v.size() < atLeast)
        throw MathException(kLengthsDiffer);
}

}  // namespace

Vector::Vector(int n) {
    setLength(n);
}

Vector::Vector(const std::vector<double>& elements)
    : data(elements), length(static_cast<int>(elements.size())) {}

void Vector::setLength(int n) {
    if (n < 0)
        throw MathException("Invalid vector length");
    data.resize(static_cast<size_t>(n), 0.0);
    length = n;
}

Vector Vector::Ones(int n) {
    Vector v(n);
    for (double& x : v.data)
        x = 1.0;
    return v;
}

void Vector::ZeroVector(int n) {
    setLength(n);
    for (double& x : data)
        x = 0.0;
}

void Vector::resize(int n) {
    setLength(n);
}

Vector Vector::operator-(const Vector& b) const {
    if (b.length > length)
        throw MathException("Error while substructing vector");
    Vector r(*this);
    for (int i = 0; i < b.length; ++i)
        r[i] -= b[i];
    return r;
}

Vector Vector::operator+(const Vector& b) const {
    Vector r(*this);
    r += b;
    return r;
}

Vector& Vector::operator+=(const Vector& b) {
    return *this += b.data;
}

Vector& Vector::operator+=(const std::vector<double>& b) {
    // Over b's length: a shorter vector grows, its new elements starting at 0.
    if (static_cast<int>(b.size()) > length)
        setLength(static_cast<int>(b.size()));
    for (size_t i = 0; i < b.size(); ++i)
        data[i] += b[i];
    return *this;
}

Vector Vector::operator*(double s) const {
    Vector r(*this);
    for (double& x : r.data)
        x *= s;
    return r;
}

Vector Vector::operator/(double s) const {
    return *this * (1.0 / s);
}

Vector Vector::operator-(double s) const {
    Vector r(*this);
    for (double& x : r.data)
        x -= s;
    return r;
}

Vector Vector::operator*(const Vector& b) const {
    return multiplyElements(*this, b);
}

Vector Vector::multiplyElements(const Vector& a, const Vector& b) {
    requireLength(b, a.length);
    Vector r(a);
    for (int i = 0; i < a.length; ++i)
        r[i] *= b[i];
    return r;
}

Vector Vector::Sqrt() const {
    Vector r(*this);
    for (double& x : r.data)
        x = std::sqrt(x);
    return r;
}

Vector Vector::Abs() const {
    Vector r(*this);
    for (double& x : r.data)
        x = std::fabs(x);
    return r;
}

double Vector::innerProduct(const Vector& b) const {
    requireLength(b, length);
    double sum = 0.0;
    for (int i = 0; i < length; ++i)
        sum += data[static_cast<size_t>(i)] * b[i];
    return sum;
}

double Vector::SumOfSquares() const {
    double sum = 0.0;
    for (double x : data)
        sum += x * x;
    return sum;
}

double Vector::norm() const {
    return std::sqrt(SumOfSquares());
}

Vector Vector::normalize() const {
    return *this / norm();
}

Vector Vector::vector3CrossProduct(const Vector& b) const {
    if (length != 3 || b.length != 3)
        throw MathException("Error from vector3CrossProduct, expected vector length was 3");
    const Vector& a = *this;
    return Vector(std::vector<double>{a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2],
                                      a[0] * b[1] - a[1] * b[0]});
}

double Vector::Sum() const {
    double sum = 0.0;
    for (double x : data)
        sum += x;
    return sum;
}

double Vector::Average() const {
    return Sum() / length;
}

double Vector::Max() const {
    double best = DBL_MIN;
    for (double x : data)
        if (x > best)
            best = x;
    return best;
}

double Vector::Min() const {
    double best = DBL_MAX;
    for (double x : data)
        if (x < best)
            best = x;
    return best;
}

int Vector::getAbsMaxIndex() const {
    int index = 0;
    double best = length > 0 ? data[0] * data[0] : 0.0;
    for (int i = 1; i < length; ++i) {
        const double sq = data[static_cast<size_t>(i)] * data[static_cast<size_t>(i)];
        if (sq > best) {
            best = sq;
            index = i;
        }
    }
    return index;
}

double Vector::getAbsMaxValue() const {
    return length > 0 ? std::fabs(data[static_cast<size_t>(getAbsMaxIndex())]) : 0.0;
}

double Vector::sign(double x) {
    if (x < 0)
        return -1.0;
    if (x == 0)
        return 0.0;
    return 1.0;
}

double Vector::Angle(const Vector& a, const Vector& b) {
    return std::acos(a.innerProduct(b) / (a.norm() * b.norm()));
}

double Vector::vectorAngle(const Vector& b) const {
    double cosine = innerProduct(b) / (b.norm() * norm());
    if (std::fabs(cosine) > 1.0)
        cosine = sign(cosine);
    return std::acos(cosine);
}

Vector Vector::setAngle() {
    for (double& x : data) {
        if (x < 0)
            x += 360.0;
        else if (x > 360.0)
            x -= 360.0;
    }
    return *this;
}

std::vector<SensorData> Vector::reduceBuffer(const std::vector<SensorData>& buffer, double distance) {
    if (buffer.empty())
        throw MathException("The buffer is empty");
    std::vector<SensorData> kept{buffer.front()};
    for (size_t i = 1; i < buffer.size(); ++i) {
        const SampleValues& last = kept.back().values;
        const SampleValues& cur = buffer[i].values;
        const size_t n = std::min(last.size(), cur.size());
        double sq = 0.0;
        for (size_t k = 0; k < n; ++k)
            sq += (cur[k] - last[k]) * (cur[k] - last[k]);
        if (std::sqrt(sq) > distance)
            kept.push_back(buffer[i]);
    }
    return kept;
}

std::string Vector::print() const {
    std::string text;
    char cell[400];
    for (double x : data) {
        std::snprintf(cell, sizeof cell, "%10.6f ", x);
        text += cell;
    }
    return text + "\n";
}

std::string Vector::printArr() const {
    std::string text;
    char cell[400];
    for (size_t i = 0; i < data.size(); ++i) {
        std::snprintf(cell, sizeof cell, "%.6f", data[i]);
        if (i > 0)
            text += ",";
        text += cell;
    }
    return text + ";";
}

bool operator==(const Vector& a, const Vector& b) {
    return a.elements() == b.elements();
}
