// The hub utility's commands. Each returns a result code.
#pragma once

#include "args.h"

int INFO_Run(const CmdRecord* record);
int BIST_Run(const CmdRecord* record);
int PDT_Run(const CmdRecord* record);
int I2C_Run(const CmdRecord* record);
