// A label template: the line's own ZPL, with ${name} placeholders that are
// filled with one adapter's values. Everything else in it is sent as it is:
// a template may rely on formats the printer keeps. Plain C++, so the tests
// and the fuzzer run it natively.
#pragma once

#include <cstddef>

#include "text/CString.h"

// The placeholders, in the order of LabelValues::text.
enum LabelField : size_t {
    kLabelSerial,
    kLabelOldSerial,
    kLabelHardware,
    kLabelFirmware,
    kLabelReserved,
    kLabelChannels,
    kLabelProduct,
    kLabelTime,
    kLabelStation,
    kLabelLedgerLine,
    kLabelFieldCount,
};

// "serial" for ${serial}, and so on.
extern const char* const kLabelFieldNames[kLabelFieldCount];

// One adapter's values, as UTF-8.
struct LabelValues {
    CString text[kLabelFieldCount];
};

// The longest template read: a label is a few kilobytes, a template with
// downloaded fonts or graphics a few hundred.
constexpr size_t kLongestTemplate = 4u << 20;

class LabelTemplate {
public:
    // Takes a template's bytes (UTF-8, with or without a byte order mark,
    // which is not sent). False for a placeholder that is unknown or not
    // closed, or a $ that begins none, with Problem() saying where.
    bool Parse(const char* bytes, size_t length);
    // The template with `values` in its placeholders. Values go into field
    // data so that none becomes a command: in a field with ^FH, the prefixes,
    // control characters and the hex indicator as hex escapes. False, and
    // `zpl` empty, for a value that cannot go where its placeholder is (a
    // prefix or control character outside a field with ^FH; a character
    // past ASCII without ^CI28 before it), with Problem() saying why.
    bool Fill(const LabelValues& values, CString& zpl);

    // Why the last Parse or Fill refused, in English, with the template's
    // line and column (from 1, in characters).
    const CString& Problem() const { return m_problem; }

private:
    class Output;
    bool Scan(const LabelValues* values, Output* zpl);
    bool Refuse(size_t line, size_t column, const CString& why);

    CString m_text;  // without its byte order mark
    CString m_problem;
};
