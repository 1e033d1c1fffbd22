#include "DeviceSimulator.h"

#include "Hand.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>

namespace sim {

namespace {

const double kPi = 3.14159265358979323846;
const double kDegPerRad = 180.0 / kPi;

// The world frame is east, north, up. An orientation is the device-to-world
// rotation: its columns are the device axes in the world.
struct Segment {
    bool moving;
    M3 from;       // orientation at the start
    V3 rotation;   // body rotation vector over the segment (radians)
    double seconds;
    int position;  // the still position this segment starts at
    bool toNext;   // a move to the next position
    // Made by hand: the piece (its re-grip's jolt, the sensor off the axis).
    bool byHand = false;
    Piece piece{};
    // A hold after a motion by hand: the hand's tremor as it lets go.
    bool tremor = false;
    V3 tremorAxis{};
    // A knock this far into a hold (ms; negative: none).
    double knockMs = -1;
};

// The body moves of each flow between its positions, as the operator is told
// to make them.
std::vector<V3> movesOf(Flow flow) {
    const double q = kPi / 2;
    switch (flow) {
    case Flow::Minimal:
        return {};
    case Flow::FourSteps:
        // 90 degrees counterclockwise about Y, about Z, then clockwise about X.
        return {{0, q, 0}, {0, 0, q}, {-q, 0, 0}};
    case Flow::MagFourSteps:
        return {{0, 0, q}, {0, 0, q}, {0, 0, q}};
    case Flow::Full:
    default:
        // Z up Y north -> Y up Z south -> X up Z south -> Y down Z south.
        return {{q, 0, 0}, {0, 0, q}, {0, 0, q}};
    }
}

std::vector<M3> positionsOf(const SimOptions& o) {
    std::vector<M3> positions{M3::identity()};
    // The magnetometer's test turns a quarter of a full turn, short where the full one is.
    const double share = o.flow == Flow::MagFourSteps ? o.turnDegrees / 360.0 : 1.0;
    for (const V3& move : movesOf(o.flow))
        positions.push_back(positions.back() * rotation(move * share));
    if (o.wrongStep >= 0 && o.wrongStep < static_cast<int>(positions.size())) {
        // Held wrongly: tilted 60 degrees about a level axis of the world.
        M3& wrong = positions[static_cast<size_t>(o.wrongStep)];
        wrong = rotation(V3{kPi / 3, 0, 0}) * wrong;
    }
    return positions;
}

// The knock the options ask for, if in this position's hold: 2.6 s into it,
// or a quarter of a second before its end.
void knockIn(Segment& hold, const SimOptions& o, int position) {
    if (position == o.knock)
        hold.knockMs = std::min(2600.0, o.holdSeconds * 1000 - 250);
}

// A motion made by hand: its pieces, from the orientation given, and the
// orientation it ends in.
M3 byHand(std::vector<Segment>& segments, const M3& from, const std::vector<Piece>& pieces, int position, bool toNext) {
    M3 current = from;
    for (const Piece& piece : pieces) {
        Segment s{true, current, piece.rotation, piece.seconds, position, toNext};
        s.byHand = true;
        s.piece = piece;
        segments.push_back(s);
        current = current * rotation(piece.rotation);
    }
    return current;
}

std::vector<Segment> handTimeline(const SimOptions& o) {
    Hand hand(o.seed * 7919u + 7);
    std::vector<M3> positions = positionsOf(o);
    // Each placement a degree or so about the vertical off.
    for (M3& placed : positions)
        placed = rotation(V3{0, 0, hand.placement()}) * placed;
    std::vector<Segment> segments;
    auto hold = [&](const M3& at, int position, bool afterHand) {
        Segment s{false, at, V3{}, o.holdSeconds, position, false};
        s.tremor = afterHand;
        s.tremorAxis = hand.tremorAxis();
        segments.push_back(s);
    };
    M3 current = positions[0];
    for (size_t p = 0; p < positions.size(); ++p) {
        const int position = static_cast<int>(p);
        hold(current, position, p > 0);
        knockIn(segments.back(), o, position);
        if (p + 1 == positions.size())
            break;
        if (o.flow == Flow::Full) {
            const V3 up = current.transposed() * V3{0, 0, 1};
            current = byHand(segments, current, hand.turn(up * (o.turnDegrees / kDegPerRad), 2 * o.turnSeconds),
                             position, false);
            hold(current, position, true);
            current = byHand(segments, current,
                             hand.move(rotationVector(current.transposed() * positions[p + 1]), o.turnSeconds), position,
                             true);
            continue;
        }
        // The other flows' steps are quarter turns: turned as the full ones are.
        current = byHand(segments, current,
                         hand.turn(rotationVector(current.transposed() * positions[p + 1]), o.turnSeconds), position,
                         true);
    }
    return segments;
}

std::vector<Segment> timeline(const SimOptions& o) {
    if (o.hand)
        return handTimeline(o);
    const std::vector<M3> positions = positionsOf(o);
    std::vector<Segment> segments;
    for (size_t p = 0; p < positions.size(); ++p) {
        const int position = static_cast<int>(p);
        segments.push_back({false, positions[p], V3{}, o.holdSeconds, position, false});
        knockIn(segments.back(), o, position);
        if (p + 1 == positions.size())
            break;
        if (o.flow == Flow::Full) {
            // A full counterclockwise turn about the device axis that points up.
            const V3 up = positions[p].transposed() * V3{0, 0, 1};
            const V3 turn = up * (o.turnDegrees / kDegPerRad);
            segments.push_back({true, positions[p], turn, 2 * o.turnSeconds, position, false});
            const M3 turned = positions[p] * rotation(turn);
            segments.push_back({false, turned, V3{}, o.holdSeconds, position, false});
            const V3 move = rotationVector(turned.transposed() * positions[p + 1]);
            segments.push_back({true, turned, move, o.turnSeconds, position, true});
            continue;
        }
        const V3 move = rotationVector(positions[p].transposed() * positions[p + 1]);
        segments.push_back({true, positions[p], move, o.turnSeconds, position, true});
    }
    return segments;
}


// A sensor of the run: what it senses through its errors (raw, or as a
// correct calibration leaves it in a test recording), read through its part.
class Reading {
public:
    Reading(const SensorErrors& e, bool calibrated, std::mt19937& random, double nominalScale)
        : errors(e), test(calibrated), rng(random), inverse(e.correction.inverse()), part(e, nominalScale) {}

    Sample operator()(double t, double stamp, const V3& truth, const V3& gravity) {
        const V3 sensed = test ? errors.correction * truth : inverse * truth;
        const V3 v = part.read(t, sensed, gravity, rng);
        return Sample{stamp, {v.x, v.y, v.z}};
    }

private:
    SensorErrors errors;
    bool test;
    std::mt19937& rng;
    M3 inverse;
    Part part;
};

std::vector<Stream> simulateLight(const SimOptions& o, std::mt19937& rng) {
    // The default hub's light sensor, as a live run's dump carries it.
    Stream light{"AmbientLightSensor", "4100020001000002", "", "lux", 1, {}};
    std::normal_distribution<double> noise(0.0, o.lightNoise > 0 ? o.lightNoise : 1.0);
    const double noisy = o.lightNoise > 0 ? 1.0 : 0.0;
    const double changeMs = 300.0;
    double t = 0, previous = 0;
    for (size_t k = 0; k < o.lightLevels.size(); ++k) {
        const double level = o.lightLevels[k] * o.lightGain;
        // The operator turns the light from the previous level to this one.
        if (k > 0)
            for (double s = 0; s < changeMs; s += o.periodMs, t += o.periodMs)
                light.samples.push_back({t, {previous + (level - previous) * s / changeMs + noisy * noise(rng), 0, 0}});
        for (double s = 0; s < o.holdSeconds * 1000; s += o.periodMs, t += o.periodMs)
            light.samples.push_back({t, {level + noisy * noise(rng), 0, 0}});
        previous = level;
    }
    return {light};
}

bool makeFolder(const std::string& path) {
    for (size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
        const std::string part = path.substr(0, at);
        if (!part.empty() && mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
        if (at == std::string::npos)
            return true;
    }
}

}  // namespace

M3 lidFrame(const std::string& hinge) {
    if (hinge == "TOP")
        return M3::rows(-1, 0, 0, 0, 1, 0, 0, 0, -1);
    if (hinge == "LEFT")
        return M3::rows(0, -1, 0, -1, 0, 0, 0, 0, -1);
    if (hinge == "RIGHT")
        return M3::rows(0, 1, 0, 1, 0, 0, 0, 0, -1);
    return M3::rows(1, 0, 0, 0, -1, 0, 0, 0, -1);
}

M3 correctionOf(const V3& scale, const V3& misalignment) {
    return M3::diagonal(scale) * rotation(misalignment);
}

std::vector<Stream> simulate(const SimOptions& o) {
    std::mt19937 rng(o.seed);
    if (o.als)
        return simulateLight(o, rng);

    enum Kind { Base, Lid, Rate, Field };
    struct Output {
        Stream stream;
        Reading reading;
        Kind kind;
    };
    std::vector<Output> outputs;
    if (o.accelerometer)
        outputs.push_back({{"Accelerometer", "7300010001000002", "", "g0", 3, {}}, Reading(o.acc, o.testRecording, rng, 2.0), Base});
    if (o.secondAccelerometer)
        outputs.push_back({{"Accelerometer_2", "7300010001000102", o.hinge, "g0", 3, {}},
                           Reading(o.acc2, o.testRecording, rng, 2.0), Lid});
    if (o.gyroscope)
        outputs.push_back({{"Gyroscope", "7600090002000002", "", "deg__sec", 3, {}}, Reading(o.gyro, o.testRecording, rng, 2000.0), Rate});
    if (o.magnetometer)
        outputs.push_back({{"Magnetometer", "0f02080004000002", "", "milliGauss", 3, {}},
                           Reading(o.mag, o.testRecording, rng, 10000.0), Field});

    const double lastPosition = static_cast<double>(movesOf(o.flow).size());
    const M3 lid = lidFrame(o.hinge);
    Delivery delivery(o.stream, o.seed);
    double t = 0;
    bool wasMoving = false;
    for (const Segment& segment : timeline(o)) {
        const int samples = static_cast<int>(segment.seconds * 1000 / o.periodMs + 0.5);
        const double segmentStart = t;
        // The turns of the flow: the full flow's 360s, the other flows' moves
        // (by hand, from their first stroke).
        if (segment.moving && !wasMoving && (o.flow != Flow::Full || !segment.toNext))
            delivery.turnStarts(t);
        wasMoving = segment.moving;
        for (int i = 0; i < samples; ++i, t += o.periodMs) {
            // A sample is taken a little early or late with irregular intervals.
            const double late = delivery.lateness(o.periodMs);
            const double at = t + late;
            // Moves start and end gently: the turned fraction is
            // u - sin(2 pi u) / (2 pi), so the body rate is the rotation times
            // (1 - cos(2 pi u)) / duration, and it integrates to the pose.
            const double u = segment.moving ? std::min(1.0, std::max(0.0, static_cast<double>(i) / samples +
                                                                                  late / (samples * o.periodMs)))
                                            : 0.0;
            const double fraction = turnedShare(u);
            M3 orientation = segment.from * rotation(segment.rotation * fraction);
            // The rate over the time the samples span, which integrates to the
            // rotation whatever the segment's length against the period.
            const double spanned = samples * o.periodMs / 1000;
            V3 rate = segment.moving ? segment.rotation * (rateShare(u, spanned) * kDegPerRad) : V3{};
            // What a hand adds: the sensor off the axis it turns about, the
            // jolt of a re-grip, its tremor as it lets go; and a knock.
            V3 linear;
            const double into = at - segmentStart;
            if (segment.byHand) {
                linear = Hand::armAcceleration(segment.piece, u);
                if (segment.piece.regrip)
                    linear = linear + Hand::jolt(segment.piece.jolt, into);
            }
            if (segment.tremor) {
                orientation = orientation * rotation(Hand::tremorAngle(segment.tremorAxis, into));
                rate = rate + Hand::tremorRate(segment.tremorAxis, into);
            }
            if (segment.knockMs >= 0)
                linear = linear + Hand::jolt(Hand::kKnock, into - segment.knockMs);
            const M3 toDevice = orientation.transposed();
            double where = segment.position;
            if (segment.toNext)
                where += fraction;  // the local field changes along the move to the next position
            const double spread = lastPosition > 0 ? o.dipSpreadDegrees * (where / lastPosition - 0.5) : 0.0;
            const V3 localField = stationField(o.station, o.fieldMilliGauss, o.dipDegrees + spread, at);
            const V3 gravity = toDevice * V3{0, 0, 1};
            // A lost burst takes the reports of every sensor; the samples are
            // still taken (the parts' noise goes on), only not delivered.
            const bool lost = delivery.inBurst(at);
            const double stamp = delivery.stamp(at);
            for (Output& out : outputs) {
                const V3 truth = out.kind == Base ? gravity + linear
                                 : out.kind == Lid ? lid * (gravity + linear)
                                 : out.kind == Rate ? rate
                                                    : toDevice * localField;
                const Sample sample = out.reading(at, stamp, truth, gravity);
                if (!lost && !delivery.dropped())
                    out.stream.samples.push_back(sample);
            }
        }
    }
    std::vector<Stream> streams;
    for (Output& out : outputs)
        streams.push_back(std::move(out.stream));
    return streams;
}

void writeStreams(const std::vector<Stream>& streams, const std::string& folder, const std::string& prefix) {
    if (!makeFolder(folder))
        throw std::runtime_error("cannot create " + folder);
    for (const Stream& s : streams) {
        const std::string path = folder + "/" + prefix + s.name + ".csv";
        std::ofstream out(path, std::ios::trunc);
        out << "LUID=" << s.luid << "\n";
        if (!s.hinge.empty())
            out << "HINGE=" << s.hinge << "\n";
        out << "time[ms]";
        for (int f = 0; f < s.fields; ++f)
            out << "," << s.name << "_" << (s.fields == 3 ? std::string(1, static_cast<char>('X' + f)) : std::to_string(f))
                << "[" << s.unit << "]";
        out << "\n";
        char number[64];
        for (const Sample& sample : s.samples) {
            std::snprintf(number, sizeof number, "%f", sample.t);
            out << number;
            for (int f = 0; f < s.fields; ++f) {
                std::snprintf(number, sizeof number, ",%f", sample.v[f]);
                out << number;
            }
            out << "\n";
        }
        out.close();
        if (!out)
            throw std::runtime_error("cannot write " + path);
    }
}

void writeDump(const SimOptions& options, const std::string& folder, const std::string& prefix) {
    writeStreams(simulate(options), folder, prefix);
}

}  // namespace sim
