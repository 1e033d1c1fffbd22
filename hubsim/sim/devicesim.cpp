// devicesim: writes the data dump of a simulated device going through a flow.
//
//   devicesim --out DIR [--prefix dataDump] [--flow full|foursteps|minimal|magfoursteps|als]
//             [--sensors A,A2,G,M] [--mode calibration|test] [--seed N] [--hinge WORD]
//             [--acc-offset x,y,z] [--acc-scale x,y,z] [--acc-misalign x,y,z] [--acc-noise s]
//             [--acc-spikes rate,size] [--wrong-step N] [--levels a,b,c] [--light-gain g]
//             [--hold seconds] [--turn seconds]
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#include "DeviceSimulator.h"
#include "Exceptions.h"

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

Vector vector3(const std::string& text) {
    const std::vector<double> v = numbers(text);
    if (v.size() != 3)
        throw std::runtime_error("three values expected: " + text);
    return Vector(v);
}

int usage() {
    std::cerr << "usage: devicesim --out DIR [--prefix P] [--flow full|foursteps|minimal|magfoursteps|als] "
                 "[--sensors A,A2,G,M] [--mode calibration|test] [--seed N] [--hinge WORD] [--acc-offset x,y,z] "
                 "[--acc-scale x,y,z] [--acc-misalign x,y,z] [--acc-noise s] [--acc-spikes rate,size] "
                 "[--wrong-step N] [--levels a,b,c] [--light-gain g] [--hold s] [--turn s]\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    sim::SimOptions o;
    o.acc.noise = 0.001;
    std::string out, prefix = "dataDump";
    Vector scale = Vector::Ones(3), misalign(3);
    try {
        for (int i = 1; i < argc; ++i) {
            const std::string a = argv[i];
            if (i + 1 >= argc)
                return usage();
            const std::string v = argv[++i];
            if (a == "--out") out = v;
            else if (a == "--prefix") prefix = v;
            else if (a == "--flow") {
                if (v == "full") o.flow = FLOW_FULL;
                else if (v == "foursteps") o.flow = FLOW_FOUR_STEPS;
                else if (v == "minimal") o.flow = FLOW_MINIMAL;
                else if (v == "magfoursteps") o.flow = FLOW_MAG_FOUR_STEPS;
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
            } else if (a == "--mode") o.testRecording = v == "test";
            else if (a == "--seed") o.seed = static_cast<unsigned>(std::stoul(v));
            else if (a == "--hinge") o.hinge = v;
            else if (a == "--acc-offset") o.acc.offset = vector3(v);
            else if (a == "--acc-scale") scale = vector3(v);
            else if (a == "--acc-misalign") misalign = vector3(v);
            else if (a == "--acc-noise") o.acc.noise = std::stod(v);
            else if (a == "--acc-spikes") {
                const std::vector<double> s = numbers(v);
                if (s.size() != 2) return usage();
                o.acc.spikeRate = s[0];
                o.acc.spikeSize = s[1];
            } else if (a == "--wrong-step") o.wrongStep = std::stoi(v);
            else if (a == "--levels") {
                o.lightLevels.clear();
                for (double level : numbers(v)) o.lightLevels.push_back(static_cast<int>(level));
            } else if (a == "--light-gain") o.lightGain = std::stod(v);
            else if (a == "--hold") o.holdSeconds = std::stod(v);
            else if (a == "--turn") o.turnSeconds = std::stod(v);
            else return usage();
        }
        if (out.empty())
            return usage();
        o.acc.correction = sim::correctionOf(scale, misalign);
        o.acc2 = o.acc;
        o.gyro.noise = 0.05;
        o.mag.noise = 1.0;
        sim::writeDump(o, out, prefix);
        std::cout << "correction:\n" << o.acc.correction.print() << "offset:\n" << o.acc.offset.print();
    } catch (const std::exception& e) {
        std::cerr << "devicesim: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
