#include "ledger/Reader.h"

namespace {

// Printable ASCII and TAB, less the comma and the quote: bytes that a field
// passes without a second look.
struct PlainBytes {
    bool is[256];
    constexpr PlainBytes() : is()
    {
        for (int c = 0x20; c < 0x7F; ++c) is[c] = c != ',' && c != '"';
        is[static_cast<int>('\t')] = true;
    }
};
constexpr PlainBytes kPlain;

// The fields a row is judged by; the others only go to a sink.
bool Judged(size_t index) { return index < kKnownColumns && kLedgerColumns[index].judged; }

}  // namespace

bool LedgerReader::Refuse(size_t line, const char* problem)
{
    m_problem = problem;
    m_problemLine = line;
    return false;
}

bool LedgerReader::RefuseFieldCount(bool more)
{
    m_problem.Format(more ? "a row of more than %u fields" : "a row of fewer than %u fields",
                     static_cast<unsigned>(m_columns));
    m_problemLine = m_row.line;
    return false;
}

bool LedgerReader::Read()
{
    if (!Header()) return false;
    bool done = m_nextLine != 0;
    while (!done) {
        m_start = m_at;
        if (!Have(1)) {
            m_nextLine = m_line;
            return true;
        }
        if (m_p[m_at] == '\n') {  // an empty line
            ++m_at;
            ++m_line;
        } else if (m_p[m_at] == '\r' && Have(2) && m_p[m_at + 1] == '\n') {
            m_at += 2;
            ++m_line;
        } else if (!Row(done)) {
            return false;
        }
    }
    return true;
}

// One row from its first byte through its line end. `done` when it is the
// file's cut last row.
bool LedgerReader::Row(bool& done)
{
    m_row.line = m_line;
    for (Scratch& field : m_row.field) field.length = 0;
    size_t fields = 0;
    if (!ReadFields(done, fields)) return false;
    m_rule(m_taken, m_row);
    return true;
}

bool LedgerReader::ReadFields(bool& done, size_t& fields)
{
    for (fields = 1;; ++fields) {
        if (!m_inHeader && fields > m_columns) return RefuseFieldCount(true);
        const size_t index = fields - 1;
        size_t length;  // from m_start
        bool doubled = false, open = false;
        m_start = m_at;
        if (Have(1) && m_p[m_at] == '"') {
            m_start = ++m_at;
            for (;;) {
                SkipPlain();
                if (!Have(1)) {
                    open = true;
                    break;
                }
                if (m_p[m_at] == '"') {
                    if (Have(2) && m_p[m_at + 1] == '"') {
                        doubled = true;
                        m_at += 2;
                        continue;
                    }
                    break;
                }
                if (!Byte()) return false;
            }
            length = m_at - m_start;
            if (!open) {
                ++m_at;
                if (Have(1) && m_p[m_at] != ',' && m_p[m_at] != '\r' && m_p[m_at] != '\n')
                    return Refuse(m_line, "text after a closing quote");
            }
        } else {
            for (;;) {
                SkipPlain();
                if (!Have(1)) break;
                const unsigned char c = m_p[m_at];
                if (c == ',' || c == '\r' || c == '\n') break;
                if (c == '"') return Refuse(m_line, "a quote inside an unquoted field");
                if (!Byte()) return false;
            }
            length = m_at - m_start;
        }

        if (!Have(1)) {
            // Cut short: the completion keeps this field as it is, so it
            // counts like those before it (unless a character is cut in two).
            if (m_cutCharacterLength == 0) Deliver(index, length, doubled);
            CString completion(m_cutCharacter, m_cutCharacterLength);
            if (open) completion += "\"";
            for (size_t i = fields; !m_inHeader && i < m_columns; ++i) completion += ",";
            m_completion = completion + "\r\n";
            m_nextLine = m_line + 1;
            done = true;
            return true;
        }
        if (m_p[m_at] == ',') {
            Deliver(index, length, doubled);
            ++m_at;
            continue;
        }
        if (LoneCr() && Have(2)) return Refuse(m_line, kLoneCr);
        if (!m_inHeader && fields < m_columns) return RefuseFieldCount(false);
        Deliver(index, length, doubled);
        return LineEnd(done);
    }
}

// The line end at m_at after a whole line: CRLF or LF, or at the file's end
// none or a bare CR, which the completion then ends.
bool LedgerReader::LineEnd(bool& done)
{
    const bool last = !Have(1) || (m_p[m_at] == '\r' && !Have(2));
    if (last) {
        m_completion = !Have(1) ? "\r\n" : "\n";
        m_nextLine = m_line + 1;
        done = true;
        return true;
    }
    if (Have(1) && m_p[m_at] == '\n') {
        ++m_at;
    } else if (Have(2) && m_p[m_at] == '\r' && m_p[m_at + 1] == '\n') {
        m_at += 2;
    } else {
        return false;
    }
    ++m_line;
    return true;
}

// Most bytes are these; a table keeps the scan over them short. It stops
// at the window's end too.
void LedgerReader::SkipPlain()
{
    const unsigned char* p = m_p + m_at;
    const unsigned char* const end = m_p + m_n;
    while (p != end && kPlain.is[*p]) ++p;
    m_at = static_cast<size_t>(p - m_p);
}

// Checks and passes the byte (or UTF-8 sequence) at m_at inside a field.
bool LedgerReader::Byte()
{
    const unsigned char c = m_p[m_at];
    if (c >= 0x20 && c < 0x7F) {
        ++m_at;
        return true;
    }
    if (c == '\n' || c == '\r') {  // inside quotes
        // CRLF is one line end, counted at its LF; a lone CR is one too.
        if (c == '\n' || !Have(2) || m_p[m_at + 1] != '\n') ++m_line;
        ++m_at;
        return true;
    }
    if (c == '\t') {
        ++m_at;
        return true;
    }
    if (c == 0) return Refuse(m_line, "a NUL byte");
    if (c < 0x80) return Refuse(m_line, "a control byte");
    Have(4);  // the longest sequence, or what is left
    size_t missing;
    const size_t length = Utf8Length(m_p + m_at, m_n - m_at, missing);
    if (length != 0) {
        m_at += length;
        return true;
    }
    if (missing == 0) return Refuse(m_line, "bytes that are not UTF-8");
    // The file ends inside a character: a cut row, and the completion
    // finishes the character as the least one that lead allows, so the
    // file stays UTF-8.
    const unsigned char lead = m_p[m_at];
    const size_t have = m_n - m_at;
    for (size_t i = 0; i < missing; ++i) {
        unsigned char next = 0x80;
        if (have + i == 1 && lead == 0xE0) next = 0xA0;
        if (have + i == 1 && lead == 0xF0) next = 0x90;
        m_cutCharacter[i] = static_cast<char>(next);
    }
    m_cutCharacterLength = missing;
    m_at = m_n;
    return true;
}

// A field followed by a comma or by its row's line end.
void LedgerReader::Deliver(size_t index, size_t length, bool doubled)
{
    if (m_inHeader || (m_sink == nullptr && !Judged(index))) return;
    const char* bytes = reinterpret_cast<const char*>(m_p) + m_start;
    if (doubled) {
        char* out = m_unquoted.Room(length);
        size_t kept = 0;
        for (size_t i = 0; i < length; ++i) {
            out[kept++] = bytes[i];
            if (bytes[i] == '"') ++i;  // the pair's second quote
        }
        bytes = out;
        length = kept;
    }
    if (length != 0 && bytes[0] == '\'') {
        ++bytes;
        --length;
    }
    if (m_sink != nullptr) m_sink->Field(m_row.line, index, bytes, length);
    if (Judged(index)) {
        Scratch& field = m_row.field[index];
        if (length != 0) std::memcpy(field.Room(length), bytes, length);
        field.length = length;
    }
}
