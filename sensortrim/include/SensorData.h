// One sample of a sensor: a time stamp (milliseconds) and one value per axis or field.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <vector>

// The values of one sample, held in the sample itself. A sensor has at most
// three fields, and a recording holds millions of samples: one heap block per
// sample would more than double the memory a long recording takes.
class SampleValues {
public:
    static constexpr size_t kCapacity = 3;
    using value_type = double;
    using iterator = double*;
    using const_iterator = const double*;

    SampleValues() = default;
    SampleValues(std::initializer_list<double> list) { assign(list.begin(), list.end()); }
    SampleValues(const std::vector<double>& list) { assign(list.data(), list.data() + list.size()); }  // NOLINT

    size_t size() const { return count; }
    bool empty() const { return count == 0; }
    void clear() { count = 0; }
    void push_back(double value) {
        if (count == kCapacity)
            throw std::length_error("a sample holds at most three values");
        data[count++] = value;
    }

    double& operator[](size_t i) { return data[i]; }
    double operator[](size_t i) const { return data[i]; }
    double& at(size_t i) {
        check(i);
        return data[i];
    }
    double at(size_t i) const {
        check(i);
        return data[i];
    }
    iterator begin() { return data; }
    iterator end() { return data + count; }
    const_iterator begin() const { return data; }
    const_iterator end() const { return data + count; }

    operator std::vector<double>() const { return std::vector<double>(begin(), end()); }  // NOLINT

    friend bool operator==(const SampleValues& a, const SampleValues& b) {
        return a.count == b.count && std::equal(a.begin(), a.end(), b.begin());
    }
    friend bool operator==(const SampleValues& a, const std::vector<double>& b) {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
    }
    friend bool operator!=(const SampleValues& a, const SampleValues& b) { return !(a == b); }

private:
    double data[kCapacity] = {};
    uint8_t count = 0;

    void assign(const double* first, const double* last) {
        for (; first != last; ++first)
            push_back(*first);
    }
    void check(size_t i) const {
        if (i >= count)
            throw std::out_of_range("sample value index");
    }
};

struct SensorData {
    double timestamp = 0.0;
    SampleValues values;

    SensorData() = default;
    SensorData(double time, SampleValues fieldValues) : timestamp(time), values(fieldValues) {}
};
