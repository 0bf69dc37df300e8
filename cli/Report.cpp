#include "cli/Report.h"

#include <windows.h>

#include "cli/Console.h"
#include "cli/ExitCodes.h"
#include "text/TextConversion.h"

CWideString Decimal(size_t number)
{
    wchar_t digits[24];
    size_t start = sizeof digits / sizeof digits[0];
    do {
        digits[--start] = static_cast<wchar_t>(L'0' + number % 10);
        number /= 10;
    } while (number != 0);
    return CWideString(digits + start, sizeof digits / sizeof digits[0] - start);
}

void AppendHexByte(CWideString& to, uint8_t byte)
{
    static const wchar_t kDigits[] = L"0123456789abcdef";
    to.Append(kDigits[byte >> 4]);
    to.Append(kDigits[byte & 0x0F]);
}

bool IsControl(wchar_t c)
{
    return c < 0x20 || c == 0x7F;
}

CWideString Shown(const CString& bytes)
{
    const CWideString decoded = Cp936ToWide(bytes);
    CWideString shown;
    for (size_t i = 0; i < decoded.GetLength(); ++i)
        if (!IsControl(decoded.GetString()[i]))
            shown.Append(decoded.GetString()[i]);
    return shown;
}

CWideString SerialText(const uint8_t* bytes, size_t count)
{
    static const wchar_t kDigits[] = L"0123456789ABCDEF";
    CWideString text;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t byte = bytes[i];
        if (byte == '\\') {
            text.Append(L"\\\\");
            continue;
        }
        if (byte >= 0x20 && byte < 0x7F) {
            text.Append(static_cast<wchar_t>(byte));
            continue;
        }
        // A double-byte character whole, or its bytes escaped: greedy from
        // the left, so the same bytes always give the same text.
        wchar_t decoded[2];
        if (byte >= 0x81 && byte <= 0xFE && i + 1 < count &&
            MultiByteToWideChar(kTextCodePage, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(bytes + i), 2,
                                decoded, 2) == 1) {
            text.Append(decoded[0]);
            ++i;
            continue;
        }
        text.Append(L"\\x");
        text.Append(kDigits[byte >> 4]);
        text.Append(kDigits[byte & 0x0F]);
    }
    return text;
}

CWideString Quoted(const wchar_t* argument)
{
    CWideString quoted;
    quoted.Append(L'"');
    for (const wchar_t* c = argument; *c != L'\0'; ++c)
        quoted.Append(IsControl(*c) ? static_cast<wchar_t>(0xFFFD) : *c);
    quoted.Append(L'"');
    return quoted;
}

void JsonLine::Key(const wchar_t* key)
{
    m_text.Append(m_text.IsEmpty() ? L"{\"" : L",\"");
    m_text.Append(key);
    m_text.Append(L"\":");
}

JsonLine& JsonLine::Text(const wchar_t* key, const CWideString& value)
{
    Key(key);
    m_text.Append(L'"');
    for (size_t i = 0; i < value.GetLength(); ++i) {
        const wchar_t c = value.GetString()[i];
        if (c == L'"' || c == L'\\') {
            m_text.Append(L'\\');
            m_text.Append(c);
        } else if (c >= 0x20 && c < 0x7F) {
            m_text.Append(c);
        } else {
            m_text.Append(L"\\u");
            AppendHexByte(m_text, static_cast<uint8_t>(c >> 8));
            AppendHexByte(m_text, static_cast<uint8_t>(c & 0xFF));
        }
    }
    m_text.Append(L'"');
    return *this;
}

JsonLine& JsonLine::Number(const wchar_t* key, size_t value)
{
    Key(key);
    m_text.Append(Decimal(value));
    return *this;
}

JsonLine& JsonLine::Null(const wchar_t* key)
{
    Key(key);
    m_text.Append(L"null");
    return *this;
}

CWideString WindowsError(unsigned long error)
{
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
        reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    CWideString words;
    if (length != 0 && text != nullptr) {
        size_t kept = length;
        while (kept > 0 && (text[kept - 1] == L'\r' || text[kept - 1] == L'\n' || text[kept - 1] == L' ' ||
                            text[kept - 1] == L'.'))
            --kept;
        for (size_t i = 0; i < kept; ++i)
            words.Append(IsControl(text[i]) ? L' ' : text[i]);
        words.Append(L" ");
    }
    if (text != nullptr)
        LocalFree(text);
    return Words(words, L"(Windows error ", Decimal(error), L")");
}

CWideString Ascii(const char* text)
{
    CWideString wide;
    for (const char* c = text; c != nullptr && *c != '\0'; ++c)
        wide.Append(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
    return wide;
}

int Fail(const Failure& failure)
{
    return Fail(failure.code, failure.what, failure.message);
}

int Fail(int code, const CWideString& what, const CString& message)
{
    CWideString text;
    text.Append(L"varnock-cli: ");
    text.Append(what);
    text.Append(L"\r\n");
    if (!message.IsEmpty()) {
        text.Append(Cp936ToWide(message));
        text.Append(L"\r\n");
    }
    // Nowhere left to say it if stderr fails too; the code still tells.
    WriteText(Stream::Err, text);
    return code;
}

int UsageError(const CWideString& what)
{
    return Fail(kUsageError, Words(what, L" (see varnock-cli --help)"));
}

int Finish(const CWideString& output, const CWideString& whatWasDone)
{
    if (WriteText(Stream::Out, output))
        return kSuccess;
    return Fail(kOutputFailed, Words(L"the output could not be written (is the disk full, or the pipe closed?); ",
                                     whatWasDone));
}
