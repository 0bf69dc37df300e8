// The ledger on disk: one file that stations on a line may share, in a
// network folder too. Whoever holds its lock is the only one reading or
// appending; every appended line is on disk before the call returns.
#pragma once

#include <windows.h>

#include <cstddef>

#include "cli/Report.h"
#include "ledger/Ledger.h"

class LedgerFile final : public LedgerSource {
public:
    LedgerFile() = default;
    LedgerFile(const LedgerFile&) = delete;
    LedgerFile& operator=(const LedgerFile&) = delete;
    ~LedgerFile();  // closing the file releases the lock

    // Opens `path`, creating the file (never its folder) if it is not there,
    // and takes the lock, waiting up to `waitSeconds` for other stations.
    // False with the failure: 9 when busy, 11 otherwise.
    bool Open(const wchar_t* path, unsigned waitSeconds, Failure& failure);

    // Reading from the start again, a piece at a time through Read(): a
    // small buffer reused, rather than the whole file in fresh memory.
    bool Rewind(Failure& failure);
    bool Read(char* buffer, size_t room, size_t& got) override;
    Failure ReadFailure() const;
    unsigned long long Size() const { return m_size; }

    // Appends `bytes` at the end and flushes them to disk.
    bool Append(const CString& bytes, Failure& failure);

    bool Empty() const { return m_size == 0; }

private:
    HANDLE m_file = INVALID_HANDLE_VALUE;
    CWideString m_path;
    unsigned long long m_size = 0;
    DWORD m_readError = 0;
};
