// Calibration XML export and import, and the testing thresholds file.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "Accelerometer.h"
#include "AmbientLight.h"
#include "Exceptions.h"
#include "InertialSensor.h"
#include "RunProcess.h"
#include "CalibrationXml.h"
#include "Sensor.h"
#include "TestingThresholds.h"

namespace {

class CalibrationXmlFile : public ::testing::Test {
protected:
    void SetUp() override { dir = makeTempDir(); }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    // Exports the sensors' firmware records, imports the file back.
    std::vector<std::shared_ptr<Sensor>> roundTrip(const std::vector<std::shared_ptr<Sensor>>& sensors) {
        CalibrationXml::serialize(dir + "/cal.xml", sensors, true);
        return CalibrationXml::deSerialize(dir + "/cal.xml");
    }

    // The import error for a document holding one Sensor element.
    std::string importError(const std::string& sensorElement) {
        writeFile(dir + "/in.xml", "<?xml version=\"1.0\" ?>\n<TSY>\n<Calibration>\n" + sensorElement +
                                       "\n</Calibration>\n</TSY>\n");
        return importFileError(dir + "/in.xml");
    }

    std::string importFileError(const std::string& path) {
        try {
            CalibrationXml::deSerialize(path);
        } catch (const CalibrationException& e) {
            return e.what();
        }
        return "";
    }

    std::string dir;
};

std::shared_ptr<Sensor> withFirmwareRecord(const _sc_sensor_luid& luid, const std::vector<unsigned char>& record) {
    std::shared_ptr<Sensor> sensor = Sensor::allocateSensor(luid);
    sensor->setOriginalScaling(record);
    return sensor;
}

std::vector<unsigned char> staticRecord(bool vendor) {
    std::vector<unsigned char> r = Accelerometer(_sc_sensor_luid{115, 1, 1, 0, 2}).getStaticDefault();
    const unsigned char body[] = {0x0c, 0, 0, 0, 0xf9, 0xff, 0xff, 0xff, 3, 0, 0, 0, 0x10, 0x27, 0xfe, 0xff, 0, 0,
                                  0, 0, 0x10, 0x27, 0, 0, 0, 0, 0, 0, 0x10, 0x27, 0x10, 0x27, 0x04, 0x01, 0x03, 0};
    std::copy(body, body + sizeof body, r.begin() + 2);
    r[1] = 7;
    if (vendor) {
        r[38] = 4;
        r.insert(r.end(), {0xde, 0xad, 0xbe, 0xef});
    }
    return r;
}

TEST_F(CalibrationXmlFile, RecordsSurviveExportAndImport) {
    std::vector<unsigned char> als = {1, 3, 200, 0, 100, 3};
    for (int i = 0; i < 3; ++i)
        als.insert(als.end(), {static_cast<unsigned char>(10 * i), 1, 0, 2});
    std::vector<unsigned char> alsVendor = als;
    alsVendor.insert(alsVendor.end(), {2, 0, 0xAB, 0xCD});
    // The scale factor is unsigned: the whole of its range, as export writes it.
    std::vector<unsigned char> factor40000 = staticRecord(false), factorTop = staticRecord(false);
    factor40000[32] = 0x40, factor40000[33] = 0x9c;
    factorTop[32] = 0xff, factorTop[33] = 0xff;

    const std::vector<std::pair<_sc_sensor_luid, std::vector<unsigned char>>> records = {
        {{115, 1, 1, 0, 2}, staticRecord(false)},
        {{527, 8, 4, 0, 2}, staticRecord(true)},
        {{0x0203, 0, 0, 0, 0}, {0x81, 2}},
        {{0x0203, 0, 0, 1, 0}, {0x90, 0, 1, 2, 3, 0xff}},
        {{0x0264, 0, 0, 0, 0}, {1, 0, 5, 6}},
        {{115, 1, 1, 1, 2}, {0xc0, 1, 0xaa}},
        {{65, 2, 1, 0, 0}, als},
        {{65, 2, 1, 1, 0}, alsVendor},
        {{115, 1, 1, 2, 2}, factor40000},
        {{115, 1, 1, 3, 2}, factorTop},
    };
    std::vector<std::shared_ptr<Sensor>> sensors;
    for (const auto& r : records)
        sensors.push_back(withFirmwareRecord(r.first, r.second));
    const std::vector<std::shared_ptr<Sensor>> back = roundTrip(sensors);
    ASSERT_EQ(back.size(), records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(back[i]->getLuid(), records[i].first) << i;
        EXPECT_EQ(back[i]->getScaling(), records[i].second) << i;
    }
}

TEST_F(CalibrationXmlFile, DynamicWhiteNoiseIsMergedIntoTheFirmwareRecord) {
    // The whole unsigned range the record's white noise holds comes back.
    for (const uint32_t noise : {100u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
        std::vector<unsigned char> record = {1, 0, 0, 0, 0, 0, 9, 9, 9, 9, 9, 9, 9, 9};
        for (int k = 0; k < 4; ++k)
            record[2 + k] = static_cast<unsigned char>(noise >> (8 * k));
        std::vector<std::shared_ptr<Sensor>> back = roundTrip({withFirmwareRecord({577, 9, 2, 0, 1}, record)});
        ASSERT_EQ(back.size(), 1u);
        auto* dynamic = dynamic_cast<InertialSensor*>(back[0].get());
        ASSERT_NE(dynamic, nullptr);
        EXPECT_TRUE(dynamic->hasImportedNoise());
        EXPECT_EQ(dynamic->getImportedWhiteNoise(), noise);
        EXPECT_TRUE(back[0]->getScaling().empty());
        std::vector<unsigned char> firmware = record;
        firmware[2] = 7;
        back[0]->setOriginalScaling(firmware);
        EXPECT_EQ(back[0]->getScaling(), record) << noise;
    }
}

TEST_F(CalibrationXmlFile, SensorsWithoutRecordsAreLeftOut) {
    CalibrationXml::serialize(dir + "/sub/dir/empty.xml", {Sensor::allocateSensor({115, 1, 1, 0, 2})}, true);
    EXPECT_EQ(readFile(dir + "/sub/dir/empty.xml"),
              "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<TSY>\n    <Calibration />\n</TSY>\n");
    EXPECT_TRUE(CalibrationXml::deSerialize(dir + "/sub/dir/empty.xml").empty());
    writeFile(dir + "/file", "x");
    try {
        CalibrationXml::serialize(dir + "/file/cal.xml", {}, true);
        ADD_FAILURE();
    } catch (const CalibrationException& e) {
        EXPECT_EQ(std::string(e.what()), "Failed to create path " + dir + "/file/cal.xml");
    }
}

TEST_F(CalibrationXmlFile, ImportErrors) {
    const std::string acc = "<Sensor SensorTypeId=\"115\" SubTypeId=\"1\" VendorId=\"1\" InstanceId=\"0\" Flags=\"2\">";
    const std::string dyn = "<Sensor SensorTypeId=\"577\" SubTypeId=\"2\" VendorId=\"9\" InstanceId=\"0\" Flags=\"1\">";
    const std::string als = "<Sensor SensorTypeId=\"65\" SubTypeId=\"1\" VendorId=\"2\" InstanceId=\"0\" Flags=\"0\">";
    const std::string gen = "<Sensor SensorTypeId=\"515\" SubTypeId=\"0\" VendorId=\"0\" InstanceId=\"0\" Flags=\"0\">";
    const std::string cd = "\n<CalibrationData Version=\"0\" FormatId=\"0\">\n";
    const std::string end = "\n</CalibrationData>\n</Sensor>";
    const std::string axes9 = "<XX>1</XX><XY>0</XY><XZ>0</XZ><YX>0</YX><YY>1</YY><YZ>0</YZ><ZX>0</ZX><ZY>0</ZY><ZZ>1</ZZ>";
    const std::string mat9 = "<Mat11>1</Mat11><Mat12>0</Mat12><Mat13>0</Mat13><Mat21>0</Mat21><Mat22>1</Mat22>"
                             "<Mat23>0</Mat23><Mat31>0</Mat31><Mat32>0</Mat32><Mat33>1</Mat33>";
    const std::string alsCd = "\n<CalibrationData Version=\"0\" FormatId=\"1\">\n";
    const std::string steps3 = "<Steps NumOfSteps=\"3\"><Step><Lux value=\"1\"/><Scale value=\"2\"/></Step>"
                               "<Step><Lux value=\"3\"/><Scale value=\"4\"/></Step>"
                               "<Step><Lux value=\"5\"/><Scale value=\"6\"/></Step></Steps>";
    struct Case {
        std::string element;
        std::string error;
    };
    // Rows: the Sensor element is on line 4, CalibrationData on 5, its children on 6.
    const Case cases[] = {
        {"<Sensors/>", "Failed to load XML input file. Invalid Sensor node name. Line: 4"},
        {"<Sensor SubTypeId=\"1\"/>", "XML parsing error. Missing field SensorTypeId. Line: 4"},
        {"<Sensor SensorTypeId=\"x\"/>", "XML parsing error. Missing field SensorTypeId. Line: 4"},
        {"<Sensor SensorTypeId=\"65536\"/>", "XML parsing error. SensorTypeId has invalid value. Line: 4"},
        {"<Sensor SensorTypeId=\"-1\"/>", "XML parsing error. SensorTypeId has invalid value. Line: 4"},
        {"<Sensor SensorTypeId=\"1\"/>", "XML parsing error. Missing field SubTypeId. Line: 4"},
        {"<Sensor SensorTypeId=\"1\" SubTypeId=\"1\" VendorId=\"1\" InstanceId=\"256\"/>",
         "XML parsing error. InstanceId has invalid value. Line: 4"},
        {"<Sensor SensorTypeId=\"1\" SubTypeId=\"1\" VendorId=\"1\" InstanceId=\"0\"/>",
         "XML parsing error. Missing field flags. Line: 4"},
        {"<Sensor SensorTypeId=\"1\" SubTypeId=\"1\" VendorId=\"1\" InstanceId=\"0\" Flags=\"99999999999\"/>",
         "XML parsing error. Flags has invalid value. Line: 4"},
        {acc + "\n<Data/>" + "</Sensor>", "Failed to load XML input file. Invalid CalibrationData node name. Line: 5"},
        {acc + "</Sensor>", "Failed to load XML input file. Invalid CalibrationData node name. Line: 4"},
        {acc + "\n<CalibrationData FormatId=\"0\">" + end, "XML parsing error. Missing field Version. Line: 5"},
        {acc + "\n<CalibrationData Version=\"300\" FormatId=\"0\">" + end,
         "XML parsing error. Version has invalid value. Line: 5"},
        {acc + "\n<CalibrationData Version=\"0\">" + end, "XML parsing error. Missing field FormatId. Line: 5"},
        {acc + "\n<CalibrationData Version=\"0\" FormatId=\"256\">" + end,
         "XML parsing error. FormatId has invalid value. Line: 5"},
        {als + cd + "<Offset/>" + end,
         "XML parsing error. Sensor 4100020001000000 was not recognized as Inertial sensor. Invalid calibration format"},
        {dyn + cd + "<WhiteNoise>1</WhiteNoise><Matrix/>" + end, "XML parsing error. Sensor 4102090002000001 has invalid format"},
        {acc + cd + "<WhiteNoise>1</WhiteNoise>" + end, "XML parsing error. Sensor 7300010001000002 has invalid format"},
        {dyn + cd + "<ScaleFactor>1</ScaleFactor>" + end, "XML parsing error. Sensor 4102090002000001 has invalid format"},
        {acc + cd + "<Steps/>" + end,
         "XML parsing error. Sensor 7300010001000002 was not recognized as Ambient Light sensor. Invalid calibration "
         "format. Line: 5"},
        {acc + cd + "<OEMCustomData DataLength=\"0\"/><Offset/>" + end,
         "XML parsing error. Multiple data for sensor 7300010001000002. Line: 5"},
        {als + cd + "<OEMCustomData DataLength=\"0\"/><Steps/>" + end,
         "XML parsing error. Multiple data for sensor 4100020001000000. Line: 5"},
        {acc + cd + "<Other/>" + end, "XML parsing error. No calibration data was specified for sensor 7300010001000002. Line: 5"},
        {gen + cd + "<OEMCustomData/>" + end, "XML parsing error. Missing field DataLength. Line: 6"},
        {gen + cd + "<OEMCustomData DataLength=\"3\">abcd</OEMCustomData>" + end,
         "XML parsing error. BinData size does not match declared length. Line: 6"},
        {gen + cd + "<OEMCustomData DataLength=\"2\">abzz</OEMCustomData>" + end,
         "XML parsing error. Invalid hexadecimal data in OEMCustomData. Line: 6"},
        {gen + "\n<CalibrationData Version=\"0\" FormatId=\"5\">\n<OEMCustomData DataLength=\"0\"/>" + end,
         "Unsupported format of  Sensor calibration data"},
        {acc + "\n<CalibrationData Version=\"0\" FormatId=\"1\">\n<Offset/>" + end,
         "XML parsing error. Unsupported format of calibration data. Line: 5"},
        {dyn + "\n<CalibrationData Version=\"0\" FormatId=\"1\">\n<WhiteNoise/>" + end,
         "XML parsing error. Missing white noise value"},
        {acc + cd + "<AxisMapping>" + axes9.substr(0, axes9.rfind("<ZZ>")) + "</AxisMapping>" + end,
         "Axes mapping number of values was invalid. Line: 6"},
        {acc + cd + "<AxisMapping><XX>2</XX></AxisMapping>" + end,
         "XML parsing error. Invalid value for axis element XX. Line: 6\nSensor: 7300010001000002"},
        {acc + cd + "<AxisMapping><XY>0</XY></AxisMapping>" + end, "XML parsing error. Unexpected element XY. Line: 6"},
        {acc + cd + "<AxisMapping><XX>one</XX></AxisMapping>" + end, "Conversion error. Value one is not a valid number"},
        {acc + cd + "<AxisMapping><XX>+1x</XX></AxisMapping>" + end, "Conversion error. Value +1x is not a valid number"},
        {acc + cd + "<Matrix>" + mat9.substr(0, mat9.find("<Mat33>")) + "<ScaleFactor>1</ScaleFactor><Mat33>1</Mat33></Matrix>" + end,
         "XML parsing error. Unexpected element ScaleFactor. Line: 6"},
        {acc + cd + "<Matrix><Mat11>40000</Mat11></Matrix>" + end,
         "XML parsing error. Invalid value for element Mat11. Line: 6"},
        // Just past the 16 bits an entry has (32767 and -32768 are taken, below).
        {acc + cd + "<Matrix><Mat11>32768</Mat11></Matrix>" + end,
         "XML parsing error. Invalid value for element Mat11. Line: 6"},
        {acc + cd + "<Matrix><Mat11>-32769</Mat11></Matrix>" + end,
         "XML parsing error. Invalid value for element Mat11. Line: 6"},
        // The scale factor is unsigned 16 bits: 65535 is its largest.
        {acc + cd + "<Matrix>" + mat9 + "<ScaleFactor>65536</ScaleFactor></Matrix>" + end,
         "XML parsing error. Invalid value for element ScaleFactor. Line: 6"},
        {acc + cd + "<Matrix>\n<Mat11>1</Mat11></Matrix>" + end,
         "XML parsing error. Invalid number of fields in scaling matrix. Line: 7"},
        {acc + cd + "<Matrix>" + mat9 + "<ScaleFactor>1</ScaleFactor><Mat11>1</Mat11></Matrix>" + end,
         "XML parsing error. Unexpected element Mat11. Line: 6"},
        {acc + cd + "<Offset><OffsetX>1</OffsetX><OffsetY>2</OffsetY></Offset>" + end,
         "XML parsing error. Invalid number of offset elements. Line: 6"},
        {acc + cd + "<Offset><OffsetX>1</OffsetX><OffsetZ>2</OffsetZ></Offset>" + end,
         "XML parsing error. Unexpected element OffsetZ. Line: 6"},
        {acc + cd + "<Offset><OffsetX>2147483648</OffsetX></Offset>" + end,
         "Conversion error. Value 2147483648 is not a valid number"},
        {acc + cd + "<Offset><OffsetX>0</OffsetX><OffsetY>0</OffsetY><OffsetZ>0</OffsetZ></Offset><VendorData>00</VendorData>" + end, "XML parsing error. Missing field DataLength. Line: 6"},
        {acc + cd + "<Offset><OffsetX>0</OffsetX><OffsetY>0</OffsetY><OffsetZ>0</OffsetZ></Offset><VendorData DataLength=\"2\">001</VendorData>" + end,
         "XML parsing error. VendorData size does not match declared length. Line: 6"},
        {acc + cd + "<Offset><OffsetX>0</OffsetX><OffsetY>0</OffsetY><OffsetZ>0</OffsetZ></Offset><VendorData DataLength=\"1\">0g</VendorData>" + end,
         "XML parsing error. Invalid hexadecimal data in VendorData. Line: 6"},
        {als + "\n<CalibrationData Version=\"0\" FormatId=\"2\">\n" + steps3 + end,
         "Format ID of ALS calibration structure is not supported. Only supported format is 1. Line: 5"},
        {als + alsCd + steps3 + end, "XML parsing error. Missing Ambient Light multiplier node. Line: 5"},
        {als + alsCd + "<Multiplier/>" + steps3 + end, "XML parsing error. Missing Ambient Light multiplier value. Line: 6"},
        {als + alsCd + "<Multiplier>65536</Multiplier>" + steps3 + end,
         "Invalid multiplier value in XML input file. Value should be between 0 and 65535. Line: 6"},
        {als + alsCd + "<Multiplier Divider=\"256\">5</Multiplier>" + steps3 + end,
         "Invalid divider value in XML input file. Value should be between 1 and 255. Line: 6"},
        {als + alsCd + "<Multiplier>5</Multiplier><Steps/>" + end, "XML parsing error. Missing field NumOfSteps. Line: 6"},
        {als + alsCd + "<Multiplier>5</Multiplier><Steps NumOfSteps=\"2\"/>" + end,
         "XML parsing error. Invalid value for NumOfSteps. Line: 6"},
        {als + alsCd + "<Multiplier>5</Multiplier><Steps NumOfSteps=\"16\"/>" + end,
         "XML parsing error. Invalid value for NumOfSteps. Line: 6"},
        {als + alsCd + "<Multiplier>5</Multiplier><Steps NumOfSteps=\"3\"><Stage/></Steps>" + end,
         "XML parsing error. Unexpected element Stage. Line: 6"},
        {als + alsCd + "<Multiplier>5</Multiplier><Steps NumOfSteps=\"3\"><Step><Lux/><Scale value=\"1\"/></Step></Steps>" + end,
         "XML parsing error. Missing value attribute in Lux node. Line: 6"},
        {als + alsCd + "<Multiplier>5</Multiplier><Steps NumOfSteps=\"3\"><Step><Lux value=\"1\"/><Scale value=\"70000\"/></Step></Steps>" + end,
         "Invalid scale value in XML input file. Value should be between 0 and 65535. Line: 6"},
        {als + alsCd + "<Multiplier>5</Multiplier>" + steps3 + "<VendorData DataLength=\"2\">00</VendorData>" + end,
         "XML parsing error. VendorData size does not match declared length. Line: 6"},
        {als + alsCd + "<Multiplier>5</Multiplier>" + steps3.substr(0, steps3.rfind("<Step>")) + "</Steps>" + end,
         "XML parsing error. Invalid value for NumOfSteps. Line: 6"},
        {gen + "\n<CalibrationData Version=\"0\" FormatId=\"0\">\n<Offset/>" + end,
         "XML parsing error. Sensor 0302000000000000 was not recognized as Inertial sensor. Invalid calibration format"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(importError(c.element), c.error) << c.element;
}

TEST_F(CalibrationXmlFile, ValidImportsOfSpecialForms) {
    const std::string acc = "<Sensor SensorTypeId=\"115\" SubTypeId=\"1\" VendorId=\"1\" InstanceId=\"0\" Flags=\"2\">";
    const std::string tail = "\n</CalibrationData>\n</Sensor>";
    const std::string mat9 = "<Mat11>2</Mat11><Mat12>0</Mat12><Mat13>0</Mat13><Mat21>0</Mat21><Mat22>2</Mat22>"
                             "<Mat23>0</Mat23><Mat31>0</Mat31><Mat32>0</Mat32><Mat33>2</Mat33>";
    // A matrix without ScaleFactor keeps the default factor; a tenth axis child is ignored.
    EXPECT_EQ(importError(acc + "<CalibrationData Version=\"0\" FormatId=\"0\"><Matrix>" + mat9 +
                          "</Matrix><AxisMapping><XX>1</XX><XY>0</XY><XZ>0</XZ><YX>0</YX><YY>1</YY><YZ>0</YZ>"
                          "<ZX>0</ZX><ZY>0</ZY><ZZ>1</ZZ><QQ>7</QQ></AxisMapping>" +
                          tail),
              "");
    const auto sensors = CalibrationXml::deSerialize(dir + "/in.xml");
    ASSERT_EQ(sensors.size(), 1u);
    EXPECT_EQ(sensors[0]->getScaling()[14], 2);
    EXPECT_EQ(sensors[0]->getScaling()[32], 1);

    // The entries at the ends of their 16 bits keep their values.
    const std::string edges = "<Mat11>32767</Mat11><Mat12>-32768</Mat12><Mat13>0</Mat13><Mat21>0</Mat21><Mat22>1</Mat22>"
                              "<Mat23>0</Mat23><Mat31>0</Mat31><Mat32>0</Mat32><Mat33>1</Mat33>";
    EXPECT_EQ(importError(acc + "<CalibrationData Version=\"0\" FormatId=\"0\"><Matrix>" + edges + "</Matrix>" + tail),
              "");
    const std::vector<unsigned char> record = CalibrationXml::deSerialize(dir + "/in.xml")[0]->getScaling();
    EXPECT_EQ(record[14] | (record[15] << 8), 32767);
    EXPECT_EQ(static_cast<int16_t>(record[16] | (record[17] << 8)), -32768);

    // An older file's signed numbers: a white noise of 2^31 or more, and a
    // scale factor of 2^15 or more, written as negative read as their bits
    // unsigned, alike.
    const std::string dyn = "<Sensor SensorTypeId=\"577\" SubTypeId=\"2\" VendorId=\"9\" InstanceId=\"0\" Flags=\"1\">";
    const std::pair<const char*, double> noises[] = {{"-5", 4294967291.0}, {"-2147483648", 2147483648.0}, {"5", 5.0}};
    for (const auto& [text, value] : noises) {
        EXPECT_EQ(importError(dyn + "<CalibrationData Version=\"0\" FormatId=\"1\"><WhiteNoise>" + text +
                              "</WhiteNoise>" + tail),
                  "")
            << text;
        const auto imported = CalibrationXml::deSerialize(dir + "/in.xml");
        ASSERT_EQ(imported.size(), 1u) << text;
        const auto* dynamic = dynamic_cast<const InertialSensor*>(imported[0].get());
        ASSERT_NE(dynamic, nullptr);
        EXPECT_EQ(dynamic->getImportedWhiteNoise(), value) << text;
    }
    EXPECT_EQ(importError(acc + "<CalibrationData Version=\"0\" FormatId=\"0\"><Matrix>" + mat9 +
                          "<ScaleFactor>-5</ScaleFactor></Matrix>" + tail),
              "");
    const std::vector<unsigned char> factor = CalibrationXml::deSerialize(dir + "/in.xml")[0]->getScaling();
    EXPECT_EQ(factor[staticrecord::kScaleFactor] | (factor[staticrecord::kScaleFactor + 1] << 8), 65531);

    // Upper-case OEM hex and an empty OEM record.
    const std::string gen = "<Sensor SensorTypeId=\"515\" SubTypeId=\"0\" VendorId=\"0\" InstanceId=\"0\" Flags=\"0\">";
    EXPECT_EQ(importError(gen + "<CalibrationData Version=\"1\" FormatId=\"130\"><OEMCustomData DataLength=\"2\">ABcd"
                                "</OEMCustomData>" + tail),
              "");
    EXPECT_EQ(CalibrationXml::deSerialize(dir + "/in.xml")[0]->getScaling(), (std::vector<unsigned char>{130, 1, 0xab, 0xcd}));
    EXPECT_EQ(importError(gen + "<CalibrationData Version=\"1\" FormatId=\"130\"><OEMCustomData DataLength=\"0\"/>" + tail),
              "");
    EXPECT_EQ(CalibrationXml::deSerialize(dir + "/in.xml")[0]->getScaling(), (std::vector<unsigned char>{130, 1}));

    // An imported ALS divider of 0 becomes 1 with a warning.
    const std::string als = "<Sensor SensorTypeId=\"65\" SubTypeId=\"1\" VendorId=\"2\" InstanceId=\"0\" Flags=\"0\">";
    testing::internal::CaptureStdout();
    EXPECT_EQ(importError(als + "<CalibrationData Version=\"0\" FormatId=\"1\">\n<Multiplier Divider=\"0\">300</Multiplier>"
                                "<Steps NumOfSteps=\"3\"><Step><Lux value=\"1\"/><Scale value=\"2\"/></Step>"
                                "<Step><Lux value=\"3\"/><Scale value=\"4\"/></Step><Step><Lux value=\"5\"/>"
                                "<Scale value=\"6\"/></Step></Steps>" + tail),
              "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Warning: Ambient Light divider value is set to 0. Changing it to 1. Line: 5\n");
}

TEST_F(CalibrationXmlFile, FileLevelErrors) {
    struct Case {
        std::string content;
        std::string error;
    };
    const Case cases[] = {
        {"", "Failed to load XML input file. Error document empty. Line:0"},
        {"not xml at all", "Failed to load XML input file. Error document empty. Line:0"},
        {"<TSY><Calibration>", "Failed to load XML input file. Error reading Element value. Line:0"},
        {"<Root/>", "Failed to load XML input file. TSY root node could not be located"},
        {"<TSY/>", "Failed to load XML input file. Calibration node could not be located"},
        {"<TSY><Calibration><Sensor a=\"1\" a=\"2\"/></Calibration></TSY>",
         "Failed to load XML input file. Error parsing Element. Line:1"},
    };
    for (const Case& c : cases) {
        writeFile(dir + "/f.xml", c.content);
        EXPECT_EQ(importFileError(dir + "/f.xml"), c.error) << c.content;
    }
    EXPECT_EQ(importFileError(dir + "/missing.xml"), "Failed to open XML input file");
    // A large file of valid sensors is read whole.
    std::string big = "<TSY><Calibration>";
    for (int i = 0; i < 2000; ++i)
        big += "<Sensor SensorTypeId=\"515\" SubTypeId=\"0\" VendorId=\"0\" InstanceId=\"0\" Flags=\"0\">"
               "<CalibrationData Version=\"0\" FormatId=\"128\"><OEMCustomData DataLength=\"1\">00</OEMCustomData>"
               "</CalibrationData></Sensor>";
    writeFile(dir + "/big.xml", big + "</Calibration></TSY>");
    EXPECT_EQ(CalibrationXml::deSerialize(dir + "/big.xml").size(), 2000u);
}

TEST_F(CalibrationXmlFile, ThresholdsFile) {
    TestingThresholds defaults;
    defaults.SetDefaultThresholds();
    EXPECT_EQ(defaults.accThreshold, 0.1);
    EXPECT_EQ(defaults.maxSpikesAllowed, 3);
    struct Case {
        std::string content;
        double acc;
        int spikes;
        double magScale;
    };
    const Case cases[] = {
        {"<Config><max_spikes_allowed>5</max_spikes_allowed></Config>", 0.1, 3, 0.15},
        {"<TestingConfig><max_spikes_allowed>5</max_spikes_allowed></TestingConfig>", 0.1, 5, 0.15},
        {"<TestingConfig><acc_Threshold_G0>abc</acc_Threshold_G0></TestingConfig>", 0.0, 3, 0.15},
        {"<TestingConfig><acc_Threshold_G0> 0.08xyz</acc_Threshold_G0><acc_Threshold_G0/></TestingConfig>", 0.08, 3, 0.15},
        {"<TestingConfig><mag_scale_Threshold>0.5</mag_scale_Threshold></TestingConfig>", 0.1, 3, 0.15},
        {"<TestingConfig><mag_scale_Thershold>0.5</mag_scale_Thershold></TestingConfig>", 0.1, 3, 0.5},
        {"<TestingConfig><max_spikes_allowed>99999999999999</max_spikes_allowed></TestingConfig>", 0.1, 2147483647, 0.15},
        {"<TestingConfig><max_spikes_allowed/><acc_Threshold_G0></acc_Threshold_G0></TestingConfig>", 0.1, 3, 0.15},
        {"<TestingConfig><unclosed></TestingConfig>", 0.1, 3, 0.15},
    };
    for (const Case& c : cases) {
        writeFile(dir + "/t.xml", c.content);
        TestingThresholds t;
        t.SetDefaultThresholds();
        t.LoadFrom(dir + "/t.xml");
        EXPECT_EQ(t.accThreshold, c.acc) << c.content;
        EXPECT_EQ(t.maxSpikesAllowed, c.spikes) << c.content;
        EXPECT_EQ(t.magScaleThreshold, c.magScale) << c.content;
    }
    // The shipped example holds the built-in values.
    TestingThresholds example;
    example.SetDefaultThresholds();
    example.rotationAgreementAcc = example.magScaleThreshold = example.handHeldMotionlessFactor = -1;
    example.LoadFrom(EXAMPLES_DIR "/TestingConfig.xml");
    EXPECT_EQ(example.rotationAgreementAcc, 5.0);
    EXPECT_EQ(example.magScaleThreshold, 0.15);
    EXPECT_EQ(example.handHeldMotionlessFactor, 3.0);

    TestingThresholds t;
    t.SetDefaultThresholds();
    t.LoadFrom(dir + "/missing.xml");
    EXPECT_EQ(t.gyrMaxSpike, 50.0);
    t.ConvertThresholds();
    EXPECT_NEAR(t.accThreshold, 0.980665, 1e-12);
    EXPECT_NEAR(t.magStaticThreshold, 7.0, 1e-12);
}

}  // namespace
