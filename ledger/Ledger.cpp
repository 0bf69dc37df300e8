#include "ledger/Ledger.h"

#include <cstdint>

#include "ledger/Reader.h"

const char kEventReserved[] = "reserved";
const char kEventProvisioned[] = "provisioned";
const char kEventFailed[] = "failed";
const char kEventSeen[] = "seen";
const char kEventLabelled[] = "labelled";

namespace {

// A memory block as a source, for callers that hold the whole file.
class MemorySource final : public LedgerSource {
public:
    MemorySource(const char* bytes, size_t length) : m_bytes(bytes), m_left(length) {}
    bool Read(char* buffer, size_t room, size_t& got) override
    {
        got = room < m_left ? room : m_left;
        if (got != 0) std::memcpy(buffer, m_bytes, got);
        m_bytes += got;
        m_left -= got;
        return true;
    }

private:
    const char* m_bytes;
    size_t m_left;
};

// Every row takes its serials; how, its event says. Only a provisioned row
// gives a serial out, and only a reserved row reserves one: a failed row
// closes its run's reservation, and any other serial in a row (an old_serial,
// a read-back, a labelled row's, an event this build does not know, a failed
// row with no reservation of its own) is seen.
void TakeRow(TakenSerials& taken, const ReadRow& row)
{
    taken.NoteSeen(row.Bytes(kOldSerialField), row.Is(kEventField, kEventSeen));
    const TakingRow taking = {row.line, row.Bytes(kTimeField), row.Bytes(kStationField), row.Bytes(kNewSerialField),
                              row.Bytes(kRecordField)};
    if (row.Is(kEventField, kEventProvisioned))
        taken.NoteGivenOut(taking);
    else if (row.Is(kEventField, kEventReserved))
        taken.NoteReserved(taking);
    else if (row.Is(kEventField, kEventFailed))
        taken.NoteFailed(taking, row.Bytes(kExitCodeField));
    else
        taken.NoteSeen(taking.serial, false);
}

}  // namespace

void Ledger::Clear()
{
    m_taken.Clear();
    m_completion.Empty();
    m_nextLine = 0;
    m_header.Empty();
    m_columns = 0;
    m_firstRowLine = 0;
}

bool Ledger::Refuse(size_t line, const char* problem)
{
    m_refused = true;
    m_problem = problem;
    m_problemLine = line;
    return false;
}

bool Ledger::Parse(const char* bytes, size_t length, LedgerFieldSink* fields)
{
    MemorySource source(bytes, length);
    return Parse(source, length, fields);
}

bool Ledger::Parse(LedgerSource& source, size_t sizeHint, LedgerFieldSink* fields)
{
    Clear();
    m_refused = false;
    m_problem.Empty();
    m_problemLine = 0;
    m_readFailed = false;
    if (sizeHint >= UINT32_MAX / 2) return Refuse(1, "too big for a ledger");
    m_taken.Start(sizeHint);
    LedgerReader reader(source, m_taken, TakeRow, fields);
    const bool read = reader.Read();
    if (reader.m_failedLine != 0 || reader.m_tooBig) {
        // Whatever the parse made of the bytes it had, the file is more.
        m_readFailed = !reader.m_tooBig;
        Clear();
        return m_readFailed ? Refuse(reader.m_failedLine, "the file could not be read")
                            : Refuse(1, "too big for a ledger");
    }
    if (!read) {
        Clear();
        return Refuse(reader.m_problemLine, reader.m_problem);
    }
    m_completion = reader.m_completion;
    m_nextLine = reader.m_nextLine;
    m_header = reader.m_header;
    m_columns = reader.m_columns;
    m_firstRowLine = reader.m_firstRowLine;
    return true;
}

bool Ledger::GivenOut(const CString& serial, size_t& line, CString& time) const
{
    SerialHistory history;
    if (!History(serial, history) || history.given.line == 0) return false;
    line = history.given.line;
    time = history.given.time;
    return true;
}

size_t Ledger::FirstFree(const CString* candidates, size_t count) const
{
    for (size_t i = 0; i < count; ++i)
        if (!Taken(candidates[i])) return i;
    return count;
}
