// The provisioning ledger: a CSV file (UTF-8 with a byte order mark, CRLF)
// that every station appends one row per event to, and that tells which
// serials are no longer free, and how each was taken. Reading it and writing
// its rows; the file, its lock and the command are the console program's.
#pragma once

#include <cstddef>
#include <cstdint>

#include "text/CString.h"

// One event, its 10 fields as UTF-8 bytes, in the file's column order.
struct LedgerRow {
    CString time;       // UTC, like 2026-12-09T09:14:03Z
    CString station;    // the computer's name
    CString event;      // one of the kEvent… below
    CString oldSerial;  // the adapter's serial as read (a seen row: as read back)
    CString newSerial;  // the serial this run reserved
    CString hardware;   // V2.0
    CString firmware;   // 0213
    CString product;
    CString record;     // the record as read, 104 lowercase hex digits
    CString exitCode;   // a failed row's exit code; else empty, or a note
};

// A run reserves its serial before it writes, then closes the reservation:
// provisioned (written and checked, or settled later) or failed. A seen row
// names a serial an adapter read back after a failed write.
extern const char kEventReserved[], kEventProvisioned[], kEventFailed[], kEventSeen[];

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

// A serial as a person reads it, for comparing: ASCII case, full-width forms
// as their ASCII letters and digits, and no space, zero-width character or
// line break of any kind, nor a spreadsheet's ="..." around it. Two serials
// that fold alike are one serial to the ledger.
CString FoldedSerial(const char* bytes, size_t length);

// What a new ledger file starts with: the byte order mark, the header, CRLF.
CString LedgerStart();

// The row as one line of the file, quoted where needed, ending in CRLF.
// False, and `text` empty, for a field that no ledger line can hold (a
// control byte other than TAB, CR and LF, or bytes that are not UTF-8):
// written, it would make the whole file unreadable to every later run.
[[nodiscard]] bool LedgerRowText(const LedgerRow& row, CString& text);

// Receives every complete field of a ledger being read (tests and the fuzzer
// check the rows' contents through it). `line` is the row's first line.
class LedgerFieldSink {
public:
    virtual void Field(size_t line, size_t index, const char* bytes, size_t length) = 0;

protected:
    ~LedgerFieldSink() = default;
};

// Where a ledger's bytes come from: a file read a piece at a time.
class LedgerSource {
public:
    // Up to `room` more bytes into `buffer`, `got` of them; 0 at the end.
    // False when the bytes cannot be read.
    virtual bool Read(char* buffer, size_t room, size_t& got) = 0;

protected:
    ~LedgerSource() = default;
};

class Ledger {
public:
    Ledger() = default;
    Ledger(const Ledger&) = delete;
    Ledger& operator=(const Ledger&) = delete;
    ~Ledger();

    // Reads a whole ledger file. False for one that is not a ledger, with
    // Problem() and ProblemLine() set and nothing given out or seen. A last
    // row cut short (no line end after it) is taken if it has at most 10
    // fields so far; its fields followed by a comma count, its last does not.
    bool Parse(const char* bytes, size_t length, LedgerFieldSink* fields = nullptr);
    // The same, the bytes read from `source` through one small buffer that
    // is reused. `sizeHint` is the file's size, for sizing the tables once.
    // A source that fails: false, and ReadFailed().
    bool Parse(LedgerSource& source, size_t sizeHint, LedgerFieldSink* fields = nullptr);

    // Why the last Parse refused, in English, and the 1-based line where.
    const char* Problem() const { return m_problem; }
    size_t ProblemLine() const { return m_problemLine; }
    // The last Parse refused because its source could not be read.
    bool ReadFailed() const { return m_readFailed; }

    // What to append so that a cut last row becomes a full one (the closing
    // quote, the missing commas, the line end); empty when none is cut.
    const CString& Completion() const { return m_completion; }
    // The line the next row appended (after the completion) starts on.
    size_t NextLine() const { return m_nextLine; }

    // Keeps the whole of the rows that take `serial` in the next Parse (a
    // few serials: the rows of a big ledger are most of its bytes).
    void Watch(const CString& serial);
    // How `serial` was taken, compared as folded; false when it is free.
    bool History(const CString& serial, SerialHistory& history) const;
    // The first row that gave `serial` out as its new_serial: its line and time.
    bool GivenOut(const CString& serial, size_t& line, CString& time) const;
    // Seen on an adapter (see SerialHistory).
    bool Seen(const CString& serial) const;
    // Given out, reserved or seen: never to be given out again.
    bool Taken(const CString& serial) const { return Find(serial) != nullptr; }

    // The index of the first candidate not taken; `count` when all are.
    size_t FirstFree(const CString* candidates, size_t count) const;

private:
    struct Entry;
    struct Span;
    struct RowKept;
    struct Fields;
    class Reader;

    void Clear();
    // `slotCount` slots and room for half as many entries, all placed anew.
    void Resize(size_t slotCount);
    const Entry* Find(const CString& serial) const;
    // Where `serial` is in m_slots, or the free slot ending its probe.
    size_t Slot(const char* serial, size_t length, uint32_t hash) const;
    // One whole row, by its event.
    void Take(size_t line, const Fields& row);
    Entry& Insert(const char* serial, size_t length);
    size_t Keep(const char* bytes, size_t length);  // into m_text, its offset
    uint32_t Kept(size_t line, const Fields& row);  // into m_rows, its index + 1
    LedgerEntryRow Row(uint32_t kept) const;
    bool Refuse(size_t line, const char* problem);

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
    // The rows that first gave out or reserved a serial.
    RowKept* m_rows = nullptr;
    size_t m_rowCount = 0;
    size_t m_rowCapacity = 0;
    static constexpr size_t kMostWatched = 4;
    CString m_watched[kMostWatched];  // folded
    size_t m_watchedCount = 0;
    char* m_fold = nullptr;  // a serial being folded
    size_t m_foldCapacity = 0;

    const char* m_problem = nullptr;
    size_t m_problemLine = 0;
    bool m_readFailed = false;
    CString m_completion;
    size_t m_nextLine = 0;
};
