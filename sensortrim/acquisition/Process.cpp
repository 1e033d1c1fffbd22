#include "Process.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "Console.h"
#include "Exceptions.h"
#include "InertialSensor.h"
#include "Matrix.h"
#include "Sensor.h"

const char* const Z_UP_Y_NORTH = "Z axis directed UP, Y axis directed to North";
const char* const Z_UP_Y_WEST = "Z axis directed UP, Y axis directed to West";
const char* const Z_UP_Y_SOUTH = "Z axis directed UP, Y axis directed to South";
const char* const Z_UP_Y_EAST = "Z axis directed UP, Y axis directed to East";
const char* const Y_UP_Z_SOUTH = "Y axis directed UP, Z axis directed to South";
const char* const X_UP_Z_SOUTH = "X axis directed UP, Z axis directed to South";
const char* const Y_DOWN_Z_SOUTH = "Y axis directed DOWN, Z axis directed to South";
const char* const CCV_360_Z = "360 degrees counterclockwise around Z axis";
const char* const CCV_360_Y = "360 degrees counterclockwise around Y axis";
const char* const CCV_360_X = "360 degrees counterclockwise around X axis";
const char* const Z_UP = "Z axis directed UP";
const char* const X_DOWN = "X axis directed DOWN";
const char* const Y_UP = "Y axis directed UP";
const char* const Z_UP_TURNED = "Z axis is directed UP; device turned 90 degrees vs. initial state";
const char* const CCV_90_Y = "90 degrees counterclockwise around Y axis";
const char* const CCV_90_Z = "90 degrees counterclockwise around Z axis";
const char* const CV_90_X = "90 degrees clockwise around X axis";

std::vector<std::string> preTestStrings;

namespace {

bool sameLuid(const std::shared_ptr<Sensor>& a, const std::shared_ptr<Sensor>& b) {
    return a && b && a->getLuid() == b->getLuid();
}

}  // namespace

void Process::moveNextStep() {
    if (currentStaticStep < staticStatesNumber - 1)
        ++currentStaticStep;
}

void Process::rollBack() {
    if (currentStaticStep > 0)
        --currentStaticStep;
}

bool Process::shouldMoveNext() {
    const bool result = moveNext;
    moveNext = false;
    return result;
}

// ---- motion script ----

std::vector<std::string> NewMotionProcess::getIndicatorNames() {
    return {"Accelerometer", "Gyroscope", "Magnetometer"};
}

bool NewMotionProcess::setIndicator(std::shared_ptr<Sensor> sensor) {
    const std::string name = sensor->getName();
    auto inertial = std::dynamic_pointer_cast<InertialSensor>(sensor);
    if (name == "Accelerometer" && inertial)
        accelerometer = inertial;
    else if (name == "Gyroscope" && inertial)
        gyroscope = inertial;
    else if (name == "Magnetometer" && inertial)
        magnetometer = inertial;
    else
        throw CalibrationException(name + " is invalid type of stageIndicator");
    return flow == FLOW_MAG_FOUR_STEPS ? magnetometer != nullptr : accelerometer != nullptr;
}

bool NewMotionProcess::isStageIndicator(const std::shared_ptr<Sensor>& sensor) {
    return sameLuid(sensor, accelerometer) || sameLuid(sensor, magnetometer) || sameLuid(sensor, gyroscope);
}

std::string NewMotionProcess::getInput() {
    if (currentStaticStep != 0)
        throw CalibrationException("Internal error");
    console().waitForKey();
    return "";
}

void NewMotionProcess::initNumOfSteps() {
    switch (flow) {
    case FLOW_FULL: staticStatesNumber = 7; break;
    case FLOW_MINIMAL: staticStatesNumber = 1; break;
    default: staticStatesNumber = 4; break;
    }
}

void NewMotionProcess::initProcess() {
    if (flow == FLOW_FULL && accelerometer && !gyroscope && !magnetometer)
        flow = FLOW_STATIC_FOUR_POSITIONS;
    positions.clear();
    moves.clear();
    switch (flow) {
    case FLOW_FULL:
        positions = {Z_UP_Y_NORTH, CCV_360_Z, Y_UP_Z_SOUTH, CCV_360_Y, X_UP_Z_SOUTH, CCV_360_X, Y_DOWN_Z_SOUTH};
        break;
    case FLOW_STATIC_FOUR_POSITIONS:
        positions = {Z_UP_Y_NORTH, Y_UP_Z_SOUTH, X_UP_Z_SOUTH, Y_DOWN_Z_SOUTH};
        break;
    case FLOW_MINIMAL:
        positions = {magnetometer ? Z_UP_Y_NORTH : Z_UP};
        break;
    case FLOW_FOUR_STEPS:
        positions = {Z_UP, X_DOWN, Y_UP, Z_UP_TURNED};
        moves = {CCV_90_Y, CCV_90_Z, CV_90_X};
        break;
    case FLOW_MAG_FOUR_STEPS:
        positions = {Z_UP_Y_NORTH, Z_UP_Y_WEST, Z_UP_Y_SOUTH, Z_UP_Y_EAST};
        moves = {CCV_90_Z, CCV_90_Z, CCV_90_Z};
        break;
    }
    staticStatesNumber = static_cast<int>(positions.size());
    segmentTimes.assign(2 * positions.size(), 0.0);
}

std::string NewMotionProcess::getStepInstructions(bool noPrompt) {
    const size_t i = static_cast<size_t>(currentStaticStep);
    std::string text;
    if (i < positions.size()) {
        if (flow == FLOW_MINIMAL || flow == FLOW_FOUR_STEPS || flow == FLOW_MAG_FOUR_STEPS) {
            if (i == 0 || i - 1 >= moves.size())
                text = "Place the device screen's " + positions[i];
            else
                text = "Slowly, rotate the device " + moves[i - 1] + "\nAt the end of this stage, the device's " +
                       positions[i];
        } else if (i % 2 == 0 || flow == FLOW_STATIC_FOUR_POSITIONS) {
            text = "Place the device screen's " + positions[i];
        } else {
            text = "Slowly, rotate the device " + positions[i];
        }
    }
    text += "\nHold system in current position";
    if (i == 0) {
        text += "\nNOTE:\nDevice should be placed in tablet mode, screen facing up";
        text += noPrompt ? "\n" : "\nPress Enter when done";
    }
    return "Step " + std::to_string(i + 1) + " out of " + std::to_string(staticStatesNumber) + ".\n" + text;
}

bool NewMotionProcess::isMotionless() {
    const bool first = currentSegment == 0;
    InertialSensor* other = gyroscope ? gyroscope.get() : magnetometer.get();
    if (accelerometer) {
        if (!accelerometer->ISmotionless(first))
            return false;
        return other ? other->ISmotionless(first) : true;
    }
    return other ? other->ISmotionless(first) : false;
}

namespace {

const double kDegreesPerRadian = 57.29577951308232;
const double kPi = 3.14159265358979323846;

// The device axis a step of the full flow turns about.
const char* turnAxis(int step) {
    return step == 1 ? "Z" : step == 3 ? "Y" : "X";
}

// The median of a sensor's last second, or an empty vector before it has any.
Vector recentMedian(InertialSensor& sensor) {
    if (sensor.getBufferedData().empty())
        return Vector();
    return sensor.DataMedian();
}

std::string oneDecimal(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

}  // namespace

void NewMotionProcess::checkTurn(int s, double t) {
    const double turnEnd = t - 1000.0;
    const std::string step = std::to_string(s + 1);
    const std::string axis = turnAxis(s);
    // Gravity stays where it is in the device while it turns about the axis
    // that points up; a turn about another axis swings it round.
    if (accelerometer && holdGravity.size() == 3) {
        double largest = 0;
        for (const SensorData& sample : accelerometer->getBufferedData())
            if (sample.timestamp > turnStart && sample.timestamp <= turnEnd && sample.values.size() == 3)
                largest = std::max(largest, Vector(sample.values).vectorAngle(holdGravity) * kDegreesPerRadian);
        if (largest > kTurnTiltLimit)
            throw CalibrationException("The device was not turned about its " + axis + " axis in step " + step +
                                       " (gravity moved " + oneDecimal(largest) + " degrees in the device): keep the " +
                                       axis + " axis pointing up and turn about it");
    }
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
    if (off > kTurnEndTolerance)
        throw CalibrationException("The device did not come back to where it started after the turn about " + axis +
                                   " in step " + step + " (" + oneDecimal(off) + " degrees off): turn exactly 360 " +
                                   "degrees");
}

void NewMotionProcess::updateStep(double t) {
    // The full flow holds a position (even steps), turns it about the axis
    // that points up and holds it again (odd steps).
    if (flow == FLOW_FULL && currentSegment >= 0) {
        if (currentSegment % 2 == 0) {
            InertialSensor* watch = turnWatch ? turnWatch.get() : magnetometer.get();
            holdField = watch ? recentMedian(*watch) : Vector();
            holdGravity = accelerometer ? recentMedian(*accelerometer) : Vector();
            holdRate = gyroscope ? recentMedian(*gyroscope) : Vector();
            turnStart = t;
        } else {
            try {
                checkTurn(currentSegment, t);
            } catch (const CalibrationException&) {
                stepFailed = true;
                throw;
            }
        }
    }
    progressStart = t;
    progressRate = gyroscope ? recentMedian(*gyroscope) : Vector();
    const size_t s = static_cast<size_t>(currentSegment);
    if (2 * s + 1 < segmentTimes.size()) {
        segmentTimes[2 * s] = t - 1000.0;
        segmentTimes[2 * s + 1] = t;
    }
    ++currentSegment;
    lastChangeTime = t;
    moveNext = true;
    lastStepChange = static_cast<uint64_t>(millisecond());
    if (currentSegment == staticStatesNumber) {
        try {
            improveSegmentation();
        } catch (const CalibrationException&) {
            // The last step failed after all: no step change follows it.
            moveNext = false;
            stepFailed = true;
            throw;
        }
    }
}

void NewMotionProcess::improveSegmentation() {
    const size_t stride = segmentTimes.size() == 14 ? 4 : 2;
    const size_t limit = 2 * static_cast<size_t>(staticStatesNumber);
    InertialSensor* other = gyroscope ? gyroscope.get() : magnetometer.get();
    for (size_t i = 1; i < limit && i < segmentTimes.size(); i += stride) {
        const double end = segmentTimes[i];
        double extension = 0;
        if (accelerometer) {
            extension = accelerometer->ContinuMotionless(end);
            if (other)
                extension = std::min(extension, other->ContinuMotionless(end));
        } else if (other) {
            extension = other->ContinuMotionless(end);
        }
        segmentTimes[i] = end + extension;
        if (i + 1 < segmentTimes.size() && segmentTimes[i] > segmentTimes[i + 1]) {
            // Named by the sensors whose stillness placed the boundary and by
            // the steps as the console numbers them.
            std::string sensors = accelerometer ? accelerometer->getName() : "";
            if (other)
                sensors += (sensors.empty() ? "" : ", ") + other->getName();
            const size_t step = (i - 1) / 2 + 1;
            throw CalibrationException("segmentation error: the hold that ends step " + std::to_string(step) +
                                       " runs past the start of step " + std::to_string(step + 1) + " (" +
                                       sensors + ")");
        }
    }
}

void NewMotionProcess::CalibrationControl(SensorData& sample) {
    if (currentSegment == staticStatesNumber || stepFailed)
        return;
    const double t = sample.timestamp;
    if (flow == FLOW_MINIMAL) {
        if (t - lastChangeTime >= 1000.0) {
            currentSegment += 2;
            moveNext = true;
            lastStepChange = static_cast<uint64_t>(millisecond());
        }
        return;
    }
    if (firstSample) {
        detectState = flow == FLOW_FULL ? 0 : 2;
        currentSegment = 0;
        firstSample = false;
    }
    if (t - lastChangeTime < 1000.0 + extraGuard)
        return;
    switch (detectState) {
    case 0:
        if (isMotionless()) {
            updateStep(t);
            detectState = 1;
            if (gyroscope)
                gyroscope->findOffset();
            extraGuard = 0;
        }
        break;
    case 1:
        if (t - lastMotionCheck >= static_cast<double>(motionCheckInterval)) {
            lastMotionCheck = t;
            // Without a gyroscope the field tells the turn: its range over the
            // samples since the hold was confirmed (not over the whole run,
            // which holds the move to this position as well).
            const bool motion = gyroscope      ? gyroscope->checkMotion(0.0)
                                : magnetometer ? magnetometer->checkMotion(t - lastChangeTime)
                                               : false;
            if (motion) {
                detectState = 2;
                lastChangeTime = t;
            }
        }
        break;
    case 2:
        if (isMotionless()) {
            updateStep(t);
            detectState = 3;
            for (InertialSensor* s : {accelerometer.get(), gyroscope.get(), magnetometer.get()})
                if (s)
                    s->setLastData(s->DataMedian());
        }
        break;
    case 3: {
        InertialSensor* mover = flow == FLOW_MAG_FOUR_STEPS ? magnetometer.get() : accelerometer.get();
        if (mover && mover->checkMovement()) {
            detectState = flow == FLOW_FULL ? 0 : 2;
            lastChangeTime = t;
        }
        break;
    }
    default:
        break;
    }
}

// ---- magnetic environment test ----

PreTestProcess::PreTestProcess() {
    type = PROCESS_MAGNETIC_TEST;
    staticStatesNumber = 4;
    preTestStrings = {"360 degrees around X axis", "360 degrees around Y axis", "360 degrees around Z axis"};
}

std::string PreTestProcess::getStepInstructions(bool /*noPrompt*/) {
    const int i = currentStaticStep;
    std::string text;
    if (i < 3)
        text = "Slowly rotate the device " + preTestStrings[static_cast<size_t>(i)];
    else
        text = "Slowly move the device in a rectangle, keeping the same heading all the time";
    text += i == 0 ? "\nPress Enter to signal start and finish" : "\nPress Enter when done";
    if (i == 2)
        needMidCalc = true;
    else if (i == 3)
        needMidCalc = false;
    return text;
}

std::string PreTestProcess::getInput() {
    console().waitForKey();
    consoleOut() << "User pressed for signal start..." << std::endl;
    waitingForStart = false;
    return "";
}

bool PreTestProcess::isStageIndicator(const std::shared_ptr<Sensor>& sensor) {
    return sameLuid(sensor, indicator);
}

bool PreTestProcess::setIndicator(std::shared_ptr<Sensor> sensor) {
    indicator = sensor;
    return true;
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
        progress.waitingFor = "holding still";
    return true;
}
