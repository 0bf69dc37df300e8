#include "ledger/SuffixPool.h"

namespace {

const char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";

// The value of one place, or -1 for anything but 0-9 and A-Z.
int PlaceValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return -1;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

void SuffixPool::At(size_t index, char suffix[2]) const
{
    const unsigned value = m_first + static_cast<unsigned>(index);
    const unsigned base = m_decimal ? 10 : 36;
    suffix[0] = kDigits[value / base];
    suffix[1] = kDigits[value % base];
}

bool ParseSuffixPool(const char* text, SuffixPool& pool, const char*& reason)
{
    const char* const kForm = "a pool is two characters of 0-9 and A-Z at each end, joined by '-' (like 01-99)";
    if (text == nullptr) {
        reason = kForm;
        return false;
    }
    for (int i = 0; i < 5; ++i) {
        // A short text stops here at its terminator.
        const bool ok = i == 2 ? text[i] == '-' : PlaceValue(text[i]) >= 0;
        if (!ok) {
            reason = kForm;
            return false;
        }
    }
    if (text[5] != '\0') {
        reason = kForm;
        return false;
    }

    const bool decimal = IsDigit(text[0]) && IsDigit(text[1]) && IsDigit(text[3]) && IsDigit(text[4]);
    const unsigned base = decimal ? 10 : 36;
    const unsigned first = PlaceValue(text[0]) * base + PlaceValue(text[1]);
    const unsigned last = PlaceValue(text[3]) * base + PlaceValue(text[4]);
    if (first > last) {
        reason = "the pool's first end comes after its last";
        return false;
    }
    pool.m_decimal = decimal;
    pool.m_first = first;
    pool.m_count = last - first + 1;
    return true;
}
