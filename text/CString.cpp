#include "text/CString.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The length of the formatted text, and the formatting itself. On Windows
// these are the system C runtime's (msvcrt.dll): the standard names would
// link a second printf of the compiler's own into the program.
CSTRING_PRINTF(1, 0) int FormattedLength(const char* format, va_list args)
{
#ifdef _WIN32
    return _vscprintf(format, args);
#else
    return std::vsnprintf(nullptr, 0, format, args);
#endif
}

CSTRING_PRINTF(3, 0) void FormatInto(char* buffer, size_t size, const char* format, va_list args)
{
#ifdef _WIN32
    _vsnprintf(buffer, size, format, args);
#else
    std::vsnprintf(buffer, size, format, args);
#endif
}

}  // namespace

CString::CString(const char* text)
{
    if (text != nullptr)
        m_bytes.Assign(text, std::strlen(text));
}

unsigned char CString::GetAt(int index) const
{
    if (index < 0 || static_cast<size_t>(index) >= m_bytes.Length())
        return 0;
    return static_cast<unsigned char>(m_bytes.Text()[index]);
}

void CString::Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int needed = FormattedLength(format, args);
    va_end(args);
    if (needed <= 0) {
        va_end(again);
        Empty();
        return;
    }
    TextBuffer<char> formatted;
    char* buffer = formatted.Resize(static_cast<size_t>(needed));
    FormatInto(buffer, static_cast<size_t>(needed) + 1, format, again);
    va_end(again);
    buffer[needed] = '\0';
    formatted.Truncate(strnlen(buffer, static_cast<size_t>(needed)));
    m_bytes = static_cast<TextBuffer<char>&&>(formatted);
}
