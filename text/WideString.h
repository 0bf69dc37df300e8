// A UTF-16 text for what goes to and comes from windows, in a TextBuffer of
// its own rather than a std::wstring, so the program carries none of the C++
// library's string code.
#pragma once

#include <cstddef>
#include <cwchar>

#include "text/TextBuffer.h"

class CWideString {
public:
    CWideString() = default;
    CWideString(const wchar_t* text, size_t length) : m_text(text, length) {}

    size_t GetLength() const { return m_text.Length(); }
    bool IsEmpty() const { return m_text.Length() == 0; }
    // Always terminated, also when empty.
    const wchar_t* GetString() const { return m_text.Text(); }

    // Room for `length` characters (and the terminating zero), to be filled by
    // the caller; the text is then that long. Anything in it before is gone.
    wchar_t* GetBuffer(size_t length) { return m_text.Resize(length); }
    // Cuts the text to its first `length` characters.
    void Truncate(size_t length) { m_text.Truncate(length); }

    void Append(const wchar_t* text, size_t length) { m_text.Append(text, length); }
    void Append(const wchar_t* text) { m_text.Append(text, std::wcslen(text)); }
    void Append(const CWideString& text) { m_text.Append(text.GetString(), text.GetLength()); }
    void Append(wchar_t character) { m_text.Append(&character, 1); }

    friend bool operator==(const CWideString& a, const CWideString& b) { return a.m_text == b.m_text; }

private:
    TextBuffer<wchar_t> m_text;
};
