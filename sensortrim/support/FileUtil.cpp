#include "FileUtil.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "Exceptions.h"

namespace {
bool isSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}
}  // namespace

std::string& ltrim(std::string& text) {
    size_t i = 0;
    while (i < text.size() && isSpace(text[i]))
        ++i;
    text.erase(0, i);
    return text;
}

std::string& rtrim(std::string& text) {
    while (!text.empty() && isSpace(text.back()))
        text.pop_back();
    return text;
}

std::string& trim(std::string& text) {
    return ltrim(rtrim(text));
}

bool isOnlyDouble(const std::string& text) {
    if (text.empty())
        return false;
    char* end = nullptr;
    std::strtod(text.c_str(), &end);
    return end != text.c_str() && *end == '\0';
}

double toDouble(const std::string& text) {
    if (!isOnlyDouble(text))
        throw CalibrationException("Conversion error. Value " + text + " is not a valid double");
    return std::strtod(text.c_str(), nullptr);
}

bool fileExists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

std::string getSlash() {
    return "/";
}

std::string replace(const std::string& text, const std::string& what, const std::string& with) {
    const size_t at = what.empty() ? std::string::npos : text.find(what);
    if (at == std::string::npos)
        return text;
    return text.substr(0, at) + with + text.substr(at + what.size());
}

bool isDirExist(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool makePath(const std::string& path) {
    if (path.empty())
        return false;
    if (mkdir(path.c_str(), 0755) == 0)
        return true;
    if (errno == EEXIST)
        return isDirExist(path);
    if (errno != ENOENT)
        return false;
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0 || !makePath(path.substr(0, slash)))
        return false;
    return mkdir(path.c_str(), 0755) == 0 || (errno == EEXIST && isDirExist(path));
}

long convertLong(const std::string& text) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || end == text.c_str() || *end != '\0' || errno == ERANGE)
        throw CalibrationException("Conversion error. Value " + text + " is not a valid number");
    return value;
}

int convertInt(const std::string& text) {
    const long value = convertLong(text);
    if (value < INT_MIN || value > INT_MAX)
        throw CalibrationException("Conversion error. Value " + text + " is not a valid number");
    return static_cast<int>(value);
}
