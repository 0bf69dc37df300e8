// What a station remembers of a ledger it wrote to, outside the ledger: how
// far the ledger reached, the check of its bytes up to there, and the row
// the station last wrote. A ledger that went back in time is refused by it.
#pragma once

#include <cstdint>

#include "text/WideString.h"

// A ledger this big has been fed something else; reading it whole would
// only exhaust the memory.
constexpr unsigned long long kLargestLedger = 256ull << 20;

struct LedgerMemory {
    bool known = false;
    unsigned long long bytes = 0;
    uint64_t check = 0;
    CWideString row;  // the station's last row, for the message
};

// Where the station keeps its memory of the ledger at `fullPath`, one file a
// ledger in the user's profile; empty when there is no profile folder.
CWideString LedgerMemoryPath(const wchar_t* fullPath);
// Anything but a memory in the form Save writes is as good as none: a safety
// net must not stop a line by itself.
LedgerMemory LoadLedgerMemory(const CWideString& path);
void SaveLedgerMemory(const CWideString& path, const LedgerMemory& memory);
