#include "ledger/FoldedSerial.h"

#include <cstdint>
#include <cstring>

#include "ledger/Utf8.h"

namespace {

// The code point at `p` and the bytes it takes; a byte that starts no
// well-formed sequence stands for itself.
uint32_t CodePoint(const unsigned char* p, size_t available, size_t& length)
{
    size_t missing;
    length = p[0] < 0x80 ? 1 : Utf8Length(p, available, missing);
    if (length <= 1) {
        length = 1;
        return p[0];
    }
    uint32_t c = p[0] & (0xFF >> (length + 1));
    for (size_t i = 1; i < length; ++i) c = c << 6 | (p[i] & 0x3F);
    return c;
}

// What a person does not see, or sees as a gap: every space and line
// break, and every character Unicode says to ignore where it cannot be shown
// (zero-width ones, direction marks, variation selectors, fillers, tags).
bool Invisible(uint32_t c)
{
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0xAD || c == 0x034F ||
           c == 0x061C || c == 0x115F || c == 0x1160 || c == 0x1680 || c == 0x17B4 || c == 0x17B5 ||
           (c >= 0x180B && c <= 0x180F) || (c >= 0x2000 && c <= 0x200F) || (c >= 0x2028 && c <= 0x202F) ||
           (c >= 0x205F && c <= 0x206F) || c == 0x3000 || c == 0x3164 || (c >= 0xFE00 && c <= 0xFE0F) ||
           c == 0xFEFF || c == 0xFFA0 || (c >= 0x1BCA0 && c <= 0x1BCA3) || (c >= 0x1D173 && c <= 0x1D17A) ||
           (c >= 0xE0000 && c <= 0xE0FFF);
}

}  // namespace

size_t FoldSerial(const char* bytes, size_t length, char* out)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    size_t n = 0;
    for (size_t i = 0; i < length;) {
        // Most serials are plain ASCII: no decoding for such a byte.
        if (p[i] < 0x80) {
            const unsigned char c = p[i++];
            if (c != ' ' && (c < 0x09 || c > 0x0D))
                out[n++] = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
            continue;
        }
        size_t taken;
        uint32_t c = CodePoint(p + i, length - i, taken);
        if (c >= 0xFF01 && c <= 0xFF5E) c -= 0xFEE0;  // full-width forms
        if (!Invisible(c)) {
            if (c < 0x80)
                out[n++] = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
            else
                for (size_t k = 0; k < taken; ++k) out[n++] = static_cast<char>(p[i + k]);
        }
        i += taken;
    }
    // A spreadsheet's text form, ="VN240001".
    while (n >= 3 && out[0] == '=' && out[1] == '"' && out[n - 1] == '"') {
        std::memmove(out, out + 2, n - 3);
        n -= 3;
    }
    return n;
}

CString FoldedSerial(const char* bytes, size_t length)
{
    char* folded = static_cast<char*>(Grown(nullptr, length));
    const size_t n = FoldSerial(bytes, length, folded);
    CString text(folded, n);
    std::free(folded);
    return text;
}
