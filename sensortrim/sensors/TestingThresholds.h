// Pass/fail limits of the calibration tests, built-in defaults overridden by
// "TestingConfig.xml" in the working directory when it is there.
#pragma once

#include <string>

class TestingThresholds {
public:
    static TestingThresholds& Inst();

    TestingThresholds();
    void Init();
    void SetDefaultThresholds();
    // Reads the file; a missing, unreadable or malformed file changes nothing.
    void Load();
    // Loads from another file (the tool itself always reads "TestingConfig.xml").
    void LoadFrom(const std::string& path);
    // Degrees to radians, g to m/s^2, milligauss to microtesla, in place.
    void ConvertThresholds();

    double rotationAgreementAcc;
    double gyrThresholdMotionless;
    double gyrThresholdMotion;
    double accThreshold;
    int maxTimeGapMs;
    int maxFrequencyDiffHz;
    int maxIntervalStdMs;
    double magThresholdNoise;
    double magThresholdAngles;
    double magStaticThreshold;
    double magScaleThreshold;
    double rotationAgreementMag;
    double gyrMaxNoise;
    double accMaxNoise;
    double gyrMaxSpike;
    double accMaxSpike;
    int maxSpikesAllowed;
    double handHeldMotionlessFactor;

private:
    static TestingThresholds ms_instance;
};
