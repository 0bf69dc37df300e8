// A check of a file's first bytes, taken as they stream past: a few
// megabytes a run, so four words at a time, each in a lane of its own. The
// station keeps the check of a ledger as it last wrote it (LedgerMemory.h).
#pragma once

#include <cstddef>
#include <cstdint>

class ByteCheck {
public:
    void Add(const char* bytes, size_t length);
    uint64_t Value() const;  // of every byte added so far
    unsigned long long Count() const { return m_count; }

private:
    void Block(const unsigned char* block);

    uint64_t m_lanes[4] = {0x9E3779B97F4A7C15ull, 0xC2B2AE3D27D4EB4Full, 0x165667B19E3779F9ull,
                           0x27D4EB2F165667C5ull};
    unsigned char m_pending[32] = {};  // a block not yet full
    size_t m_pendingBytes = 0;
    unsigned long long m_count = 0;
};
