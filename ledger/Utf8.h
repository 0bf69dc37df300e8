// UTF-8 as the ledger takes it: the writer, the reader and the folding of
// serials agree on what a character is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// The bytes a well-formed UTF-8 sequence at `p` takes, or 0. When the
// `available` bytes end inside a sequence that is good so far, 0 and
// `missing` says how many bytes it lacks.
inline size_t Utf8Length(const unsigned char* p, size_t available, size_t& missing)
{
    missing = 0;
    const unsigned char lead = p[0];
    size_t length;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
    } else {
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        if (i == available) {
            missing = length - i;
            return 0;
        }
        const unsigned char lo = i == 1 ? low : 0x80, hi = i == 1 ? high : 0xBF;
        if (p[i] < lo || p[i] > hi) return 0;
    }
    return length;
}

// Out of memory for a ledger that fits in memory: the program cannot go on,
// as TextBuffer decides too.
inline void* Grown(void* block, size_t bytes)
{
    void* grown = std::realloc(block, bytes != 0 ? bytes : 1);
    if (grown == nullptr) std::abort();
    return grown;
}
