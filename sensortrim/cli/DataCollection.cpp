// Data collection: the steps of a live run, or the playback of a recorded dump.
#include <thread>

#include "CalibrationManager.h"
#include "Console.h"
#include "Exceptions.h"
#include "FileUtil.h"
#include "RunHelpers.h"

void CalibrationManager::collectData() {
    if (args.ArgExists("UseRawData")) {
        const std::string path = dumpPath();
        if (!validateExtension(path, "csv") && !folderExists(path))
            throw CalibrationException("Folder " + path + " does not exist");
        // The sensors recorded alongside are played back with the run's own.
        sensorManager.loadDataFromFile(sensorManager.getSensors(), path, dumpPrefix(),
                                       args.ArgExists("CalibrateOffline"));
        sensorManager.playData();
        if (processType == PROCESS_ALS_CALIBRATION)
            if (auto als = std::dynamic_pointer_cast<AlsProcess>(process))
                als->setInputs(calibratingSensors.front());
        return;
    }

    const bool noEnter = args.ArgExists("NoEnter");
    long long delay = 0;
    if (noEnter) {
        const std::string text = args.GetArgValue("NoEnter");
        delay = text.size() > 9 ? 999999999 : std::stoll(text);
    }
    consoleOut() << process->getStepInstructions(noEnter) << std::endl;
    try {
        for (int i = 0; i < process->getStaticStatesNumber(); ++i) {
            if (process->inputRequired() && !noEnter) {
                const long long before = millisecond();
                const std::string input = process->getInput();
                userDelays += (millisecond() - before) / 1000;
                if (!input.empty())
                    sensorManager.setStageInput(input);
            }
            if (delay > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(delay));
            if (i == 0) {
                // Ctrl-C stops the thread it lands on where it is: not in the
                // middle of starting the recorder (see abort).
                const InterruptsHeld held;
                std::lock_guard<std::mutex> lock(stateLock);
                sensorManager.startSampling();
                samplingState = 0;
            }
            sensorManager.waitForStepFinish(process->getNeedMidCalc());
            consoleOut() << '\a' << std::flush;
            setColor(green);
            consoleOut() << "STEP " << (i + 1) << " PASSED\n";
            resetColor();
            if (i < process->getStaticStatesNumber() - 1) {
                process->moveNextStep();
                consoleOut() << process->getStepInstructions(true) << std::endl;
            }
        }
    } catch (const CalibrationException&) {
        setColor(red);
        if (processType == PROCESS_MAGNETIC_TEST) {
            resetColor();
            writeLog();
        } else {
            consoleOut() << "DATA COLLECTION FAILED" << std::endl;
        }
        resetColor();
        try {
            stopSampling();
        } catch (const CalibrationException&) {
        }
        throw;
    }
    try {
        stopSampling();
    } catch (const CalibrationException&) {
        consoleOut() << "DATA COLLECTION FAILED since there are significant differences in last sample's timestamp "
                     "between sensors\n";
        throw;
    } catch (const std::exception& e) {
        consoleOut() << "DATA COLLECTION FAILED:" << e.what() << "\n";
        throw CalibrationException("failed during sampling sensors");
    }
    userDelays += sensorManager.getWastedTime();
}
