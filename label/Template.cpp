#include "label/Template.h"

#include <cstdlib>
#include <cstring>

const char* const kLabelFieldNames[kLabelFieldCount] = {
    "serial", "old_serial", "hardware", "firmware", "reserved", "channels", "product", "time", "station", "ledger_line",
};

namespace {

constexpr char kBom[] = "\xEF\xBB\xBF";

char Upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// What the printer makes of the template so far, as far as a value placed
// here is concerned.
struct Zpl {
    char format = '^', control = '~';  // the prefixes; ^CC and ^CT change them
    bool data = false;     // in a field's data (^FD, ^FV) or a comment (^FX), until the next command
    bool hex = false;      // this field has ^FH: escapes are `indicator` and two hex digits
    char indicator = '_';
    int charset = -1;      // the last ^CI's number; none yet: -1
    bool started = false;  // a ^XA was seen: this is a label

    // A byte in a value that the printer would take for something else.
    bool Special(unsigned char c) const
    {
        return c < 0x20 || c == 0x7F || c == static_cast<unsigned char>(format) ||
               c == static_cast<unsigned char>(control) || c == '^' || c == '~' ||
               (hex && c == static_cast<unsigned char>(indicator));
    }
};

// A command at `at` (its prefix): the state it leaves, and where the next
// command may start (past its own parameter character, for ^CC, ^CT and ^FH).
size_t Command(const CString& text, size_t at, Zpl& zpl)
{
    const size_t length = static_cast<size_t>(text.GetLength());
    const char* t = text.GetString();
    const char a = at + 1 < length ? Upper(t[at + 1]) : '\0';
    const char b = at + 2 < length ? Upper(t[at + 2]) : '\0';
    const char parameter = at + 3 < length ? t[at + 3] : '\0';
    zpl.data = false;
    zpl.started = zpl.started || (a == 'X' && b == 'A');
    if (a == 'F' && (b == 'D' || b == 'V' || b == 'X')) {
        zpl.data = true;
    } else if (a == 'F' && b == 'H') {
        zpl.hex = true;
        zpl.indicator = '_';
        if (parameter > ' ' && parameter != zpl.format && parameter != zpl.control && parameter != 0x7F) {
            zpl.indicator = parameter;
            return at + 4;
        }
    } else if (a == 'F' && b == 'S') {
        zpl.hex = false;
    } else if (a == 'C' && b == 'I') {
        int number = 0;
        size_t i = at + 3;
        for (; i < length && t[i] >= '0' && t[i] <= '9' && number < 1000; ++i)
            number = number * 10 + (t[i] - '0');
        zpl.charset = i > at + 3 ? number : 0;
    } else if (a == 'C' && (b == 'C' || b == 'T') && parameter != '\0') {
        (b == 'C' ? zpl.format : zpl.control) = parameter;
        return at + 4;
    }
    return at + 3;
}

CString Number(size_t n)
{
    CString text;
    text.Format("%lu", static_cast<unsigned long>(n));
    return text;
}

// A value for a message: cut short on a character's boundary, with no
// control character to break the line.
CString Shown(const CString& value)
{
    constexpr int kLongest = 40;
    CString shown("\"");
    int i = 0;
    for (; i < value.GetLength() && (i < kLongest || (value.GetAt(i) & 0xC0) == 0x80); ++i) {
        const unsigned char c = value.GetAt(i);
        const char kept = c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);
        shown += CString(&kept, 1);
    }
    shown += i < value.GetLength() ? "...\"" : "\"";
    return shown;
}

// What a special byte is, for a message: "^", or "a control character (0x0A)".
CString Named(unsigned char c)
{
    if (c < 0x20 || c == 0x7F) {
        CString text;
        text.Format("a control character (0x%02X)", c);
        return text;
    }
    const char kept = static_cast<char>(c);
    return CString(&kept, 1);
}

}  // namespace

// The filled label as it grows, doubling: a template may hold many
// placeholders, and a CString grows by copying itself whole.
class LabelTemplate::Output {
public:
    Output() = default;
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    ~Output() { std::free(m_bytes); }

    void Add(const char* bytes, size_t length)
    {
        if (m_length + length > m_capacity) {
            size_t capacity = m_capacity < 256 ? 256 : m_capacity;
            while (capacity < m_length + length)
                capacity *= 2;
            char* grown = static_cast<char*>(std::realloc(m_bytes, capacity));
            if (grown == nullptr)
                std::abort();
            m_bytes = grown;
            m_capacity = capacity;
        }
        if (length != 0)
            std::memcpy(m_bytes + m_length, bytes, length);
        m_length += length;
    }
    CString Text() const { return m_length == 0 ? CString() : CString(m_bytes, m_length); }

private:
    char* m_bytes = nullptr;
    size_t m_length = 0, m_capacity = 0;
};

bool LabelTemplate::Refuse(size_t line, size_t column, const CString& why)
{
    m_problem = "line " + Number(line) + ", column " + Number(column) + ": " + why;
    return false;
}

bool LabelTemplate::Parse(const char* bytes, size_t length)
{
    const size_t bom = length >= 3 && std::memcmp(bytes, kBom, 3) == 0 ? 3 : 0;
    m_text = CString(bytes + bom, length - bom);
    m_problem.Empty();
    return Scan(nullptr, nullptr);
}

bool LabelTemplate::Fill(const LabelValues& values, CString& zpl)
{
    zpl.Empty();
    m_problem.Empty();
    Output out;
    if (!Scan(&values, &out))
        return false;
    zpl = out.Text();
    return true;
}

// One pass over the template: checks its placeholders and, given values,
// writes it out filled.
bool LabelTemplate::Scan(const LabelValues* values, Output* zpl)
{
    const char* t = m_text.GetString();
    const size_t length = static_cast<size_t>(m_text.GetLength());
    Zpl state;
    size_t line = 1, column = 1;
    size_t commandFrom = 0;  // a prefix before this is a command's parameter
    size_t copied = 0;       // template bytes before this are in `zpl`
    for (size_t i = 0; i < length;) {
        const char c = t[i];
        if ((c == state.format || c == state.control) && i >= commandFrom) {
            commandFrom = Command(m_text, i, state);
            if (state.format == '$' || state.control == '$')
                return Refuse(line, column, "^CC or ^CT makes $ a prefix, but a $ begins a placeholder here; "
                                            "choose another prefix");
        } else if (c == '$' && i < commandFrom) {
            return Refuse(line, column, "a $ inside a command's name or its one-character parameter: a value "
                                        "there would make another command");
        } else if (c == '$') {
            const size_t at = i;
            if (i + 1 < length && t[i + 1] == '$') {
                // "$$" is one dollar sign.
                if (zpl != nullptr)
                    zpl->Add(t + copied, at + 1 - copied);
                copied = i = at + 2;
                column += 2;
                continue;
            }
            if (i + 1 >= length || t[i + 1] != '{')
                return Refuse(line, column, "a $ that begins no placeholder; a dollar sign is written $$");
            size_t end = i + 2;
            while (end < length && t[end] != '}' && t[end] != '\r' && t[end] != '\n')
                ++end;
            if (end >= length || t[end] != '}')
                return Refuse(line, column, "the placeholder is not closed: a } is missing on its line");
            const CString name(t + i + 2, end - i - 2);
            size_t field = 0;
            while (field < kLabelFieldCount && !(name == CString(kLabelFieldNames[field])))
                ++field;
            if (field == kLabelFieldCount) {
                CString known;
                for (size_t k = 0; k < kLabelFieldCount; ++k)
                    known += CString(k == 0 ? "${" : ", ${") + kLabelFieldNames[k] + "}";
                return Refuse(line, column, "unknown placeholder ${" + Shown(name) + "}; the placeholders are " +
                                                known + ", and $$ for a dollar sign");
            }
            if (values != nullptr) {
                const CString& value = values->text[field];
                const CString which = CString("${") + kLabelFieldNames[field] + "} is " + Shown(value);
                zpl->Add(t + copied, at - copied);
                for (int k = 0; k < value.GetLength(); ++k)
                    if (value.GetAt(k) >= 0x80 && state.charset != 28)
                        return Refuse(line, column, which + ", which is not ASCII: a printer reads it as UTF-8 only "
                                                            "after ^CI28, and the template gives none before it; "
                                                            "add ^CI28 after its ^XA");
                for (int k = 0; k < value.GetLength(); ++k) {
                    const unsigned char b = value.GetAt(k);
                    if (!state.Special(b)) {
                        zpl->Add(value.GetString() + k, 1);
                    } else if (state.data && state.hex) {
                        static const char kHex[] = "0123456789ABCDEF";
                        const char escape[3] = {state.indicator, kHex[b >> 4], kHex[b & 0x0F]};
                        zpl->Add(escape, 3);
                    } else {
                        return Refuse(line, column,
                                      which + ", which holds " + Named(b) + ": the printer would take it for a "
                                          "command. " + (state.data ? "Give the field ^FH before its ^FD, as in "
                                                                      "^FH^FD${serial}^FS, and it is sent as a hex "
                                                                      "escape"
                                                                    : "Put the placeholder in a field's data, "
                                                                      "after ^FH^FD"));
                    }
                }
            }
            column += end + 1 - i;
            copied = i = end + 1;
            continue;
        } else if (c == '\n' || (c == '\r' && (i + 1 >= length || t[i + 1] != '\n'))) {
            ++line;
            column = 0;
        }
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++column;
        ++i;
    }
    if (!state.started)
        return Refuse(1, 1, "there is no ^XA in it, so it is no label: a label begins with ^XA and ends with ^XZ");
    if (zpl != nullptr)
        zpl->Add(t + copied, length - copied);
    return true;
}
