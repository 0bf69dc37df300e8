// The writer: one event as one line of the file.
#include <cstring>

#include "ledger/Columns.h"
#include "ledger/Utf8.h"

namespace {

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

}  // namespace

bool LedgerRowText(const LedgerRow& row, size_t columns, CString& text)
{
    if (columns < kKnownColumns) columns = kKnownColumns;
    text.Empty();
    size_t length = columns - 1 + 2;  // the commas and CRLF; a later build's columns are left empty
    for (const LedgerColumn& column : kLedgerColumns) {
        const CString& field = row.*column.row;
        if (!Storable(field)) return false;
        length += FieldLength(field);
    }
    // Built in one buffer: CString's += copies the whole text each time.
    char* line = static_cast<char*>(Grown(nullptr, length));
    char* out = line;
    for (size_t i = 0; i < columns; ++i) {
        if (i != 0) *out++ = ',';
        if (i < kKnownColumns) out = PutField(out, row.*kLedgerColumns[i].row);
    }
    *out++ = '\r';
    *out++ = '\n';
    text = CString(line, length);
    std::free(line);
    return true;
}

bool SetLedgerRowField(LedgerRow& row, size_t index, const char* bytes, size_t length)
{
    if (index >= kKnownColumns) return false;
    row.*kLedgerColumns[index].row = CString(bytes, length);
    return true;
}
