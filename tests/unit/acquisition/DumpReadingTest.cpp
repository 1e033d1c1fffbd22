// The fast reading of dump rows and the statistics over long recordings give
// exactly, bit for bit, what the general conversions and a full sort give.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>

#include "Accelerometer.h"
#include "CsvParser.h"
#include "DumpNumbers.h"
#include "DumpRows.h"
#include "MovingWindow.h"
#include "Statistics.h"

namespace {

bool sameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// What the dump reader does with a value outside the fast path.
double general(const std::string& text) {
    return std::strtod(text.c_str(), nullptr);
}

// Reads the whole text as one value; false when the reader declines it.
bool fastValue(const std::string& text, double& value) {
    const char* end = text.data() + text.size();
    return dumpnumbers::parseValue(text.data(), end, value) == end;
}

bool fastTime(const std::string& text, double& value) {
    const char* end = text.data() + text.size();
    return dumpnumbers::parseTimestamp(text.data(), end, value) == end;
}

TEST(DumpNumbers, ValuesAreStrtodsOrDeclined) {
    struct Case {
        const char* text;
        bool taken;
    };
    const Case cases[] = {
        {"0.000000", true},  {"-0.000000", true}, {"1.000200", true},       {"-0.008000", true},
        {"5.", true},        {"12", true},        {"0.1", true},            {"123456.123456789", true},
        {"0.3", true},       {"-1e3", false},     {".5", false},            {"-.5", false},
        {"+1", false},       {"nan", false},      {"-", false},             {"", false},
        {" 1", false},       {"1234567890.123456", false}, {"0.00000000000000000000001", false},
        {"9007199254740993", false},             {"000000000000000000000000001.5", true},
        // Six decimals read as one word, and what stops or declines it.
        {"1.999999", true},  {"-7.000001", true}, {"0.1234567", true},      {"1.12a456", false},
        {"1.12345a", false}, {"1.:23456", false}, {"1./23456", false},      {"1234567890.123456", false},
    };
    for (const Case& c : cases) {
        double value = 42;
        EXPECT_EQ(fastValue(c.text, value), c.taken) << c.text;
        if (c.taken) {
            EXPECT_TRUE(sameBits(value, general(c.text))) << c.text << " " << value;
        }
    }
    // Every form the tools and other writers print, at random.
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> magnitude(-8, 6);
    const int precisions[] = {6, 3, 9, 12, 15, 1, 0};
    char text[64];
    for (int i = 0; i < 200000; ++i) {
        const double x = (random() & 1 ? -1 : 1) * std::pow(10.0, magnitude(random));
        std::snprintf(text, sizeof text, "%.*f", precisions[i % 7], x);
        double value = 0;
        if (fastValue(text, value))
            ASSERT_TRUE(sameBits(value, general(text))) << text;
        else
            ASSERT_GT(std::strlen(text), 16u) << text;  // only long texts are declined
    }
}

TEST(DumpNumbers, TimestampsKeepTheirFractionOrAreDeclined) {
    // The fast reader takes plain decimals; the general one any form, the
    // integer part as strtoul reads it with a base prefix and the fraction
    // where that part is decimal. Both give the same value.
    struct Case {
        const char* text;
        bool taken;
        double value;
    };
    const Case cases[] = {
        {"0", true, 0},
        {"0.000000", true, 0},
        {"10.500000", true, 10.5},
        {"10409.999898", true, 10409.999898},
        {"5.", true, 5},
        {"0.25", true, 0.25},
        {"7.1234567", true, 7.1234567},
        {"3.12345678912", true, 3.123456789},  // past a nanosecond: passed over
        {"123456789012345678", true, 123456789012345678.0},
        {"1234567890123456789", false, 1234567890123456789.0},
        {"010", false, 8},
        {"010.5", false, 8},
        {"0x1f", false, 31},
        {"+5.5", false, 5},
        {".5", false, 0},  // strtoul reads no integer part, and there is no fraction of none
    };
    for (const Case& c : cases) {
        double value = -1;
        EXPECT_EQ(fastTime(c.text, value), c.taken) << c.text;
        const double general = dumpnumbers::generalTimestamp(c.text, c.text + std::strlen(c.text));
        EXPECT_DOUBLE_EQ(general, c.value) << c.text;
        if (c.taken) {
            EXPECT_TRUE(sameBits(value, general)) << c.text;
        }
    }
    for (const char* text : {"-1", "", "1e3", " 1"}) {
        double value = -1;
        EXPECT_FALSE(fastTime(text, value)) << text;
    }
    // The stamp ends at the field's end, its fraction with it.
    const Case rows[] = {{"10.5,3,4", true, 10.5}, {"10.25\n", true, 10.25}};
    for (const Case& c : rows) {
        double value = -1;
        const char* stop = dumpnumbers::parseTimestamp(c.text, c.text + std::strlen(c.text), value);
        EXPECT_EQ(stop, c.text + std::strcspn(c.text, ",\n")) << c.text;
        EXPECT_DOUBLE_EQ(value, c.value) << c.text;
    }
    // Every stamp the writer prints comes back as the general reader has it.
    std::mt19937_64 random(11);
    char text[64];
    for (int i = 0; i < 100000; ++i) {
        std::snprintf(text, sizeof text, "%f", static_cast<double>(random() % 100000000000ull) / 1000.0);
        double value = -1;
        ASSERT_TRUE(fastTime(text, value)) << text;
        ASSERT_TRUE(sameBits(value, dumpnumbers::generalTimestamp(text, text + std::strlen(text)))) << text;
        ASSERT_NEAR(value, std::strtod(text, nullptr), 1e-6) << text;
    }
}

TEST(DumpNumbers, LineEndsCountedWordByWord) {
    std::mt19937 random(3);
    // Bytes next to the line end's code are the ones a word trick could mistake.
    const char alphabet[] = {'\n', '\x0b', '\x09', '\x8a', '\x0a' ^ '\x80', '0', ',', '\x00', '\xff'};
    for (size_t size : {0u, 1u, 7u, 8u, 9u, 63u, 64u, 1000u, 4099u}) {
        std::string text(size, ' ');
        for (char& c : text)
            c = alphabet[random() % sizeof alphabet];
        EXPECT_EQ(dumpnumbers::countLineEnds(text.data(), text.size()),
                  static_cast<size_t>(std::count(text.begin(), text.end(), '\n')))
            << size;
    }
}

// Rows in the written form and in every other form, past the reader's block
// size, give the same samples as rows read one by one with the general rules.
TEST(DumpNumbers, FastAndGeneralRowsMix) {
    auto acc = std::make_shared<Accelerometer>(_sc_sensor_luid{115, 1, 1, 0, 2});
    std::string text = "time[ms],Accelerometer_X[g0],Accelerometer_Y[g0],Accelerometer_Z[g0]\r\n";
    std::vector<std::vector<double>> expected;
    std::vector<double> times;
    char row[160];
    for (int i = 0; i < 60000; ++i) {
        const double x = 0.001 * (i % 97) - 0.05, y = -1e-7 * i, z = 1 + 1e-4 * (i % 13);
        switch (i % 5) {
        case 0:  // the written form
            std::snprintf(row, sizeof row, "%d.000000,%f,%f,%f\n", i, x, y, z);
            break;
        case 1:  // exponents, a plus sign, CRLF
            std::snprintf(row, sizeof row, "%d,%e,%+.9f,%g\r\n", i, x, y, z);
            break;
        case 2:  // long decimals
            std::snprintf(row, sizeof row, "%d.5,%.17f,%.20f,%.3f\n", i, x, y, z);
            break;
        case 3:  // a comment and an empty line before the row
            std::snprintf(row, sizeof row, "# note\n\n%d,%f,%f,%f\n", i, x, y, z);
            break;
        default:  // blanks the general rules accept
            std::snprintf(row, sizeof row, "%d, %f, %f, %f\n", i, x, y, z);
        }
        text += row;
        // What each number reads as, by the general conversions.
        std::string line(row);
        line = line.substr(line.rfind('\n', line.size() - 2) == std::string::npos ? 0 : line.rfind('\n', line.size() - 2) + 1);
        std::vector<double> fields;
        const char* p = line.c_str();
        for (int f = 0; f < 4; ++f) {
            char* end = nullptr;
            fields.push_back(std::strtod(p, &end));
            p = end + 1;
        }
        times.push_back(i % 5 == 2 ? i + 0.5 : static_cast<double>(i));
        expected.push_back({fields[1], fields[2], fields[3]});
    }
    text += "60000,1,2,3";  // no line end at the end of the file
    std::istringstream in(text);
    const std::vector<SensorData> samples = CsvParser().readSensorStream(in, "d.csv", acc, false);
    ASSERT_EQ(samples.size(), expected.size() + 1);
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(samples[i].timestamp, times[i]) << i;
        ASSERT_EQ(samples[i].values.size(), 3u);
        for (size_t k = 0; k < 3; ++k)
            ASSERT_TRUE(sameBits(samples[i].values[k], expected[i][k])) << i << " " << k;
    }
    EXPECT_EQ(samples.back().values, (std::vector<double>{1, 2, 3}));
    // A row longer than the reader's block.
    std::istringstream huge("time[ms],Accelerometer_X[g0],Accelerometer_Y[g0],Accelerometer_Z[g0]\n1,1,2," +
                            std::string(3 << 20, '0') + "3\n");
    const std::vector<SensorData> one = CsvParser().readSensorStream(huge, "d.csv", acc, false);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].values, (std::vector<double>{1, 2, 3}));
}

// The median by selection against the median of a full sort, on lists with
// ties, zeros of both signs and NaN.
TEST(DumpStatistics, MedianAsTheSortGivesIt) {
    auto sortedMedian = [](std::vector<double> list) {
        std::sort(list.begin(), list.end());
        const size_t n = list.size();
        return n % 2 ? list[n / 2] : (list[n / 2 - 1] + list[n / 2]) / 2.0;
    };
    std::mt19937 random(5);
    const double pool[] = {-0.0, 0.0, 1e-6, -1e-6, 0.5, 0.5, -2, 3.25};
    for (int round = 0; round < 3000; ++round) {
        std::vector<double> list(1 + random() % 40);
        for (double& x : list)
            x = pool[random() % 8];
        ASSERT_TRUE(sameBits(Statistics::Median(list), sortedMedian(list))) << round;
    }
    std::vector<double> withNan{1, NAN, 3, 2, 0};
    EXPECT_TRUE(sameBits(Statistics::Median(withNan), sortedMedian(withNan)));
    // The robust level as its sorted form gives it, zeros of both signs in
    // the middle included, short lists and lists long enough to be bracketed.
    auto sortedRobust = [&](const std::vector<double>& list) {
        const double middle = sortedMedian(list);
        std::vector<double> d;
        double step = INFINITY;
        for (double x : list) {
            d.push_back(std::fabs(x - middle));
            if (d.back() > 0 && d.back() < step)
                step = d.back();
        }
        if (std::isinf(step))
            return middle;
        std::sort(d.begin(), d.end());
        const double width = std::max(4 * 1.4826 * d[list.size() / 2], 1.5 * step);
        double sum = 0;
        size_t count = 0;
        for (double x : list)
            if (std::fabs(x - middle) <= width) {
                sum += x;
                ++count;
            }
        return count > 0 ? sum / static_cast<double>(count) : middle;
    };
    const double zeros[] = {-0.0, 0.0, -0.0, 0.0, 1e-6, -1e-6, 2e-6, -0.0};
    for (int round = 0; round < 600; ++round) {
        std::vector<double> list(round % 50 == 0 ? 20000 + random() % 3 : 1 + random() % 40);
        for (double& x : list)
            x = zeros[random() % (round % 3 == 0 ? 4 : 8)];
        ASSERT_TRUE(sameBits(Statistics::RobustMean(list), sortedRobust(list))) << round;
    }
}

TEST(DumpStatistics, WindowStatisticsAsTheirListForms) {
    std::mt19937 random(9);
    std::normal_distribution<double> noise(0, 0.01);
    std::vector<SensorData> buffer;
    for (int i = 0; i < 5000; ++i)
        buffer.emplace_back(i, SampleValues{noise(random), -noise(random), 1 + noise(random)});
    buffer[100].values[1] = -0.0;
    buffer[101].values[1] = 0.0;
    for (const BufferRange range : {BufferRange(0, 0), BufferRange(10, 20), BufferRange(99, 102), BufferRange(0, 4999)}) {
        Vector spreads(3), deviations(3);
        for (int axis = 0; axis < 3; ++axis) {
            std::vector<double> values;
            for (int i = range.first; i <= range.last; ++i)
                values.push_back(buffer[static_cast<size_t>(i)].values[static_cast<size_t>(axis)]);
            const auto minmax = std::minmax_element(values.begin(), values.end());
            spreads[axis] = *minmax.second - *minmax.first;
            deviations[axis] = Statistics::calcStd(values);
        }
        EXPECT_TRUE(sameBits(Statistics::FindRangeMax(buffer, range), spreads.Max())) << range.first;
        EXPECT_TRUE(sameBits(Statistics::FindSTDMax(buffer, range), deviations.Max())) << range.first;
    }
}

// A window moved forward through a buffer gives FindRangeMax's spread bit for
// bit and FindSTDMax's comparison with a limit, also a limit at the very
// deviation or a hair below it, and declines what it cannot follow.
TEST(DumpStatistics, MovingWindowAsTheWindowStatistics) {
    std::mt19937 random(11);
    std::normal_distribution<double> noise(0, 0.01);
    auto still = [&](int n, double level, double spread) {
        std::vector<SensorData> buffer;
        for (int i = 0; i < n; ++i)
            buffer.emplace_back(i, SampleValues{spread * noise(random), level + spread * noise(random), 1});
        return buffer;
    };
    struct Case {
        const char* name;
        std::vector<SensorData> buffer;
        int failsAt;  // the first window it declines, or -1
    };
    std::vector<Case> cases;
    cases.push_back({"noisy and still", still(6000, 0, 1), -1});
    cases.push_back({"one value throughout", still(6000, 0.25, 0), -1});
    Case step{"a step and a spike", still(6000, 0, 1), -1};
    for (size_t i = 3000; i < step.buffer.size(); ++i)
        step.buffer[i].values[0] += 0.5;
    step.buffer[4321].values[2] = -7;
    step.buffer[100].values[1] = -0.0;
    step.buffer[101].values[1] = 0.0;
    cases.push_back(step);
    Case coarse{"a coarse resolution", still(6000, 0, 1), -1};
    for (SensorData& s : coarse.buffer)
        s.values[0] = std::round(s.values[0] / 0.004) * 0.004;
    cases.push_back(coarse);
    Case large{"large values, tiny noise", still(6000, 1e6, 1e-7), -1};
    cases.push_back(large);
    Case broken{"NaN", still(6000, 0, 1), 0};
    broken.buffer[2500].values[1] = NAN;
    cases.push_back(broken);
    Case two{"two values", still(6000, 0, 1), 0};
    two.buffer[2500].values = SampleValues{1, 2};
    cases.push_back(two);
    for (Case& c : cases) {
        Statistics::MovingWindow window(c.buffer);
        bool declined = false;
        // Windows of 1000 samples every 37, two of them ending just before
        // the step and the spike, then one jump past the last.
        std::vector<int> firsts{2000, 3321};
        for (int first = 0; first + 1000 <= 5000; first += 37)
            firsts.push_back(first);
        std::sort(firsts.begin(), firsts.end());
        std::vector<BufferRange> ranges;
        for (const int first : firsts)
            ranges.emplace_back(first, first + 999);
        ranges.emplace_back(5100, 5999);
        for (const BufferRange& range : ranges) {
            if (!window.moveTo(range)) {
                declined = true;
                EXPECT_LE(range.first, 2500) << c.name;
                EXPECT_GE(range.last, 2500) << c.name;
                break;
            }
            ASSERT_TRUE(sameBits(window.rangeMax(), Statistics::FindRangeMax(c.buffer, range))) << c.name << range.first;
            const double deviation = Statistics::FindSTDMax(c.buffer, range);
            for (const double limit : {deviation, std::nextafter(deviation, 0.0), deviation * 0.999, deviation * 1.001,
                                       1.5 * deviation, 0.0}) {
                ASSERT_EQ(window.stdMaxAbove(limit), deviation > limit) << c.name << " " << range.first << " " << limit;
            }
        }
        EXPECT_EQ(declined, c.failsAt == 0) << c.name;
    }
    // An end that moves back is declined.
    std::vector<SensorData> buffer = still(100, 0, 1);
    Statistics::MovingWindow window(buffer);
    EXPECT_TRUE(window.moveTo(BufferRange(10, 50)));
    EXPECT_FALSE(window.moveTo(BufferRange(9, 60)));
    EXPECT_TRUE(window.moveTo(BufferRange(10, 50)));
    EXPECT_FALSE(window.moveTo(BufferRange(12, 40)));
    EXPECT_FALSE(window.moveTo(BufferRange(0, 100)));
}

// The body read in chunks of whole lines, at any chunk size, gives the lines
// a line reader gives, with the same plain rows, whatever the reader took
// of the stream before.
TEST(DumpRows, ChunksGiveTheLinesOfTheLineReader) {
    const char* texts[] = {
        "h\n1,2,3,4\n5,6,7,8\n",
        "h\r\n1,2,3,4\r\n\r\n# c\r\n5,6,7,8",  // CRLF, an empty line, no end at the end
        "h\n1.000000,-0.000550,0.001403,1.001583\n\n\n2,x,3,4\n3,1,2\n",
        "h",
        "h\n",
        "\n\n\n",
    };
    std::string longLine = "h\n7," + std::string(300, '1') + ",2,3\n8,1,2,3\n";
    std::vector<std::string> all(std::begin(texts), std::end(texts));
    all.push_back(longLine);
    std::string many = "h\n";
    for (int i = 0; i < 3000; ++i)
        many += std::to_string(i) + ".000000,0.25,-0." + std::to_string(i % 7) + ",1\n";
    all.push_back(many);
    const dumprows::RowUnits units;
    for (const std::string& text : all) {
        std::vector<std::pair<std::string, bool>> expected;
        {
            std::istringstream in(text);
            dumprows::LineReader reader(in);
            std::string_view line;
            reader.next(line);
            while (reader.next(line)) {
                SensorData sample;
                expected.emplace_back(std::string(line), dumprows::parsePlainRow(line, 4, units, sample));
            }
        }
        for (const size_t bytes : {size_t(1), size_t(2), size_t(3), size_t(7), size_t(64), size_t(1) << 19}) {
            std::istringstream in(text);
            dumprows::LineReader reader(in);
            std::string_view header;
            reader.next(header);
            dumprows::RowChunks chunks(reader, 4, units, bytes);
            std::vector<std::pair<std::string, bool>> got;
            const std::vector<dumprows::Row>* rows = nullptr;
            while (chunks.next(rows))
                for (const dumprows::Row& row : *rows)
                    got.emplace_back(std::string(row.text), row.plain);
            ASSERT_EQ(got, expected) << text.substr(0, 40) << " in chunks of " << bytes;
        }
    }
}

}  // namespace
