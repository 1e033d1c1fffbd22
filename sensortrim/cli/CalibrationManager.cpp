#include "CalibrationManager.h"

CalibrationManager::CalibrationManager(const CmdLineArguments& arguments) : args(arguments) {}

void CalibrationManager::start() {}

void CalibrationManager::abort() {}
