// The suffixes provision may give out, as `FIRST-LAST`: two characters of
// 0-9 and A-Z at each end. Both ends digits: the decimal numbers between them
// (09-11 is 09, 10, 11). Otherwise base 36 with 0-9 then A-Z at each place
// (AY-B1 is AY, AZ, B0, B1). Lowest first.
#pragma once

#include <cstddef>

class SuffixPool {
public:
    // The default pool, 01-99.
    SuffixPool() = default;

    size_t Count() const { return m_count; }
    // The suffix at `index` (below Count()), its two characters in `suffix`.
    void At(size_t index, char suffix[2]) const;

    friend bool ParseSuffixPool(const char* text, SuffixPool& pool, const char*& reason);

private:
    bool m_decimal = true;
    unsigned m_first = 1;
    size_t m_count = 99;
};

// Reads `text` into `pool`. False with a short English reason for a text not
// of that form or a pool whose first end comes after its last; `pool` is then
// as it was.
bool ParseSuffixPool(const char* text, SuffixPool& pool, const char*& reason);
