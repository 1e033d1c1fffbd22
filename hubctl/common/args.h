// Argument tables and command-line parsing of the hub utility.
#pragma once

#include <cstddef>

#include "codes.h"

enum ArgType { ARG_COMMAND = 0, ARG_ARGUMENT = 1, ARG_OPTION = 2 };

enum ArgId {
    ID_NONE = 0,
    ID_HELP = 1,
    ID_EXP = 3,
    ID_VERBOSE = 4,
    ID_PAGE = 5,
    ID_ERRLIST = 6,
    ID_VER = 7,
    ID_INFO = 8,
    ID_BIST = 9,
    ID_PDT = 10,
    ID_I2C = 11,
    ID_BOM = 12,
    ID_TEST = 13,
    ID_ALL = 14,
    ID_LUID = 15,
    ID_SETPDT = 16,
    ID_GETPDT = 17,
    ID_CALIBRATE = 18,
    ID_UPDATEPDT = 19,
};

#define ARG_NAME_SIZE 21

struct _FormatArgument {
    int id;
    char name[ARG_NAME_SIZE];
    int hasValue;
    char valueName[64];
    char description[256];
    int mandatory;
    int type;
    int standalone;
    _FormatArgument* next;
};

// The current table: a list to which each new descriptor is prepended.
extern _FormatArgument* m_formatArguments;

// Prepends a descriptor; 0 when refused (blank name or value name, negative
// id, a name or id already present).
int AddArg(const char* name, int id, int hasValue, int mandatory, int type, const char* description,
           const char* valueName, int standalone);
void ClearArgs();

// Rebuild the current table.
void BuildGeneralTable();
void BuildCommandTable(int commandId);

// True when a given name selects the descriptor's name.
int MatchArgName(const char* tableName, const char* given);

struct CmdOption {
    int id;
    char value[CMD_TEXT_SIZE];
};

struct CmdRecord {
    int selectedId;
    char selectedValue[CMD_TEXT_SIZE];
    CmdOption options[4];
    int optionCount;
};

// Parses the words against the current table. Returns 0 or 8216.
int Parse(int count, const char* const* words);
// Parses, then fills the command record and switches paging and verbose
// output on when asked for. Returns 0 or 8216.
int CmdLine_Parse(int count, const char* const* words, CmdRecord* record);
// The option's value in the record, or null when it was not given.
const char* GetOption(const CmdRecord* record, int id);

// The usage text of the current table.
void CreateUsage(const char* program, const char* command, const char* defaultAction, char* text, size_t size);
