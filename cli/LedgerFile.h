// The ledger on disk: one file that stations on a line may share, in a
// network folder too. Whoever holds its lock is the only one reading or
// appending; every appended line is on disk before the call returns.
#pragma once

#include <windows.h>

#include <cstddef>

#include "cli/Report.h"

class LedgerFile {
public:
    LedgerFile() = default;
    LedgerFile(const LedgerFile&) = delete;
    LedgerFile& operator=(const LedgerFile&) = delete;
    ~LedgerFile();  // closing the file releases the lock

    // Opens `path`, creating the file (never its folder) if it is not there,
    // and takes the lock, waiting up to `waitSeconds` for other stations.
    // False with the failure: 9 when busy, 11 otherwise.
    bool Open(const wchar_t* path, unsigned waitSeconds, Failure& failure);

    // The whole file, as it is now (valid until the next call).
    bool ReadAll(const char*& bytes, size_t& length, Failure& failure);

    // Appends `bytes` at the end and flushes them to disk.
    bool Append(const CString& bytes, Failure& failure);

    bool Empty() const { return m_size == 0; }

private:
    HANDLE m_file = INVALID_HANDLE_VALUE;
    CWideString m_path;
    char* m_bytes = nullptr;
    unsigned long long m_size = 0;
};
