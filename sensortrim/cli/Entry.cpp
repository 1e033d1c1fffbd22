#include "Entry.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "CalibrationManager.h"
#include "Console.h"
#include "Exceptions.h"
#include "Interrupt.h"
#include "SDT.h"
#include "SensortrimCmdLine.h"
#include "cmdline/CmdLineArguments.h"
#include "version/Version.h"

std::shared_ptr<CalibrationManager> manager;

namespace {

const char* const kVersion = TESSARY_VERSION;

// The signals that end a run as Ctrl-C does.
const int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The handler writes the signal number here; the interrupt thread reads it.
int interruptPipe[2] = {-1, -1};

// Guards the manager the run is ended on, and the ending itself: whoever
// ends the run (the main thread at a safe point, or the interrupt thread when
// the main thread does not reach one in time) holds it until the process ends.
std::mutex endingLock;
CalibrationManager* interruptTarget = nullptr;
std::atomic<bool> ending{false};

// The ending signals, blocked or unblocked for the calling thread.
void maskEndingSignals(int how, sigset_t* previous) {
    sigset_t set;
    sigemptyset(&set);
    for (int signum : kEndingSignals)
        sigaddset(&set, signum);
    pthread_sigmask(how, &set, previous);
}

void setInterruptTarget(CalibrationManager* target) {
    std::lock_guard<std::mutex> lock(endingLock);
    interruptTarget = target;
}

// The line that says why the run ends, and the exit status: 2 after Ctrl-C,
// 128 + the signal's number after the others.
std::string signalLine(int signum) {
    if (signum == SIGTERM)
        return "Terminate signal (15) received.\n";
    if (signum == SIGHUP)
        return "Hangup signal (1) received.\n";
    return "Interrupt signal (" + std::to_string(signum) + ") received.\n";
}

int exitStatusOf(int signum) {
    return signum == SIGINT ? 2 : 128 + signum;
}

// Ends the run for a signal: the recording stopped and its dump written
// once, a record of the interrupt, the two lines, the exit status.
[[noreturn]] void endRun(int signum) {
    ending = true;
    std::lock_guard<std::mutex> lock(endingLock);
    print(signalLine(signum));
    if (interruptTarget != nullptr) {
        interruptTarget->abort();
        interruptTarget->recordEnd("interrupted", signalLine(signum).substr(0, signalLine(signum).size() - 1));
    }
    printLine("Abort request");
    console().flush();
    std::fflush(stdout);
    _exit(exitStatusOf(signum));
}

void handleInterrupts() {
    unsigned char signum = 0;
    ssize_t n;
    do {
        n = ::read(interruptPipe[0], &signum, 1);
    } while (n < 0 && errno == EINTR);
    if (n != 1)
        return;
    // The main thread ends the run at its next safe point; one that does not
    // come within a second (a long computation) is not waited for.
    for (int waited = 0; waited < 1000 && !ending; waited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!ending)
        endRun(signum);
}

void startInterruptHandling() {
    // A console that has gone (its reader ended) must not end the run before
    // its dump and record are written: writes to it fail instead.
    std::signal(SIGPIPE, SIG_IGN);
    if (pipe2(interruptPipe, O_CLOEXEC) != 0)
        return;  // without the pipe the default actions end the run
    // The thread starts with the signals blocked: only the main thread takes them.
    sigset_t previous;
    maskEndingSignals(SIG_BLOCK, &previous);
    std::thread(handleInterrupts).detach();
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    struct sigaction action {};
    action.sa_handler = signalHandler;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signum : kEndingSignals)
        sigaction(signum, &action, nullptr);
}

}  // namespace

void signalHandler(int signum) {
    // Only what a handler may do: note the signal and wake the interrupt thread.
    const int saved = errno;
    interrupt::note(signum);
    const unsigned char byte = static_cast<unsigned char>(signum);
    if (::write(interruptPipe[1], &byte, 1) != 1) {
    }
    errno = saved;
}

int sensortrimMain(int argc, char** argv) {
    startInterruptHandling();
    CmdLineArguments arguments = createSensortrimArguments();
    const long long startTime = millisecond();
    int status = -1;
    try {
        // A signal before the run exists only prints its two lines.
        interrupt::check();
        print(std::string("\nCorvex(R) Tessary Calibration Tool\n") + "Version: " + kVersion + "\n");
        arguments.Parse(argc, argv, true);
        manager = std::make_shared<CalibrationManager>(arguments, std::make_shared<SDT>(makeDeviceTransport()));
        setInterruptTarget(manager.get());
        // One that came while the run was being set up ends it here, with its
        // record.
        interrupt::check();
        manager->start();

        const long long seconds = (millisecond() - startTime) / 1000;
        consoleOut() << "Total run time: " << seconds << " seconds\n";
        consoleOut() << "Total run time (excluding time waiting for user inputs): "
                     << seconds - manager->getUserDelays() << " seconds\n";
        status = 0;
        interrupt::check();
    } catch (const InterruptedRun& e) {
        endRun(e.signal());
    } catch (const CmdLineException& e) {
        const std::string path = argc > 0 && argv != nullptr && argv[0] != nullptr ? argv[0] : "";
        print(std::string(e.what()) + "\n" + arguments.getFormat().CreateUsage(path, "") + "\n");
    } catch (const SmhiException& e) {
        print(std::string(e.what()) + "\n");
        if (manager)
            manager->recordEnd("failed", e.what());
    } catch (const CalibrationException& e) {
        print(std::string("Error:\n") + e.what() + "\n");
        if (manager)
            manager->recordEnd("failed", e.what());
    } catch (const std::exception& e) {
        print(std::string(e.what()) + "\n");
        if (manager)
            manager->recordEnd("failed", e.what());
    }
    console().flush();
    // The run is over: a late signal no longer ends it (it stays pending, as
    // every thread now blocks it), and the manager may be released once an
    // ending under way has ended the process.
    maskEndingSignals(SIG_BLOCK, nullptr);
    if (const int signum = interrupt::requested())
        endRun(signum);
    setInterruptTarget(nullptr);
    return status;
}
