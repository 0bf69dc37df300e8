// varnock-cli's exit codes: what a script may rely on. Each says no more than
// is known: only 0, 6, 7, 13 and 14 can come after bytes were sent to the
// adapter.
#pragma once

enum ExitCode : int {
    kSuccess = 0,
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
};

// Ends the program with kAbnormalEnd after saying so; for SIGABRT, from our
// runtime and from the device library's.
extern "C" void AbnormalEnd(int signal);
