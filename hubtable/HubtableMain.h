#pragma once

#include "cmdline/CmdLineArguments.h"

// The PDT tool's option table, input-file rule and usage text.
CmdLineArguments createHubtableArguments();

// Everything main does; returns the exit status.
int hubtableMain(int argc, char** argv);
