// devicesim: writes the data dump of a simulated device going through a flow.
//
//   devicesim --out DIR [--prefix dataDump] [--flow full|foursteps|minimal|magfoursteps|als]
//             [--sensors A,A2,G,M] [--mode calibration|test] [--seed N] [--hinge WORD]
//             [--S-offset x,y,z] [--S-scale x,y,z] [--S-misalign x,y,z] [--S-noise s]
//             [--S-spikes rate,size]            (S is acc, gyro or mag)
//             [--field mG] [--dip degrees] [--dip-spread degrees]
//             [--wrong-step N] [--levels a,b,c] [--light-gain g] [--light-noise lux]
//             [--hold seconds] [--turn seconds] [--turn-degrees d] [--period ms]
//             [--device SCENARIO]               (the errors and effects of a hub scenario's <Device>)
//             [--S-full-scale v] [--S-lsb v] [--S-cubic share] [--S-drift x,y,z] [--S-random-walk v]
//             [--S-bias-instability v[,seconds]] [--gyro-g-sensitivity x,y,z | 9 values]
//             [--jitter ms] [--interval-spread share] [--drop-share share] [--burst ms[@TURN[+delay]]]
//             [--bursts-per-minute n] [--ripple mG[,Hz]] [--field-drift mG] [--dip-drift degrees]
//             [--heading degrees]              (where the station's north points, east of magnetic north)
//             [--hand on|off] [--knock POSITION] (moved by a person's hand; a knock in that position's hold)
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <sstream>
#include <string>

#include "DeviceSimulator.h"
#include "Scenario.h"

namespace {

std::vector<double> numbers(const std::string& text) {
    std::vector<double> values;
    std::stringstream in(text);
    for (std::string item; std::getline(in, item, ',');) {
        char* end = nullptr;
        const double v = std::strtod(item.c_str(), &end);
        if (item.empty() || *end != '\0')
            throw std::runtime_error("not a number: " + item);
        values.push_back(v);
    }
    return values;
}

double number(const std::string& text) {
    const std::vector<double> v = numbers(text);
    if (v.size() != 1)
        throw std::runtime_error("one value expected: " + text);
    return v[0];
}

sim::V3 vector3(const std::string& text) {
    const std::vector<double> v = numbers(text);
    if (v.size() != 3)
        throw std::runtime_error("three values expected: " + text);
    return {v[0], v[1], v[2]};
}

int usage() {
    std::cerr << "usage: devicesim --out DIR [--prefix P] [--flow full|foursteps|minimal|magfoursteps|als] "
                 "[--sensors A,A2,G,M] [--mode calibration|test] [--seed N] [--hinge WORD] "
                 "[--S-offset x,y,z] [--S-scale x,y,z] [--S-misalign x,y,z] [--S-noise s] [--S-spikes rate,size] "
                 "(S: acc, gyro, mag) [--field mG] [--dip degrees] [--dip-spread degrees] "
                 "[--wrong-step N] [--levels a,b,c] [--light-gain g] [--light-noise lux] [--hold s] [--turn s] [--turn-degrees d] [--period ms] "
                 "[--device SCENARIO] [--S-full-scale v] [--S-lsb v] [--S-cubic share] [--S-drift x,y,z] [--S-random-walk v] "
                 "[--S-bias-instability v[,seconds]] [--gyro-g-sensitivity x,y,z|9 values] [--jitter ms] [--interval-spread share] "
                 "[--drop-share share] [--burst ms[@TURN[+delay]]] [--bursts-per-minute n] [--ripple mG[,Hz]] "
                 "[--field-drift mG] [--dip-drift degrees] [--heading degrees] [--hand on|off] [--knock POSITION]\n";
    return 2;
}

// Per sensor: the errors as given on the command line.
struct Errors {
    sim::V3 scale{1, 1, 1};
    sim::V3 misalign;
    bool shaped = false;  // scale or misalignment given: the correction follows them
    sim::SensorErrors errors;
};

bool sensorOption(const std::string& option, const std::string& value, std::map<std::string, Errors>& all) {
    const size_t dash = option.find('-', 2);
    if (option.compare(0, 2, "--") != 0 || dash == std::string::npos)
        return false;
    const std::string sensor = option.substr(2, dash - 2), what = option.substr(dash + 1);
    if (sensor != "acc" && sensor != "gyro" && sensor != "mag")
        return false;
    Errors& e = all[sensor];
    if (what == "offset")
        e.errors.offset = vector3(value);
    else if (what == "scale")
        e.scale = vector3(value), e.shaped = true;
    else if (what == "misalign")
        e.misalign = vector3(value), e.shaped = true;
    else if (what == "full-scale")
        e.errors.fullScale = number(value);
    else if (what == "lsb")
        e.errors.lsb = number(value);
    else if (what == "cubic")
        e.errors.cubic = number(value);
    else if (what == "drift")
        e.errors.drift = vector3(value);
    else if (what == "random-walk")
        e.errors.randomWalk = number(value);
    else if (what == "bias-instability") {
        const std::vector<double> b = numbers(value);
        if (b.empty() || b.size() > 2)
            throw std::runtime_error("value[,seconds] expected: " + value);
        e.errors.biasInstability = b[0];
        if (b.size() == 2)
            e.errors.biasSeconds = b[1];
    } else if (what == "g-sensitivity") {
        const std::vector<double> g = numbers(value);
        if (g.size() == 3)
            e.errors.gSensitivity = sim::M3::diagonal({g[0], g[1], g[2]});
        else if (g.size() == 9)
            e.errors.gSensitivity = sim::M3::rows(g[0], g[1], g[2], g[3], g[4], g[5], g[6], g[7], g[8]);
        else
            throw std::runtime_error("three or nine values expected: " + value);
    } else if (what == "noise")
        e.errors.noise = number(value);
    else if (what == "spikes") {
        const std::vector<double> s = numbers(value);
        if (s.size() != 2)
            throw std::runtime_error("rate,size expected: " + value);
        e.errors.spikeRate = s[0];
        e.errors.spikeSize = s[1];
    } else
        return false;
    return true;
}

// --burst ms[@TURN[+delay]]
void burst(const std::string& text, sim::StreamEffects& stream) {
    const size_t at = text.find('@');
    stream.burstMs = number(text.substr(0, at));
    if (at == std::string::npos)
        return;
    const std::string when = text.substr(at + 1);
    const size_t plus = when.find('+');
    stream.burstAtTurn = static_cast<int>(number(when.substr(0, plus)));
    if (plus != std::string::npos)
        stream.burstDelayMs = number(when.substr(plus + 1));
}

// The errors and effects of a hub scenario's device.
void fromScenario(const std::string& path, sim::SimOptions& o, std::map<std::string, Errors>& errors, sim::SensorErrors& lid) {
    const hubsim::Scenario scenario = hubsim::loadScenario(path);
    const sim::DeviceSetup& d = scenario.device;
    errors["acc"] = Errors{{1, 1, 1}, {}, false, d.acc};
    errors["gyro"] = Errors{{1, 1, 1}, {}, false, d.gyro};
    errors["mag"] = Errors{{1, 1, 1}, {}, false, d.mag};
    lid = d.lid;
    o.fieldMilliGauss = d.fieldMilliGauss;
    o.dipDegrees = d.dipDegrees;
    o.stream = d.stream;
    o.station = d.station;
    o.hand = d.hand;
    o.hinge = d.hinge;
}

void print(const char* title, const sim::M3& m) {
    std::printf("%s:\n", title);
    for (int i = 0; i < 3; ++i)
        std::printf("%10.6f %10.6f %10.6f\n", m.m[i][0], m.m[i][1], m.m[i][2]);
}

}  // namespace

int main(int argc, char** argv) {
    sim::SimOptions o;
    std::string out, prefix = "dataDump";
    std::map<std::string, Errors> errors;
    sim::SensorErrors lid;
    bool fromDevice = false;
    errors["acc"].errors.noise = 0.001;
    errors["gyro"].errors.noise = 0.05;
    errors["mag"].errors.noise = 1.0;
    try {
        for (int i = 1; i < argc; ++i) {
            const std::string a = argv[i];
            if (i + 1 >= argc)
                return usage();
            const std::string v = argv[++i];
            if (a == "--out") out = v;
            else if (a == "--prefix") prefix = v;
            else if (a == "--flow") {
                if (v == "full") o.flow = sim::Flow::Full;
                else if (v == "foursteps") o.flow = sim::Flow::FourSteps;
                else if (v == "minimal") o.flow = sim::Flow::Minimal;
                else if (v == "magfoursteps") o.flow = sim::Flow::MagFourSteps;
                else if (v == "als") o.als = true;
                else return usage();
            } else if (a == "--sensors") {
                o.accelerometer = o.secondAccelerometer = o.gyroscope = o.magnetometer = false;
                std::stringstream in(v);
                for (std::string s; std::getline(in, s, ',');) {
                    if (s == "A") o.accelerometer = true;
                    else if (s == "A2") o.secondAccelerometer = true;
                    else if (s == "G") o.gyroscope = true;
                    else if (s == "M") o.magnetometer = true;
                    else return usage();
                }
            } else if (a == "--mode") {
                if (v != "test" && v != "calibration") return usage();
                o.testRecording = v == "test";
            } else if (a == "--seed") o.seed = static_cast<unsigned>(number(v));
            else if (a == "--hinge") o.hinge = v;
            else if (sensorOption(a, v, errors)) continue;
            else if (a == "--field") o.fieldMilliGauss = number(v);
            else if (a == "--dip") o.dipDegrees = number(v);
            else if (a == "--dip-spread") o.dipSpreadDegrees = number(v);
            else if (a == "--wrong-step") o.wrongStep = static_cast<int>(number(v));
            else if (a == "--levels") {
                o.lightLevels.clear();
                for (double level : numbers(v)) o.lightLevels.push_back(static_cast<int>(level));
            } else if (a == "--light-gain") o.lightGain = number(v);
            else if (a == "--light-noise") o.lightNoise = number(v);
            else if (a == "--hold") o.holdSeconds = number(v);
            else if (a == "--turn") o.turnSeconds = number(v);
            else if (a == "--turn-degrees") o.turnDegrees = number(v);
            else if (a == "--period") o.periodMs = number(v);
            else if (a == "--device") fromScenario(v, o, errors, lid), fromDevice = true;
            else if (a == "--jitter") o.stream.jitterMs = number(v);
            else if (a == "--interval-spread") o.stream.intervalSpread = number(v);
            else if (a == "--drop-share") o.stream.dropShare = number(v);
            else if (a == "--burst") burst(v, o.stream);
            else if (a == "--bursts-per-minute") o.stream.burstsPerMinute = number(v);
            else if (a == "--ripple") {
                const std::vector<double> r = numbers(v);
                if (r.empty() || r.size() > 2) return usage();
                o.station.rippleMilliGauss = r[0];
                if (r.size() == 2) o.station.rippleHz = r[1];
            } else if (a == "--field-drift") o.station.fieldDrift = number(v);
            else if (a == "--dip-drift") o.station.dipDrift = number(v);
            else if (a == "--heading") o.station.headingDegrees = number(v);
            else if (a == "--hand") {
                if (v != "on" && v != "off") return usage();
                o.hand = v == "on";
            } else if (a == "--knock") o.knock = static_cast<int>(number(v));
            else return usage();
        }
        if (out.empty() || o.periodMs <= 0 || o.holdSeconds <= 0 || o.turnSeconds <= 0)
            return usage();
        for (auto& entry : errors)
            if (entry.second.shaped || !fromDevice)
                entry.second.errors.correction = sim::correctionOf(entry.second.scale, entry.second.misalign);
        o.acc = errors["acc"].errors;
        // The lid: the scenario's own, or the base accelerometer's errors.
        o.acc2 = fromDevice ? lid : o.acc;
        o.gyro = errors["gyro"].errors;
        o.mag = errors["mag"].errors;
        sim::writeDump(o, out, prefix);
        print("correction", o.acc.correction);
        std::printf("offset:\n%10.6f %10.6f %10.6f\n", o.acc.offset.x, o.acc.offset.y, o.acc.offset.z);
    } catch (const std::exception& e) {
        std::cerr << "devicesim: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
