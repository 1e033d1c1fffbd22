// How long a live hold must last for the noise a part shows: the samples a
// position needs for the records to promise the flow's tolerance at the risk
// the run allows. A record element's error is the level error of the holds it
// comes from times a sensitivity of the flow's solution (measured over the
// solutions drawn by the precision's own method, with a margin).
#include <cmath>
#include <limits>

#include "Accelerometer.h"
#include "Gyroscope.h"
#include "Statistics.h"

double InertialSensor::sigmasForRisk(int elements, double share) {
    // elements * erfc(z / sqrt 2) = share, by bisection.
    double low = 0, high = 40;
    for (int i = 0; i < 100; ++i) {
        const double z = (low + high) / 2;
        if (elements * std::erfc(z / std::sqrt(2.0)) > share)
            low = z;
        else
            high = z;
    }
    return high;
}

InertialSensor::Tolerance InertialSensor::allowanceFor(const std::string& sensor, CalibrationFlowType flow) {
    // Only where a flow determines every element against a tolerance of the
    // same size as these: elsewhere what the flow cannot see is larger, and
    // its tolerance carries it.
    // A consumer accelerometer's nonlinearity (0.2 % of a 2 g full scale,
    // cubic) moves the scale at 1 g by about 0.05 %; its zero-g level
    // drifts by 0.2 mg a kelvin as the device warms in the hand. Only where
    // the flow determines every element: elsewhere what the flow cannot see
    // is larger, and its tolerance carries it.
    if (sensor.compare(0, 13, "Accelerometer") == 0)
        return flow == FLOW_FULL || flow == FLOW_STATIC_FOUR_POSITIONS ? Tolerance{0.0003, 0.00015} : Tolerance{};
    // A gyroscope's zero rate drifts by about 0.02 deg/s a minute as it
    // warms, and wanders (bias instability); a turn made by hand ends a
    // fraction of a degree (0.2, one sigma) off the angle asked for, which
    // the gyroscope takes for its scale: of a full turn 0.06 %, of a quarter
    // turn 0.22 %.
    if (sensor == "Gyroscope")
        return flow == FLOW_FULL         ? Tolerance{0.0006, 0.01}
               : flow == FLOW_FOUR_STEPS ? Tolerance{0.0022, 0.01}
                                         : Tolerance{};
    // A magnetometer's field wanders with the station's (mains ripple, a
    // drifting field) and its coarse readings.
    if (sensor == "Magnetometer" && flow == FLOW_FULL)
        return {0.0002, 0.15};
    return {};
}

InertialSensor::Tolerance InertialSensor::allowance() const {
    return allowanceFor(name, flowType());
}

double InertialSensor::holdSamplesNeeded(double noise) const {
    return holdSamplesFor(name, flowType(), noise);
}

double InertialSensor::holdSamplesFor(const std::string& sensor, CalibrationFlowType flow, double noise) {
    if (!(noise > 0) || !std::isfinite(noise))
        return 0.0;
    // Half the risk the run allows: the noise of a second of samples tells
    // the part's own to a tenth or so.
    const double share = kRiskShare / 2;
    const Tolerance allowed = allowanceFor(sensor, flow);
    // The noise's share of a record's error, sensitivity * sigma / sqrt(n),
    // and the allowance together within the tolerance over the sigmas.
    auto samples = [](double sensitivity, double sigmas, double tolerance, double sigma, double allowance) {
        const double room = tolerance * tolerance / (sigmas * sigmas) - allowance * allowance;
        const double spread = sensitivity * sigma;
        return room > 0 ? spread * spread / room : std::numeric_limits<double>::infinity();
    };
    if (sensor.compare(0, 13, "Accelerometer") == 0) {
        // In g: the scale's tolerance is a share of 1 g.
        switch (flow) {
        case FLOW_FULL:
        case FLOW_STATIC_FOUR_POSITIONS:
            return std::max(samples(1.8, sigmasForRisk(9, share), 0.003, noise, allowed.scale),
                            samples(1.3, sigmasForRisk(3, share), 0.003, noise, allowed.offset));
        case FLOW_FOUR_STEPS:
            return std::max(samples(2.0, sigmasForRisk(9, share), 0.015, noise, 0.0),
                            samples(2.0, sigmasForRisk(3, share), 0.02, noise, 0.0));
        case FLOW_MINIMAL:
            return samples(1.0, sigmasForRisk(3, share), 0.003, noise, 0.0);
        default:
            return 0.0;
        }
    }
    if (sensor == "Gyroscope") {
        // The zero rate comes from the holds; the turns' scale hardly feels
        // their length.
        switch (flow) {
        case FLOW_FULL:
        case FLOW_FOUR_STEPS:
        case FLOW_MINIMAL:
            return samples(1.0, sigmasForRisk(3, share), 0.1, noise, allowed.offset);
        default:
            return 0.0;
        }
    }
    return 0.0;
}

double InertialSensor::recentNoise() {
    const BufferRange range = findBufferRange(motionlessWindow);
    if (range.first < 0 || range.last <= range.first)
        return 0.0;
    return Statistics::FindSTDMax(bufferedData, range);
}

double InertialSensor::recentRate() {
    const BufferRange range = findBufferRange(motionlessWindow);
    if (range.first < 0 || range.last <= range.first)
        return 0.0;
    const double span = bufferedData[static_cast<size_t>(range.last)].timestamp -
                        bufferedData[static_cast<size_t>(range.first)].timestamp;
    return span > 0 ? (range.last - range.first) / span : 0.0;
}
