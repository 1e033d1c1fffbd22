// Fits an ellipsoid to three-axis samples that ideally lie on a sphere, giving
// the hard-iron offset (centre) and the soft-iron correction (transform); also
// finds the centre of the planar ellipse traced during a turn about one axis.
#pragma once

#include <vector>

#include "Matrix.h"
#include "SensorData.h"
#include "Vector.h"

class EllipsoidFit {
public:
    EllipsoidFit();
    explicit EllipsoidFit(const std::vector<SensorData>& samples);
    // The full fit, rescaled so that corrected samples have length magnitude.
    EllipsoidFit(const std::vector<SensorData>& samples, double magnitude);

    void Init();
    void Init(const std::vector<SensorData>& samples);

    // transform * (v - center)
    Vector calibrate(const Vector& v) const;
    // Mean over the samples of | |calibrate(s)| - magnitude |.
    double ellipsoidError(const std::vector<SensorData>& samples, double magnitude) const;
    Vector FindEllispseCenter(const std::vector<SensorData>& samples);
    // Fits an ellipse to 2-D points (rows of two values); returns its centre and
    // keeps its semi-axes in axisScale.
    Vector Ellipse_Center(const std::vector<Vector>& points);

    Vector center;
    Vector axisScale;
    Vector radii;
    Matrix transform;
    Matrix rotation;
    double scale = 0.0;
};
