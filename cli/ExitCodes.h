// varnock-cli's exit codes: what a script may rely on. Each says no more than
// is known: only 0, 1 (from outside), 6, 7, 13, 14 and 15 can come after
// bytes were sent to the adapter. Their words are here once: the help prints them, and a test holds
// the user's documents to them (tests/docs/ExitCodesTest.cpp).
#pragma once

enum ExitCode : int {
    kSuccess = 0,
    kEndedFromOutside = 1,  // never ours: what Windows gives a program ended as Task Manager's End task does
    kUsageError = 2,
    kOpenFailed = 3,
    kReadFailed = 4,
    kSuffixRefused = 5,
    kWriteFailed = 6,
    kReadBackFailed = 7,
    kAlreadyProvisioned = 8,
    kLedgerBusy = 9,
    kNoFreeSuffix = 10,
    kLedgerUnusable = 11,
    kLibraryMissing = 12,
    kOutputFailed = 13,
    kAbnormalEnd = 14,
    kLabelNotPrinted = 15,
    kLabelRefused = 16,
};

// What each code means. Every document's row for a code begins with its
// `words`; the help adds `more`. Plain ASCII, so that any program may read it.
struct ExitCodeWords {
    int code;
    const char* words;
    const char* more;
};

inline constexpr ExitCodeWords kExitCodeWords[] = {
    {kSuccess, "success", ""},
    {kEndedFromOutside, "ended from outside",
     " (as Task Manager's End task does): not a code of this program's, but scripts see it (provision: run it "
     "again, which settles it)"},
    {kUsageError, "usage error",
     ": unknown command or option, missing, extra, empty or overlong argument, an option given twice, a malformed "
     "or backwards pool"},
    {kOpenFailed, "the adapter could not be opened", ""},
    {kReadFailed, "the adapter's record could not be read", ""},
    {kSuffixRefused, "suffix refused",
     ": not exactly two bytes in code page 936, a character with no code page 936 form, or a control character"},
    {kWriteFailed, "the write failed", ""},
    {kReadBackFailed, "the write was reported done, but the record read back differs",
     " from the one sent, or could not be read back"},
    {kAlreadyProvisioned, "provision: this adapter was provisioned before",
     ": its whole record is one the ledger wrote (a twin needs --again)"},
    {kLedgerBusy, "provision: the ledger is busy", " (its lock was not had in time)"},
    {kNoFreeSuffix, "provision: no free suffix in the pool", ", or the suffix asked for is taken"},
    {kLedgerUnusable, "provision: no ledger there",
     ", or it cannot be read or written, is not a ledger, or went back in time"},
    {kLibraryMissing, "Qelvo_CAN.dll could not be loaded", " from this program's folder"},
    {kOutputFailed, "the output, or a closing or labelled ledger row, could not be written",
     "; the message says what was done before"},
    {kAbnormalEnd, "ended abnormally",
     " (out of memory, an abort or a crash); the adapter may have been written (provision: run it again, which "
     "settles it)"},
    {kLabelNotPrinted, "the label could not be printed",
     "; provision: the adapter was provisioned all the same, and the message gives its serial and the label "
     "command that prints its label"},
    {kLabelRefused, "the label cannot be made from the template",
     ": it cannot be read, has an unknown or unclosed placeholder, or cannot hold a value; or (label) the ledger "
     "line is no provisioned row; nothing was sent to the adapter or the printer"},
};

// Ends the program with kAbnormalEnd after saying so; for SIGABRT, from our
// runtime and from the device library's.
extern "C" void AbnormalEnd(int signal);
