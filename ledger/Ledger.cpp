#include "ledger/Ledger.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

const char kBom[] = "\xEF\xBB\xBF";
const char kHeader[] = "time,station,event,old_serial,new_serial,hardware,firmware,product,record,exit_code";
const size_t kFields = 10;
const char kLoneCr[] = "a carriage return without a line feed";
const size_t kTimeField = 0, kStationField = 1, kEventField = 2, kOldSerialField = 3, kNewSerialField = 4,
             kRecordField = 8, kExitCodeField = 9;
// The fields a row is judged by; the others only go to a sink.
constexpr bool Judged(size_t field) { return field <= kNewSerialField || field == kRecordField || field == kExitCodeField; }

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

// Out of memory for a ledger that fits in memory: the program cannot go on,
// as TextBuffer decides too.
void* Grown(void* block, size_t bytes)
{
    void* grown = std::realloc(block, bytes != 0 ? bytes : 1);
    if (grown == nullptr) std::abort();
    return grown;
}

// The bytes a well-formed UTF-8 sequence at `p` takes, or 0. When the
// `available` bytes end inside a sequence that is good so far, 0 and
// `missing` says how many bytes it lacks.
size_t Utf8Length(const unsigned char* p, size_t available, size_t& missing)
{
    missing = 0;
    const unsigned char lead = p[0];
    size_t length;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
    } else {
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        if (i == available) {
            missing = length - i;
            return 0;
        }
        const unsigned char lo = i == 1 ? low : 0x80, hi = i == 1 ? high : 0xBF;
        if (p[i] < lo || p[i] > hi) return 0;
    }
    return length;
}

bool NeedsQuotes(const CString& field)
{
    for (int i = 0; i < field.GetLength(); ++i) {
        const char c = field.GetString()[i];
        if (c == ',' || c == '"' || c == '\r' || c == '\n') return true;
    }
    return false;
}

// A spreadsheet takes a field starting so as a formula; a leading ' keeps it
// text, and the reader takes it off again (so a field starting with ' gets one).
bool NeedsGuard(const CString& field)
{
    const unsigned char first = field.GetAt(0);
    return !field.IsEmpty() && std::strchr("=+-@\t\r'", first) != nullptr;
}

// UTF-8, and no control byte but TAB, CR and LF: what a ledger line can hold.
bool Storable(const CString& field)
{
    const auto* p = reinterpret_cast<const unsigned char*>(field.GetString());
    const size_t length = static_cast<size_t>(field.GetLength());
    for (size_t i = 0; i < length;) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            if ((c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7F) return false;
            ++i;
            continue;
        }
        size_t missing;
        const size_t taken = Utf8Length(p + i, length - i, missing);
        if (taken == 0) return false;
        i += taken;
    }
    return true;
}

char* PutField(char* out, const CString& field)
{
    const bool quoted = NeedsQuotes(field);
    if (quoted) *out++ = '"';
    if (NeedsGuard(field)) *out++ = '\'';
    for (int i = 0; i < field.GetLength(); ++i) {
        const char c = field.GetString()[i];
        if (c == '"' && quoted) *out++ = '"';
        *out++ = c;
    }
    if (quoted) *out++ = '"';
    return out;
}

size_t FieldLength(const CString& field)
{
    size_t length = static_cast<size_t>(field.GetLength());
    if (NeedsQuotes(field)) {
        length += 2;
        for (int i = 0; i < field.GetLength(); ++i) length += field.GetString()[i] == '"';
    }
    return length + NeedsGuard(field);
}

// A growing byte buffer that the reader reuses from row to row.
struct Scratch {
    char* bytes = nullptr;
    size_t length = 0;
    size_t capacity = 0;

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

uint32_t Hash(const char* bytes, size_t length)
{
    uint32_t hash = 2166136261u;  // FNV-1a
    for (size_t i = 0; i < length; ++i) {
        hash ^= static_cast<unsigned char>(bytes[i]);
        hash *= 16777619u;
    }
    return hash;
}

// The code point at `p` and the bytes it takes; a byte that starts no
// well-formed sequence stands for itself.
uint32_t CodePoint(const unsigned char* p, size_t available, size_t& length)
{
    size_t missing;
    length = p[0] < 0x80 ? 1 : Utf8Length(p, available, missing);
    if (length <= 1) {
        length = 1;
        return p[0];
    }
    uint32_t c = p[0] & (0xFF >> (length + 1));
    for (size_t i = 1; i < length; ++i) c = c << 6 | (p[i] & 0x3F);
    return c;
}

// What a person does not see, or sees as a gap: every space and line
// break, and every character Unicode says to ignore where it cannot be shown
// (zero-width ones, direction marks, variation selectors, fillers, tags).
bool Invisible(uint32_t c)
{
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0xAD || c == 0x034F ||
           c == 0x061C || c == 0x115F || c == 0x1160 || c == 0x1680 || c == 0x17B4 || c == 0x17B5 ||
           (c >= 0x180B && c <= 0x180F) || (c >= 0x2000 && c <= 0x200F) || (c >= 0x2028 && c <= 0x202F) ||
           (c >= 0x205F && c <= 0x206F) || c == 0x3000 || c == 0x3164 || (c >= 0xFE00 && c <= 0xFE0F) ||
           c == 0xFEFF || c == 0xFFA0 || (c >= 0x1BCA0 && c <= 0x1BCA3) || (c >= 0x1D173 && c <= 0x1D17A) ||
           (c >= 0xE0000 && c <= 0xE0FFF);
}

// Folds `length` bytes into `out`, which has room for as many; returns how
// many it wrote. Folding never makes a text longer.
size_t Fold(const char* bytes, size_t length, char* out)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    size_t n = 0;
    for (size_t i = 0; i < length;) {
        size_t taken;
        uint32_t c = CodePoint(p + i, length - i, taken);
        if (c >= 0xFF01 && c <= 0xFF5E) c -= 0xFEE0;  // full-width forms
        if (!Invisible(c)) {
            if (c < 0x80)
                out[n++] = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
            else
                for (size_t k = 0; k < taken; ++k) out[n++] = static_cast<char>(p[i + k]);
        }
        i += taken;
    }
    // A spreadsheet's text form, ="VN240001".
    while (n >= 3 && out[0] == '=' && out[1] == '"' && out[n - 1] == '"') {
        std::memmove(out, out + 2, n - 3);
        n -= 3;
    }
    return n;
}

}  // namespace

const char kEventReserved[] = "reserved";
const char kEventProvisioned[] = "provisioned";
const char kEventFailed[] = "failed";
const char kEventSeen[] = "seen";

CString FoldedSerial(const char* bytes, size_t length)
{
    char* folded = static_cast<char*>(Grown(nullptr, length));
    const size_t n = Fold(bytes, length, folded);
    CString text(folded, n);
    std::free(folded);
    return text;
}

CString LedgerStart() { return CString(kBom) + kHeader + "\r\n"; }

bool LedgerRowText(const LedgerRow& row, CString& text)
{
    const CString* const fields[kFields] = {&row.time,     &row.station,  &row.event,   &row.oldSerial, &row.newSerial,
                                            &row.hardware, &row.firmware, &row.product, &row.record,    &row.exitCode};
    text.Empty();
    size_t length = kFields - 1 + 2;  // the commas and CRLF
    for (const CString* field : fields) {
        if (!Storable(*field)) return false;
        length += FieldLength(*field);
    }
    // Built in one buffer: CString's += copies the whole text each time.
    char* line = static_cast<char*>(Grown(nullptr, length));
    char* out = line;
    for (size_t i = 0; i < kFields; ++i) {
        if (i != 0) *out++ = ',';
        out = PutField(out, *fields[i]);
    }
    *out++ = '\r';
    *out++ = '\n';
    text = CString(line, length);
    std::free(line);
    return true;
}

struct Ledger::Span {
    uint32_t offset, length;  // in m_text
};

struct Ledger::Entry {
    Span serial;  // folded
    uint32_t hash;
    uint32_t givenLine, reservedLine;  // the first such row's; 0 for none
    Span givenTime;
    // A watched serial's first such rows whole, an index + 1 into m_rows.
    uint32_t given, reserved;
    bool seen, readBack, watched;
};

struct Ledger::RowKept {
    uint32_t line;
    Span time, station, serial, record;
    int failedCode;
    uint32_t failedLine;  // 0: not closed by a failed row
};

// The fields of the row being read that it is judged by.
struct Ledger::Fields {
    Scratch field[kFields];
    const char* Bytes(size_t i) const { return field[i].bytes; }
    size_t Length(size_t i) const { return field[i].length; }
    bool Is(size_t i, const char* text) const
    {
        return field[i].length == std::strlen(text) && std::memcmp(field[i].bytes, text, field[i].length) == 0;
    }
};

namespace {

// A memory block as a source, for callers that hold the whole file.
class MemorySource final : public LedgerSource {
public:
    MemorySource(const char* bytes, size_t length) : m_bytes(bytes), m_left(length) {}
    bool Read(char* buffer, size_t room, size_t& got) override
    {
        got = room < m_left ? room : m_left;
        if (got != 0) std::memcpy(buffer, m_bytes, got);
        m_bytes += got;
        m_left -= got;
        return true;
    }

private:
    const char* m_bytes;
    size_t m_left;
};

}  // namespace

// One pass over the file's bytes: the header, then row after row, each field
// checked byte by byte as it is scanned. The bytes pass through a window
// that is reused: a big ledger in one fresh block costs more in first
// touches of its pages than the parse. The window keeps the field being
// read, so it grows only for a field longer than itself.
class Ledger::Reader {
public:
    Reader(Ledger& ledger, LedgerSource& source, LedgerFieldSink* sink)
        : m_ledger(ledger), m_source(source), m_sink(sink)
    {
        m_p = static_cast<unsigned char*>(Grown(nullptr, m_capacity));
    }
    ~Reader() { std::free(m_p); }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // Set when the source failed (to the line where), or passed 4 GiB.
    size_t m_failedLine = 0;
    bool m_tooBig = false;

    bool Read()
    {
        if (Have(3) && std::memcmp(m_p, kBom, 3) == 0) m_at = 3;
        const size_t headerLength = sizeof kHeader - 1;
        if (!Have(headerLength) && CutStart()) return true;
        if (!Have(headerLength) || std::memcmp(m_p + m_at, kHeader, headerLength) != 0)
            return m_ledger.Refuse(1, "the first line is not the ledger's header");
        m_at += headerLength;
        bool done = false;
        if (!LineEnd(kFields, done))
            return m_ledger.Refuse(1, LoneCr() ? kLoneCr : "the first line is not the ledger's header");
        while (!done) {
            m_start = m_at;
            if (!Have(1)) {
                m_ledger.m_nextLine = m_line;
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

private:
    // At least `count` bytes from m_at on in the window, unless the file ends
    // (or cannot be read) first. Inlined: it runs at every field and line end.
    [[gnu::always_inline]] bool Have(size_t count) { return m_n - m_at >= count || More(count); }

    bool More(size_t count)
    {
        while (m_n - m_at < count && !m_ended) Fill();
        return m_n - m_at >= count;
    }

    void Fill()
    {
        // The bytes before the field being read are done with.
        if (m_start != 0) {
            std::memmove(m_p, m_p + m_start, m_n - m_start);
            m_n -= m_start;
            m_at -= m_start;
            m_start = 0;
        }
        if (m_n == m_capacity) {
            m_capacity *= 2;
            m_p = static_cast<unsigned char*>(Grown(m_p, m_capacity));
        }
        const size_t room = m_capacity - m_n;
        size_t got = 0;
        if (!m_source.Read(reinterpret_cast<char*>(m_p) + m_n, room, got) || got > room) {
            m_failedLine = m_line;
            got = 0;
        }
        m_read += got;
        if (m_read >= UINT32_MAX / 2) {  // the 32-bit offsets into text kept from it
            m_tooBig = true;
            got = 0;
        }
        m_n += got;
        m_ended = got == 0;
    }

    // A file that ends inside its byte order mark or header: a crash while
    // the ledger was being made. The completion finishes the header, so the
    // line is not stopped for good.
    bool CutStart()
    {
        const CString start = LedgerStart();
        const size_t have = m_n;  // the source is spent: this is the whole file
        for (size_t bom = 0; bom <= 3; bom += 3) {  // with its byte order mark, or without
            const char* expected = start.GetString() + bom;
            const size_t length = static_cast<size_t>(start.GetLength()) - bom;
            if (have < length && std::memcmp(m_p, expected, have) == 0) {
                m_ledger.m_completion = CString(expected + have, length - have);
                m_ledger.m_nextLine = 2;
                return true;
            }
        }
        return false;
    }

    // One row from its first byte through its line end. `done` when it is
    // the file's cut last row.
    bool Row(bool& done)
    {
        m_rowLine = m_line;
        for (Scratch& field : m_fields.field) field.length = 0;
        if (!ReadFields(done)) return false;
        m_ledger.Take(m_rowLine, m_fields);
        return true;
    }

    bool ReadFields(bool& done)
    {
        for (size_t fields = 1;; ++fields) {
            if (fields > kFields) return m_ledger.Refuse(m_rowLine, "a row of more than 10 fields");
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
                        return m_ledger.Refuse(m_line, "text after a closing quote");
                }
            } else {
                for (;;) {
                    SkipPlain();
                    if (!Have(1)) break;
                    const unsigned char c = m_p[m_at];
                    if (c == ',' || c == '\r' || c == '\n') break;
                    if (c == '"') return m_ledger.Refuse(m_line, "a quote inside an unquoted field");
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
                for (size_t i = fields; i < kFields; ++i) completion += ",";
                m_ledger.m_completion = completion + "\r\n";
                m_ledger.m_nextLine = m_line + 1;
                done = true;
                return true;
            }
            if (m_p[m_at] == ',') {
                Deliver(index, length, doubled);
                ++m_at;
                continue;
            }
            if (LoneCr() && Have(2)) return m_ledger.Refuse(m_line, kLoneCr);
            if (fields < kFields) return m_ledger.Refuse(m_rowLine, "a row of fewer than 10 fields");
            Deliver(index, length, doubled);
            return LineEnd(fields, done);
        }
    }

    // The line end at m_at after a line of `fields` fields: CRLF or LF, or at
    // the file's end none or a bare CR, which the completion then ends.
    bool LineEnd(size_t fields, bool& done)
    {
        const bool last = !Have(1) || (m_p[m_at] == '\r' && !Have(2));
        if (last && fields == kFields) {
            m_ledger.m_completion = !Have(1) ? "\r\n" : "\n";
            m_ledger.m_nextLine = m_line + 1;
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

    bool LoneCr() { return Have(1) && m_p[m_at] == '\r' && (!Have(2) || m_p[m_at + 1] != '\n'); }

    // Most bytes are these; a table keeps the scan over them short. It stops
    // at the window's end too.
    void SkipPlain()
    {
        const unsigned char* p = m_p + m_at;
        const unsigned char* const end = m_p + m_n;
        while (p != end && kPlain.is[*p]) ++p;
        m_at = static_cast<size_t>(p - m_p);
    }

    // Checks and passes the byte (or UTF-8 sequence) at m_at inside a field.
    bool Byte()
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
        if (c == 0) return m_ledger.Refuse(m_line, "a NUL byte");
        if (c < 0x80) return m_ledger.Refuse(m_line, "a control byte");
        Have(4);  // the longest sequence, or what is left
        size_t missing;
        const size_t length = Utf8Length(m_p + m_at, m_n - m_at, missing);
        if (length != 0) {
            m_at += length;
            return true;
        }
        if (missing == 0) return m_ledger.Refuse(m_line, "bytes that are not UTF-8");
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
    void Deliver(size_t index, size_t length, bool doubled)
    {
        if (m_sink == nullptr && !Judged(index)) return;
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
        if (m_sink != nullptr) m_sink->Field(m_rowLine, index, bytes, length);
        if (Judged(index)) {
            Scratch& field = m_fields.field[index];
            if (length != 0) std::memcpy(field.Room(length), bytes, length);
            field.length = length;
        }
    }

    Ledger& m_ledger;
    LedgerSource& m_source;
    LedgerFieldSink* m_sink;
    size_t m_capacity = 64 * 1024;  // a few reads' worth, not the file
    unsigned char* m_p = nullptr;   // the window
    size_t m_n = 0;                 // the bytes in it
    uint64_t m_read = 0;            // all bytes read so far
    bool m_ended = false;           // no more to read
    size_t m_at = 0;
    size_t m_start = 0;  // the field being read (kept in the window)
    size_t m_line = 1;
    size_t m_rowLine = 1;
    Scratch m_unquoted;
    Ledger::Fields m_fields;
    char m_cutCharacter[3] = {};
    size_t m_cutCharacterLength = 0;
};

Ledger::~Ledger() { Clear(); }

void Ledger::Clear()
{
    std::free(m_entries);
    std::free(m_slots);
    std::free(m_text);
    std::free(m_rows);
    std::free(m_fold);
    m_fold = nullptr;
    m_foldCapacity = 0;
    m_entries = nullptr;
    m_slots = nullptr;
    m_text = nullptr;
    m_rows = nullptr;
    m_entryCount = m_slotCount = m_textLength = m_textCapacity = m_rowCount = m_rowCapacity = 0;
    m_completion.Empty();
    m_nextLine = 0;
}

bool Ledger::Parse(const char* bytes, size_t length, LedgerFieldSink* fields)
{
    MemorySource source(bytes, length);
    return Parse(source, length, fields);
}

void Ledger::Watch(const CString& serial)
{
    if (m_watchedCount < kMostWatched)
        m_watched[m_watchedCount++] = FoldedSerial(serial.GetString(), static_cast<size_t>(serial.GetLength()));
}

bool Ledger::Parse(LedgerSource& source, size_t sizeHint, LedgerFieldSink* fields)
{
    Clear();
    m_problem = nullptr;
    m_problemLine = 0;
    m_readFailed = false;
    if (sizeHint >= UINT32_MAX / 2) return Refuse(1, "too big for a ledger");
    // Room, once, for what a ledger of this size holds: a run writes two
    // rows of some 190 bytes that give out one serial, and the old serials
    // are mostly the factory's few. Growing by copies touches fresh memory
    // again and again (under Wine each big block is new pages), which costs
    // more than the parse. Room for entries and text not used is never
    // touched; every slot is, so the slots are not sized for the worst case.
    size_t slots = 256;
    while (slots < sizeHint / 128) slots *= 2;
    Resize(slots);
    m_textCapacity = sizeHint / 4 + 64;
    m_text = static_cast<char*>(Grown(nullptr, m_textCapacity));
    m_rowCapacity = 16;
    m_rows = static_cast<RowKept*>(Grown(nullptr, m_rowCapacity * sizeof *m_rows));
    Reader reader(*this, source, fields);
    const bool read = reader.Read();
    if (reader.m_failedLine != 0 || reader.m_tooBig) {
        // Whatever the parse made of the bytes it had, the file is more.
        m_readFailed = !reader.m_tooBig;
        Clear();
        return m_readFailed ? Refuse(reader.m_failedLine, "the file could not be read")
                            : Refuse(1, "too big for a ledger");
    }
    if (read) return true;
    Clear();
    return false;
}

bool Ledger::Refuse(size_t line, const char* problem)
{
    m_problem = problem;
    m_problemLine = line;
    return false;
}

size_t Ledger::Slot(const char* serial, size_t length, uint32_t hash) const
{
    size_t slot = hash & (m_slotCount - 1);
    for (; m_slots[slot] != 0; slot = (slot + 1) & (m_slotCount - 1)) {
        const Entry& entry = m_entries[m_slots[slot] - 1];
        if (entry.hash == hash && entry.serial.length == length &&
            (length == 0 || std::memcmp(m_text + entry.serial.offset, serial, length) == 0))
            break;
    }
    return slot;
}

const Ledger::Entry* Ledger::Find(const CString& serial) const
{
    if (m_slotCount == 0) return nullptr;
    const CString folded = FoldedSerial(serial.GetString(), static_cast<size_t>(serial.GetLength()));
    const size_t length = static_cast<size_t>(folded.GetLength());
    const size_t slot = Slot(folded.GetString(), length, Hash(folded.GetString(), length));
    return m_slots[slot] != 0 ? &m_entries[m_slots[slot] - 1] : nullptr;
}

// `serial` as it is written; the entry is the folded serial's.
Ledger::Entry& Ledger::Insert(const char* written, size_t writtenLength)
{
    if (writtenLength + 1 > m_foldCapacity) {
        m_foldCapacity = writtenLength + 1 > 2 * m_foldCapacity ? writtenLength + 1 : 2 * m_foldCapacity;
        m_fold = static_cast<char*>(Grown(m_fold, m_foldCapacity));
    }
    char* const folded = m_fold;
    const size_t length = Fold(written, writtenLength, folded);
    const char* const serial = folded;
    const uint32_t hash = Hash(serial, length);
    const size_t slot = Slot(serial, length, hash);
    if (m_slots[slot] != 0) return m_entries[m_slots[slot] - 1];
    if (2 * (m_entryCount + 1) > m_slotCount) Resize(2 * m_slotCount);  // a ledger denser than most
    Entry& entry = m_entries[m_entryCount];
    entry.serial = {static_cast<uint32_t>(Keep(serial, length)), static_cast<uint32_t>(length)};
    entry.hash = hash;
    entry.seen = false;
    entry.given = entry.reserved = entry.givenLine = entry.reservedLine = 0;
    entry.givenTime = {0, 0};
    entry.watched = entry.readBack = false;
    for (size_t i = 0; i < m_watchedCount; ++i)
        entry.watched = entry.watched || (m_watched[i].GetLength() == static_cast<int>(length) &&
                                          std::memcmp(m_watched[i].GetString(), serial, length) == 0);
    // Not there yet, so the probe ends at a free slot.
    m_slots[Slot(serial, length, hash)] = static_cast<uint32_t>(++m_entryCount);
    return entry;
}

void Ledger::Resize(size_t slotCount)
{
    std::free(m_slots);
    m_slotCount = slotCount;
    m_slots = static_cast<uint32_t*>(Grown(nullptr, m_slotCount * sizeof *m_slots));
    std::memset(m_slots, 0, m_slotCount * sizeof *m_slots);
    for (size_t i = 0; i < m_entryCount; ++i) {
        size_t at = m_entries[i].hash & (m_slotCount - 1);
        while (m_slots[at] != 0) at = (at + 1) & (m_slotCount - 1);
        m_slots[at] = static_cast<uint32_t>(i + 1);
    }
    m_entries = static_cast<Entry*>(Grown(m_entries, m_slotCount / 2 * sizeof *m_entries));
}

size_t Ledger::Keep(const char* bytes, size_t length)
{
    if (m_textLength + length > m_textCapacity) {
        const size_t needed = m_textLength + length;
        m_textCapacity = needed > 2 * m_textCapacity ? needed : 2 * m_textCapacity;
        m_text = static_cast<char*>(Grown(m_text, m_textCapacity));
    }
    if (length != 0) std::memcpy(m_text + m_textLength, bytes, length);
    m_textLength += length;
    return m_textLength - length;
}

uint32_t Ledger::Kept(size_t line, const Fields& row)
{
    if (m_rowCount == m_rowCapacity) {
        m_rowCapacity *= 2;
        m_rows = static_cast<RowKept*>(Grown(m_rows, m_rowCapacity * sizeof *m_rows));
    }
    const auto span = [&](size_t field) {
        return Span{static_cast<uint32_t>(Keep(row.Bytes(field), row.Length(field))),
                    static_cast<uint32_t>(row.Length(field))};
    };
    RowKept& kept = m_rows[m_rowCount];
    kept.line = static_cast<uint32_t>(line);
    kept.time = span(kTimeField);
    kept.station = span(kStationField);
    kept.serial = span(kNewSerialField);
    kept.record = span(kRecordField);
    kept.failedCode = 0;
    kept.failedLine = 0;
    return static_cast<uint32_t>(++m_rowCount);
}

// Every row takes its serials; how, its event says. Only a provisioned row
// gives a serial out, and only a reserved row reserves one: a failed row
// closes its run's reservation, and any other serial in a row (an old_serial,
// a read-back, an event this build does not know, a failed row with no
// reservation of its own) is seen.
void Ledger::Take(size_t line, const Fields& row)
{
    Entry& old = Insert(row.Bytes(kOldSerialField), row.Length(kOldSerialField));
    old.seen = true;
    if (row.Is(kEventField, kEventSeen)) old.readBack = true;
    Entry& entry = Insert(row.Bytes(kNewSerialField), row.Length(kNewSerialField));
    const auto same = [&](Span kept, size_t field) {
        return kept.length == row.Length(field) &&
               (kept.length == 0 || std::memcmp(m_text + kept.offset, row.Bytes(field), kept.length) == 0);
    };
    if (row.Is(kEventField, kEventProvisioned)) {
        if (entry.givenLine == 0) {
            entry.givenLine = static_cast<uint32_t>(line);
            entry.givenTime = {static_cast<uint32_t>(Keep(row.Bytes(kTimeField), row.Length(kTimeField))),
                               static_cast<uint32_t>(row.Length(kTimeField))};
            if (entry.watched) entry.given = Kept(line, row);
        }
    } else if (row.Is(kEventField, kEventReserved)) {
        if (entry.reservedLine == 0) {
            entry.reservedLine = static_cast<uint32_t>(line);
            if (entry.watched) entry.reserved = Kept(line, row);
        }
    } else if (row.Is(kEventField, kEventFailed) && entry.reservedLine != 0 && !entry.watched) {
        // Taken either way; whose run it closed matters for a watched serial only.
    } else if (row.Is(kEventField, kEventFailed) && entry.reserved != 0 && m_rows[entry.reserved - 1].failedLine == 0 &&
               same(m_rows[entry.reserved - 1].serial, kNewSerialField) &&
               same(m_rows[entry.reserved - 1].station, kStationField) &&
               same(m_rows[entry.reserved - 1].record, kRecordField)) {
        RowKept& reserved = m_rows[entry.reserved - 1];
        reserved.failedLine = static_cast<uint32_t>(line);
        int code = 0;
        for (size_t i = 0; i < row.Length(kExitCodeField) && code < 1000; ++i) {
            const char c = row.Bytes(kExitCodeField)[i];
            code = c >= '0' && c <= '9' ? code * 10 + (c - '0') : 1000;
        }
        reserved.failedCode = code < 1000 ? code : -1;
    } else {
        entry.seen = true;
    }
}

LedgerEntryRow Ledger::Row(uint32_t kept) const
{
    LedgerEntryRow row;
    if (kept == 0) return row;
    const RowKept& k = m_rows[kept - 1];
    const auto text = [&](Span span) { return CString(m_text + span.offset, span.length); };
    row.line = k.line;
    row.time = text(k.time);
    row.station = text(k.station);
    row.serial = text(k.serial);
    row.record = text(k.record);
    row.failedCode = k.failedCode;
    row.failedLine = k.failedLine;
    return row;
}

bool Ledger::History(const CString& serial, SerialHistory& history) const
{
    history = SerialHistory();
    const Entry* entry = Find(serial);
    if (entry == nullptr) return false;
    history.given = Row(entry->given);
    history.given.line = entry->givenLine;
    history.given.time = CString(m_text + entry->givenTime.offset, entry->givenTime.length);
    history.reserved = Row(entry->reserved);
    history.reserved.line = entry->reservedLine;
    history.seen = entry->seen;
    history.readBack = entry->readBack;
    return true;
}

bool Ledger::GivenOut(const CString& serial, size_t& line, CString& time) const
{
    SerialHistory history;
    if (!History(serial, history) || history.given.line == 0) return false;
    line = history.given.line;
    time = history.given.time;
    return true;
}

bool Ledger::Seen(const CString& serial) const
{
    const Entry* entry = Find(serial);
    return entry != nullptr && entry->seen;
}

size_t Ledger::FirstFree(const CString* candidates, size_t count) const
{
    for (size_t i = 0; i < count; ++i)
        if (!Taken(candidates[i])) return i;
    return count;
}
