// One provisioning run's state, and its steps, which Provision.cpp runs in
// order and argues for. Shared by the files of provisioning only.
#pragma once

#include <cstddef>

#include "cli/Adapter.h"
#include "cli/Commands.h"
#include "cli/LedgerFile.h"
#include "label/Template.h"
#include "ledger/Ledger.h"

// What the run came to, for the JSON object and the verdict.
struct Outcome {
    const wchar_t* result = nullptr;  // none: no adapter was read, so no JSON
    CWideString oldSerial, newSerial;
    bool haveNewSerial = false;
    CWideString readBackSerial;  // when the adapter reads back another serial than the one written
    bool haveReadBackSerial = false;
    size_t ledgerLine = 0;   // 0: none
    size_t settlesLine = 0;  // a reserved row this run found written after all
    bool labelAsked = false;  // --label
    size_t labelledLine = 0;  // the labelled row, once the label was printed
};

// One run's state, from step to step.
struct Run {
    Run(const ProvisionOptions& o, Outcome& out, Failure& f) : options(o), outcome(out), failure(f) {}

    const ProvisionOptions& options;
    Outcome& outcome;
    Failure& failure;
    DeviceLibrary library;
    LedgerFile file;
    Adapter adapter;
    CString suffix;        // what is written to bytes 17 and 18
    CString recordAsRead;  // hex
    CString note;          // the exit_code column of this run's rows: why it took another serial
    size_t reservedLine = 0;
    CString reservedRow;  // its bytes
    LedgerRow reserved;   // its fields, for a ledger saved over with another width
    unsigned long long reservedEnd = 0;  // the file's size right after them
    size_t lineAfterReserved = 0;
    Ledger ledger;  // as read in the first step
    size_t lostLine = 0;              // the reserved row someone saved over, if anyone did
    LedgerEntryRow givenMeanwhile;    // a provisioned row that gave this run's serial out meanwhile
    LedgerEntryRow readBackGiven;     // a provisioned row that gave out the serial read back
    LabelTemplate label;              // with --label
    LedgerRow provisionedRow;         // the row that gave the adapter its serial, once written
    OwnRows closed;                   // its closing row, where the labelled row reads on from
};

// How long a step after the write waits for the ledger's lock: at least
// 30 s, for giving up leaves a written adapter's row (or its label's) unwritten.
inline unsigned AfterWriteWait(const ProvisionOptions& options)
{
    return options.waitSeconds > 30 ? options.waitSeconds : 30;
}

// The whole run, its steps in the order Provision.cpp argues for; the exit
// code.
int Provisioned(Run& run);
// The serial for an adapter provisioned afresh (ProvisionReserve.cpp).
bool Choose(Run& run, const Ledger& ledger);
// After exit 0: the label printed and its row written (ProvisionVerdict.cpp).
int Labelled(Run& run);
// The first locked step (ProvisionReserve.cpp).
bool Reserve(Run& run, bool& done);
// The second locked step (ProvisionClose.cpp).
bool Close(Run& run, bool landed, const Failure& written, Failure& closing);
// The outcome as one line of JSON (ProvisionVerdict.cpp).
CWideString Json(const Outcome& outcome);

// The ledger's rows and what messages say of them (ProvisionRows.cpp).
bool Wrote(const LedgerEntryRow& row, const DeviceInfo& info, const CString& carried);
LedgerRow RowOf(const char* event, const Run& run, const CWideString& newSerial, const CString& last);
CWideString Cited(const wchar_t* event, const LedgerEntryRow& row);
CWideString SerialWith(const DeviceInfo& info, const char suffix[2]);
CWideString WhyTaken(const Ledger& ledger, const CWideString& serial);
