// The three kinds of target behind Printer.h, for Printer.cpp and
// PrinterNetwork.cpp only.
#pragma once

#include <windows.h>

#include "cli/Printer.h"

// One label on its way.
struct Job {
    PrinterKind kind;
    CWideString target;
    CString label;
    CWideString document;
    CWideString why;
    bool sent = false;
};

// A DLL of Windows' own, from the system folder and nowhere else.
HMODULE SystemLibrary(const wchar_t* name);
// The first `c` in `text`, or nullptr (what wcschr does, without importing it).
const wchar_t* Find(const wchar_t* text, wchar_t c);
// tcp:HOST[:PORT], with HOST in brackets when it is an IPv6 address.
bool NetworkTarget(const wchar_t* target, CWideString& host, CWideString& port);
// The label, raw, to a networked printer's port (PrinterNetwork.cpp).
bool ToNetwork(Job& job);
