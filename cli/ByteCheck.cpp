#include "cli/ByteCheck.h"

#include <cstring>

namespace {

uint64_t Mixed(uint64_t hash, uint64_t word)
{
    hash ^= word;
    hash *= 0xFF51AFD7ED558CCDull;
    return hash ^ (hash >> 32);
}

}  // namespace

void ByteCheck::Block(const unsigned char* block)
{
    for (int lane = 0; lane < 4; ++lane) {
        uint64_t word;
        std::memcpy(&word, block + 8 * lane, 8);
        m_lanes[lane] = Mixed(m_lanes[lane], word);
    }
}

void ByteCheck::Add(const char* bytes, size_t length)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    m_count += length;
    if (m_pendingBytes != 0) {
        const size_t taken = length < 32 - m_pendingBytes ? length : 32 - m_pendingBytes;
        std::memcpy(m_pending + m_pendingBytes, p, taken);
        m_pendingBytes += taken;
        p += taken;
        length -= taken;
        if (m_pendingBytes < 32)
            return;
        Block(m_pending);
        m_pendingBytes = 0;
    }
    for (; length >= 32; p += 32, length -= 32)
        Block(p);
    std::memcpy(m_pending, p, length);
    m_pendingBytes = length;
}

uint64_t ByteCheck::Value() const
{
    uint64_t hash = m_count;
    for (uint64_t lane : m_lanes)
        hash = Mixed(hash, lane);
    for (size_t i = 0; i < m_pendingBytes; ++i)
        hash = Mixed(hash, m_pending[i] | static_cast<uint64_t>(i) << 8);
    hash ^= hash >> 29;
    hash *= 0xC4CEB9FE1A85EC53ull;
    return hash ^ (hash >> 32);
}
