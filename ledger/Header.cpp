// The header: this build's columns, from which a new ledger starts, and the
// first line of a ledger being read.
#include "ledger/Reader.h"

namespace {

const char kNotHeader[] = "the first line is not the ledger's header";

}  // namespace

CString KnownHeader()
{
    CString header;
    for (const LedgerColumn& column : kLedgerColumns) {
        if (!header.IsEmpty()) header += ",";
        header += column.name;
    }
    return header;
}

CString LedgerStart() { return CString(kLedgerBom) + KnownHeader() + "\r\n"; }

// The known columns, in order, then whatever columns a later build added.
// Kept as read (and completed when cut), for what is appended after it.
bool LedgerReader::Header()
{
    m_keep = 0;
    m_row.line = 1;
    m_columns = kKnownColumns;
    if (Have(3) && std::memcmp(m_p, kLedgerBom, 3) == 0) m_at = 3;
    const CString known = KnownHeader();
    const size_t knownLength = static_cast<size_t>(known.GetLength());
    if (!Have(knownLength) && CutStart()) return true;
    if (!Have(knownLength) || std::memcmp(m_p + m_at, known.GetString(), knownLength) != 0)
        return Refuse(1, kNotHeader);
    m_at += knownLength;
    bool done = false;
    if (Have(1) && m_p[m_at] == ',') {
        ++m_at;
        size_t more = 0;
        m_inHeader = true;
        const bool read = ReadFields(done, more);
        m_inHeader = false;
        if (!read) return false;
        m_columns += more;
    } else if (!LineEnd(done)) {
        return Refuse(1, LoneCr() ? kLoneCr : kNotHeader);
    }
    m_header = CString(reinterpret_cast<const char*>(m_p), done ? m_n : m_at) + (done ? m_completion : CString());
    m_firstRowLine = done ? m_nextLine : m_line;
    m_keep = SIZE_MAX;
    return true;
}

// A file that ends inside its byte order mark or header: a crash while the
// ledger was being made. The completion finishes the header, so the line is
// not stopped for good.
bool LedgerReader::CutStart()
{
    const CString start = LedgerStart();
    const size_t have = m_n;  // the source is spent: this is the whole file
    for (size_t bom = 0; bom <= 3; bom += 3) {  // with its byte order mark, or without
        const char* expected = start.GetString() + bom;
        const size_t length = static_cast<size_t>(start.GetLength()) - bom;
        if (have < length && std::memcmp(m_p, expected, have) == 0) {
            m_completion = CString(expected + have, length - have);
            m_header = CString(expected, length);
            m_nextLine = m_firstRowLine = 2;
            return true;
        }
    }
    return false;
}
