#include "ledger/TakenSerials.h"

#include <cstring>

#include "ledger/FoldedSerial.h"
#include "ledger/Utf8.h"

struct TakenSerials::Entry {
    Span serial;  // folded
    uint32_t hash;
    uint32_t givenLine, reservedLine;  // the first such row's; 0 for none
    Span givenTime;
    // A watched serial's first such rows whole, an index + 1 into m_rows.
    uint32_t given, reserved;
    bool seen, readBack, watched;
};

struct TakenSerials::RowKept {
    uint32_t line;
    Span time, station, serial, record;
    int failedCode;
    uint32_t failedLine;  // 0: not closed by a failed row
};

namespace {

uint32_t Hash(const char* bytes, size_t length)
{
    uint32_t hash = 2166136261u;  // FNV-1a
    for (size_t i = 0; i < length; ++i) {
        hash ^= static_cast<unsigned char>(bytes[i]);
        hash *= 16777619u;
    }
    return hash;
}

}  // namespace

void TakenSerials::Clear()
{
    std::free(m_entries);
    std::free(m_slots);
    std::free(m_text);
    std::free(m_rows);
    std::free(m_fold);
    m_fold = nullptr;
    m_foldCapacity = 0;
    m_entries = nullptr;
    m_slots = nullptr;
    m_text = nullptr;
    m_rows = nullptr;
    m_entryCount = m_slotCount = m_textLength = m_textCapacity = m_rowCount = m_rowCapacity = 0;
}

void TakenSerials::Start(size_t fileSize)
{
    Clear();
    // Room, once, for what a ledger of this size holds: a run writes two
    // rows of some 190 bytes that give out one serial, and the old serials
    // are mostly the factory's few. Growing by copies touches fresh memory
    // again and again (under Wine each big block is new pages), which costs
    // more than the parse. Room for entries and text not used is never
    // touched; every slot is, so the slots are not sized for the worst case.
    size_t slots = 256;
    while (slots < fileSize / 128) slots *= 2;
    Resize(slots);
    m_textCapacity = fileSize / 4 + 64;
    m_text = static_cast<char*>(Grown(nullptr, m_textCapacity));
    m_rowCapacity = 16;
    m_rows = static_cast<RowKept*>(Grown(nullptr, m_rowCapacity * sizeof *m_rows));
}

void TakenSerials::Watch(const CString& serial)
{
    if (m_watchedCount < kMostWatched)
        m_watched[m_watchedCount++] = FoldedSerial(serial.GetString(), static_cast<size_t>(serial.GetLength()));
}

size_t TakenSerials::Slot(const char* serial, size_t length, uint32_t hash) const
{
    size_t slot = hash & (m_slotCount - 1);
    for (; m_slots[slot] != 0; slot = (slot + 1) & (m_slotCount - 1)) {
        const Entry& entry = m_entries[m_slots[slot] - 1];
        if (entry.hash == hash && entry.serial.length == length &&
            (length == 0 || std::memcmp(m_text + entry.serial.offset, serial, length) == 0))
            break;
    }
    return slot;
}

const TakenSerials::Entry* TakenSerials::Find(const CString& serial) const
{
    if (m_slotCount == 0) return nullptr;
    const CString folded = FoldedSerial(serial.GetString(), static_cast<size_t>(serial.GetLength()));
    const size_t length = static_cast<size_t>(folded.GetLength());
    const size_t slot = Slot(folded.GetString(), length, Hash(folded.GetString(), length));
    return m_slots[slot] != 0 ? &m_entries[m_slots[slot] - 1] : nullptr;
}

TakenSerials::Entry& TakenSerials::Insert(FieldBytes written)
{
    if (written.length + 1 > m_foldCapacity) {
        m_foldCapacity = written.length + 1 > 2 * m_foldCapacity ? written.length + 1 : 2 * m_foldCapacity;
        m_fold = static_cast<char*>(Grown(m_fold, m_foldCapacity));
    }
    const char* const serial = m_fold;
    const size_t length = FoldSerial(written.bytes, written.length, m_fold);
    const uint32_t hash = Hash(serial, length);
    const size_t slot = Slot(serial, length, hash);
    if (m_slots[slot] != 0) return m_entries[m_slots[slot] - 1];
    if (2 * (m_entryCount + 1) > m_slotCount) Resize(2 * m_slotCount);  // a ledger denser than most
    Entry& entry = m_entries[m_entryCount];
    entry.serial = Keep({serial, length});
    entry.hash = hash;
    entry.seen = false;
    entry.given = entry.reserved = entry.givenLine = entry.reservedLine = 0;
    entry.givenTime = {0, 0};
    entry.watched = entry.readBack = false;
    for (size_t i = 0; i < m_watchedCount; ++i)
        entry.watched = entry.watched || (m_watched[i].GetLength() == static_cast<int>(length) &&
                                          std::memcmp(m_watched[i].GetString(), serial, length) == 0);
    // Not there yet, so the probe ends at a free slot.
    m_slots[Slot(serial, length, hash)] = static_cast<uint32_t>(++m_entryCount);
    return entry;
}

void TakenSerials::Resize(size_t slotCount)
{
    std::free(m_slots);
    m_slotCount = slotCount;
    m_slots = static_cast<uint32_t*>(Grown(nullptr, m_slotCount * sizeof *m_slots));
    std::memset(m_slots, 0, m_slotCount * sizeof *m_slots);
    for (size_t i = 0; i < m_entryCount; ++i) {
        size_t at = m_entries[i].hash & (m_slotCount - 1);
        while (m_slots[at] != 0) at = (at + 1) & (m_slotCount - 1);
        m_slots[at] = static_cast<uint32_t>(i + 1);
    }
    m_entries = static_cast<Entry*>(Grown(m_entries, m_slotCount / 2 * sizeof *m_entries));
}

TakenSerials::Span TakenSerials::Keep(FieldBytes bytes)
{
    if (m_textLength + bytes.length > m_textCapacity) {
        const size_t needed = m_textLength + bytes.length;
        m_textCapacity = needed > 2 * m_textCapacity ? needed : 2 * m_textCapacity;
        m_text = static_cast<char*>(Grown(m_text, m_textCapacity));
    }
    if (bytes.length != 0) std::memcpy(m_text + m_textLength, bytes.bytes, bytes.length);
    m_textLength += bytes.length;
    return {static_cast<uint32_t>(m_textLength - bytes.length), static_cast<uint32_t>(bytes.length)};
}

uint32_t TakenSerials::Kept(const TakingRow& row)
{
    if (m_rowCount == m_rowCapacity) {
        m_rowCapacity *= 2;
        m_rows = static_cast<RowKept*>(Grown(m_rows, m_rowCapacity * sizeof *m_rows));
    }
    RowKept& kept = m_rows[m_rowCount];
    kept.line = static_cast<uint32_t>(row.line);
    kept.time = Keep(row.time);
    kept.station = Keep(row.station);
    kept.serial = Keep(row.serial);
    kept.record = Keep(row.record);
    kept.failedCode = 0;
    kept.failedLine = 0;
    return static_cast<uint32_t>(++m_rowCount);
}

bool TakenSerials::Same(Span kept, FieldBytes bytes) const
{
    return kept.length == bytes.length &&
           (kept.length == 0 || std::memcmp(m_text + kept.offset, bytes.bytes, kept.length) == 0);
}

void TakenSerials::NoteSeen(FieldBytes serial, bool readBack)
{
    Entry& entry = Insert(serial);
    entry.seen = true;
    if (readBack) entry.readBack = true;
}

void TakenSerials::NoteGivenOut(const TakingRow& row)
{
    Entry& entry = Insert(row.serial);
    if (entry.givenLine != 0) return;
    entry.givenLine = static_cast<uint32_t>(row.line);
    entry.givenTime = Keep(row.time);
    if (entry.watched) entry.given = Kept(row);
}

void TakenSerials::NoteReserved(const TakingRow& row)
{
    Entry& entry = Insert(row.serial);
    if (entry.reservedLine != 0) return;
    entry.reservedLine = static_cast<uint32_t>(row.line);
    if (entry.watched) entry.reserved = Kept(row);
}

void TakenSerials::NoteFailed(const TakingRow& row, FieldBytes exitCode)
{
    Entry& entry = Insert(row.serial);
    // Taken either way; whose run it closed matters for a watched serial only.
    if (entry.reservedLine != 0 && !entry.watched) return;
    RowKept* reserved = entry.reserved != 0 ? &m_rows[entry.reserved - 1] : nullptr;
    if (reserved == nullptr || reserved->failedLine != 0 || !Same(reserved->serial, row.serial) ||
        !Same(reserved->station, row.station) || !Same(reserved->record, row.record)) {
        entry.seen = true;
        return;
    }
    reserved->failedLine = static_cast<uint32_t>(row.line);
    int code = 0;
    for (size_t i = 0; i < exitCode.length && code < 1000; ++i) {
        const char c = exitCode.bytes[i];
        code = c >= '0' && c <= '9' ? code * 10 + (c - '0') : 1000;
    }
    reserved->failedCode = code < 1000 ? code : -1;
}

LedgerEntryRow TakenSerials::Row(uint32_t kept) const
{
    LedgerEntryRow row;
    if (kept == 0) return row;
    const RowKept& k = m_rows[kept - 1];
    const auto text = [&](Span span) { return CString(m_text + span.offset, span.length); };
    row.line = k.line;
    row.time = text(k.time);
    row.station = text(k.station);
    row.serial = text(k.serial);
    row.record = text(k.record);
    row.failedCode = k.failedCode;
    row.failedLine = k.failedLine;
    return row;
}

bool TakenSerials::History(const CString& serial, SerialHistory& history) const
{
    history = SerialHistory();
    const Entry* entry = Find(serial);
    if (entry == nullptr) return false;
    history.given = Row(entry->given);
    history.given.line = entry->givenLine;
    history.given.time = CString(m_text + entry->givenTime.offset, entry->givenTime.length);
    history.reserved = Row(entry->reserved);
    history.reserved.line = entry->reservedLine;
    history.seen = entry->seen;
    history.readBack = entry->readBack;
    return true;
}

bool TakenSerials::Seen(const CString& serial) const
{
    const Entry* entry = Find(serial);
    return entry != nullptr && entry->seen;
}
