// Serials as a person reads them, for comparing: hand edits in a spreadsheet
// or an editor leave a serial that looks the same but is other bytes.
#pragma once

#include <cstddef>

#include "text/CString.h"

// A serial as a person reads it, for comparing: ASCII case, full-width forms
// as their ASCII letters and digits, and no space, zero-width character or
// line break of any kind, nor a spreadsheet's ="..." around it. Two serials
// that fold alike are one serial to the ledger.
CString FoldedSerial(const char* bytes, size_t length);

// The same into `out`, which has room for `length` bytes; returns how many
// it wrote. Folding never makes a text longer.
size_t FoldSerial(const char* bytes, size_t length, char* out);
