// The table of commands and options behind Options.h, shared by the parser
// (Options.cpp) and the help (Help.cpp).
#pragma once

#include <cstddef>

#include "cli/Options.h"
#include "text/WideString.h"

enum class Takes { Nothing, Text, Path };  // a path may be kLongestPath long

struct CommandRow {
    const wchar_t* name;
    // The operand is the first argument whatever it looks like (write-suffix:
    // -1 is a suffix); otherwise an argument that begins with - is an option.
    bool operandFirst;
    int (*run)(const Arguments& arguments);
    const wchar_t* help;
};

// A command's option, or its operand: a row whose name has no dash.
struct OptionRow {
    const wchar_t* command;  // its command's name
    const wchar_t* name;   // "--pool"; an operand's, as the help calls it: "LEDGER"
    Takes takes;           // an operand's own kind
    const wchar_t* value;  // as the help calls it: "FIRST-LAST"; an operand's noun: "ledger"
    const wchar_t* example;
    const wchar_t* help;
    // A value's form, checked as it is read, and what the error says it takes.
    bool (*valid)(const wchar_t* value) = nullptr;
    const wchar_t* wants = nullptr;
};

extern const CommandRow kCommands[];
extern const size_t kCommandCount;
extern const OptionRow kOptions[];
extern const size_t kOptionCount;

inline bool IsOperand(const OptionRow& row)
{
    return row.name[0] != L'-';
}

// The help for --help, -h and /?.
CWideString HelpText();
