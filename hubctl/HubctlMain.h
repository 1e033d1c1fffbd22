#pragma once

// Everything main does; returns the exit status.
int hubctlMain(int argc, char** argv);
