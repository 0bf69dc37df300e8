// The command line, from one table of commands and options (Options.cpp):
// parsing, the length check, the usage errors and the help all come from it.
// A new option is a row there, and the code that uses its value.
#pragma once

#include "cli/Arguments.h"

// Help, version and usage errors end here, with their exit code. Otherwise
// -1, and `arguments.run` is to run with them.
int ParseCommandLine(int argc, wchar_t** argv, Arguments& arguments);

// Commands and options are ASCII; Windows users may type them in any case.
bool SameText(const wchar_t* typed, const wchar_t* name);
