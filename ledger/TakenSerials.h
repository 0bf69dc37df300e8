// The serials a ledger has taken, each once as folded, and how each was
// taken: seen, given out or reserved. A serial it does not hold is free.
#pragma once

#include <cstddef>
#include <cstdint>

#include "text/CString.h"

// One row that took a serial, as the ledger keeps it: the first of its kind.
// Its line, and a provisioned row's time, for every serial; the rest for a
// watched one only.
struct LedgerEntryRow {
    size_t line = 0;  // 0: no such row
    CString time, station;
    CString serial;  // its new_serial exactly as written
    CString record;  // its record field (the record as read), as written
    int failedCode = 0;    // a reserved row a failed row closed: that run's exit code
    size_t failedLine = 0;  // and that row's line
};

// How the ledger has taken one serial. A serial it does not know is free.
struct SerialHistory {
    LedgerEntryRow given;     // the first provisioned row naming it
    LedgerEntryRow reserved;  // the first reserved row naming it
    bool seen = false;        // an old_serial, a read-back, or a row of an event this build does not know
    bool readBack = false;    // read back from an adapter after a failed write: one carries it now
};

// Bytes inside the row being read.
struct FieldBytes {
    const char* bytes;
    size_t length;
};

// The row being read, as far as the set keeps it: its first line and the
// fields that say whose it was. `serial` is its new_serial.
struct TakingRow {
    size_t line;
    FieldBytes time, station, serial, record;
};

class TakenSerials {
public:
    TakenSerials() = default;
    TakenSerials(const TakenSerials&) = delete;
    TakenSerials& operator=(const TakenSerials&) = delete;
    ~TakenSerials() { Clear(); }

    // Empty, with room for what a ledger of `fileSize` bytes takes.
    void Start(size_t fileSize);
    void Clear();
    // Keeps the whole of the rows that take `serial` (a few serials: the
    // rows of a big ledger are most of its bytes). Before Start.
    void Watch(const CString& serial);

    // An old_serial, a read-back (`readBack`: one a seen row names), or a
    // serial of a row whose event takes it no other way.
    void NoteSeen(FieldBytes serial, bool readBack);
    // A provisioned row gave its new_serial out; the first such row counts.
    void NoteGivenOut(const TakingRow& row);
    // A reserved row reserved its new_serial; the first such row counts.
    void NoteReserved(const TakingRow& row);
    // A failed row closes its own run's reservation (the same serial,
    // station and record), with the run's `exitCode`; otherwise its serial
    // is seen.
    void NoteFailed(const TakingRow& row, FieldBytes exitCode);

    // How `serial` was taken, compared as folded; false when it is free.
    bool History(const CString& serial, SerialHistory& history) const;
    bool Seen(const CString& serial) const;
    bool Taken(const CString& serial) const { return Find(serial) != nullptr; }

private:
    struct Span {
        uint32_t offset, length;  // in m_text
    };
    struct Entry;
    struct RowKept;

    const Entry* Find(const CString& serial) const;
    // Where `serial` is in m_slots, or the free slot ending its probe.
    size_t Slot(const char* serial, size_t length, uint32_t hash) const;
    // The entry of `written` as folded, made if it is new.
    Entry& Insert(FieldBytes written);
    // `slotCount` slots and room for half as many entries, all placed anew.
    void Resize(size_t slotCount);
    Span Keep(FieldBytes bytes);                      // into m_text
    uint32_t Kept(const TakingRow& row);              // into m_rows, its index + 1
    bool Same(Span kept, FieldBytes bytes) const;
    LedgerEntryRow Row(uint32_t kept) const;

    // Each distinct serial once, found through an open-addressed table. Kept
    // small (32-bit offsets and lines, for a file under 4 GiB): a big ledger
    // is read on every run, and much of that time is first touches of memory.
    Entry* m_entries = nullptr;   // room for m_slotCount / 2
    size_t m_entryCount = 0;      // at most half of m_slotCount, so probes stay short
    uint32_t* m_slots = nullptr;  // entry index + 1, or 0 for a free slot
    size_t m_slotCount = 0;       // a power of two
    // The serials' bytes, folded, and the kept rows' fields, one after another.
    char* m_text = nullptr;
    size_t m_textLength = 0;
    size_t m_textCapacity = 0;
    // The rows that first gave out or reserved a watched serial.
    RowKept* m_rows = nullptr;
    size_t m_rowCount = 0;
    size_t m_rowCapacity = 0;
    static constexpr size_t kMostWatched = 4;
    CString m_watched[kMostWatched];  // folded
    size_t m_watchedCount = 0;
    char* m_fold = nullptr;  // a serial being folded
    size_t m_foldCapacity = 0;
};
