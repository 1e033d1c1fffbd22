// Errors of the PDT tool's firmware access; the text carries the "SMHI Error: " prefix.
#pragma once

#include <stdexcept>
#include <string>

class DoxiException : public std::runtime_error {
public:
    explicit DoxiException(const std::string& message) : std::runtime_error("SMHI Error: " + message) {}
};
