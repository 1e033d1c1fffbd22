// Dense vector of doubles with value semantics.
#pragma once

#include <string>
#include <vector>

#include "Exceptions.h"
#include "SensorData.h"

class Vector {
public:
    Vector() = default;
    explicit Vector(int n);
    Vector(const std::vector<double>& elements);  // NOLINT: implicit on purpose

    static Vector Ones(int n);
    void ZeroVector(int n);
    void resize(int n);
    int size() const { return length; }

    // No range test: an index outside the length is a caller error.
    double& operator[](int i) { return data[static_cast<size_t>(i)]; }
    double operator[](int i) const { return data[static_cast<size_t>(i)]; }
    const std::vector<double>& elements() const { return data; }

    Vector operator-(const Vector& b) const;
    Vector operator+(const Vector& b) const;
    Vector& operator+=(const Vector& b);
    Vector& operator+=(const std::vector<double>& b);
    Vector operator*(double s) const;
    Vector operator/(double s) const;
    Vector operator-(double s) const;
    Vector operator*(const Vector& b) const;
    static Vector multiplyElements(const Vector& a, const Vector& b);
    Vector Sqrt() const;
    Vector Abs() const;

    double innerProduct(const Vector& b) const;
    double SumOfSquares() const;
    double norm() const;
    Vector normalize() const;
    Vector vector3CrossProduct(const Vector& b) const;
    double Sum() const;
    double Average() const;
    // Largest element, never below the smallest positive normal double.
    double Max() const;
    double Min() const;
    int getAbsMaxIndex() const;
    double getAbsMaxValue() const;

    static double sign(double x);
    static double Angle(const Vector& a, const Vector& b);
    double vectorAngle(const Vector& b) const;
    // Brings each element, taken as degrees, towards [0, 360] with one correction.
    Vector setAngle();
    // Thins a sample buffer: a sample is kept only when it lies further than
    // distance from the last kept one.
    static std::vector<SensorData> reduceBuffer(const std::vector<SensorData>& buffer, double distance);

    std::string print() const;
    std::string printArr() const;

private:
    std::vector<double> data;
    int length = 0;

    void setLength(int n);
};

bool operator==(const Vector& a, const Vector& b);
inline bool operator!=(const Vector& a, const Vector& b) { return !(a == b); }
