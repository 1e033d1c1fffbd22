// Process entry of the trace collector.
#pragma once

// Command line, collection passes and reporting. Returns the exit status.
int fwlogtapMain(int argc, char** argv);
