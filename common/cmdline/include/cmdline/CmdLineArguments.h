// Table-driven command-line engine shared by the calibration tool and the PDT tool.
//
// A program fills a Format (its option table and the way its usage text is laid
// out), adds its own cross-option rules, and hands argc/argv to Parse. Afterwards
// the parsed arguments are queried by canonical option name.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

// Any command-line error; what() is the message shown to the operator.
class CmdLineException : public std::runtime_error {
public:
    explicit CmdLineException(const std::string& message) : std::runtime_error(message) {}
};

// One row of an option table.
struct FormatArgument {
    std::string name;         // canonical name, without the leading dash
    bool hasValue = false;    // takes the next word as its value
    std::string placeholder;  // name of the value in the usage text; may be empty
    bool mandatory = false;
    bool isCommand = false;
    std::string description;
    uint8_t groupMask = 0;    // a command and each argument given with it must share a bit
};

// True when both strings have the same length and match letter by letter once
// lower-cased (the name is historical: the comparison ignores case).
bool CompareStringCaseSensitive(const std::string& a, const std::string& b);

// The text with every letter lower-cased.
std::string toLowerCase(const std::string& text);

// True for a non-empty string of decimal digits only (no sign, no blanks).
bool is_number(const std::string& text);

// True when the text after the last '.' of path (the whole path when it has no
// '.') equals ext ignoring case.
bool validateExtension(const std::string& path, const std::string& ext);

// The program path with everything up to and including its last backslash removed.
std::string programName(const std::string& programPath);

class CmdLineArguments {
public:
    struct CmdLineArgument : FormatArgument {
        std::string value;  // empty for an option without a value
    };

    class Format {
    public:
        // Lays out a program's usage text from its program name (see programName).
        using UsageBuilder = std::function<std::string(const Format&, const std::string& program)>;

        // Appends one row. The trailing flag is kept for call compatibility only.
        void AddArg(const std::string& name, bool hasValue, bool mandatory, bool isCommand,
                    const std::string& description, uint8_t groupMask,
                    const std::string& placeholder, bool flag);
        // Copies out the first row whose name matches ignoring case.
        bool GetArg(const std::string& name, FormatArgument& out) const;
        std::vector<FormatArgument> GetMandatoryArgs() const;
        const std::vector<FormatArgument>& rows() const { return args; }

        void setUsageBuilder(UsageBuilder builder) { usageBuilder = std::move(builder); }
        // The usage text for the given program path; the second text is not used.
        std::string CreateUsage(const std::string& path, const std::string& unused) const;
        // The description block: one aligned line per row, in table order.
        std::string DescribeOptions() const;

    private:
        std::vector<FormatArgument> args;
        UsageBuilder usageBuilder;
    };

    // Program-specific cross-option checks, run after the generic scan; they throw
    // CmdLineException on the first rule broken.
    using ProgramRules = std::function<void(const CmdLineArguments&)>;

    CmdLineArguments() = default;
    CmdLineArguments(Format format, ProgramRules rules);

    // Scans and validates the command line; throws CmdLineException. The flag is
    // kept for call compatibility only.
    void Parse(int argc, const char* const* argv, bool flag);

    bool ArgExists(const std::string& name) const;
    // Value of the argument whose canonical name equals name exactly; empty when
    // absent or valueless.
    std::string GetArgValue(const std::string& name) const;
    // Throws when the argument is present and its value lacks the extension.
    void ValidateArgExtension(const std::string& name, const std::string& ext) const;

    const Format& getFormat() const { return format; }
    const std::vector<CmdLineArgument>& getArgs() const { return args; }
    const std::string& getProgramPath() const { return programPath; }

private:
    std::vector<CmdLineArgument> args;
    std::string programPath;
    Format format;
    ProgramRules rules;
};
