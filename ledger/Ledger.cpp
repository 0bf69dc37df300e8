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

// One pass over the file's bytes: the header, then row after row, each field
// checked byte by byte as it is scanned.
class Ledger::Reader {
public:
    Reader(Ledger& ledger, const char* bytes, size_t length, LedgerFieldSink* sink)
        : m_ledger(ledger), m_p(reinterpret_cast<const unsigned char*>(bytes)), m_n(length), m_sink(sink)
    {
    }

    bool Read()
    {
        if (m_n >= 3 && std::memcmp(m_p, kBom, 3) == 0) m_at = 3;
        const size_t headerLength = sizeof kHeader - 1;
        if (m_n - m_at < headerLength || std::memcmp(m_p + m_at, kHeader, headerLength) != 0)
            return m_ledger.Refuse(1, "the first line is not the ledger's header");
        m_at += headerLength;
        bool done = false;
        if (!LineEnd(kFields, done))
            return m_ledger.Refuse(1, LoneCr() ? kLoneCr : "the first line is not the ledger's header");
        while (!done) {
            if (m_at == m_n) {
                m_ledger.m_nextLine = m_line;
                return true;
            }
            if (m_p[m_at] == '\n') {  // an empty line
                ++m_at;
                ++m_line;
            } else if (m_p[m_at] == '\r' && m_at + 1 < m_n && m_p[m_at + 1] == '\n') {
                m_at += 2;
                ++m_line;
            } else if (!Row(done)) {
                return false;
            }
        }
        return true;
    }

private:
    // One row from its first byte through its line end. `done` when it is
    // the file's cut last row.
    bool Row(bool& done)
    {
        m_rowLine = m_line;
        for (size_t fields = 1;; ++fields) {
            if (fields > kFields) return m_ledger.Refuse(m_rowLine, "a row of more than 10 fields");
            const size_t index = fields - 1;
            size_t start, end;
            bool doubled = false, open = false;
            if (m_at < m_n && m_p[m_at] == '"') {
                start = ++m_at;
                for (;;) {
                    SkipPlain();
                    if (m_at == m_n) {
                        open = true;
                        break;
                    }
                    if (m_p[m_at] == '"') {
                        if (m_at + 1 < m_n && m_p[m_at + 1] == '"') {
                            doubled = true;
                            m_at += 2;
                            continue;
                        }
                        break;
                    }
                    if (!Byte()) return false;
                }
                end = m_at;
                if (!open) {
                    ++m_at;
                    if (m_at < m_n && m_p[m_at] != ',' && m_p[m_at] != '\r' && m_p[m_at] != '\n')
                        return m_ledger.Refuse(m_line, "text after a closing quote");
                }
            } else {
                start = m_at;
                for (;;) {
                    SkipPlain();
                    if (m_at == m_n) break;
                    const unsigned char c = m_p[m_at];
                    if (c == ',' || c == '\r' || c == '\n') break;
                    if (c == '"') return m_ledger.Refuse(m_line, "a quote inside an unquoted field");
                    if (!Byte()) return false;
                }
                end = m_at;
            }

            if (m_at == m_n) {
                // Cut short: this field does not count, those before it do.
                CString completion(m_cutCharacter, m_cutCharacterLength);
                if (open) completion += "\"";
                for (size_t i = fields; i < kFields; ++i) completion += ",";
                m_ledger.m_completion = completion + "\r\n";
                m_ledger.m_nextLine = m_line + 1;
                done = true;
                return true;
            }
            if (m_p[m_at] == ',') {
                Deliver(index, start, end, doubled);
                ++m_at;
                continue;
            }
            if (LoneCr() && m_at + 1 < m_n) return m_ledger.Refuse(m_line, kLoneCr);
            if (fields < kFields) return m_ledger.Refuse(m_rowLine, "a row of fewer than 10 fields");
            Deliver(index, start, end, doubled);
            return LineEnd(fields, done);
        }
    }

    // The line end at m_at after a line of `fields` fields: CRLF or LF, or at
    // the file's end none or a bare CR, which the completion then ends.
    bool LineEnd(size_t fields, bool& done)
    {
        const bool last = m_at == m_n || (m_p[m_at] == '\r' && m_at + 1 == m_n);
        if (last && fields == kFields) {
            m_ledger.m_completion = m_at == m_n ? "\r\n" : "\n";
            m_ledger.m_nextLine = m_line + 1;
            done = true;
            return true;
        }
        if (m_at < m_n && m_p[m_at] == '\n') {
            ++m_at;
        } else if (m_at + 1 < m_n && m_p[m_at] == '\r' && m_p[m_at + 1] == '\n') {
            m_at += 2;
        } else {
            return false;
        }
        ++m_line;
        return true;
    }

    bool LoneCr() const { return m_at < m_n && m_p[m_at] == '\r' && (m_at + 1 == m_n || m_p[m_at + 1] != '\n'); }

    // Most bytes are these; a table keeps the scan over them short.
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
            if (c == '\n' || m_at + 1 == m_n || m_p[m_at + 1] != '\n') ++m_line;
            ++m_at;
            return true;
        }
        if (c == '\t') {
            ++m_at;
            return true;
        }
        if (c == 0) return m_ledger.Refuse(m_line, "a NUL byte");
        if (c < 0x80) return m_ledger.Refuse(m_line, "a control byte");
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
    void Deliver(size_t index, size_t start, size_t end, bool doubled)
    {
        if (m_sink == nullptr && index != kTimeField && index != kOldSerialField && index != kNewSerialField) return;
        const char* bytes = reinterpret_cast<const char*>(m_p) + start;
        size_t length = end - start;
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
    const unsigned char* m_p;
    size_t m_n;
    LedgerFieldSink* m_sink;
    size_t m_at = 0;
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
    m_entryCount = m_entryCapacity = m_slotCount = m_textLength = m_textCapacity = 0;
    m_completion.Empty();
    m_nextLine = 0;
}

bool Ledger::Parse(const char* bytes, size_t length, LedgerFieldSink* fields)
{
    Clear();
    m_problem = nullptr;
    m_problemLine = 0;
    if (length >= UINT32_MAX) return Refuse(1, "too big for a ledger");
    // Room, once, for what a ledger of this size holds: rows of some 250
    // bytes, two serials and a time kept for each. Growing by copies touches
    // fresh memory again and again (under Wine each big block is new pages),
    // which costs more than the parse; room not used is never touched.
    m_entryCapacity = length / 64 + 16;
    m_entries = static_cast<Entry*>(Grown(nullptr, m_entryCapacity * sizeof *m_entries));
    m_textCapacity = length / 4 + 64;
    m_text = static_cast<char*>(Grown(nullptr, m_textCapacity));
    Reader reader(*this, bytes, length, fields);
    if (reader.Read()) return true;
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
    if (m_slotCount != 0) {
        const size_t slot = Slot(serial, length, hash);
        if (m_slots[slot] != 0) return m_entries[m_slots[slot] - 1];
    }
    if (2 * (m_entryCount + 1) > m_slotCount) {
        // At most half full, so probes stay short; everything placed anew.
        std::free(m_slots);
        m_slotCount = m_slotCount == 0 ? 256 : 2 * m_slotCount;
        m_slots = static_cast<uint32_t*>(Grown(nullptr, m_slotCount * sizeof *m_slots));
        std::memset(m_slots, 0, m_slotCount * sizeof *m_slots);
        for (size_t i = 0; i < m_entryCount; ++i) {
            size_t at = m_entries[i].hash & (m_slotCount - 1);
            while (m_slots[at] != 0) at = (at + 1) & (m_slotCount - 1);
            m_slots[at] = static_cast<uint32_t>(i + 1);
        }
    }
    if (m_entryCount == m_entryCapacity) {
        m_entryCapacity = m_entryCapacity == 0 ? 128 : 2 * m_entryCapacity;
        m_entries = static_cast<Entry*>(Grown(m_entries, m_entryCapacity * sizeof *m_entries));
    }
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

void Ledger::Note(const char* serial, size_t length) { Insert(serial, length).seen = true; }

void Ledger::Note(const char* serial, size_t length, size_t line, const char* time, size_t timeLength)
{
    Entry& entry = Insert(serial, length);
    if (entry.givenLine != 0) return;
    entry.givenLine = static_cast<uint32_t>(line);
    entry.timeOffset = static_cast<uint32_t>(Keep(time, timeLength));
    entry.timeLength = static_cast<uint32_t>(timeLength);
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
