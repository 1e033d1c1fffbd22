// The export folder of a run: made whole before the run does any work, and
// cleared of the files of an earlier run, which are kept in a subfolder.
#pragma once

#include <string>

// Makes the folder and its missing parents and checks that files can be
// written in it; throws CalibrationException naming the folder and the
// system's reason. Then moves the files an earlier run of the tool left there
// (its result files, run logs, error log, data dumps and report) into a
// subfolder named after the time of the newest of them; the data dumps stay
// when keepDumps is set (they are this run's input). Returns the subfolder,
// or "" when there was nothing to move.
std::string prepareExportFolder(const std::string& folder, bool keepDumps);
