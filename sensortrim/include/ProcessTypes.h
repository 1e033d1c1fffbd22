// Kinds of step script and calibration flows of a run.
#pragma once

enum ProcessType {
    PROCESS_NONE = 0,
    PROCESS_INERTIAL_CALIBRATION = 1,
    PROCESS_ALS_CALIBRATION = 2,
    PROCESS_MAGNETIC_TEST = 3,
    PROCESS_CALIBRATION_TEST = 4,
};

enum CalibrationFlowType {
    FLOW_FULL = 0,
    FLOW_MINIMAL = 1,
    FLOW_FOUR_STEPS = 2,
    FLOW_MAG_FOUR_STEPS = 3,
    FLOW_STATIC_FOUR_POSITIONS = 4,
};
