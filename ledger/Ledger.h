// The provisioning ledger: a CSV file (UTF-8 with a byte order mark, CRLF)
// that every station appends one row per event to, and that tells which
// serials are no longer free, and how each was taken. Reading it and writing
// its rows; the file, its lock and the command are the console program's.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ledger/FoldedSerial.h"
#include "ledger/TakenSerials.h"
#include "text/CString.h"

// One event, its fields as UTF-8 bytes, in the file's column order
// (ledger/Columns.h).
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
// names a serial an adapter read back after a failed write. A labelled row
// says a label was printed for a provisioned row's serial (its last column:
// where to); it takes nothing that row did not.
extern const char kEventReserved[], kEventProvisioned[], kEventFailed[], kEventSeen[], kEventLabelled[];

// What a new ledger file starts with: the byte order mark, the header, CRLF.
CString LedgerStart();

// The row as one line of the file, quoted where needed, ending in CRLF, of
// `columns` fields: a ledger's own count (Ledger::Columns()), whose columns
// past this build's are left empty; fewer, this build's. False, and `text`
// empty, for a field that no ledger line can hold (a control byte other than
// TAB, CR and LF, or bytes that are not UTF-8): written, it would make the
// whole file unreadable to every later run.
[[nodiscard]] bool LedgerRowText(const LedgerRow& row, size_t columns, CString& text);
// The same for a new ledger: this build's columns.
[[nodiscard]] inline bool LedgerRowText(const LedgerRow& row, CString& text) { return LedgerRowText(row, 0, text); }
// Field `index` of a row as read (the file's column order) into `row`;
// false for a column past this build's.
bool SetLedgerRowField(LedgerRow& row, size_t index, const char* bytes, size_t length);

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
    ~Ledger() = default;

    // Reads a whole ledger file: one whose header starts with this build's
    // columns, in order (a later build may have added more), and whose rows
    // have as many fields as its header. False for one that is not a ledger,
    // with Problem() and ProblemLine() set and nothing given out or seen. A
    // last row cut short (no line end after it) is taken if it has at most as
    // many fields so far; its fields followed by a comma count, its last does
    // not. A row of an event this build does not know takes its serials as seen.
    bool Parse(const char* bytes, size_t length, LedgerFieldSink* fields = nullptr);
    // The same, the bytes read from `source` through one small buffer that
    // is reused. `sizeHint` is the file's size, for sizing the tables once.
    // A source that fails: false, and ReadFailed().
    bool Parse(LedgerSource& source, size_t sizeHint, LedgerFieldSink* fields = nullptr);

    // Why the last Parse refused, in English (valid while the ledger is),
    // and the 1-based line where.
    const char* Problem() const { return m_refused ? m_problem.GetString() : nullptr; }
    size_t ProblemLine() const { return m_problemLine; }
    // The last Parse refused because its source could not be read.
    bool ReadFailed() const { return m_readFailed; }

    // What to append so that a cut last row becomes a full one (the closing
    // quote, the missing commas, the line end); empty when none is cut.
    const CString& Completion() const { return m_completion; }
    // The line the next row appended (after the completion) starts on.
    size_t NextLine() const { return m_nextLine; }
    // The file's first line as read, with its byte order mark if any and its
    // line end (as completed, when the file was cut inside it): what rows
    // appended later read after. Its columns' count, for the rows to append.
    const CString& Header() const { return m_header; }
    size_t Columns() const { return m_columns; }
    // The line its rows start on: 2, unless the header takes more lines.
    size_t FirstRowLine() const { return m_firstRowLine; }

    // Keeps the whole of the rows that take `serial` in the next Parse (a
    // few serials: the rows of a big ledger are most of its bytes).
    void Watch(const CString& serial) { m_taken.Watch(serial); }
    // How `serial` was taken, compared as folded; false when it is free.
    bool History(const CString& serial, SerialHistory& history) const { return m_taken.History(serial, history); }
    // The first row that gave `serial` out as its new_serial: its line and time.
    bool GivenOut(const CString& serial, size_t& line, CString& time) const;
    // Seen on an adapter (see SerialHistory).
    bool Seen(const CString& serial) const { return m_taken.Seen(serial); }
    // Given out, reserved or seen: never to be given out again.
    bool Taken(const CString& serial) const { return m_taken.Taken(serial); }

    // The index of the first candidate not taken; `count` when all are.
    size_t FirstFree(const CString* candidates, size_t count) const;

private:
    void Clear();
    bool Refuse(size_t line, const char* problem);

    TakenSerials m_taken;
    bool m_refused = false;
    CString m_problem;
    size_t m_problemLine = 0;
    bool m_readFailed = false;
    CString m_completion;
    size_t m_nextLine = 0;
    CString m_header;
    size_t m_columns = 0;
    size_t m_firstRowLine = 0;
};
