// The motion script's turns: the checks of each turn as it ends, and how far
// the device has turned while a step runs (for the status line).
#include "Process.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "Console.h"
#include "Exceptions.h"
#include "InertialSensor.h"
#include "Matrix.h"
#include "Sensor.h"
#include "Statistics.h"

namespace {

const double kDegreesPerRadian = 57.29577951308232;
const double kPi = 3.14159265358979323846;

// The device axis a step of the full flow turns about.
const char* turnAxis(int step) {
    return step == 1 ? "Z" : step == 3 ? "Y" : "X";
}

std::string oneDecimal(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

}  // namespace

Vector NewMotionProcess::recentMedian(InertialSensor& sensor) {
    if (sensor.getBufferedData().empty())
        return Vector();
    return sensor.DataMedian();
}

void NewMotionProcess::checkReadings(int s, double t) {
    int axis = 0;
    double sense = 1.0, degrees = 0.0;
    if (s < 0 || !stepTurn(s, axis, sense, degrees))
        return;
    // The turn: since the hold before it ended, up to the hold after it.
    const double from = flow == FLOW_FULL ? turnStart : progressStart;
    const double to = t - 1000.0;
    const std::string where =
        std::string("the turn about ") + "XYZ"[axis] + " in step " + std::to_string(s + 1);
    std::vector<InertialSensor*> sensors;
    for (InertialSensor* sensor : {gyroscope.get(), accelerometer.get(), magnetometer.get(), turnWatch.get()})
        if (sensor && std::find(sensors.begin(), sensors.end(), sensor) == sensors.end())
            sensors.push_back(sensor);
    for (InertialSensor* sensor : sensors) {
        const InertialSensor::Clipping clip = sensor->findClipping(from, to);
        if (clip.axis < 0)
            continue;
        const std::string name = sensor->getName();
        const char* unit = name == "Gyroscope" ? " degrees per second" : name == "Accelerometer" ? " g" : " milligauss";
        throw CalibrationException("The " + name + " reached the end of its range during " + where + " (its " +
                                   "XYZ"[clip.axis] + " axis stayed at " + oneDecimal(clip.level) + unit + " for " +
                                   oneDecimal(clip.seconds) + " s): turn more slowly");
    }
    // The turn is integrated from the gyroscope's reports.
    if (gyroscope) {
        double at = 0;
        const double gap = gyroscope->longestGap(from, to, at);
        // A shorter gap is bridged, unless the device was turning quickly
        // into and out of it: then what the bridge misses may take a third
        // of what the flow promises for the scale.
        double bridged = 0;
        const double doubt = gyroscope->bridgeDoubt(from, to, bridged);
        const double afforded = gyroscope->tolerance().scale * degrees / 3;
        if (gap > kLongestGap || (afforded > 0 && doubt > afforded))
            throw CalibrationException("The Gyroscope's reports stopped for " +
                                       std::to_string(std::lround(gap > kLongestGap ? gap : bridged)) + " ms during " +
                                       where + " (lost on their way from the hub, not a fault of the turn): calibrate "
                                       "again");
    }
}

void NewMotionProcess::checkTurn(int s, double t) {
    const double turnEnd = t - 1000.0;
    const std::string step = std::to_string(s + 1);
    const std::string axis = turnAxis(s);
    // First the turn's rate: a turn too fast swings the sensor round the
    // hand's grip, and its centripetal pull reads as gravity gone astray.
    if (gyroscope) {
        const Vector offset = holdRate.size() == 3 ? holdRate : Vector(3);
        double fastest = 0;
        for (const SensorData& sample : gyroscope->getBufferedData())
            if (sample.timestamp > turnStart && sample.timestamp <= turnEnd && sample.values.size() == 3)
                fastest = std::max(fastest, (Vector(sample.values) - offset).norm());
        if (fastest > kFastestTurn)
            throw CalibrationException("The turn about " + axis + " in step " + step + " was too fast (" +
                                       oneDecimal(fastest) + " degrees per second): turn slowly, over at least two "
                                       "seconds");
    }
    // Gravity stays where it is in the device while it turns about the axis
    // that points up; a turn about another axis swings it round. Where it
    // is, is the median of a tenth of a second: the jolt of a hand taking
    // hold again is no swing.
    if (accelerometer && holdGravity.size() == 3) {
        double largest = 0;
        std::vector<const SensorData*> turn;
        for (const SensorData& sample : accelerometer->getBufferedData())
            if (sample.timestamp > turnStart && sample.timestamp <= turnEnd && sample.values.size() == 3)
                turn.push_back(&sample);
        size_t from = 0;
        std::vector<double> window;
        for (size_t i = 0; i < turn.size(); ++i) {
            while (turn[i]->timestamp - turn[from]->timestamp > InertialSensor::kMoveWindowMs)
                ++from;
            Vector level(3);
            for (size_t a = 0; a < 3; ++a) {
                window.clear();
                for (size_t k = from; k <= i; ++k)
                    window.push_back(turn[k]->values[a]);
                level[static_cast<int>(a)] = Statistics::Median(window);
            }
            largest = std::max(largest, level.vectorAngle(holdGravity) * kDegreesPerRadian);
        }
        if (largest > kTurnTiltLimit)
            throw CalibrationException("The device was not turned about its " + axis + " axis in step " + step +
                                       " (gravity moved " + oneDecimal(largest) + " degrees in the device): keep the " +
                                       axis + " axis pointing up and turn about it");
    }
    // After a full turn the device is back where it started: the field reads
    // as it did (hard iron and all). How far it is off, as an angle, is told
    // by the circle the field drew during the turn.
    InertialSensor* watch = turnWatch ? turnWatch.get() : magnetometer.get();
    if (!watch || holdField.size() != 3)
        return;
    const Vector after = recentMedian(*watch);
    if (after.size() != 3)
        return;
    double diameter = 0;
    for (const SensorData& sample : watch->getBufferedData())
        if (sample.timestamp > turnStart && sample.timestamp <= turnEnd && sample.values.size() == 3)
            diameter = std::max(diameter, (Vector(sample.values) - holdField).norm());
    // A field along the turn's axis draws no circle: nothing to tell by.
    if (diameter < kLeastTurnCircle)
        return;
    const double off = 2 * std::asin(std::min(1.0, (after - holdField).norm() / diameter)) * kDegreesPerRadian;
    // The two medians are known to their noise: the angle must pass the
    // tolerance by more than the distance their errors can make (a distance
    // over three axes exceeds four of their joint deviations about once in a
    // thousand).
    const double noise = std::sqrt(holdFieldError * holdFieldError + std::pow(watch->medianError(), 2));
    const double allowed = 2 * std::asin(std::min(1.0, 4.0 * noise / diameter)) * kDegreesPerRadian;
    if (off > kTurnEndTolerance + allowed)
        throw CalibrationException("The device did not come back to where it started after the turn about " + axis +
                                   " in step " + step + " (" + oneDecimal(off) + " degrees off): turn exactly 360 " +
                                   "degrees");
}

namespace {

// Centre of the circle x^2 + y^2 + D x + E y + F = 0 that best fits the
// points; false when they do not bend (all alike, or on a line).
bool circleCentre(const std::vector<std::pair<double, double>>& points, double& cu, double& cv) {
    // Work about the points' mean so the sums stay well scaled.
    double mu = 0, mv = 0;
    for (const auto& p : points) {
        mu += p.first;
        mv += p.second;
    }
    mu /= points.size();
    mv /= points.size();
    // The normal equations of the least-squares fit for D, E and F.
    Matrix normal(3, 3);
    Vector right(3);
    for (const auto& p : points) {
        const double x = p.first - mu, y = p.second - mv, z = -(x * x + y * y);
        const double row[3] = {x, y, 1.0};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j)
                normal[i][j] += row[i] * row[j];
            right[i] += row[i] * z;
        }
    }
    double scale = 0;
    for (int i = 0; i < 3; ++i)
        scale = std::max(scale, std::fabs(normal[i][i]));
    if (!(scale > 0) || std::fabs(normal.determinant3x3()) <= 1e-12 * scale * scale * scale)
        return false;
    const Vector solution = normal.invert3x3() * right;
    cu = mu - solution[0] / 2;
    cv = mv - solution[1] / 2;
    return std::isfinite(cu) && std::isfinite(cv);
}

}  // namespace

bool NewMotionProcess::stepTurn(int step, int& axis, double& sense, double& degrees) const {
    sense = 1.0;
    if (flow == FLOW_FULL && step % 2 == 1) {
        axis = step == 1 ? 2 : step == 3 ? 1 : 0;
        degrees = 360.0;
        return true;
    }
    if (flow == FLOW_FOUR_STEPS && step >= 1 && step <= 3) {
        // Counterclockwise about Y, counterclockwise about Z, clockwise about X.
        axis = step == 1 ? 1 : step == 2 ? 2 : 0;
        sense = step == 3 ? -1.0 : 1.0;
        degrees = 90.0;
        return true;
    }
    if (flow == FLOW_MAG_FOUR_STEPS && step >= 1) {
        axis = 2;
        degrees = 90.0;
        return true;
    }
    return false;
}

double NewMotionProcess::turnedSoFar(int axis, double sense) {
    double turned = 0.0;
    if (gyroscope) {
        const std::vector<SensorData>& samples = gyroscope->getBufferedData();
        const double rest = progressRate.size() == 3 ? progressRate[axis] : 0.0;
        for (size_t j = 1; j < samples.size(); ++j)
            if (samples[j].timestamp > progressStart && samples[j].values.size() == 3)
                turned += (samples[j].values[static_cast<size_t>(axis)] - rest) *
                          (samples[j].timestamp - samples[j - 1].timestamp) * 0.001;
        return turned * sense;
    }
    // Without a gyroscope the field tells it, roughly: the angle its part
    // across the axis has swept about the centre of the circle that part
    // draws (a least-squares circle through the points; the points' mean
    // would lean towards wherever the device lingered).
    InertialSensor* field = turnWatch ? turnWatch.get() : magnetometer.get();
    if (!field)
        return 0.0;
    std::vector<std::pair<double, double>> points;
    const int u = (axis + 1) % 3, v = (axis + 2) % 3;
    for (const SensorData& sample : field->getBufferedData())
        if (sample.timestamp > progressStart && sample.values.size() == 3)
            points.emplace_back(sample.values[static_cast<size_t>(u)], sample.values[static_cast<size_t>(v)]);
    if (points.size() < 3)
        return 0.0;
    double cu = 0, cv = 0;
    if (!circleCentre(points, cu, cv))
        return 0.0;
    for (size_t i = 1; i < points.size(); ++i) {
        const double a = std::atan2(points[i - 1].second - cv, points[i - 1].first - cu);
        const double b = std::atan2(points[i].second - cv, points[i].first - cu);
        double d = b - a;
        while (d > kPi)
            d -= 2 * kPi;
        while (d < -kPi)
            d += 2 * kPi;
        turned += d;
    }
    // The field turns the other way in the device.
    return -turned * kDegreesPerRadian * sense;
}

bool NewMotionProcess::fillProgress(StepProgress& progress) {
    if (currentSegment < 0 || currentSegment >= staticStatesNumber || stepFailed)
        return false;
    const int step = currentSegment;
    progress.step = step + 1;
    // The meter shows the device now, over the last quarter of the hold the
    // step confirms: a hold reads still while the step's longer window clears.
    // The gyroscope's rates are also held against their rest before the turn,
    // as a steady turn hardly spreads them.
    double motion = -1.0;
    for (InertialSensor* sensor : {accelerometer.get(), gyroscope ? gyroscope.get() : magnetometer.get()})
        if (sensor && !sensor->getBufferedData().empty())
            motion = std::max(motion, sensor->motionShare(sensor->getMotionlessWindow() / 4));
    if (gyroscope && !gyroscope->getBufferedData().empty())
        motion = std::max(motion, gyroscope->departureShare(progressRate, gyroscope->getMotionlessWindow() / 4));
    progress.motion = motion;
    int axis = 0;
    double sense = 1.0, degrees = 0.0;
    const bool turn = progressStart >= 0 && stepTurn(step, axis, sense, degrees);
    if (turn) {
        progress.turnAxis = std::string(1, "XYZ"[axis]);
        progress.turnTarget = degrees;
        progress.turnedDegrees = turnedSoFar(axis, sense);
    }
    // What the step waits for: the states of the detection, told by whether
    // the device moves now.
    const bool moving = motion > 1.0;
    if (detectState == 1)
        progress.waitingFor = "the turn";
    else if (detectState == 3)
        progress.waitingFor = flow == FLOW_FULL || flow == FLOW_STATIC_FOUR_POSITIONS ? "the move to the next position"
                                                                                      : "the turn";
    else if (moving)
        progress.waitingFor = turn && detectState == 2 ? "the end of the turn" : "the device to come to rest";
    else
        progress.waitingFor = holdNote.empty() ? "holding still" : holdNote;
    return true;
}
