// The command line, from one table of commands and options (Options.cpp):
// parsing, the length check, the usage errors and the help all come from it.
// A new option is a row there, and the code that uses its value.
#pragma once

#include <cstddef>

// No argument this program takes is longer, but for a path (provision's
// ledger, say); a longer one is a mistake, and is not echoed back whole.
constexpr size_t kLongestArgument = 64;
constexpr size_t kLongestPath = 1024;

// A command's arguments, once checked: each given once, each value there.
struct Arguments {
    // The option's value (a flag's is its name as typed); none: `otherwise`.
    const wchar_t* Value(const wchar_t* option, const wchar_t* otherwise = nullptr) const;
    bool Has(const wchar_t* option) const { return Value(option) != nullptr; }

    const wchar_t* command = nullptr;                // its name, as the table has it
    int (*run)(const Arguments& arguments) = nullptr;  // and what runs it (Commands.h)
    const wchar_t* operand = nullptr;  // what it works on: write-suffix's suffix, provision's ledger
    const wchar_t* values[16] = {};    // by the option's row in the table
};

// Help, version and usage errors end here, with their exit code. Otherwise
// -1, and `arguments.run` is to run with them.
int ParseCommandLine(int argc, wchar_t** argv, Arguments& arguments);

// Commands and options are ASCII; Windows users may type them in any case.
bool SameText(const wchar_t* typed, const wchar_t* name);
