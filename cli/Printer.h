// Sending a filled label to a printer, as raw bytes the printer reads as
// they are. The spooler's and the network's DLLs are Windows' own, loaded
// from the system folder when a label is sent, so a run without one loads
// neither.
#pragma once

#include "cli/Report.h"

// How long a label may take to reach its target, all of it: past this the
// run says so and goes on, and the label may still print.
constexpr unsigned kLabelSeconds = 30;

// The kinds of target, from how TARGET is written.
enum class PrinterKind {
    Network,  // tcp:HOST[:PORT], 9100 by default
    Path,     // with a \ or a /: a file, or a shared printer such as \\host\labels
    Spooler,  // anything else: a printer's name, printed as a RAW document
};
PrinterKind KindOfPrinter(const wchar_t* target);
// False for a tcp: target whose host or port is not one, and a path to a
// device that keeps nothing (NUL, CON); any other is taken.
bool ValidTarget(const wchar_t* target);

// Sends `label` to `target`. `document` names the spooler's job. False with
// the failure's words (the caller gives the code).
bool SendLabel(const wchar_t* target, const CString& label, const CWideString& document, CWideString& why);
