// Console colours and small helpers shared across the calibration tool.
#pragma once

#include <string>

#include "device/SensorLuid.h"

enum textColors { red = 0, green = 1 };

// Bold red for failure verdicts, bold green for success; nothing for other values.
void setColor(textColors color);
void resetColor();

// Wall-clock milliseconds since the Unix epoch; 0 when the clock cannot be read.
long long millisecond();

// True when path names an existing directory.
bool folderExists(const std::string& path);

// The 8 bytes of the luid in memory order as 16 lower-case hex digits.
std::string luidToString(const _sc_sensor_luid& luid);
