#include "cli/LedgerFile.h"

#include <cwchar>

#include "cli/ExitCodes.h"

namespace {

// A ledger this big has been fed something else; reading it whole would
// only exhaust the memory.
constexpr unsigned long long kLargestLedger = 256ull << 20;

CWideString WhyNotOpened(DWORD error)
{
    switch (error) {
    case ERROR_PATH_NOT_FOUND:
        return Words(L"its folder does not exist (a ledger is created, never its folder)");
    case ERROR_ACCESS_DENIED:
        return Words(L"access is denied (is it a folder, or read-only?)");
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return Words(L"its network folder cannot be reached");
    case ERROR_INVALID_NAME:
        return Words(L"it is not a valid file name");
    default:
        return Words(L"Windows error ", Decimal(error));
    }
}

bool Busy(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

}  // namespace

LedgerFile::~LedgerFile()
{
    if (m_file != INVALID_HANDLE_VALUE) {
        OVERLAPPED whole{};
        UnlockFileEx(m_file, 0, MAXDWORD, MAXDWORD, &whole);
        CloseHandle(m_file);
    }
}

bool LedgerFile::Open(const wchar_t* path, unsigned waitSeconds, Failure& failure)
{
    m_path = CWideString(path, std::wcslen(path));
    const DWORD started = GetTickCount();
    const DWORD patience = waitSeconds * 1000;
    // Stations that start together should not retry in step.
    const DWORD pause = 100 + GetCurrentProcessId() % 50;
    bool locked = false;
    for (;;) {
        DWORD error = 0;
        if (m_file == INVALID_HANDLE_VALUE) {
            // Shared, so that other stations can open it and wait for the lock.
            m_file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (m_file == INVALID_HANDLE_VALUE) {
                error = GetLastError();
                if (!Busy(error)) {
                    failure = {kLedgerUnusable,
                               Words(L"cannot open the ledger ", Quoted(path), L": ", WhyNotOpened(error))};
                    return false;
                }
            } else if (GetFileType(m_file) != FILE_TYPE_DISK) {
                // NUL or a pipe would take every line and keep none.
                failure = {kLedgerUnusable, Words(L"cannot open the ledger ", Quoted(path),
                                                  L": it is a device or a pipe, not a file")};
                return false;
            }
        }
        if (m_file != INVALID_HANDLE_VALUE) {
            OVERLAPPED whole{};
            if (LockFileEx(m_file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD,
                           &whole)) {
                locked = true;
                break;
            }
            error = GetLastError();
            if (!Busy(error) && error != ERROR_IO_PENDING) {
                failure = {kLedgerUnusable, Words(L"cannot lock the ledger ", Quoted(path), L" (Windows error ",
                                                  Decimal(error), L"); stations share it only through its lock")};
                return false;
            }
        }
        if (GetTickCount() - started >= patience)
            break;
        Sleep(pause);
    }
    if (!locked) {
        failure = {kLedgerBusy,
                   Words(L"the ledger ", Quoted(path), L" is busy: another station, or a program that has it open, "
                         L"held it for ", Decimal(waitSeconds), L" s; nothing was done, so try again")};
        return false;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(m_file, &size)) {
        failure = {kLedgerUnusable, Words(L"cannot read the ledger ", Quoted(path), L": Windows error ",
                                          Decimal(GetLastError()))};
        return false;
    }
    m_size = static_cast<unsigned long long>(size.QuadPart);
    return true;
}

bool LedgerFile::Rewind(Failure& failure)
{
    if (m_size > kLargestLedger) {
        failure = {kLedgerUnusable,
                   Words(L"the ledger ", Quoted(m_path.GetString()), L" is over 256 MB, so it is not a ledger")};
        return false;
    }
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
    return true;
}

Failure LedgerFile::ReadFailure() const
{
    return {kLedgerUnusable,
            Words(L"cannot read the ledger ", Quoted(m_path.GetString()), L": Windows error ", Decimal(m_readError))};
}

bool LedgerFile::Append(const CString& bytes, Failure& failure)
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
    ok = ok && FlushFileBuffers(m_file);
    if (!ok) {
        failure = {kLedgerUnusable, Words(L"cannot write to the ledger ", Quoted(m_path.GetString()),
                                          L": Windows error ", Decimal(GetLastError()))};
        return false;
    }
    m_size += length;
    return true;
}
