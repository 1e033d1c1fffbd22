// String and file helpers of the dump and configuration readers.
#pragma once

#include <string>

// Remove leading, trailing or both kinds of white space, in place.
std::string& ltrim(std::string& text);
std::string& rtrim(std::string& text);
std::string& trim(std::string& text);
// True when strtod consumes the whole (non-empty) text.
bool isOnlyDouble(const std::string& text);
// The text as a double; throws "Conversion error. Value <text> is not a valid double".
double toDouble(const std::string& text);
bool fileExists(const std::string& path);
std::string getSlash();
// Replaces the first occurrence only.
std::string replace(const std::string& text, const std::string& what, const std::string& with);
// Creates a directory and its missing parents (mode 0755); true when it exists afterwards.
bool makePath(const std::string& path);
bool isDirExist(const std::string& path);
// The same test under the name the command line's checks use.
inline bool folderExists(const std::string& path) {
    return isDirExist(path);
}
// Base-10 integers of the whole text; throw "Conversion error. Value <text> is not a valid number".
long convertLong(const std::string& text);
int convertInt(const std::string& text);
