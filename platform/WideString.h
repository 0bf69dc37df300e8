// A UTF-16 text in a buffer of its own (malloc and free), for the texts that
// go to and come from windows. Kept apart from std::wstring so the program
// carries none of the C++ library's string code.
#pragma once

#include <cstddef>

class CWideString {
public:
    CWideString() = default;
    CWideString(const wchar_t* text, size_t length);
    CWideString(const CWideString& other);
    CWideString(CWideString&& other) noexcept;
    CWideString& operator=(const CWideString& other);
    CWideString& operator=(CWideString&& other) noexcept;
    ~CWideString();

    size_t GetLength() const { return m_length; }
    bool IsEmpty() const { return m_length == 0; }
    // Always terminated, also when empty.
    const wchar_t* GetString() const { return m_text != nullptr ? m_text : L""; }

    // Room for `length` characters (and the terminating zero), to be filled by
    // the caller; the text is then that long. Anything in it before is gone.
    wchar_t* GetBuffer(size_t length);
    // Cuts the text to its first `length` characters.
    void Truncate(size_t length);

    void Append(const wchar_t* text, size_t length);
    void Append(wchar_t character) { Append(&character, 1); }

    friend bool operator==(const CWideString& a, const CWideString& b);

private:
    void Free();

    wchar_t* m_text = nullptr;  // m_length characters and a terminating zero, or none
    size_t m_length = 0;
};
