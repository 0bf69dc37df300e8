// How varnock-cli words things: numbers, quoted arguments, serials, JSON
// strings, and the failure lines on stderr.
#pragma once

#include <cstddef>
#include <cstdint>

#include "text/CString.h"
#include "text/TextConversion.h"
#include "text/WideString.h"

// A message's pieces, texts and numbers, joined.
template <class... Pieces>
CWideString Words(const Pieces&... pieces)
{
    CWideString text;
    (text.Append(pieces), ...);
    return text;
}

CWideString Decimal(size_t number);
void AppendHexByte(CWideString& to, uint8_t byte);

bool IsControl(wchar_t c);

// A window text as a person reads it: decoded from code page 936, without the
// line feeds or any other control character.
CWideString Shown(const CString& bytes);

// A serial number's bytes as text, the same every time and never the same
// for two different serials: code page 936 decoded, a backslash as \\, and
// a control byte or one that does not decode as \xHH. The ledger compares
// serials in this form.
CWideString SerialText(const uint8_t* bytes, size_t count);

// An argument in a message, in quotes; control characters would break the
// line, so they show as U+FFFD.
CWideString Quoted(const wchar_t* argument);

// One JSON object on one line, for scripts: its keys in the order given,
// ASCII only, everything else as \u escapes of its UTF-16 units (a
// surrogate pair as two).
class JsonLine {
public:
    JsonLine& Text(const wchar_t* key, const CWideString& value);
    JsonLine& Number(const wchar_t* key, size_t value);
    JsonLine& Null(const wchar_t* key);
    // The object, closed, and the line's end.
    CWideString Done() const { return Words(m_text, L"}\r\n"); }

private:
    void Key(const wchar_t* key);
    CWideString m_text;
};

// A Windows error in Windows' words, its number after them.
CWideString WindowsError(unsigned long error);
CWideString Ascii(const char* text);

// What went wrong: the English line, and the window's message for the same
// failure when there is one.
struct Failure {
    Failure() = default;
    Failure(int failureCode, const CWideString& english, const CString& windowMessage = CString())
        : code(failureCode), what(english), message(windowMessage)
    {
    }

    int code = 0;
    CWideString what;
    CString message;  // code page 936
};

// Prints the failure to stderr; returns its code.
int Fail(const Failure& failure);
int Fail(int code, const CWideString& what, const CString& message = CString());
int UsageError(const CWideString& what);
// The output, whole; when it cannot be written, a message that says what was
// done all the same, and 13.
int Finish(const CWideString& output, const CWideString& whatWasDone);
