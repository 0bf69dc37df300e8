// One pass over a ledger's bytes: the header, then row after row, each field
// checked byte by byte as it is scanned.
#pragma once

#include <cstddef>
#include <cstring>

#include "ledger/Columns.h"
#include "ledger/TakenSerials.h"
#include "ledger/Window.h"

// A growing byte buffer that the reader reuses from row to row.
struct Scratch {
    char* bytes = nullptr;
    size_t length = 0;
    size_t capacity = 0;

    Scratch() = default;
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch() { std::free(bytes); }
    char* Room(size_t size)
    {
        if (size > capacity) {
            capacity = size > 2 * capacity ? size : 2 * capacity;
            bytes = static_cast<char*>(Grown(bytes, capacity));
        }
        return bytes;
    }
};

// The row being read: its first line and the fields it is judged by.
struct ReadRow {
    size_t line = 0;
    Scratch field[kKnownColumns];
    FieldBytes Bytes(size_t i) const { return {field[i].bytes, field[i].length}; }
    bool Is(size_t i, const char* text) const
    {
        return field[i].length == std::strlen(text) && std::memcmp(field[i].bytes, text, field[i].length) == 0;
    }
};

constexpr char kLoneCr[] = "a carriage return without a line feed";

// What a row's event takes: the ledger's rules, which Ledger.cpp hands the
// reader, so that the reader knows the format and nothing of its meaning.
using RowRule = void (*)(TakenSerials& taken, const ReadRow& row);

class LedgerReader : public ByteWindow {
public:
    LedgerReader(LedgerSource& source, TakenSerials& taken, RowRule rule, LedgerFieldSink* sink)
        : ByteWindow(source), m_taken(taken), m_rule(rule), m_sink(sink)
    {
    }

    // False for bytes that are no ledger, with m_problem set.
    bool Read();

    CString m_problem;
    size_t m_problemLine = 0;
    CString m_completion;  // what makes a cut last line whole
    size_t m_nextLine = 0;
    CString m_header;      // the first line, with its byte order mark and line end (as completed)
    size_t m_columns = 0;  // the header's
    size_t m_firstRowLine = 0;  // after the header, which a quoted name may break over lines

private:
    bool Refuse(size_t line, const char* problem);
    bool RefuseFieldCount(bool more);  // than the header's
    bool CutStart();
    bool Header();
    bool Row(bool& done);
    bool ReadFields(bool& done, size_t& fields);
    bool LineEnd(bool& done);
    bool LoneCr() { return Have(1) && m_p[m_at] == '\r' && (!Have(2) || m_p[m_at + 1] != '\n'); }
    void SkipPlain();
    bool Byte();
    void Deliver(size_t index, size_t length, bool doubled);

    TakenSerials& m_taken;
    RowRule m_rule;
    LedgerFieldSink* m_sink;
    bool m_inHeader = false;  // reading the header's columns past the known ones
    Scratch m_unquoted;
    ReadRow m_row;
    char m_cutCharacter[3] = {};
    size_t m_cutCharacterLength = 0;
};
