// Data dump files and the ALS configuration file.
#include <gtest/gtest.h>

#include <cstdlib>

#include "Accelerometer.h"
#include "AmbientLight.h"
#include "CsvParser.h"
#include "Exceptions.h"
#include "FileUtil.h"
#include "Magnetometer.h"
#include "RunProcess.h"

namespace {

class Dumps : public ::testing::Test {
protected:
    void SetUp() override { dir = makeTempDir(); }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    std::string readError(const std::shared_ptr<Sensor>& sensor, const std::string& content) {
        writeFile(dir + "/d" + sensor->getName() + ".csv", content);
        try {
            CsvParser().readFromFile(dir + "/d", {sensor}, false);
        } catch (const CalibrationException& e) {
            return e.what();
        } catch (const MathException& e) {
            return e.what();
        }
        return "";
    }

    std::string dir;
};

const char kAccHeader[] = "time[ms],Accelerometer_X[g0],Accelerometer_Y[g0],Accelerometer_Z[g0]\n";

TEST_F(Dumps, WriteThenReadGivesTheSamples) {
    auto acc = std::make_shared<Accelerometer>(_sc_sensor_luid{115, 1, 1, 0, 2});
    auto lid = std::make_shared<Accelerometer>(_sc_sensor_luid{115, 1, 1, 1, 2});
    lid->setHingeConfig("LEFT");
    auto als = std::make_shared<AmbientLight>(_sc_sensor_luid{65, 2, 1, 0, 0});
    SensorDump dump;
    dump[acc] = {SensorData(0, {0.01, -0.02, 1.0}), SensorData(10, {0.011, -0.021, 0.999}),
                 SensorData(10, {0.5, 0.25, 0.125})};
    dump[lid] = {SensorData(3, {1, 2, 3})};
    dump[als] = {SensorData(5, {123.5})};
    CsvParser().writeToFile(dir + "/sub/dataDump.csv", dump);
    EXPECT_EQ(readFile(dir + "/sub/dataDumpAccelerometer.csv"),
              std::string("LUID=7300010001000002\n") + kAccHeader +
                  "0.000000,0.010000,-0.020000,1.000000\n10.000000,0.011000,-0.021000,0.999000\n"
                  "10.000000,0.500000,0.250000,0.125000\n");
    EXPECT_EQ(readFile(dir + "/sub/dataDumpAccelerometer_2.csv"),
              std::string("LUID=7300010001000102\nHINGE=LEFT\n") +
                  "time[ms],Accelerometer_2_X[g0],Accelerometer_2_Y[g0],Accelerometer_2_Z[g0]\n"
                  "3.000000,1.000000,2.000000,3.000000\n");
    EXPECT_EQ(readFile(dir + "/sub/dataDumpAmbientLightSensor.csv"),
              "LUID=4100020001000000\ntime[ms],AmbientLightSensor_0[lux]\n5.000000,123.500000\n");

    auto acc2 = std::make_shared<Accelerometer>(_sc_sensor_luid{115, 0, 0, 0, 2});
    auto lid2 = std::make_shared<Accelerometer>(_sc_sensor_luid{115, 0, 0, 1, 2});
    const SensorDump back = CsvParser().readFromFile(dir + "/sub/dataDump.csv", {acc2, lid2}, true);
    ASSERT_EQ(back.at(acc2).size(), 3u);
    EXPECT_EQ(back.at(acc2)[1].values, (std::vector<double>{0.011, -0.021, 0.999}));
    EXPECT_EQ(acc2->getLuidString(), "7300010001000002");
    EXPECT_EQ(lid2->getHingeConfig(), "LEFT");
    EXPECT_TRUE(CsvParser::dumpExists(dir + "/sub", "dataDump", "Accelerometer_2"));
    EXPECT_FALSE(CsvParser::dumpExists(dir + "/sub", "dataDump", "Gyroscope"));
    EXPECT_TRUE(CsvParser::dumpExists(dir + "/sub/dataDump.csv", "", "Accelerometer"));
}

TEST_F(Dumps, NamingRule) {
    EXPECT_EQ(CsvParser::getSuffixedPath("out/dataDump.csv", "Accelerometer"), "out/dataDumpAccelerometer.csv");
    EXPECT_EQ(CsvParser::getSuffixedPath("raw/dataDump", "Gyroscope"), "raw/dataDumpGyroscope.csv");
    EXPECT_EQ(CsvParser::getSuffixedPath("x.csv", "Accelerometer"), "xAccelerometer.csv");
    EXPECT_EQ(CsvParser::getSuffixedPath("dir/run", "Accelerometer_2"), "dir/runAccelerometer_2.csv");
    EXPECT_EQ(CsvParser::getSuffixedPath("a.CSV", "M"), "a.CSVM.csv");
}

TEST_F(Dumps, ReadErrors) {
    auto acc = std::make_shared<Accelerometer>(_sc_sensor_luid{115, 1, 1, 0, 2});
    const std::string path = dir + "/dAccelerometer.csv";
    struct Case {
        std::string content;
        std::string error;
    };
    // A dump of many rows, one of them broken: its chunks are read on two
    // threads, its errors still named by the first broken line.
    auto many = [](const std::vector<std::pair<int, std::string>>& broken) {
        std::string text = kAccHeader;
        for (int i = 0; i < 60000; ++i) {
            std::string row = std::to_string(i) + ".000000,0.100000,-0.200000,1.000000\n";
            for (const auto& b : broken)
                if (b.first == i)
                    row = b.second;
            text += row;
        }
        return text;
    };
    const Case cases[] = {
        {many({{45000, "45000,1,b,3\n"}}), "CSV parsing error. Invalid value b at line 45002 of input file " + path},
        {many({{30000, "30000,1,c,3\n"}, {45000, "45000,1,b,3\n"}}),
         "CSV parsing error. Invalid value c at line 30002 of input file " + path},
        {many({{14000, "1,1,2,3\n"}}), "Invalid order of data at input file " + path},
        {many({{59999, "59999,1,2\n"}}), "Unexpected number of values at input file " + path},
        {many({{20000, "# note\r\n"}, {20001, "\n"}}), ""},
        {"", "Input file " + path + " is empty"},
        {"time[ms],a,b\n", "Unexpected number of columns at input file " + path},
        {"LUID=7300010001000002\n\nHINGE=TOP\n# c\n" + std::string(kAccHeader), "Unexpected number of columns at input file " + path},
        {"TIME[MS],Accelerometer_X[g0],Accelerometer_Y[g0],Accelerometer_Z[g0]\n1,1,2,3\n", ""},
        {"t,Accelerometer_X[g0],Accelerometer_Y[g0],Accelerometer_Z[g0]\n", "Invalid header timestamp"},
        {"time[ms],Accelerometer_X[g0],Accelerometer_Q[g0],Accelerometer_Z[g0]\n", "Invalid header"},
        {"time[ms],Accelerometer_X[g0],Accelerometer_Y,Accelerometer_Z[g0]\n", "Invalid header format"},
        {"time[ms],Accelerometer_X[],Accelerometer_Y[],Accelerometer_Z[]\n", "Invalid header format, unit is not specified"},
        {"time[ms],Accelerometer_X[g0],Accelerometer_Y[mg0],Accelerometer_Z[g0]\n",
         "Invalid header format. All columns should have the same unit"},
        {"time[ms],Accelerometer_X[gee],Accelerometer_Y[gee],Accelerometer_Z[gee]\n", "Math Error: Unsupported unit"},
        {std::string(kAccHeader) + "1,2\n", "Unexpected number of values at input file " + path},
        {std::string(kAccHeader) + "x,1,2,3\n", "CSV parsing error. Invalid timestamp value x at line 2 of input file " + path},
        {std::string(kAccHeader) + "-1,1,2,3\n",
         "CSV parsing error. Negative timestamp is invalid. -1 at line 2 of input file " + path},
        {std::string(kAccHeader) + "1,1,b,3\n", "CSV parsing error. Invalid value b at line 2 of input file " + path},
        // Values that are not finite numbers, named by file and line.
        {"LUID=7300010001000002\n" + std::string(kAccHeader) + "1,1,2,3\n# note\n2,1,nan,3\n",
         "CSV parsing error. Invalid value nan at line 5 of input file " + path},
        {std::string(kAccHeader) + "1,inf,2,3\n", "CSV parsing error. Invalid value inf at line 2 of input file " + path},
        {std::string(kAccHeader) + "1,1,2,-INF\n", "CSV parsing error. Invalid value -INF at line 2 of input file " + path},
        {std::string(kAccHeader) + "1,1,2,1e308\n", ""},
        {std::string(kAccHeader) + "5,1,2,3\n4,1,2,3\n", "Invalid order of data at input file " + path},
        {std::string(kAccHeader) + "5,1,2,3\n\n# note\n5,1,2,3\n9\n", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(readError(acc, c.content), c.error) << c.content;
    std::remove(path.c_str());
    EXPECT_EQ(readError(std::make_shared<Accelerometer>(_sc_sensor_luid{115, 1, 1, 1, 2}), "x"),
              "Unexpected number of columns at input file " + dir + "/dAccelerometer_2.csv");
    try {
        CsvParser().readFromFile(dir + "/missing", {acc}, false);
        ADD_FAILURE();
    } catch (const CalibrationException& e) {
        EXPECT_EQ(std::string(e.what()), "Sensor data file " + dir + "/missingAccelerometer.csv does not exist");
    }
}

TEST_F(Dumps, LuidLineMustNameTheFilesSensor) {
    struct Case {
        uint8_t instance;  // of the dump's sensor
        const char* luid;
        bool accepted;
    };
    const Case cases[] = {
        {0, "7300010001000002", true},
        {1, "7300010001000102", true},
        {0, "7600090002000002", false},  // a gyroscope
        {0, "7300010001000000", false},  // no static record (flags 0)
        {0, "7300010001000001", false},  // the dynamic companion
        {0, "7300010001000102", false},  // the lid's luid in the base's file
        {1, "7300010001000002", false},  // and the other way round
        {0, "0f02080004000002", false},  // a magnetometer
        {0, "ffffffffffffffff", false},
    };
    for (const Case& c : cases) {
        auto acc = std::make_shared<Accelerometer>(_sc_sensor_luid{115, 0, 0, c.instance, 2});
        const std::string name = acc->getName();
        const std::string path = dir + "/d" + name + ".csv";
        writeFile(path, std::string("LUID=") + c.luid + "\ntime[ms]," + name + "_X[g0]," + name + "_Y[g0]," + name +
                            "_Z[g0]\n0,0,0,1\n");
        try {
            CsvParser().readFromFile(dir + "/d", {acc}, true);
            EXPECT_TRUE(c.accepted) << c.luid;
            EXPECT_EQ(acc->getLuidString(), c.luid);
        } catch (const CalibrationException& e) {
            EXPECT_FALSE(c.accepted) << c.luid;
            EXPECT_EQ(std::string(e.what()), "Invalid LUID " + std::string(c.luid) + " at input file " + path +
                                                 ", it does not name the " + name + " sensor");
        }
    }
    // The light sensor's luid carries no calibration flags.
    auto als = std::make_shared<AmbientLight>(_sc_sensor_luid{65, 0, 0, 0, 2});
    writeFile(dir + "/dAmbientLightSensor.csv", "LUID=4100020001000000\ntime[ms],AmbientLightSensor_0[lux]\n0,5\n");
    EXPECT_NO_THROW(CsvParser().readFromFile(dir + "/d", {als}, true));
}

TEST_F(Dumps, RowsAndUnits) {
    auto mag = std::make_shared<Magnetometer>(_sc_sensor_luid{527, 8, 4, 0, 2});
    writeFile(dir + "/dMagnetometer.csv",
              "time[ms],Magnetometer_X[microTesla],Magnetometer_Y[microTesla],Magnetometer_Z[microTesla]\n"
              "012,0.5,0,0\n12.9,1,2,3\n0x20,1,1,1\n40\n");
    const auto dump = CsvParser().readFromFile(dir + "/d", {mag}, false);
    const auto& samples = dump.at(mag);
    ASSERT_EQ(samples.size(), 4u);
    EXPECT_EQ(samples[0].timestamp, 10);  // octal
    EXPECT_DOUBLE_EQ(samples[1].timestamp, 12.9);  // the fraction kept
    EXPECT_EQ(samples[1].values, (std::vector<double>{10, 20, 30}));  // microtesla to milligauss
    EXPECT_EQ(samples[2].timestamp, 32);
    EXPECT_TRUE(samples[3].values.empty());
    // A hinge line in another sensor's file has no effect; a LUID line is skipped unless asked for.
    writeFile(dir + "/dMagnetometer.csv",
              "LUID=0000000000000000\nHINGE=TOP\ntime[ms],Magnetometer_X[milliGauss],Magnetometer_Y[milliGauss],"
              "Magnetometer_Z[milliGauss]\n1,1,2,3\n");
    EXPECT_EQ(CsvParser().readFromFile(dir + "/d", {mag}, false).at(mag)[0].values, (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(mag->getLuidString(), "0f02080004000002");
}

TEST_F(Dumps, AlsConfiguration) {
    struct Case {
        std::string content;
        std::string error;
        std::vector<int> values;
        int delay;
    };
    const Case cases[] = {
        {"values=1000, 500 ,100\n", "", {1000, 500, 100}, 5},
        {"values=100,500\ndelay_time=3\n", "", {100, 500}, 3},
        {"values=100\ndelay_time = 50\n\nno equals here\na=b=c\n", "", {100}, 50},
        {"values=100,350\n", "Invalid delta between values in configuration file. Minimum delta should be 300", {}, 0},
        {"values=100,500,400\n", "Invalid values in configuration file. Values should be in ascending or descending order", {}, 0},
        {"values=0\n", "Invalid light value in configuration file 0. value should be bigger than 1", {}, 0},
        {"values=\n", "Invalid number of values in configuration file. Minimum number of values is 1", {}, 0},
        {"values=5,,900\n", "Conversion error. Value  is not a valid number", {}, 0},
        {"values=100\ndelay_time=2\n", "Invalid delay time. Minimum delay time is 3 seconds.", {}, 0},
        {"values=100\ndelay_time=51\n", "Invalid delay time. Maximum delay time is 50 seconds.", {}, 0},
        {"values=100\ndelay_time=abc\n", "Conversion error. Value abc is not a valid number", {}, 0},
        {"level=5\n",
         "Invalid value in the configuration file. The format should be \"values=list of comma separated values\" or "
         "\"delay_time=value\"",
         {}, 0},
        {"delay_time=10\n", "Invalid configuration file " + dir + "/als.txt", {}, 0},
    };
    for (const Case& c : cases) {
        writeFile(dir + "/als.txt", c.content);
        AlsConfiguration configuration;
        std::string error;
        try {
            CsvParser().readConfigFile(dir + "/als.txt", configuration);
        } catch (const CalibrationException& e) {
            error = e.what();
        }
        EXPECT_EQ(error, c.error) << c.content;
        if (c.error.empty()) {
            EXPECT_EQ(configuration.values, c.values);
            EXPECT_EQ(configuration.delayTime, c.delay);
        }
    }
    AlsConfiguration configuration;
    EXPECT_THROW(CsvParser().readConfigFile(dir + "/none.txt", configuration), CalibrationException);
    CsvParser().readConfigFile(EXAMPLES_DIR "/als-levels.txt", configuration);
    EXPECT_EQ(configuration.values, (std::vector<int>{100, 500, 1000}));
}

TEST(FileUtil, Helpers) {
    std::string s = " \t a b \n";
    EXPECT_EQ(trim(s), "a b");
    EXPECT_TRUE(isOnlyDouble("1e3"));
    EXPECT_FALSE(isOnlyDouble("1e3x"));
    EXPECT_FALSE(isOnlyDouble(""));
    EXPECT_EQ(replace("a-b-c", "-", "+"), "a+b-c");
    EXPECT_EQ(convertInt("-42"), -42);
    EXPECT_THROW(convertInt("3000000000"), CalibrationException);
    EXPECT_THROW(convertLong("12x"), CalibrationException);
    EXPECT_THROW(toDouble("abc"), CalibrationException);
    const std::string dir = makeTempDir();
    EXPECT_TRUE(makePath(dir + "/a/b/c"));
    EXPECT_TRUE(isDirExist(dir + "/a/b/c"));
    EXPECT_TRUE(makePath(dir + "/a/b/c"));
    writeFile(dir + "/file", "x");
    EXPECT_FALSE(makePath(dir + "/file/sub"));
    std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
