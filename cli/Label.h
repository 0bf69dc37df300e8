// A label for a provisioned adapter: its template read and checked, filled
// with the adapter's values, sent to a printer, and recorded in the ledger
// as a labelled row. provision prints one after a verified write; the label
// command prints one again from a provisioned row.
#pragma once

#include <cstddef>

#include "cli/Adapter.h"
#include "cli/LedgerFile.h"
#include "label/Template.h"
#include "ledger/Ledger.h"

// The template at `path`, read and its placeholders checked: false with the
// failure (16) otherwise.
bool ReadLabelTemplate(const wchar_t* path, LabelTemplate& label, Failure& failure);

// What the placeholders are filled with. `texts` are the record's as read;
// `row` the provisioned row the label is for, at `line`.
LabelValues LabelValuesOf(ConsoleHost& texts, const LedgerRow& row, size_t line);

// The label filled; false with the failure (16) when a value cannot go where
// the template puts it.
bool FillLabel(LabelTemplate& label, const LabelValues& values, const wchar_t* path, CString& zpl, Failure& failure);

// Prints `zpl`, then appends a labelled row for `provisioned` to the ledger,
// under its lock, reading on from the rows the station appended last (`own`,
// when it knows them) or else the whole ledger. False with the failure: 15
// when nothing was printed, 13 when the row could not be written;
// `labelledLine` otherwise.
bool PrintAndRecord(const CString& zpl, const wchar_t* printer, LedgerFile& file, unsigned waitSeconds,
                    const LedgerRow& provisioned, const OwnRows* own, size_t& labelledLine, Failure& failure);
