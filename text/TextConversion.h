// Texts cross to UTF-16 here, for windows and the console. The program's
// texts are code page 936 bytes; the code page is named explicitly rather
// than taken from the system (CP_ACP), so Chinese comes out right on any
// locale. Files, pipes and the ledger take UTF-8. Windows only.
#pragma once

#include <cstddef>

#include "text/CString.h"
#include "text/WideString.h"

constexpr unsigned kTextCodePage = 936;

// Bytes to UTF-16 for showing. A byte that does not begin a valid code page
// 936 character shows as U+FFFD; the characters around it still show.
CWideString Cp936ToWide(const char* bytes, size_t length);
inline CWideString Cp936ToWide(const CString& bytes)
{
    return Cp936ToWide(bytes.GetString(), static_cast<size_t>(bytes.GetLength()));
}

// UTF-16 to bytes, exactly or not at all: false (and `bytes` empty) when a
// character has no code page 936 form of its own. The system would otherwise
// put "?" or a look-alike in its place, and those bytes would reach the device.
bool WideToCp936(const CWideString& text, CString& bytes);

// UTF-16 to UTF-8 and back, for files, pipes and the ledger. Nothing is
// refused: an unpaired surrogate, or bytes that are not UTF-8, become U+FFFD.
CString WideToUtf8(const CWideString& text);
CWideString Utf8ToWide(const CString& utf8);
