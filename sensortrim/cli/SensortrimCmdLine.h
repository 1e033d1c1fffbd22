// The calibration tool's option table, cross-option rules and usage text.
#pragma once

#include "cmdline/CmdLineArguments.h"

// An argument engine loaded with the calibration tool's table and rules.
CmdLineArguments createSensortrimArguments();

// The cross-option rules applied after the generic scan.
void validateSensortrimRules(const CmdLineArguments& args);
