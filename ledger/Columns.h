// The ledger's columns, in the file's order: the one place the format is
// written down. The header, the row writer and the reader all come from it.
#pragma once

#include <cstddef>

#include "ledger/Ledger.h"

// The fields the reader refers to by place; the table below is in this order.
enum LedgerField : size_t {
    kTimeField,
    kStationField,
    kEventField,
    kOldSerialField,
    kNewSerialField,
    kHardwareField,
    kFirmwareField,
    kProductField,
    kRecordField,
    kExitCodeField,
};

struct LedgerColumn {
    const char* name;        // in the header
    CString LedgerRow::*row;  // what the writer puts in it
    bool judged;             // the reader keeps it to judge the row by; the rest only go to a sink
};

constexpr LedgerColumn kLedgerColumns[] = {
    {"time", &LedgerRow::time, true},
    {"station", &LedgerRow::station, true},
    {"event", &LedgerRow::event, true},
    {"old_serial", &LedgerRow::oldSerial, true},
    {"new_serial", &LedgerRow::newSerial, true},
    {"hardware", &LedgerRow::hardware, false},
    {"firmware", &LedgerRow::firmware, false},
    {"product", &LedgerRow::product, false},
    {"record", &LedgerRow::record, true},
    {"exit_code", &LedgerRow::exitCode, true},
};

// The columns this build knows. A ledger's header starts with them; a later
// build's may add more after them.
constexpr size_t kKnownColumns = sizeof kLedgerColumns / sizeof kLedgerColumns[0];
static_assert(kKnownColumns == kExitCodeField + 1, "a column for every field, in order");

// The known columns' names joined by commas: the header without its line end.
CString KnownHeader();

constexpr char kLedgerBom[] = "\xEF\xBB\xBF";
