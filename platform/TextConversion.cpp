#include "platform/TextConversion.h"

#include <windows.h>

#include <utility>

namespace {

constexpr wchar_t kReplacementCharacter = 0xFFFD;

// Decodes all of `bytes` or nothing: false when any byte sequence is invalid.
bool DecodeStrict(std::string_view bytes, std::wstring& text)
{
    text.clear();
    if (bytes.empty())
        return true;
    const int length = static_cast<int>(bytes.size());
    const int needed = MultiByteToWideChar(kTextCodePage, MB_ERR_INVALID_CHARS, bytes.data(), length, nullptr, 0);
    if (needed <= 0)
        return false;
    text.resize(static_cast<size_t>(needed));
    MultiByteToWideChar(kTextCodePage, MB_ERR_INVALID_CHARS, bytes.data(), length, text.data(), needed);
    return true;
}

}  // namespace

std::wstring Cp936ToWide(std::string_view bytes)
{
    std::wstring text;
    if (DecodeStrict(bytes, text))
        return text;

    // One bad byte makes the system refuse the whole text, so go character by
    // character: a lead byte with its trail byte, or a single byte.
    std::wstring piece;
    size_t i = 0;
    while (i < bytes.size()) {
        const bool lead = IsDBCSLeadByteEx(kTextCodePage, static_cast<BYTE>(bytes[i])) != 0;
        if (lead && i + 1 < bytes.size() && DecodeStrict(bytes.substr(i, 2), piece)) {
            text += piece;
            i += 2;
        } else if (!lead && DecodeStrict(bytes.substr(i, 1), piece)) {
            text += piece;
            i += 1;
        } else {
            text += kReplacementCharacter;
            i += 1;  // the next byte may start a character of its own
        }
    }
    return text;
}

bool WideToCp936(std::wstring_view text, std::string& bytes)
{
    bytes.clear();
    if (text.empty())
        return true;
    const int length = static_cast<int>(text.size());
    // WC_NO_BEST_FIT_CHARS keeps look-alikes ("À" as "à") out; a character
    // with no form at all sets usedDefault.
    BOOL usedDefault = FALSE;
    const int needed = WideCharToMultiByte(kTextCodePage, WC_NO_BEST_FIT_CHARS, text.data(), length, nullptr, 0,
                                           nullptr, &usedDefault);
    if (needed <= 0 || usedDefault)
        return false;
    std::string converted(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(kTextCodePage, WC_NO_BEST_FIT_CHARS, text.data(), length, converted.data(), needed, nullptr,
                        &usedDefault);
    // The bytes must read back as the very text typed, whatever the flags did.
    std::wstring back;
    if (usedDefault || !DecodeStrict(converted, back) || back != text)
        return false;
    bytes = std::move(converted);
    return true;
}
