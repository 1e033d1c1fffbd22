// The ambient light script: one step per light level, typed by the operator
// or read from a levels file, each ended once the light is stable.
#include "Process.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "AmbientLight.h"
#include "Console.h"
#include "Exceptions.h"
#include "FileUtil.h"
#include "Statistics.h"

AlsProcess::AlsProcess(bool manualMode) : manual(manualMode) {
    type = PROCESS_ALS_CALIBRATION;
    staticStatesNumber = 3;
}

namespace {

// A whole number the operator types.
int readNumber() {
    std::string line;
    console().readLine(line);
    try {
        return convertInt(trim(line));
    } catch (const CalibrationException&) {
        throw CalibrationException("Invalid number was entered");
    }
}

}  // namespace

void AlsProcess::readConfiguration(const std::string& path) {
    CsvParser parser;
    parser.readConfigFile(path, configuration);
}

void AlsProcess::initNumOfSteps() {
    int steps = 0;
    if (manual) {
        consoleOut() << "Enter the number of steps to calibrate, valid number should be bigger than 1" << std::endl;
        steps = readNumber();
    } else {
        steps = static_cast<int>(configuration.values.size());
    }
    if (steps <= 0)
        throw CalibrationException("Invalid number of stages");
    staticStatesNumber = steps;
    segmentIndexes.assign(2 * static_cast<size_t>(steps), 0);
}

std::string AlsProcess::getStepInstructions(bool /*noPrompt*/) {
    if (manual)
        return "Please change the light level to the next level. When done, enter the light level as read by your "
               "light meter";
    const size_t i = static_cast<size_t>(currentStaticStep);
    if (i >= configuration.values.size())
        return "Invalid number of light values";
    return "Please change the light level to " + std::to_string(configuration.values[i]) + " lux";
}

int AlsProcess::validateLevel(int level) {
    if (level <= 0)
        throw CalibrationException("Invalid light value " + std::to_string(level) + ". Value should be bigger than " +
                                   "1" + "(lux)");
    if (currentStaticStep >= 1) {
        if (std::abs(level - previousLevel) < 300)
            throw CalibrationException(std::string("Invalid delta between light levels. Minimum delta is ") + "300");
        if (currentStaticStep == 1)
            ascending = level > previousLevel;
        else if ((level > previousLevel) != ascending)
            throw CalibrationException(
                "Invalid delta between light levels. levels should be ascending or descending");
    }
    previousLevel = level;
    return level;
}

std::string AlsProcess::getInput() {
    int level = 0;
    if (manual) {
        level = readNumber();
    } else {
        const size_t i = static_cast<size_t>(currentStaticStep);
        if (i >= configuration.values.size())
            throw CalibrationException("Invalid number of light values");
        level = configuration.values[i];
    }
    return std::to_string(validateLevel(level));
}

bool AlsProcess::isStageIndicator(const std::shared_ptr<Sensor>& sensor) {
    return indicator && sensor && sensor->getLuid() == indicator->getLuid();
}

bool AlsProcess::setIndicator(std::shared_ptr<Sensor> sensor) {
    indicator = std::dynamic_pointer_cast<AmbientLight>(sensor);
    return indicator != nullptr;
}

void AlsProcess::setInputs(const std::shared_ptr<Sensor>& sensor) {
    auto light = std::dynamic_pointer_cast<AmbientLight>(sensor);
    if (!light)
        return;
    for (int level : configuration.values)
        light->addLightLevel(level);
}

void AlsProcess::CalibrationControl(SensorData& sample) {
    if (!indicator || isDone())
        return;
    const int buffered = static_cast<int>(indicator->getBufferedData().size());
    if (currentSegment >= 0 && !changeDetected) {
        const int first = segmentIndexes[2 * static_cast<size_t>(currentSegment)];
        const int last = segmentIndexes[2 * static_cast<size_t>(currentSegment) + 1];
        const double average = indicator->CalculateSegmentAverage(first, last - first + 1);
        if (!sample.values.empty() && std::fabs(sample.values[0] - average) > 5.0) {
            changeDetected = true;
        } else {
            ++noChangeCount;
            if (noChangeCount > indicator->CalculateSamplingFrequency() * maxNoChangeSeconds)
                throw SamplingException("A light level change was not detected for too long time");
            return;
        }
    }
    int window = 0, retries = 0;
    indicator->CalcSamplesRange(window, retries);
    stabilityWindow = window;
    if (++windowCount < window)
        return;
    if (buffered < window)
        return;
    if (indicator->CheckStability(buffered - window, window)) {
        const size_t segment = static_cast<size_t>(currentSegment + 1);
        if (2 * segment + 1 < segmentIndexes.size()) {
            segmentIndexes[2 * segment] = std::max(0, indexOffset + buffered - window);
            segmentIndexes[2 * segment + 1] = buffered - 1;
        }
        moveNext = true;
        ++currentSegment;
        windowCount = unstableCount = noChangeCount = 0;
        changeDetected = false;
        if (manual)
            indicator->setIsSkippingData(true);
        return;
    }
    if (++unstableCount > retries)
        throw SamplingException("The light is not stable for too long time");
}

bool AlsProcess::fillProgress(StepProgress& progress) {
    if (!indicator || isDone())
        return false;
    // Levels are counted from -1 (none recorded yet): the step under way is the next.
    progress.step = currentSegment + 2;
    progress.waitingFor = currentSegment >= 0 && !changeDetected ? "the light to change" : "a steady light";
    const std::vector<SensorData>& data = indicator->getBufferedData();
    if (data.empty() || data.back().values.empty())
        return true;
    char reading[48];
    std::snprintf(reading, sizeof reading, "light %.0f", data.back().values[0]);
    progress.reading = reading;
    // The spread of the samples the stability check looks at, against the
    // spread it accepts (1).
    const int count = std::min(static_cast<int>(data.size()), std::max(stabilityWindow, 2));
    if (count >= 2) {
        progress.motion = Statistics::calcStd(data, 0, static_cast<int>(data.size()) - count, count);
        progress.meterName = "light";
        progress.calmWord = "steady";
        progress.busyWord = "changing";
    }
    return true;
}
