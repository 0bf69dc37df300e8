// The bytes of a ledger being read pass through a window that is reused: a
// big ledger in one fresh block costs more in first touches of its pages
// than the parse. The window keeps the field being read, so it grows only
// for a field longer than itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "ledger/Ledger.h"
#include "ledger/Utf8.h"

class ByteWindow {
public:
    explicit ByteWindow(LedgerSource& source) : m_source(source)
    {
        m_p = static_cast<unsigned char*>(Grown(nullptr, m_capacity));
    }
    ~ByteWindow() { std::free(m_p); }
    ByteWindow(const ByteWindow&) = delete;
    ByteWindow& operator=(const ByteWindow&) = delete;

    // Set when the source failed (to the line where), or passed 4 GiB.
    size_t m_failedLine = 0;
    bool m_tooBig = false;

protected:
    // At least `count` bytes from m_at on in the window, unless the file ends
    // (or cannot be read) first. Inlined: it runs at every field and line end.
    [[gnu::always_inline]] bool Have(size_t count) { return m_n - m_at >= count || More(count); }

    bool More(size_t count)
    {
        while (m_n - m_at < count && !m_ended) Fill();
        return m_n - m_at >= count;
    }

    void Fill()
    {
        // The bytes before the field being read are done with (all of them
        // but the header's while it is read).
        const size_t done = m_start < m_keep ? m_start : m_keep;
        if (done != 0) {
            std::memmove(m_p, m_p + done, m_n - done);
            m_n -= done;
            m_at -= done;
            m_start -= done;
        }
        if (m_n == m_capacity) {
            m_capacity *= 2;
            m_p = static_cast<unsigned char*>(Grown(m_p, m_capacity));
        }
        const size_t room = m_capacity - m_n;
        size_t got = 0;
        if (!m_source.Read(reinterpret_cast<char*>(m_p) + m_n, room, got) || got > room) {
            m_failedLine = m_line;
            got = 0;
        }
        m_read += got;
        if (m_read >= UINT32_MAX / 2) {  // the 32-bit offsets into text kept from it
            m_tooBig = true;
            got = 0;
        }
        m_n += got;
        m_ended = got == 0;
    }

    LedgerSource& m_source;
    size_t m_capacity = 64 * 1024;  // a few reads' worth, not the file
    unsigned char* m_p = nullptr;   // the window
    size_t m_n = 0;                 // the bytes in it
    uint64_t m_read = 0;            // all bytes read so far
    bool m_ended = false;           // no more to read
    size_t m_at = 0;
    size_t m_start = 0;             // the field being read (kept in the window)
    size_t m_keep = SIZE_MAX;       // and the bytes from here on (the header's: 0)
    size_t m_line = 1;
};
