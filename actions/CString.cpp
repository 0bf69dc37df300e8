#include "actions/CString.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

void CString::Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (needed <= 0) {
        va_end(again);
        m_bytes.clear();
        return;
    }
    std::vector<char> buffer(static_cast<size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, again);
    va_end(again);
    m_bytes.assign(buffer.data(), strnlen(buffer.data(), buffer.size()));
}
