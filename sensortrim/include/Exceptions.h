// Exception types of the calibration tool. Each derives directly from
// std::runtime_error; what() is the text shown to the operator. Command-line
// errors are the argument engine's own CmdLineException.
#pragma once

#include <stdexcept>
#include <string>

class SmhiException : public std::runtime_error {
public:
    explicit SmhiException(const std::string& message)
        : std::runtime_error("SMHI Error: " + message) {}
};

// An answer that does not hold what its command asked for (cut short,
// garbled): the firmware has it, the tool could not read it.
class SmhiAnswerException : public SmhiException {
public:
    using SmhiException::SmhiException;
};

class CalibrationException : public std::runtime_error {
public:
    explicit CalibrationException(const std::string& message) : std::runtime_error(message) {}
};

class MathException : public std::runtime_error {
public:
    explicit MathException(const std::string& message)
        : std::runtime_error("Math Error: " + message) {}
};

class SamplingException : public std::runtime_error {
public:
    explicit SamplingException(const std::string& message) : std::runtime_error(message) {}
};

// A signal asked the run to end (Ctrl-C, SIGTERM, SIGHUP): thrown at the
// next safe point and caught by the entry point, which ends the run.
class InterruptedRun : public std::runtime_error {
public:
    explicit InterruptedRun(int signalNumber)
        : std::runtime_error("interrupted by signal " + std::to_string(signalNumber)), signum(signalNumber) {}
    int signal() const { return signum; }

private:
    int signum;
};
