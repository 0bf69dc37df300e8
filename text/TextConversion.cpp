#include "text/TextConversion.h"

#include <windows.h>

#include <cstdlib>

namespace {

constexpr wchar_t kReplacementCharacter = 0xFFFD;

// Decodes all of `length` bytes into `text`, which has room for `room`
// characters, or nothing: 0 when any byte sequence is invalid (or it does not
// fit), else the number of characters.
int DecodeStrict(const char* bytes, size_t length, wchar_t* text, size_t room)
{
    return MultiByteToWideChar(kTextCodePage, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(length), text,
                               static_cast<int>(room));
}

}  // namespace

CWideString Cp936ToWide(const char* bytes, size_t length)
{
    CWideString text;
    if (length == 0)
        return text;
    // No character of code page 936 takes fewer bytes than UTF-16 units, so
    // the text never needs more room than there are bytes.
    wchar_t* out = text.GetBuffer(length);
    int decoded = DecodeStrict(bytes, length, out, length);
    if (decoded > 0) {
        text.Truncate(static_cast<size_t>(decoded));
        return text;
    }

    // One bad byte makes the system refuse the whole text, so go character by
    // character: a lead byte with its trail byte, or a single byte.
    size_t shown = 0;
    size_t i = 0;
    while (i < length) {
        const bool lead = IsDBCSLeadByteEx(kTextCodePage, static_cast<BYTE>(bytes[i])) != 0;
        const size_t room = length - shown;
        if (lead && i + 1 < length && (decoded = DecodeStrict(bytes + i, 2, out + shown, room)) > 0) {
            shown += static_cast<size_t>(decoded);
            i += 2;
        } else if (!lead && (decoded = DecodeStrict(bytes + i, 1, out + shown, room)) > 0) {
            shown += static_cast<size_t>(decoded);
            i += 1;
        } else {
            out[shown++] = kReplacementCharacter;
            i += 1;  // the next byte may start a character of its own
        }
    }
    text.Truncate(shown);
    return text;
}

bool WideToCp936(const CWideString& text, CString& bytes)
{
    bytes.Empty();
    if (text.IsEmpty())
        return true;
    const int length = static_cast<int>(text.GetLength());
    // WC_NO_BEST_FIT_CHARS keeps look-alikes ("À" as "à") out; a character
    // with no form at all sets usedDefault.
    BOOL usedDefault = FALSE;
    const int needed = WideCharToMultiByte(kTextCodePage, WC_NO_BEST_FIT_CHARS, text.GetString(), length, nullptr,
                                           0, nullptr, &usedDefault);
    if (needed <= 0 || usedDefault)
        return false;
    auto* converted = static_cast<char*>(std::malloc(static_cast<size_t>(needed)));
    if (converted == nullptr)
        return false;
    WideCharToMultiByte(kTextCodePage, WC_NO_BEST_FIT_CHARS, text.GetString(), length, converted, needed, nullptr,
                        &usedDefault);
    // The bytes must read back as the very text typed, whatever the flags did.
    CWideString back;
    const int decoded = DecodeStrict(converted, static_cast<size_t>(needed), back.GetBuffer(text.GetLength()),
                                     text.GetLength());
    const bool exact = !usedDefault && decoded == length && back == text;
    if (exact)
        bytes = CString(converted, static_cast<size_t>(needed));
    std::free(converted);
    return exact;
}

CString WideToUtf8(const CWideString& text)
{
    if (text.IsEmpty())
        return CString();
    const int length = static_cast<int>(text.GetLength());
    const int needed = WideCharToMultiByte(CP_UTF8, 0, text.GetString(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return CString();
    auto* bytes = static_cast<char*>(std::malloc(static_cast<size_t>(needed)));
    if (bytes == nullptr)
        std::abort();
    WideCharToMultiByte(CP_UTF8, 0, text.GetString(), length, bytes, needed, nullptr, nullptr);
    CString utf8(bytes, static_cast<size_t>(needed));
    std::free(bytes);
    return utf8;
}

CWideString Utf8ToWide(const CString& utf8)
{
    const int length = utf8.GetLength();
    CWideString wide;
    if (length == 0)
        return wide;
    const int needed = MultiByteToWideChar(CP_UTF8, 0, utf8.GetString(), length, nullptr, 0);
    if (needed > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.GetString(), length, wide.GetBuffer(static_cast<size_t>(needed)),
                            needed);
    return wide;
}
