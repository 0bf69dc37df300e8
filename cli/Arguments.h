// A command's arguments, once the command line has been read and checked
// (Options.cpp): each option given once, each value there. The commands
// (Commands.h) take them; nothing here knows the table of options.
#pragma once

#include <cstddef>

// Two names spelled alike (the table's own spellings; what a user typed is
// matched in any case by SameText, Options.h).
inline bool SameName(const wchar_t* a, const wchar_t* b)
{
    for (; *a == *b; ++a, ++b)
        if (*a == L'\0')
            return true;
    return false;
}

// No argument this program takes is longer, but for a path (provision's
// ledger, say); a longer one is a mistake, and is not echoed back whole.
constexpr size_t kLongestArgument = 64;
constexpr size_t kLongestPath = 1024;

struct Arguments {
    // The value of `option`, spelled as the table spells it (L"--json"); a
    // flag's value is its name as typed. Not given: `otherwise`.
    const wchar_t* Value(const wchar_t* option, const wchar_t* otherwise = nullptr) const
    {
        for (size_t i = 0; i < count; ++i)
            if (SameName(names[i], option))
                return values[i];
        return otherwise;
    }
    bool Has(const wchar_t* option) const { return Value(option) != nullptr; }

    static constexpr size_t kMost = 24;
    const wchar_t* command = nullptr;                  // its name, as the table has it
    int (*run)(const Arguments& arguments) = nullptr;  // and what runs it (Commands.h)
    const wchar_t* operand = nullptr;  // what it works on: write-suffix's suffix, provision's ledger
    const wchar_t* names[kMost] = {};  // the options given, as the table spells them
    const wchar_t* values[kMost] = {};
    size_t count = 0;
};
