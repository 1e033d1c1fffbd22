#include "Entry.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>

#include "CalibrationManager.h"
#include "Console.h"
#include "Exceptions.h"
#include "SensortrimCmdLine.h"

std::shared_ptr<CalibrationManager> manager;

namespace {
const char* const kVersion = "3.1.0.3426";
}

void signalHandler(int signum) {
    std::cout << "Interrupt signal (" << signum << ") received.\n";
    if (manager)
        manager->abort();
    std::cout << "Abort request" << std::endl;
    // _exit skips the stdio flush at exit; push out everything printed so far.
    std::fflush(stdout);
    _exit(signum);
}

int sensortrimMain(int argc, char** argv) {
    std::signal(SIGINT, signalHandler);
    CmdLineArguments arguments = createSensortrimArguments();
    const long long startTime = millisecond();
    try {
        std::cout << "\nCorvex(R) Tessary Calibration Tool\n"
                  << "Version: " << kVersion << "\n";
        arguments.Parse(argc, argv, true);
        manager = std::make_shared<CalibrationManager>(arguments);
        manager->start();

        const long long seconds = (millisecond() - startTime) / 1000;
        std::cout << "Total run time: " << seconds << " seconds\n";
        std::cout << "Total run time (excluding time waiting for user inputs): "
                  << seconds - manager->getUserDelays() << " seconds\n";
        std::cout.flush();
        return 0;
    } catch (const CmdLineException& e) {
        const std::string path = argc > 0 && argv != nullptr && argv[0] != nullptr ? argv[0] : "";
        std::cout << e.what() << "\n"
                  << arguments.getFormat().CreateUsage(path, "") << "\n";
    } catch (const SmhiException& e) {
        std::cout << e.what() << "\n";
    } catch (const CalibrationException& e) {
        std::cout << "Error:\n" << e.what() << "\n";
    } catch (const std::exception& e) {
        std::cout << e.what() << "\n";
    }
    std::cout.flush();
    return -1;
}
