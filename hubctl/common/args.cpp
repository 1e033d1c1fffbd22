#include "args.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "display.h"

_FormatArgument* m_formatArguments = nullptr;

namespace {

// The parsed command line: (descriptor, value) in input order, and the
// standalone entry.
struct ParsedArg {
    const _FormatArgument* descriptor;
    const char* value;
};
std::vector<ParsedArg> m_cmdLineArguments;
ParsedArg selectedOption = {nullptr, ""};

const _FormatArgument* findArg(const char* given) {
    for (const _FormatArgument* a = m_formatArguments; a; a = a->next)
        if (MatchArgName(a->name, given))
            return a;
    return nullptr;
}

// The table in the order its rows were added.
std::vector<const _FormatArgument*> rowsInOrder() {
    std::vector<const _FormatArgument*> rows;
    for (const _FormatArgument* a = m_formatArguments; a; a = a->next)
        rows.insert(rows.begin(), a);
    return rows;
}

void addCommonArgs() {
    AddArg("EXP", ID_EXP, 0, 0, ARG_ARGUMENT, "Valid command line example", "", 1);
    AddArg("h|?", ID_HELP, 0, 0, ARG_ARGUMENT, "Help information", "", 1);
    AddArg("Verbose", ID_VERBOSE, 0, 0, ARG_OPTION, "Will provide detailed information about tool operations", "", 0);
    AddArg("Page", ID_PAGE, 0, 0, ARG_OPTION, "Will pause after output exceeds the screen size", "", 0);
}

}  // namespace

int MatchArgName(const char* tableName, const char* given) {
    if (strcmp(tableName, "h|?") == 0) {
        const size_t length = strlen(given);
        if (strcmp(given, "h|?") == 0)
            return 1;
        return (given[0] == 'h' || given[0] == 'H' || given[0] == '?') && length != 3;
    }
    return strcasecmp(tableName, given) == 0;
}

int AddArg(const char* name, int id, int hasValue, int mandatory, int type, const char* description,
           const char* valueName, int standalone) {
    if (name == nullptr || strcmp(name, " ") == 0 || (hasValue && (valueName == nullptr || strcmp(valueName, " ") == 0)) ||
        id < 0)
        return 0;
    for (const _FormatArgument* a = m_formatArguments; a; a = a->next)
        if (MatchArgName(a->name, name) || a->id == id)
            return 0;
    _FormatArgument* arg = new _FormatArgument();
    arg->id = id;
    snprintf(arg->name, sizeof arg->name, "%s", name);
    arg->hasValue = hasValue;
    snprintf(arg->valueName, sizeof arg->valueName, "%s", hasValue && valueName ? valueName : "");
    snprintf(arg->description, sizeof arg->description, "%s", description ? description : "");
    arg->mandatory = mandatory;
    arg->type = type;
    arg->standalone = standalone;
    arg->next = m_formatArguments;
    m_formatArguments = arg;
    return 1;
}

void ClearArgs() {
    while (m_formatArguments) {
        _FormatArgument* next = m_formatArguments->next;
        delete m_formatArguments;
        m_formatArguments = next;
    }
    m_cmdLineArguments.clear();
    selectedOption = {nullptr, ""};
}

void BuildGeneralTable() {
    ClearArgs();
    AddArg("EXP", ID_EXP, 0, 0, ARG_COMMAND, "Valid command line example", "", 1);
    AddArg("h|?", ID_HELP, 0, 0, ARG_COMMAND, "Help information", "", 1);
    AddArg("ERRLIST", ID_ERRLIST, 0, 0, ARG_COMMAND, "Returns a list of available codes", "", 1);
    AddArg("VER", ID_VER, 0, 0, ARG_COMMAND, "Returns the version of the tool", "", 1);
    AddArg("Verbose", ID_VERBOSE, 0, 0, ARG_OPTION, "Will provide detailed information about tool operations", "", 0);
    AddArg("Page", ID_PAGE, 0, 0, ARG_OPTION, "Will pause after output exceeds the screen size", "", 0);
    AddArg("INFO", ID_INFO, 0, 0, ARG_COMMAND, "Returns information about TSY status and configurations", "", 1);
    AddArg("BIST", ID_BIST, 0, 0, ARG_COMMAND, "Executes TSY built in self tests", "", 1);
    AddArg("PDT", ID_PDT, 0, 0, ARG_COMMAND, "Allows to get or set the PDT", "", 1);
    AddArg("I2C", ID_I2C, 0, 0, ARG_COMMAND, "Executes I2C operations", "", 1);
}

void BuildCommandTable(int commandId) {
    ClearArgs();
    addCommonArgs();
    switch (commandId) {
    case ID_INFO:
        AddArg("BOM", ID_BOM, 0, 0, ARG_ARGUMENT,
               "Retrieves sensor LUID and sensor sub type for all physical sensors on the system", "", 1);
        break;
    case ID_PDT:
        AddArg("SetPDT", ID_SETPDT, 1, 0, ARG_ARGUMENT, "Writes PDT in <bin-file-path> to TSY FW", "<bin-file-name>", 1);
        AddArg("GetPDT", ID_GETPDT, 1, 0, ARG_ARGUMENT,
               "Retrieves current PDT from the system and writes it to <bin-file-path>", "<bin-file-name>", 1);
        break;
    case ID_BIST:
        AddArg("Test", ID_TEST, 1, 0, ARG_ARGUMENT, "Executes the specified BIST level", "<level>", 1);
        AddArg("All", ID_ALL, 0, 0, ARG_ARGUMENT, "Executes all available BIST levels", "", 1);
        AddArg("LUID", ID_LUID, 1, 0, ARG_ARGUMENT, "Specifies which sensors to run the test for", "<luid1,luid2,...>",
               0);
        break;
    case ID_I2C:
        AddArg("Calibrate", ID_CALIBRATE, 1, 0, ARG_ARGUMENT, "Calibrate specific I2C bus", "<busid>", 1);
        AddArg("UpdatePDT", ID_UPDATEPDT, 0, 0, ARG_OPTION, "Save I2C calibration results in PDT and reset TSY", "", 0);
        break;
    default:
        break;
    }
}

int Parse(int count, const char* const* words) {
    DEBUG_TRACE();
    m_cmdLineArguments.clear();
    selectedOption = {nullptr, ""};
    bool optionSeen = false;
    for (int i = 0; i < count; ++i) {
        const char* word = words[i];
        if (word == nullptr || word[0] != '-')
            return HUB_INVALID_ARGUMENTS;
        const _FormatArgument* arg = findArg(word + 1);
        if (arg == nullptr)
            return HUB_INVALID_ARGUMENTS;
        for (const ParsedArg& p : m_cmdLineArguments)
            if (p.descriptor->id == arg->id)
                return HUB_INVALID_ARGUMENTS;
        const char* value = "";
        if (arg->hasValue) {
            if (i + 1 >= count || words[i + 1] == nullptr || words[i + 1][0] == '-')
                return HUB_INVALID_ARGUMENTS;
            value = words[++i];
        }
        if (arg->standalone) {
            if (selectedOption.descriptor != nullptr)
                return HUB_INVALID_ARGUMENTS;
            selectedOption = {arg, value};
        }
        if (arg->type == ARG_OPTION)
            optionSeen = true;
        else if (optionSeen)
            return HUB_INVALID_ARGUMENTS;
        m_cmdLineArguments.push_back({arg, value});
    }
    for (const _FormatArgument* a = m_formatArguments; a; a = a->next) {
        if (!a->mandatory)
            continue;
        bool present = false;
        for (const ParsedArg& p : m_cmdLineArguments)
            present = present || p.descriptor == a;
        if (!present)
            return HUB_INVALID_ARGUMENTS;
    }
    return HUB_SUCCESS;
}

int CmdLine_Parse(int count, const char* const* words, CmdRecord* record) {
    const int code = Parse(count, words);
    if (code != HUB_SUCCESS)
        return code;
    record->selectedId = selectedOption.descriptor ? selectedOption.descriptor->id : ID_NONE;
    snprintf(record->selectedValue, sizeof record->selectedValue, "%s",
             record->selectedId != ID_NONE ? selectedOption.value : "");
    record->optionCount = 0;
    for (int id : {ID_PAGE, ID_VERBOSE, ID_UPDATEPDT, ID_LUID}) {
        for (const ParsedArg& p : m_cmdLineArguments) {
            if (p.descriptor->id != id)
                continue;
            CmdOption& option = record->options[record->optionCount++];
            option.id = id;
            snprintf(option.value, sizeof option.value, "%s", p.value);
        }
    }
    if (GetOption(record, ID_LUID) && (record->selectedId == ID_EXP || record->selectedId == ID_HELP))
        return HUB_INVALID_ARGUMENTS;
    if (GetOption(record, ID_PAGE))
        SetPaging(true);
    if (GetOption(record, ID_VERBOSE))
        SetVerbose(true);
    return HUB_SUCCESS;
}

const char* GetOption(const CmdRecord* record, int id) {
    for (int i = 0; i < record->optionCount; ++i)
        if (record->options[i].id == id)
            return record->options[i].value;
    return nullptr;
}

void CreateUsage(const char* program, const char* command, const char* defaultAction, char* text, size_t size) {
    const std::vector<const _FormatArgument*> rows = rowsInOrder();
    size_t widest = 0;
    for (const _FormatArgument* a : rows)
        widest = std::max(widest, strlen(a->name) + strlen(a->valueName));

    char groups[3][CMD_TEXT_SIZE] = {"", "", ""};
    for (const _FormatArgument* a : rows) {
        char* group = groups[a->type >= ARG_COMMAND && a->type <= ARG_OPTION ? a->type : ARG_ARGUMENT];
        AppendText(group, CMD_TEXT_SIZE, "\t -%s %s", a->name, a->valueName);
        for (size_t n = strlen(a->name) + strlen(a->valueName); n <= widest; ++n)
            AppendText(group, CMD_TEXT_SIZE, " ");
        AppendText(group, CMD_TEXT_SIZE, ":  %s\n", a->description);
    }

    text[0] = '\0';
    AppendText(text, size, "Usage: %s ", program);
    if (command)
        AppendText(text, size, "-%s", command);
    else
        AppendText(text, size, "[-command]");
    AppendText(text, size, " [-arguments] %s\n", groups[ARG_OPTION][0] ? "[-options]" : "");
    if (defaultAction)
        AppendText(text, size, "If no argument is specified:\n\t  %s\n", defaultAction);
    const char* headings[3] = {"Command includes:", "Arguments include:", "Options include:"};
    for (int g = 0; g < 3; ++g)
        if (groups[g][0])
            AppendText(text, size, "%s\n%s", headings[g], groups[g]);
}
