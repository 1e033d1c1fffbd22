// The jolts an accelerometer's dump holds: a knock on the table or a hand
// taking hold again shakes the device for a sample or two, well apart from
// how it moves. A row that uses such an effect first sees it in the data.
#pragma once

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace jolts {

// Each sample's distance (g) from the middle of the samples three before and
// three after it, where those two agree (the device rests, or pauses): a jolt
// of 20 ms on a still device stands out, a stroke of a turn does not (0).
inline std::vector<double> sizes(const std::string& csv) {
    std::vector<std::vector<double>> rows;
    std::istringstream in(csv);
    for (std::string line; std::getline(in, line);) {
        std::vector<double> v;
        std::istringstream fields(line);
        for (std::string f; std::getline(fields, f, ',');) {
            char* end = nullptr;
            v.push_back(std::strtod(f.c_str(), &end));
            if (end == f.c_str())
                break;
        }
        if (v.size() == 4)
            rows.push_back(v);
    }
    std::vector<double> out;
    for (size_t i = 3; i + 3 < rows.size(); ++i) {
        double sum = 0, apart = 0;
        for (int k = 1; k <= 3; ++k) {
            const double before = rows[i - 3][static_cast<size_t>(k)], after = rows[i + 3][static_cast<size_t>(k)];
            const double d = rows[i][static_cast<size_t>(k)] - (before + after) / 2;
            sum += d * d;
            apart += (after - before) * (after - before);
        }
        out.push_back(std::sqrt(apart) < 0.05 ? std::sqrt(sum) : 0.0);
    }
    return out;
}

inline double largest(const std::string& csv) {
    double top = 0;
    for (double s : sizes(csv))
        top = std::max(top, s);
    return top;
}

// How many separate jolts of at least `g` (samples within 50 apart count once).
inline int count(const std::string& csv, double g) {
    const std::vector<double> s = sizes(csv);
    int n = 0;
    size_t last = 0;
    bool any = false;
    for (size_t i = 0; i < s.size(); ++i)
        if (s[i] >= g) {
            if (!any || i > last + 50)
                ++n;
            any = true;
            last = i;
        }
    return n;
}

}  // namespace jolts
