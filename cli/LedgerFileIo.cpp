// The ledger read from the start, or from an offset, under its lock, and
// appended to; every byte passes the check the station remembers.
#include <cstdlib>
#include <cstring>

#include "cli/ExitCodes.h"
#include "cli/LedgerFile.h"

namespace {

CWideString WhyNotWritten(DWORD error)
{
    if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL)
        return WindowsError(error);
    return Words(WindowsError(error), L"; is the disk full, or the share gone?");
}

}  // namespace

bool LedgerFile::Rewind(Failure& failure)
{
    if (m_size > kLargestLedger) {
        failure = {kLedgerUnusable,
                   Words(L"the ledger ", Quoted(m_path.GetString()), L" is over 256 MB, so it is not a ledger")};
        return false;
    }
    m_check = ByteCheck();
    m_checkedRemembered = false;
    // Under the lock: another run of this station may have written since.
    if (!m_created)
        m_remembered = LoadLedgerMemory(m_memoryPath);
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(m_file, start, nullptr, FILE_BEGIN)) {
        m_readError = GetLastError();
        failure = ReadFailure();
        return false;
    }
    return true;
}

bool LedgerFile::Read(char* buffer, size_t room, size_t& got)
{
    DWORD read = 0;
    const DWORD piece = room > (1u << 20) ? (1u << 20) : static_cast<DWORD>(room);
    if (!ReadFile(m_file, buffer, piece, &read, nullptr)) {
        m_readError = GetLastError();
        got = 0;
        return false;
    }
    got = read;
    // The check of the first bytes that the station remembers, at their end.
    size_t before = 0;
    if (m_remembered.known && !m_checkedRemembered && m_check.Count() + read >= m_remembered.bytes) {
        before = static_cast<size_t>(m_remembered.bytes - m_check.Count());
        m_check.Add(buffer, before);
        m_checkAtRemembered = m_check.Value();
        m_checkedRemembered = true;
    }
    m_check.Add(buffer + before, read - before);
    return true;
}

Failure LedgerFile::ReadFailure() const
{
    return {kLedgerUnusable,
            Words(L"cannot read the ledger ", Quoted(m_path.GetString()), L": ", WindowsError(m_readError))};
}

bool LedgerFile::CheckNotRewound(Failure& failure) const
{
    if (!m_remembered.known)
        return true;
    const bool shorter = m_size < m_remembered.bytes;
    if (!shorter && m_checkedRemembered && m_checkAtRemembered == m_remembered.check)
        return true;
    failure = {kLedgerUnusable,
               Words(L"the ledger ", Quoted(m_path.GetString()), L" went back in time: it is ",
                     shorter ? L"shorter than" : L"not the same in its first rows as",
                     L" when this station last wrote to it, in its row at ", m_remembered.row,
                     L". An editor may have saved over it, or a backup was restored, and the serials of the rows "
                     L"lost would be given out again. Put the lost rows back (from a copy that has them) and run "
                     L"again; or, once a person has accepted the loss, delete ",
                     Quoted(m_memoryPath.GetString()), L" and run again")};
    return false;
}

bool LedgerFile::ReadFrom(unsigned long long offset, CString& bytes, Failure& failure)
{
    bytes.Empty();
    if (offset > m_size || m_size - offset > kLargestLedger) {
        failure = {kLedgerUnusable, Words(L"the ledger ", Quoted(m_path.GetString()),
                                          L" is shorter than this run left it: someone cut it meanwhile")};
        return false;
    }
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(m_file, at, nullptr, FILE_BEGIN)) {
        m_readError = GetLastError();
        failure = ReadFailure();
        return false;
    }
    const size_t length = static_cast<size_t>(m_size - offset);
    char* buffer = length == 0 ? nullptr : static_cast<char*>(std::malloc(length));
    if (length != 0 && buffer == nullptr)
        std::abort();
    size_t done = 0;
    while (done < length) {
        DWORD got = 0;
        const size_t left = length - done;
        const bool read = ReadFile(m_file, buffer + done, left > (1u << 20) ? (1u << 20) : static_cast<DWORD>(left),
                                   &got, nullptr) != 0;
        if (!read || got == 0) {
            m_readError = read ? ERROR_HANDLE_EOF : GetLastError();
            std::free(buffer);
            failure = ReadFailure();
            return false;
        }
        done += got;
    }
    // The check goes on from where it stands, over the bytes it has not seen.
    const unsigned long long checked = m_check.Count();
    if (checked >= offset && checked <= m_size)
        m_check.Add(buffer + (checked - offset), static_cast<size_t>(m_size - checked));
    if (length != 0)
        bytes = CString(buffer, length);
    std::free(buffer);
    return true;
}

bool LedgerFile::Append(const CString& bytes, size_t line, const CWideString& row, Failure& failure, bool flush)
{
    LARGE_INTEGER end{};
    const char* data = bytes.GetString();
    const DWORD length = static_cast<DWORD>(bytes.GetLength());
    bool ok = SetFilePointerEx(m_file, end, nullptr, FILE_END) != 0;
    for (DWORD done = 0; ok && done < length;) {
        DWORD written = 0;
        ok = WriteFile(m_file, data + done, length - done, &written, nullptr) && written > 0;
        done += written;
    }
    // On disk, not in a cache, before anything is sent to the adapter.
    ok = ok && (!flush || FlushFileBuffers(m_file));
    if (!ok) {
        const DWORD error = GetLastError();
        // A row cut short by a full disk is taken back, where it can be.
        LARGE_INTEGER before{};
        before.QuadPart = static_cast<LONGLONG>(m_size);
        if (SetFilePointerEx(m_file, before, nullptr, FILE_BEGIN))
            SetEndOfFile(m_file);
        failure = {kLedgerUnusable,
                   Words(L"cannot write to the ledger ", Quoted(m_path.GetString()), L": ", WhyNotWritten(error))};
        return false;
    }
    // The check follows the file only when it has seen every byte before.
    const bool whole = m_check.Count() == m_size;
    m_size += length;
    if (whole) {
        m_check.Add(data, length);
        m_lastRow = Words(L"line ", Decimal(line), L" (", row, L")");
    } else {
        m_lastRow = CWideString();
    }
    return true;
}

void LedgerFile::Remember()
{
    if (m_lastRow.IsEmpty())
        return;
    m_remembered.known = true;
    m_remembered.bytes = m_size;
    m_remembered.check = m_check.Value();
    m_remembered.row = m_lastRow;
    SaveLedgerMemory(m_memoryPath, m_remembered);
}

CString RowTime()
{
    SYSTEMTIME now{};
    GetSystemTime(&now);
    CString text;
    text.Format("%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                now.wSecond);
    return text;
}

CString RowStation()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(name, &length) ? WideToUtf8(CWideString(name, length)) : CString();
}

// The row as a line of the ledger, of its `columns`.
bool RowText(const LedgerRow& row, size_t columns, CString& text, Failure& failure)
{
    if (LedgerRowText(row, columns, text))
        return true;
    failure = {kLedgerUnusable,
               Words(L"a field of the ", Ascii(row.event.GetString()), L" row cannot be written to a ledger")};
    return false;
}

CWideString RowWords(const LedgerRow& row)
{
    return Words(Ascii(row.event.GetString()), L" ", Utf8ToWide(row.newSerial), L" at ", Ascii(row.time.GetString()));
}

bool ReadLedger(LedgerFile& file, Ledger& ledger, LedgerFieldSink* fields, Failure& failure)
{
    if (!file.Rewind(failure))
        return false;
    if (ledger.Parse(file, static_cast<size_t>(file.Size()), fields))
        return true;
    if (ledger.ReadFailed())
        failure = file.ReadFailure();
    else
        failure = {kLedgerUnusable, Words(L"the file ", Quoted(file.Path().GetString()), L" is not a ledger, so it "
                                          L"was left as it is: line ", Decimal(ledger.ProblemLine()), L": ",
                                          Ascii(ledger.Problem()))};
    return false;
}

bool ReadAfterOwn(LedgerFile& file, const OwnRows& own, Ledger& others, size_t& line, bool& found, Failure& failure)
{
    found = false;
    CString after;
    const size_t length = static_cast<size_t>(own.bytes.GetLength());
    if (file.Size() >= own.end && !file.ReadFrom(own.end - length, after, failure))
        return false;
    if (static_cast<size_t>(after.GetLength()) < length ||
        std::memcmp(after.GetString(), own.bytes.GetString(), length) != 0)
        return true;
    found = true;
    // The rows after its own are read after the ledger's header, whose lines they do not count.
    const CString tail = own.ledger->Header() + CString(after.GetString() + length, after.GetLength() - length);
    if (!others.Parse(tail.GetString(), static_cast<size_t>(tail.GetLength()))) {
        failure = {kLedgerUnusable, Words(L"the rows other stations appended after line ", Decimal(own.nextLine - 1),
                                          L" are not a ledger's: ", Ascii(others.Problem()))};
        return false;
    }
    line = own.nextLine + others.NextLine() - own.ledger->FirstRowLine();
    return true;
}
