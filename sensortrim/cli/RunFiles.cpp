// The files of a run and its records: its export folder, the calibration XML
// files, the run log, the result text, and the new records written to the
// firmware (or kept when the hub refuses them).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "CalibrationManager.h"
#include "CalibrationXml.h"
#include "Console.h"
#include "Exceptions.h"
#include "ExportFolder.h"
#include "FileUtil.h"
#include "xml/XmlFile.h"
#include "Sensor.h"
#include "version/Version.h"

namespace {

const char* const kVersion = TESSARY_VERSION;

}  // namespace

void CalibrationManager::saveToFile(const std::string& path, bool firmwareRecords) {
    CalibrationXml::serialize(path, sensors, firmwareRecords);
}

void CalibrationManager::flushCalibrationData() {
    for (const std::shared_ptr<Sensor>& sensor : sensors)
        sdt->setCalibrationData(sensor->getLuid(), sensor->getScaling());
    sdt->resetTsy();
}

std::string CalibrationManager::getResults() {
    std::string text;
    for (const std::shared_ptr<Sensor>& sensor : calibratingSensors)
        text += sensor->getResult();
    return text;
}

std::string CalibrationManager::runType() const {
    if (processType == PROCESS_INERTIAL_CALIBRATION)
        return flowType == FLOW_FULL ? "NewMotionFull" : flowType == FLOW_MINIMAL ? "MotionMin"
                                                     : flowType == FLOW_FOUR_STEPS ? "Motion4Steps" : "";
    if (processType == PROCESS_CALIBRATION_TEST)
        return flowType == FLOW_FULL ? "7stepsTest" : flowType == FLOW_MINIMAL ? "FaceUpTest"
                                                    : flowType == FLOW_FOUR_STEPS ? "4StepsTest" : "4StepsMagTest";
    if (processType == PROCESS_ALS_CALIBRATION)
        return "Als";
    if (processType == PROCESS_MAGNETIC_TEST)
        return "MagnetometerPreTest";
    return "";
}

int CalibrationManager::stepInProgress() const {
    if (!process)
        return 0;
    // The script counts the step it is detecting, the console the one it
    // announced; the later of the two, as the console numbers them.
    const int step = std::max(process->getCurrentStaticStep(), process->getCurrentSegment()) + 1;
    return std::min(std::max(step, 1), process->getStaticStatesNumber());
}

void CalibrationManager::recordEnd(const std::string& verdict, const std::string& reason) {
    if (!exportAll || exportFolder.empty())
        return;
    // A run that ends before it has prepared its folder prepares it now: its
    // record must not land among an earlier run's files.
    if (!exportPrepared) {
        try {
            initExportFolder();
        } catch (const std::exception&) {
            return;
        }
    }
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_r(&now, &local);
    char time[32];
    std::strftime(time, sizeof time, "%Y-%m-%dT%H:%M:%S", &local);
    TiXmlDocument doc;
    doc.LinkEndChild(new TiXmlDeclaration("1.0", "utf-8", ""));
    TiXmlElement* root = new TiXmlElement("RunEnd");
    root->SetAttribute("Verdict", verdict);
    root->SetAttribute("Time", time);
    root->SetAttribute("Version", kVersion);
    root->SetAttribute("Type", runType());
    // The step the run was in, as the console numbers them, when it ended in one.
    const int step = collecting ? stepInProgress() : endStep;
    if (step > 0)
        root->SetAttribute("Step", step);
    for (const std::shared_ptr<Sensor>& sensor : calibratingSensors) {
        TiXmlElement* element = new TiXmlElement("Sensor");
        element->SetAttribute("Name", sensor->getName());
        element->SetAttribute("Luid", sensor->getLuidString());
        root->LinkEndChild(element);
    }
    TiXmlElement* why = new TiXmlElement("Reason");
    why->LinkEndChild(new TiXmlText(reason));
    root->LinkEndChild(why);
    // The records the hub did not take, where they are kept.
    if (!unwrittenKept.empty()) {
        TiXmlElement* kept = new TiXmlElement("UnwrittenRecords");
        kept->LinkEndChild(new TiXmlText(unwrittenKept));
        root->LinkEndChild(kept);
    }
    doc.LinkEndChild(root);
    // A record that cannot be written does not hide the run's own failure.
    xmlfile::save(doc, exportFolder + "runEnd.xml");
}

void CalibrationManager::writeLog() {
    if (!exportAll)
        return;
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_r(&now, &local);
    const std::string date = std::to_string(local.tm_year + 1900) + "-" + std::to_string(local.tm_mon + 1) + "-" +
                             std::to_string(local.tm_mday) + ". " + std::to_string(local.tm_hour) + ":" +
                             std::to_string(local.tm_min);
    const std::string type = runType();

    TiXmlDocument doc;
    doc.LinkEndChild(new TiXmlDeclaration("1.0", "utf-8", ""));
    TiXmlElement* root = new TiXmlElement("Log");
    root->SetAttribute("Date", date);
    root->SetAttribute("Version", kVersion);
    root->SetAttribute("Type", type);
    doc.LinkEndChild(root);
    // The document gets copies: the sensors keep their own elements, so a
    // second log of the same run is complete as well.
    // The run's own sensors: those recorded alongside are not part of its verdict.
    for (const std::shared_ptr<Sensor>& sensor : calibratingSensors)
        if (TiXmlElement* element = sensor->getLogRoot())
            root->InsertEndChild(*element);
    const std::string name = processType == PROCESS_ALS_CALIBRATION        ? "AlsLogFile.xml"
                             : processType == PROCESS_INERTIAL_CALIBRATION ? "AGMLogFile.xml"
                                                                           : "LogFile.xml";
    const std::string path = exportFolder + name;
    if (!xmlfile::save(doc, path))
        throw CalibrationException("Failed to write to file " + path);
}

void CalibrationManager::initExportFolder() {
    // The dumps a run reads from its own export folder are its input: they stay.
    bool keepDumps = false;
    if (args.ArgExists("UseRawData")) {
        std::string dumps = dumpPath();
        if (validateExtension(dumps, "csv")) {
            const size_t slash = dumps.find_last_of('/');
            dumps = slash == std::string::npos ? "." : dumps.substr(0, slash + 1);
        }
        char* a = realpath(dumps.c_str(), nullptr);
        char* b = realpath(exportFolder.c_str(), nullptr);
        keepDumps = a && b && std::string(a) == std::string(b);
        free(a);
        free(b);
    }
    const std::string kept = prepareExportFolder(exportFolder, keepDumps);
    exportPrepared = true;
    if (!kept.empty())
        consoleOut() << "The files of an earlier run in " << args.GetArgValue("ExportAllFiles") << " were moved to "
                     << kept << std::endl;
}

void CalibrationManager::keepUnwrittenRecords() {
    // The records a calibration found and the hub did not take: the run has
    // failed, so they are no result, but a transient fault of the hub must
    // not cost the operator the handling again. They stay under a name no
    // script takes for a success, for -ImportXml once the hub answers.
    if (!exportAll || !args.ArgExists("Calibrate"))
        return;
    const std::string path = exportFolder + kUnwrittenRecords;
    try {
        saveToFile(path, false);
    } catch (const std::exception&) {
        return;
    }
    unwrittenKept = kUnwrittenRecords;
    consoleOut() << "The new calibration data was not written to the hub; it is kept in " << path
                 << ": write it with -ImportXml " << path << " once the hub answers" << std::endl;
}

void CalibrationManager::removeResult() {
    if (resultWritten)
        std::remove((exportFolder + "resultCalibration.xml").c_str());
    resultWritten = false;
}
