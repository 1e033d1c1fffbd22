#include "HubctlMain.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "common/args.h"
#include "common/codes.h"
#include "common/commands.h"
#include "common/display.h"
#include "version/Version.h"

namespace {

const char* const kVersion = TESSARY_VERSION;
const char* const kProgram = "hubctl";

const char* const kGeneralExamples[] = {
    "-h", "-BIST -Test 3 -Verbose -Page", "-BIST -Test 1 -LUID <LUID1,LUID2...>", "-BIST -ALL", "-INFO -Page",
    "-PDT -SetPDT <bin-file-path> -Verbose", "-PDT -GetPDT <bin-file-path>", "-I2C -Calibrate 1 -UpdatePDT", nullptr};
const char* const kInfoExamples[] = {"-INFO -Page", "-INFO -BOM", nullptr};
const char* const kBistExamples[] = {"-BIST",
                                     "-BIST -ALL",
                                     "-BIST -Test 3",
                                     "-BIST -Test 2 -LUID 0073000100010002",
                                     "-BIST -Test 2 -LUID 0073000100010002,020F000100080042",
                                     "-BIST -ALL -Verbose -Page",
                                     nullptr};
const char* const kPdtExamples[] = {"-PDT -SetPDT <bin-file-path>", "-PDT -SetPDT <bin-file-path> -Verbose",
                                    "-PDT -GetPDT <bin-file-path>", nullptr};
const char* const kI2cExamples[] = {"-I2C -Calibrate 1", "-I2C -Calibrate 1 -UpdatePDT", nullptr};

void printExamples(const char* const* examples) {
    for (; *examples; ++examples)
        PrintMsg(MSG_NORMAL, "%s %s\n", kProgram, *examples);
}

void printUsage(const char* command, const char* defaultAction) {
    char text[CMD_TEXT_SIZE];
    CreateUsage(kProgram, command, defaultAction, text, sizeof text);
    PrintMsg(MSG_NORMAL, "%s", text);
}

void printGeneralUsage() {
    BuildGeneralTable();
    printUsage(nullptr, nullptr);
}

struct CommandInfo {
    int id;
    const char* name;
    const char* defaultAction;
    const char* const* examples;
    int (*run)(const CmdRecord*);
};

const CommandInfo kCommands[] = {
    {ID_INFO, "INFO", "Returns information about the TSY and TSY configuration", kInfoExamples, INFO_Run},
    {ID_BIST, "BIST", "Executes BIST level 3", kBistExamples, BIST_Run},
    {ID_PDT, "PDT", nullptr, kPdtExamples, PDT_Run},
    {ID_I2C, "I2C", nullptr, kI2cExamples, I2C_Run},
};

int invalidArguments() {
    char text[512];
    PrintMsg(MSG_ERROR, "%s\n", GetCodeText(HUB_INVALID_ARGUMENTS, text, sizeof text));
    return HUB_INVALID_ARGUMENTS;
}

int runCommand(const CommandInfo& command, int count, const char* const* words) {
    static CmdRecord record;
    BuildCommandTable(command.id);
    if (CmdLine_Parse(count, words, &record) != HUB_SUCCESS) {
        invalidArguments();
        printUsage(command.name, command.defaultAction);
        return HUB_INVALID_ARGUMENTS;
    }
    const bool needsArgument = command.id == ID_PDT || command.id == ID_I2C;
    if (record.selectedId == ID_HELP || (needsArgument && record.selectedId == ID_NONE)) {
        printUsage(command.name, command.defaultAction);
        return HUB_SUCCESS;
    }
    if (record.selectedId == ID_EXP) {
        printExamples(command.examples);
        return HUB_SUCCESS;
    }
    const int code = command.run(&record);
    if (code != HUB_SUCCESS)
        PrintMsg(MSG_ERROR, "\nOperation failed\n");
    else if (command.id != ID_INFO)
        PrintMsg(MSG_SUCCESS, "\nOperation succeeded\n");
    return code;
}

int run(int count, const char* const* words) {
    static CmdRecord first, all;
    BuildGeneralTable();
    int code = CmdLine_Parse(count > 0 ? 1 : 0, words, &first);
    if (code == HUB_SUCCESS && first.selectedId <= ID_VER) {
        code = CmdLine_Parse(count, words, &all);
        if (code == HUB_SUCCESS && all.selectedId != first.selectedId)
            code = HUB_INVALID_ARGUMENTS;
    }
    if (code != HUB_SUCCESS) {
        SetPaging(false);
        invalidArguments();
        printGeneralUsage();
        return HUB_INVALID_ARGUMENTS;
    }
    switch (first.selectedId) {
    case ID_VER:
        PrintMsg(MSG_NORMAL, "%s\n", kVersion);
        return HUB_SUCCESS;
    case ID_EXP:
        printExamples(kGeneralExamples);
        return HUB_SUCCESS;
    case ID_ERRLIST: {
        static char list[CMD_TEXT_SIZE];
        GetCodeList(list, sizeof list);
        PrintMsg(MSG_NORMAL, "%s", list);
        return HUB_SUCCESS;
    }
    case ID_NONE:
    case ID_HELP:
        printGeneralUsage();
        return HUB_SUCCESS;
    default:
        break;
    }
    for (const CommandInfo& command : kCommands)
        if (command.id == first.selectedId)
            return runCommand(command, count - 1, words + 1);
    printGeneralUsage();
    return HUB_SUCCESS;
}

}  // namespace

int hubctlMain(int argc, char** argv) {
    std::vector<const char*> words;
    for (int i = 1; i < argc; ++i)
        words.push_back(argv[i]);
    if (!words.empty() && strcmp(words.back(), "d1") == 0) {
        SetDebug(true);
        words.pop_back();
    }
    PrintMsg(MSG_NORMAL, "Corvex(R) Tessary Utility Tool\nVersion: %s\n\n", kVersion);
    const int code = run(static_cast<int>(words.size()), words.data());
    ClearArgs();
    return code == HUB_SUCCESS ? 0 : 1;
}
