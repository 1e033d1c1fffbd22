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

bool Process::sameLuid(const std::shared_ptr<Sensor>& a, const std::shared_ptr<Sensor>& b) {
    return a && b && a->getLuid() == b->getLuid();
}

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
