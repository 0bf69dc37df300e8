// The commands, once their arguments have been checked. Each returns the
// exit code. A command is a row of the table in Options.cpp, which names the
// function here that runs it.
#pragma once

#include <cstddef>

#include "text/WideString.h"

struct Arguments;
int ReadCommand(const Arguments& arguments);
int WriteSuffixCommand(const Arguments& arguments);
int ProvisionCommand(const Arguments& arguments);
int LabelCommand(const Arguments& arguments);
// provision's --wait: a whole number of seconds, 0 to 600.
bool WaitSeconds(const wchar_t* text, unsigned& seconds);
// label's --line: a line of the ledger, from 1.
bool LineNumber(const wchar_t* text, size_t& line);

struct ProvisionOptions {
    const wchar_t* ledger = nullptr;
    const wchar_t* pool = L"01-99";
    const wchar_t* suffix = nullptr;  // none: the pool's first free one
    bool json = false;
    unsigned waitSeconds = 30;  // for the ledger's lock
    bool create = false;        // --new: start the ledger; it must not be there
    bool again = false;         // --again: another adapter, though its record is one provisioned before
    const wchar_t* labelTemplate = nullptr;  // --label: a label is printed after a verified write
    const wchar_t* printer = nullptr;        // --printer: where to
};
int Provision(const ProvisionOptions& options);

