// The motion script: the steps of the motion flows, told to the operator and
// found in the samples (holds, turns and moves).
#include "Process.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "Console.h"
#include "Exceptions.h"
#include "InertialSensor.h"
#include "Matrix.h"
#include "Sensor.h"

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

bool NewMotionProcess::heldLongEnough(double t) {
    if (!isMotionless()) {
        // A recorded hold that ends before the noise is served ends the
        // step where it ended; live, the operator is asked to hold on.
        if (stillSince >= 0 && !liveHolds) {
            endOfHold = lastStill;
            return true;
        }
        stillSince = -1.0;
        holdNote.clear();
        return false;
    }
    endOfHold = t;
    lastStill = t;
    if (noiseHolders.empty())
        return true;
    std::string sensor;
    const double needed = std::min(holdNeeded(sensor), kLongestHoldMs);
    // The window that saw the device still is the hold's first second.
    const double since = stillSince >= 0 ? stillSince : t - 1000.0;
    if (t - since >= needed) {
        holdNote.clear();
        return true;
    }
    stillSince = since;
    char text[160];
    std::snprintf(text, sizeof text, "hold still: %d s more for the %s's noise",
                  static_cast<int>(std::ceil((needed - (t - since)) / 1000.0)), sensor.c_str());
    holdNote = text;
    return false;
}

double NewMotionProcess::holdNeeded(std::string& sensor) {
    // The full flow holds each of its first three positions twice, before
    // and after the turn; the records take both.
    const double holds = flow == FLOW_FULL && currentSegment < 6 ? 2.0 : 1.0;
    double longest = 0;
    for (const std::shared_ptr<InertialSensor>& s : noiseHolders) {
        if (!s)
            continue;
        const double rate = s->recentRate();
        if (!(rate > 0))
            continue;
        const double ms = s->holdSamplesNeeded(s->recentNoise()) / holds / rate;
        if (ms > longest) {
            longest = ms;
            sensor = s->getName();
        }
    }
    return longest;
}

void NewMotionProcess::updateStep(double t) {
    // What the parts and the stream did during a turn comes first: a sensor
    // at the end of its range or reports that never came make the operator's
    // checks misread the turn.
    try {
        checkReadings(currentSegment, t);
    } catch (const CalibrationException&) {
        stepFailed = true;
        throw;
    }
    // The full flow holds a position (even steps), turns it about the axis
    // that points up and holds it again (odd steps).
    if (flow == FLOW_FULL && currentSegment >= 0) {
        if (currentSegment % 2 == 0) {
            InertialSensor* watch = turnWatch ? turnWatch.get() : magnetometer.get();
            holdField = watch ? recentMedian(*watch) : Vector();
            holdFieldError = watch && !watch->getBufferedData().empty() ? watch->medianError() : 0.0;
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
        // The hold began a motionless window before it was seen, or where it
        // began to run on for the noise.
        segmentTimes[2 * s] = stillSince >= 0 ? stillSince : t - 1000.0;
        segmentTimes[2 * s + 1] = t;
    }
    stillSince = -1.0;
    holdNote.clear();
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
    // Every hold runs on for as long as the device stayed still after the
    // step saw it: the full flow's holds after each turn too.
    const size_t limit = 2 * static_cast<size_t>(staticStatesNumber);
    InertialSensor* other = gyroscope ? gyroscope.get() : magnetometer.get();
    for (size_t i = 1; i < limit && i < segmentTimes.size(); i += 2) {
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
        if (heldLongEnough(t))
            holdEnded(endOfHold);
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
        if (heldLongEnough(t))
            holdEnded(endOfHold);
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

void NewMotionProcess::holdEnded(double t) {
    updateStep(t);
    if (detectState == 0) {
        detectState = 1;
        if (gyroscope)
            gyroscope->findOffset();
        extraGuard = 0;
        return;
    }
    detectState = 3;
    for (InertialSensor* s : {accelerometer.get(), gyroscope.get(), magnetometer.get()})
        if (s)
            s->setLastData(s->DataMedian());
}

void NewMotionProcess::recordingEnded() {
    // A recorded hold still running on for the noise when the recording
    // ends ends there.
    if (liveHolds || stillSince < 0 || stepFailed || currentSegment >= staticStatesNumber ||
        (detectState != 0 && detectState != 2))
        return;
    holdEnded(lastStill);
}

std::string NewMotionProcess::stallCause() {
    if (currentSegment >= staticStatesNumber || stepFailed)
        return "";
    // A step that waits for the move to its position while the device rests
    // where the last step held it (a knock or a re-grip is no move).
    InertialSensor* mover = flow == FLOW_MAG_FOUR_STEPS ? magnetometer.get() : accelerometer.get();
    if (detectState == 3 && !firstSample && mover && currentSegment < static_cast<int>(positions.size())) {
        const InertialSensor::Quiet quiet = mover->quietestSecond(lastChangeTime);
        if (quiet.found && quiet.still())
            return "the device was not moved to the position of step " + std::to_string(currentSegment + 1) + " (" +
                   positions[static_cast<size_t>(currentSegment)] + "): it rests where step " +
                   std::to_string(currentSegment) + " held it";
        return "";
    }
    // Only a step that waits for the device to be still can stall on a
    // sensor that never reads still.
    if (detectState != 0 && detectState != 2 && !firstSample)
        return "";
    InertialSensor* other = gyroscope ? gyroscope.get() : magnetometer.get();
    for (InertialSensor* sensor : {accelerometer.get(), other}) {
        if (!sensor)
            continue;
        const InertialSensor::Quiet quiet = sensor->quietestSecond(lastChangeTime);
        if (!quiet.found || quiet.still() || !quiet.noisy())
            continue;
        const std::string name = sensor->getName();
        // Gravity does not shake; a table does, and the accelerometer feels it.
        const char* cause = name.compare(0, 13, "Accelerometer") == 0
                                ? "the station shakes or the part is too noisy to calibrate"
                                : "the part is too noisy to calibrate";
        return "the " + name + " never read still: its noise, " + sensor->inOperatorUnit(quiet.noise) +
               ", spreads a second of its readings past what a device at rest shows (" +
               sensor->inOperatorUnit(quiet.deviationLimit) + "): " + cause;
    }
    return "";
}
