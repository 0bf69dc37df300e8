// Names Windows gives to devices in every folder: CON, NUL.txt, com1 and the
// like. Neither a ledger nor a label may go to one that keeps nothing.
#pragma once

#include <cstddef>

// Whether the last part of `path` names a device: NUL, CON, CONIN$, CONOUT$,
// AUX; and, with `ports`, PRN, COM1-9 and LPT1-9 too (which a label may go to,
// but a ledger may not: they would take every line and keep none, or wait).
inline bool DeviceName(const wchar_t* path, bool ports)
{
    const wchar_t* name = path;
    for (const wchar_t* c = path; *c != L'\0'; ++c)
        if (*c == L'\\' || *c == L'/' || *c == L':')
            name = c + 1;
    size_t length = 0;
    while (name[length] != L'\0' && name[length] != L'.')
        ++length;
    while (length > 0 && name[length - 1] == L' ')
        --length;
    const auto is = [&](const wchar_t* device, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            const wchar_t c = i < length ? name[i] : L'\0';
            if (device[i] == L'\0' || (c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c) != device[i])
                return false;
        }
        return true;
    };
    static const wchar_t* const kKeepNothing[] = {L"CON", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* device : kKeepNothing) {
        size_t count = 0;
        while (device[count] != L'\0')
            ++count;
        if (count == length && is(device, length))
            return true;
    }
    if (!ports)
        return false;
    return (length == 3 && is(L"PRN", 3)) ||
           (length == 4 && (is(L"COM", 3) || is(L"LPT", 3)) && name[3] >= L'1' && name[3] <= L'9');
}
