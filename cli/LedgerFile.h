// The ledger on disk: one file that stations on a line may share, in a
// network folder too. Whoever holds its lock is the only one reading or
// appending; every appended line is on disk before the call returns. The
// station remembers, outside the ledger, how far the ledger reached when it
// last wrote to it, so that a ledger that went back in time is refused.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "cli/ByteCheck.h"
#include "cli/LedgerMemory.h"
#include "cli/Report.h"
#include "ledger/Ledger.h"

class LedgerFile final : public LedgerSource {
public:
    LedgerFile() = default;
    LedgerFile(const LedgerFile&) = delete;
    LedgerFile& operator=(const LedgerFile&) = delete;
    ~LedgerFile();  // closing the file releases the lock

    // Opens the ledger at `path`, which must be there. False with the failure (11).
    bool Open(const wchar_t* path, Failure& failure);
    // For a new ledger at `path`: false (11) when a file is there already or
    // the path cannot hold one. Nothing is created yet.
    bool CheckNew(const wchar_t* path, Failure& failure);
    // Creates the ledger CheckNew approved; false (11) when another file got
    // there first. The station forgets what it knew of an earlier file there.
    bool Create(Failure& failure);

    // Takes the lock, waiting up to `waitSeconds` for other stations, and
    // learns the file's size. False with the failure: 9 when busy, 11 otherwise.
    bool Lock(unsigned waitSeconds, Failure& failure);
    void Unlock();

    // Reading from the start again, a piece at a time through Read(): a
    // small buffer reused, rather than the whole file in fresh memory.
    bool Rewind(Failure& failure);
    bool Read(char* buffer, size_t room, size_t& got) override;
    Failure ReadFailure() const;
    unsigned long long Size() const { return m_size; }
    // After a whole read: false (11) when the ledger is shorter than, or its
    // first rows differ from, what this station last wrote to it.
    bool CheckNotRewound(Failure& failure) const;
    // The bytes from `offset` to the end.
    bool ReadFrom(unsigned long long offset, CString& bytes, Failure& failure);

    // Appends `bytes` at the end and flushes them to disk. Their last row,
    // at `line`, is the station's (`row` says which, for a message). Not
    // flushed (`flush` false) only for a row whose loss costs nothing and
    // that the station will not remember.
    bool Append(const CString& bytes, size_t line, const CWideString& row, Failure& failure, bool flush = true);
    // The station remembers the ledger up to the end of its last append.
    // Once a run, at its end: any state it saved before is a true one too.
    void Remember();

    // The path as typed, for messages.
    const CWideString& Path() const { return m_path; }
    // Whether this station wrote to a ledger at this path before: its last
    // row there, and where it keeps that.
    bool Remembers() const { return m_remembered.known; }
    const CWideString& RememberedRow() const { return m_remembered.row; }
    const CWideString& MemoryPath() const { return m_memoryPath; }

private:
    bool Resolve(const wchar_t* path, Failure& failure);

    HANDLE m_file = INVALID_HANDLE_VALUE;
    bool m_locked = false;
    bool m_created = false;  // by this run
    CWideString m_path;      // as typed
    CWideString m_fullPath;  // as Windows opens it: full, and in the \\?\ form when long
    CWideString m_memoryPath;
    CWideString m_lastRow;  // of the last append, when the check covers the file
    unsigned long long m_size = 0;
    DWORD m_readError = 0;
    // Every byte read or appended since the last Rewind, in order: the file's
    // check so far, and at m_remembered.bytes the check of the bytes then.
    ByteCheck m_check;
    uint64_t m_checkAtRemembered = 0;
    bool m_checkedRemembered = false;
    LedgerMemory m_remembered;
};

// A row's time, now, in UTC (2026-12-09T09:14:03Z), and its station: this
// computer's name, as UTF-8.
CString RowTime();
CString RowStation();

// The whole ledger read from its start, under the lock: false with the
// failure (11) for a file that is not a ledger or cannot be read.
bool ReadLedger(LedgerFile& file, Ledger& ledger, LedgerFieldSink* fields, Failure& failure);
// A row as a line of the ledger, of its `columns`; false (11) for a field no
// ledger line can hold.
bool RowText(const LedgerRow& row, size_t columns, CString& text, Failure& failure);
// "provisioned VN240001 at 2026-12-09T09:14:03Z": a row, for a message.
CWideString RowWords(const LedgerRow& row);

// Rows this station appended: their bytes, where they ended, the line after
// them, and the ledger as read before them (its header, where its rows start).
struct OwnRows {
    const Ledger* ledger = nullptr;
    CString bytes;
    unsigned long long end = 0;
    size_t nextLine = 0;
};
// Under the lock, what other stations appended after `own`, parsed into
// `others`; `line`: where a row appended now starts. `found` false when
// `own` is not where it was (someone saved over the ledger), and nothing is
// read. False with the failure when the rest cannot be read or is no ledger's.
bool ReadAfterOwn(LedgerFile& file, const OwnRows& own, Ledger& others, size_t& line, bool& found, Failure& failure);
