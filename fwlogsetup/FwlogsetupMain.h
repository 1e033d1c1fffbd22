// Process entry of the trace configuration tool.
#pragma once

// Command line, the one exchange with the firmware, and reporting. Returns
// the exit status.
int fwlogsetupMain(int argc, char** argv);
