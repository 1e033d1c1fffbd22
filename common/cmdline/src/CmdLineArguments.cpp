#include "cmdline/CmdLineArguments.h"

#include <algorithm>
#include <cctype>

namespace {

char lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

}  // namespace

std::string toLowerCase(const std::string& text) {
    std::string result = text;
    for (char& c : result)
        c = lower(c);
    return result;
}

bool CompareStringCaseSensitive(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

bool is_number(const std::string& text) {
    if (text.empty())
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

bool validateExtension(const std::string& path, const std::string& ext) {
    const size_t dot = path.rfind('.');
    const std::string tail = dot == std::string::npos ? path : path.substr(dot + 1);
    return CompareStringCaseSensitive(tail, ext);
}

std::string programName(const std::string& programPath) {
    const size_t slash = programPath.rfind('\\');
    return slash == std::string::npos ? programPath : programPath.substr(slash + 1);
}

void CmdLineArguments::Format::AddArg(const std::string& name, bool hasValue, bool mandatory,
                                      bool isCommand, const std::string& description,
                                      uint8_t groupMask, const std::string& placeholder,
                                      bool /*flag*/) {
    FormatArgument row;
    row.name = name;
    row.hasValue = hasValue;
    row.placeholder = placeholder;
    row.mandatory = mandatory;
    row.isCommand = isCommand;
    row.description = description;
    row.groupMask = groupMask;
    args.push_back(row);
}

bool CmdLineArguments::Format::GetArg(const std::string& name, FormatArgument& out) const {
    for (const FormatArgument& row : args) {
        if (CompareStringCaseSensitive(row.name, name)) {
            out = row;
            return true;
        }
    }
    return false;
}

std::vector<FormatArgument> CmdLineArguments::Format::GetMandatoryArgs() const {
    std::vector<FormatArgument> result;
    for (const FormatArgument& row : args)
        if (row.mandatory)
            result.push_back(row);
    return result;
}

std::string CmdLineArguments::Format::CreateUsage(const std::string& path,
                                                  const std::string& /*unused*/) const {
    const std::string program = programName(path);
    if (usageBuilder)
        return usageBuilder(*this, program);
    return "\nUsage:\n\n" + program + "\n\nDescription:\n\n" + DescribeOptions();
}

std::string CmdLineArguments::Format::DescribeOptions() const {
    // Align the colons on the widest command row.
    size_t widest = 0;
    for (const FormatArgument& row : args)
        if (row.isCommand)
            widest = std::max(widest, row.name.size() + row.placeholder.size());

    std::string text;
    for (const FormatArgument& row : args) {
        text += " -" + row.name + " ";
        if (row.hasValue)
            text += row.placeholder;
        const size_t width = row.name.size() + row.placeholder.size();
        if (width <= widest)
            text.append(widest - width + 1, ' ');
        text += ":  " + row.description + "\n";
    }
    return text;
}

CmdLineArguments::CmdLineArguments(Format fmt, ProgramRules programRules)
    : format(std::move(fmt)), rules(std::move(programRules)) {}

void CmdLineArguments::Parse(int argc, const char* const* argv, bool /*flag*/) {
    args.clear();
    programPath.clear();
    if (argv == nullptr)
        throw CmdLineException("No Command line arguments");
    if (argc < 0)
        throw CmdLineException("Negative number of arguments");
    if (argc > 0 && argv[0] != nullptr)
        programPath = argv[0];

    for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
        const std::string word = argv[i];
        if (word.empty() || word[0] != '-')
            throw CmdLineException("Invalid argument: '" + word + "'");
        const std::string name = word.substr(1);
        if (ArgExists(name))
            throw CmdLineException("The '" + name + "' argument was already specified");

        CmdLineArgument parsed;
        if (!format.GetArg(name, parsed))
            throw CmdLineException("Invalid argument: '" + name + "'");
        if (parsed.hasValue) {
            if (i + 1 >= argc || argv[i + 1] == nullptr || argv[i + 1][0] == '-')
                throw CmdLineException("Could not find value for '" + name + "'");
            parsed.value = argv[++i];
        }
        args.push_back(parsed);
    }

    for (const FormatArgument& row : format.GetMandatoryArgs())
        if (!ArgExists(row.name))
            throw CmdLineException("The mandatory argument: '" + row.name + "' is not specified");

    bool anyCommand = false;
    for (size_t a = 0; a < args.size(); ++a) {
        if (!args[a].isCommand)
            continue;
        anyCommand = true;
        for (size_t b = 0; b < args.size(); ++b) {
            if (b != a && (args[a].groupMask & args[b].groupMask) == 0)
                throw CmdLineException("Invalid combination of commands. The " + args[a].name +
                                       " argument cannot be used together with " + args[b].name);
        }
    }
    if (!anyCommand)
        throw CmdLineException("No command was specified");

    if (rules)
        rules(*this);
}

bool CmdLineArguments::ArgExists(const std::string& name) const {
    for (const CmdLineArgument& arg : args)
        if (CompareStringCaseSensitive(arg.name, name))
            return true;
    return false;
}

std::string CmdLineArguments::GetArgValue(const std::string& name) const {
    for (const CmdLineArgument& arg : args)
        if (arg.name == name)
            return arg.value;
    return std::string();
}

void CmdLineArguments::ValidateArgExtension(const std::string& name, const std::string& ext) const {
    if (!ArgExists(name))
        return;
    const std::string value = GetArgValue(name);
    if (!validateExtension(value, ext))
        throw CmdLineException("Invalid extension for file " + value +
                               ". Valid extension is only ." + ext);
}
