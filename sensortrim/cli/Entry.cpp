#include "Entry.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "CalibrationManager.h"
#include "Console.h"
#include "Exceptions.h"
#include "SDT.h"
#include "SensortrimCmdLine.h"
#include "cmdline/CmdLineArguments.h"
#include "version/Version.h"

std::shared_ptr<CalibrationManager> manager;

namespace {

const char* const kVersion = TESSARY_VERSION;

// The handler writes the signal number here; the interrupt thread reads it.
int interruptPipe[2] = {-1, -1};

// Guards the manager the interrupt thread aborts. The main thread holds it
// only with SIGINT blocked, so it is never stopped by the handler while
// holding it; the interrupt thread keeps it until the process ends.
std::mutex interruptLock;
CalibrationManager* interruptTarget = nullptr;

// Standard output written with plain write(2), for when the interrupted
// thread was stopped inside a stdio call and holds its lock.
class RawConsole : public Console {
public:
    void write(const std::string& text) override {
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
            if (n <= 0)
                return;
            done += static_cast<size_t>(n);
        }
    }
    void flush() override {}
    bool readLine(std::string& line) override {
        line.clear();
        return false;
    }
    void waitForKey() override {}
};

// Runs with SIGINT blocked, so only the main thread is ever stopped by the handler.
void blockInterrupt(int how, sigset_t* previous) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    pthread_sigmask(how, &set, previous);
}

void setInterruptTarget(CalibrationManager* target) {
    sigset_t previous;
    blockInterrupt(SIG_BLOCK, &previous);
    {
        std::lock_guard<std::mutex> lock(interruptLock);
        interruptTarget = target;
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void handleInterrupts() {
    unsigned char signum = 0;
    ssize_t n;
    do {
        n = ::read(interruptPipe[0], &signum, 1);
    } while (n < 0 && errno == EINTR);
    if (n != 1)
        return;
    std::lock_guard<std::mutex> lock(interruptLock);
    // Standard output is taken over; if the stopped thread holds its lock the
    // lines go out with plain writes instead.
    bool haveStdout = false;
    for (int attempt = 0; attempt < 200 && !haveStdout; ++attempt) {
        haveStdout = ftrylockfile(stdout) == 0;
        if (!haveStdout)
            usleep(1000);
    }
    static RawConsole raw;
    if (!haveStdout)
        setConsole(&raw);
    print("Interrupt signal (" + std::to_string(signum) + ") received.\n");
    if (interruptTarget != nullptr)
        interruptTarget->abort();
    printLine("Abort request");
    // _exit skips the stdio flush at exit; push out everything printed so far.
    if (haveStdout)
        std::fflush(stdout);
    _exit(signum);
}

void startInterruptHandling() {
    if (pipe2(interruptPipe, O_CLOEXEC) != 0) {
        // Without the pipe the default action ends the run on Ctrl-C.
        return;
    }
    // The thread starts with SIGINT blocked, so the handler never stops it.
    sigset_t previous;
    blockInterrupt(SIG_BLOCK, &previous);
    std::thread(handleInterrupts).detach();
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    struct sigaction action {};
    action.sa_handler = signalHandler;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

}  // namespace

void signalHandler(int signum) {
    const unsigned char byte = static_cast<unsigned char>(signum);
    if (::write(interruptPipe[1], &byte, 1) != 1)
        _exit(signum);
    // The interrupt thread ends the process; this thread stays where it was
    // stopped, so the run goes no further.
    for (;;)
        pause();
}

int sensortrimMain(int argc, char** argv) {
    startInterruptHandling();
    CmdLineArguments arguments = createSensortrimArguments();
    const long long startTime = millisecond();
    int status = -1;
    try {
        print(std::string("\nCorvex(R) Tessary Calibration Tool\n") + "Version: " + kVersion + "\n");
        arguments.Parse(argc, argv, true);
        manager = std::make_shared<CalibrationManager>(arguments, std::make_shared<SDT>(makeDeviceTransport()));
        setInterruptTarget(manager.get());
        manager->start();

        const long long seconds = (millisecond() - startTime) / 1000;
        consoleOut() << "Total run time: " << seconds << " seconds\n";
        consoleOut() << "Total run time (excluding time waiting for user inputs): "
                     << seconds - manager->getUserDelays() << " seconds\n";
        status = 0;
    } catch (const CmdLineException& e) {
        const std::string path = argc > 0 && argv != nullptr && argv[0] != nullptr ? argv[0] : "";
        print(std::string(e.what()) + "\n" + arguments.getFormat().CreateUsage(path, "") + "\n");
    } catch (const SmhiException& e) {
        print(std::string(e.what()) + "\n");
    } catch (const CalibrationException& e) {
        print(std::string("Error:\n") + e.what() + "\n");
    } catch (const std::exception& e) {
        print(std::string(e.what()) + "\n");
    }
    console().flush();
    // The run is over: a late Ctrl-C no longer aborts it, and the manager may
    // be released once an interrupt being handled has ended the process.
    blockInterrupt(SIG_BLOCK, nullptr);
    setInterruptTarget(nullptr);
    return status;
}
