#include "ledger/Ledger.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

const char kBom[] = "\xEF\xBB\xBF";
const char kHeader[] = "time,station,event,old_serial,new_serial,hardware,firmware,product,record,exit_code";
const size_t kFields = 10;
const char kLoneCr[] = "a carriage return without a line feed";
const size_t kTimeField = 0, kOldSerialField = 3, kNewSerialField = 4;

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

}  // namespace

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

struct Ledger::Entry {
    uint32_t offset, length;  // the serial in m_text
    uint32_t hash;
    uint32_t givenLine;  // the first row giving it out, 0 for none
    uint32_t timeOffset, timeLength;
    bool seen;
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
        if (m_read >= UINT32_MAX) {  // the entries' 32-bit offsets and lines
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
        if (m_sink == nullptr && index != kTimeField && index != kOldSerialField && index != kNewSerialField) return;
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
        if (index == kTimeField) {
            if (length != 0) std::memcpy(m_time.Room(length), bytes, length);
            m_time.length = length;
        } else if (index == kOldSerialField) {
            m_ledger.Note(bytes, length);
        } else if (index == kNewSerialField) {
            m_ledger.Note(bytes, length, m_rowLine, m_time.bytes, m_time.length);
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
    Scratch m_unquoted, m_time;
    char m_cutCharacter[3] = {};
    size_t m_cutCharacterLength = 0;
};

Ledger::~Ledger() { Clear(); }

void Ledger::Clear()
{
    std::free(m_entries);
    std::free(m_slots);
    std::free(m_text);
    m_entries = nullptr;
    m_slots = nullptr;
    m_text = nullptr;
    m_entryCount = m_slotCount = m_textLength = m_textCapacity = 0;
    m_completion.Empty();
    m_nextLine = 0;
}

bool Ledger::Parse(const char* bytes, size_t length, LedgerFieldSink* fields)
{
    MemorySource source(bytes, length);
    return Parse(source, length, fields);
}

bool Ledger::Parse(LedgerSource& source, size_t sizeHint, LedgerFieldSink* fields)
{
    Clear();
    m_problem = nullptr;
    m_problemLine = 0;
    m_readFailed = false;
    if (sizeHint >= UINT32_MAX) return Refuse(1, "too big for a ledger");
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
        if (entry.hash == hash && entry.length == length &&
            (length == 0 || std::memcmp(m_text + entry.offset, serial, length) == 0))
            break;
    }
    return slot;
}

const Ledger::Entry* Ledger::Find(const CString& serial) const
{
    if (m_slotCount == 0) return nullptr;
    const size_t length = static_cast<size_t>(serial.GetLength());
    const size_t slot = Slot(serial.GetString(), length, Hash(serial.GetString(), length));
    return m_slots[slot] != 0 ? &m_entries[m_slots[slot] - 1] : nullptr;
}

Ledger::Entry& Ledger::Insert(const char* serial, size_t length)
{
    const uint32_t hash = Hash(serial, length);
    const size_t slot = Slot(serial, length, hash);
    if (m_slots[slot] != 0) return m_entries[m_slots[slot] - 1];
    if (2 * (m_entryCount + 1) > m_slotCount) Resize(2 * m_slotCount);  // a ledger denser than most
    Entry& entry = m_entries[m_entryCount];
    entry.offset = static_cast<uint32_t>(Keep(serial, length));
    entry.length = static_cast<uint32_t>(length);
    entry.hash = hash;
    entry.seen = false;
    entry.givenLine = 0;
    entry.timeOffset = entry.timeLength = 0;
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

namespace {

// A serial as a hand edit may leave it: spaces, a no-break space or a byte
// order mark around it, or a spreadsheet's ="..." text form. Such a row still
// names the serial within, so that serial is taken too.
bool Trimmed(const char*& bytes, size_t& length)
{
    static const char* const kPads[] = {" ", "\t", "\xC2\xA0", "\xEF\xBB\xBF"};
    const char* b = bytes;
    size_t n = length;
    for (bool again = true; again;) {
        again = false;
        if (n >= 3 && b[0] == '=' && b[1] == '"' && b[n - 1] == '"') {
            b += 2;
            n -= 3;
            again = true;
        }
        for (const char* pad : kPads) {
            const size_t k = std::strlen(pad);
            if (n >= k && std::memcmp(b, pad, k) == 0) {
                b += k;
                n -= k;
                again = true;
            }
            if (n >= k && std::memcmp(b + n - k, pad, k) == 0) {
                n -= k;
                again = true;
            }
        }
    }
    if (n == length) return false;
    bytes = b;
    length = n;
    return true;
}

}  // namespace

void Ledger::Note(const char* serial, size_t length)
{
    Insert(serial, length).seen = true;
    if (Trimmed(serial, length)) Insert(serial, length).seen = true;
}

void Ledger::Note(const char* serial, size_t length, size_t line, const char* time, size_t timeLength)
{
    for (bool trimmed = false;; trimmed = true) {
        Entry& entry = Insert(serial, length);
        if (entry.givenLine == 0) {
            entry.givenLine = static_cast<uint32_t>(line);
            entry.timeOffset = static_cast<uint32_t>(Keep(time, timeLength));
            entry.timeLength = static_cast<uint32_t>(timeLength);
        }
        if (trimmed || !Trimmed(serial, length)) return;
    }
}

bool Ledger::GivenOut(const CString& serial, size_t& line, CString& time) const
{
    const Entry* entry = Find(serial);
    if (entry == nullptr || entry->givenLine == 0) return false;
    line = entry->givenLine;
    time = CString(m_text + entry->timeOffset, entry->timeLength);
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
