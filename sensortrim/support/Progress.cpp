#include "Progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// A meter of ten marks: the share of the threshold the motion reaches; past
// it, the marks end in a "!".
std::string meter(double share) {
    const int marks = static_cast<int>(std::lround(std::min(std::max(share, 0.0), 1.0) * 10));
    std::string bar(static_cast<size_t>(marks), '#');
    bar += std::string(static_cast<size_t>(10 - marks), '.');
    if (share > 1.0)
        bar.back() = '!';
    return "[" + bar + "]";
}

}  // namespace

std::string formatProgress(const StepProgress& p, size_t width) {
    std::vector<std::string> parts;
    parts.push_back("step " + std::to_string(p.step) + ": " + (p.waitingFor.empty() ? "recording" : p.waitingFor));
    if (!p.turnAxis.empty()) {
        char turn[64];
        std::snprintf(turn, sizeof turn, "%s %.0f/%.0f deg", p.turnAxis.c_str(), p.turnedDegrees, p.turnTarget);
        parts.push_back(turn);
    }
    if (!p.reading.empty())
        parts.push_back(p.reading);
    if (p.motion >= 0)
        parts.push_back(p.meterName + " " + meter(p.motion) + " " + (p.motion <= 1.0 ? p.calmWord : p.busyWord));
    if (p.secondsLeft >= 0)
        parts.push_back(std::to_string(p.secondsLeft) + " s left");
    if (!p.silent.empty()) {
        std::string names;
        for (const std::string& name : p.silent)
            names += (names.empty() ? "" : ", ") + name;
        parts.push_back("no samples: " + names);
    }
    std::string line;
    for (const std::string& part : parts)
        line += (line.empty() ? "" : " | ") + part;
    if (line.size() > width)
        line.resize(width);
    return line;
}
