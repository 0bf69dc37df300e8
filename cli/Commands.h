// The commands, once their arguments have been checked. Each returns the
// exit code. A command is a row of the table in Options.cpp, which names the
// function here that runs it.
#pragma once

#include "text/WideString.h"

struct Arguments;
int ReadCommand(const Arguments& arguments);
int WriteSuffixCommand(const Arguments& arguments);
int ProvisionCommand(const Arguments& arguments);
// provision's --wait: a whole number of seconds, 0 to 600.
bool WaitSeconds(const wchar_t* text, unsigned& seconds);

struct ProvisionOptions {
    const wchar_t* ledger = nullptr;
    const wchar_t* pool = L"01-99";
    const wchar_t* suffix = nullptr;  // none: the pool's first free one
    bool json = false;
    unsigned waitSeconds = 30;  // for the ledger's lock
    bool create = false;        // --new: start the ledger; it must not be there
    bool again = false;         // --again: another adapter, though its record is one provisioned before
};
int Provision(const ProvisionOptions& options);

