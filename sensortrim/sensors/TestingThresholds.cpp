#include "TestingThresholds.h"

#include <tinyxml.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "Units.h"
#include "xml/XmlFile.h"

namespace {

const std::string kConfigFile = "TestingConfig.xml";

// What atof does, for a text that may be absent.
double asDouble(const char* text) {
    return std::strtod(text, nullptr);
}

// What atoi does, without its undefined behaviour for out-of-range numbers.
int asInt(const char* text) {
    errno = 0;
    const long v = std::strtol(text, nullptr, 10);
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return static_cast<int>(v);
}

}  // namespace

TestingThresholds TestingThresholds::ms_instance;

TestingThresholds& TestingThresholds::Inst() {
    return ms_instance;
}

TestingThresholds::TestingThresholds() {
    Init();
}

void TestingThresholds::Init() {
    SetDefaultThresholds();
    Load();
}

void TestingThresholds::SetDefaultThresholds() {
    rotationAgreementAcc = 5.0;
    gyrThresholdMotionless = 100.0;
    gyrThresholdMotion = 15.0;
    accThreshold = 0.1;
    maxTimeGapMs = 100;
    maxFrequencyDiffHz = 10;
    maxIntervalStdMs = 10;
    magThresholdNoise = 15.0;
    magThresholdAngles = 15.0;
    magStaticThreshold = 70.0;
    magScaleThreshold = 0.15;
    rotationAgreementMag = 15.0;
    gyrMaxNoise = 0.5;
    accMaxNoise = 0.04;
    gyrMaxSpike = 50.0;
    accMaxSpike = 0.5;
    maxSpikesAllowed = 3;
    handHeldMotionlessFactor = 3.0;
}

void TestingThresholds::Load() {
    LoadFrom(kConfigFile);
}

void TestingThresholds::LoadFrom(const std::string& path) {
    // A file that cannot be loaded (missing, a directory, malformed, nested
    // too deeply to parse safely) leaves every default in place.
    TiXmlDocument doc;
    if (!xmlfile::load(path, doc).ok())
        return;
    const TiXmlElement* root = doc.FirstChildElement();
    if (root == nullptr || std::string(root->Value()) != "TestingConfig")
        return;

    struct DoubleKey {
        const char* key;
        double* field;
    };
    struct IntKey {
        const char* key;
        int* field;
    };
    const DoubleKey doubles[] = {
        {"rotation_agreement_degrees_acc", &rotationAgreementAcc},
        {"gyr_threshold_motionless_DPS", &gyrThresholdMotionless},
        {"gyr_threshold_motion_DPS", &gyrThresholdMotion},
        {"acc_Threshold_G0", &accThreshold},
        {"mag_Threshold_Noise", &magThresholdNoise},
        {"mag_Threshold_angles", &magThresholdAngles},
        {"mag_Static_Threshold", &magStaticThreshold},
        {"mag_scale_Thershold", &magScaleThreshold},
        {"rotation_agreement_degrees_mag", &rotationAgreementMag},
        {"gyr_MaxNoise_DPS", &gyrMaxNoise},
        {"acc_MaxNoise_G0", &accMaxNoise},
        {"gyr_MaxSpike_DPS", &gyrMaxSpike},
        {"acc_MaxSpike_G0", &accMaxSpike},
        {"hand_held_motionless_factor", &handHeldMotionlessFactor},
    };
    const IntKey ints[] = {
        {"max_time_gap_ms", &maxTimeGapMs},
        {"max_frequency_diff_Hz", &maxFrequencyDiffHz},
        {"max_interval_std_ms", &maxIntervalStdMs},
        {"max_spikes_allowed", &maxSpikesAllowed},
    };
    // An element without any text keeps the default.
    for (const DoubleKey& k : doubles)
        if (const TiXmlElement* e = root->FirstChildElement(k.key))
            if (e->GetText() != nullptr)
                *k.field = asDouble(e->GetText());
    for (const IntKey& k : ints)
        if (const TiXmlElement* e = root->FirstChildElement(k.key))
            if (e->GetText() != nullptr)
                *k.field = asInt(e->GetText());
}

void TestingThresholds::ConvertThresholds() {
    for (double* angular : {&rotationAgreementAcc, &rotationAgreementMag, &gyrThresholdMotionless,
                            &gyrThresholdMotion, &gyrMaxNoise, &gyrMaxSpike})
        *angular = Conversions::Convert(*angular, Unit_deg__sec, Unit_rad__sec);
    for (double* acceleration : {&accThreshold, &accMaxNoise, &accMaxSpike})
        *acceleration = Conversions::Convert(*acceleration, Unit_g0, Unit_meter__sec2);
    for (double* magnetic : {&magThresholdNoise, &magStaticThreshold})
        *magnetic = Conversions::Convert(*magnetic, Unit_milliGauss, Unit_microTesla);
}
