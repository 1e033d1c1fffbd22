// The hub utility's commands. Each returns a result code.
#pragma once

#include <string>
#include <vector>

#include "args.h"
#include "device/SensorLuid.h"

int INFO_Run(const CmdRecord* record);
int BIST_Run(const CmdRecord* record);
int PDT_Run(const CmdRecord* record);
int I2C_Run(const CmdRecord* record);

// One word of a "-LUID" list: its text and, when it is 16 hex digits, the luid.
struct LuidWord {
    std::string text;
    bool valid = false;
    _sc_sensor_luid luid{};
};
// The comma-separated words of a "-LUID" list; null: the word for every sensor.
std::vector<LuidWord> ParseLuidList(const char* list);
// Reads a PDT image of 1 to 3990 bytes from a ".bin" file into image; a result code.
int PDT_ReadFile(const char* path, std::vector<uint8_t>& image);
