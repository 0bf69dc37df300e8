// The ledger file opened, made and locked; LedgerFileIo.cpp reads and
// appends to it.
#include "cli/LedgerFile.h"

#include <cwchar>

#include "cli/DeviceName.h"
#include "cli/ExitCodes.h"

namespace {

CWideString WhyNotOpened(DWORD error)
{
    switch (error) {
    case ERROR_PATH_NOT_FOUND:
        return Words(L"its folder does not exist");
    case ERROR_ACCESS_DENIED:
        return Words(L"access is denied (is it a folder, or read-only?)");
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return Words(L"its network folder cannot be reached");
    case ERROR_INVALID_NAME:
        return Words(L"it is not a valid file name");
    default:
        return WindowsError(error);
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
        Unlock();
        CloseHandle(m_file);
    }
}

// The path as Windows opens it, and where this station keeps what it knows
// of the file.
bool LedgerFile::Resolve(const wchar_t* path, Failure& failure)
{
    m_path = CWideString(path, std::wcslen(path));
    if (DeviceName(path, true)) {
        failure = {kLedgerUnusable, Words(L"the ledger ", Quoted(path), L" names a device, not a file: Windows keeps "
                                          L"names such as CON, NUL, COM1 and LPT1 for devices in every folder")};
        return false;
    }
    const DWORD needed = GetFullPathNameW(path, 0, nullptr, nullptr);
    CWideString full;
    if (needed == 0 || GetFullPathNameW(path, needed, full.GetBuffer(needed), nullptr) == 0) {
        failure = {kLedgerUnusable,
                   Words(L"cannot open the ledger ", Quoted(path), L": ", WhyNotOpened(GetLastError()))};
        return false;
    }
    full = CWideString(full.GetString(), std::wcslen(full.GetString()));
    // Past MAX_PATH only the \\?\ form opens a file, on every Windows.
    const wchar_t* f = full.GetString();
    if (full.GetLength() < MAX_PATH - 12 || (f[0] == L'\\' && f[1] == L'\\' && f[2] == L'?' && f[3] == L'\\'))
        m_fullPath = full;
    else if (f[0] == L'\\' && f[1] == L'\\')
        m_fullPath = Words(L"\\\\?\\UNC\\", f + 2);
    else
        m_fullPath = Words(L"\\\\?\\", f);

    // What this station knows of the file, kept under a name of its own.
    m_memoryPath = LedgerMemoryPath(f);
    m_remembered = LoadLedgerMemory(m_memoryPath);
    return true;
}

bool LedgerFile::Open(const wchar_t* path, Failure& failure)
{
    if (!Resolve(path, failure))
        return false;
    // Shared, so that other stations can open it and wait for the lock.
    m_file = CreateFileW(m_fullPath.GetString(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND && Remembers())
            failure = {kLedgerUnusable,
                       Words(L"no ledger at ", Quoted(path), L", though this station wrote to one there, in its row at ",
                             m_remembered.row, L": it was moved, renamed or deleted, or this is not the share it was "
                             L"on. Find it and name it; never start another in its place, which would give out its "
                             L"serials again. If it is gone for good, delete ", Quoted(m_memoryPath.GetString()),
                             L" and start a new one with --new")};
        else if (error == ERROR_FILE_NOT_FOUND)
            failure = {kLedgerUnusable, Words(L"no ledger at ", Quoted(path),
                                              L": check the path, or start a new one with --new")};
        else if (error == ERROR_PATH_NOT_FOUND)
            failure = {kLedgerUnusable, Words(L"no ledger at ", Quoted(path),
                                              L": its folder does not exist; check the path (is the share there?)")};
        else if (Busy(error))
            failure = {kLedgerBusy, Words(L"the ledger ", Quoted(path), L" is open in a program that lets no one "
                                          L"else in (an editor or a spreadsheet?); close it and try again")};
        else
            failure = {kLedgerUnusable, Words(L"cannot open the ledger ", Quoted(path), L": ", WhyNotOpened(error))};
        return false;
    }
    if (GetFileType(m_file) != FILE_TYPE_DISK) {
        // A pipe would take every line and keep none.
        failure = {kLedgerUnusable,
                   Words(L"cannot open the ledger ", Quoted(path), L": it is a device or a pipe, not a file")};
        return false;
    }
    return true;
}

bool LedgerFile::CheckNew(const wchar_t* path, Failure& failure)
{
    if (!Resolve(path, failure))
        return false;
    if (GetFileAttributesW(m_fullPath.GetString()) != INVALID_FILE_ATTRIBUTES) {
        failure = {kLedgerUnusable, Words(L"--new starts a ledger only where there is none, but ", Quoted(path),
                                          L" is there already; it was left as it is")};
        return false;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) {
        failure = {kLedgerUnusable, Words(L"cannot start a ledger at ", Quoted(path), L": ", WhyNotOpened(error))};
        return false;
    }
    if (Remembers()) {
        failure = {kLedgerUnusable,
                   Words(L"--new would start a ledger at ", Quoted(path), L", where this station wrote to one before, "
                         L"in its row at ", m_remembered.row, L": a new one there would give out that ledger's serials "
                         L"again. Find that ledger; if it is gone for good, delete ", Quoted(m_memoryPath.GetString()),
                         L" and run again")};
        return false;
    }
    return true;
}

bool LedgerFile::Create(Failure& failure)
{
    m_file = CreateFileW(m_fullPath.GetString(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        failure = {kLedgerUnusable,
                   error == ERROR_FILE_EXISTS
                       ? Words(L"--new starts a ledger only where there is none, but another program made ",
                               Quoted(m_path.GetString()), L" meanwhile; it was left as it is")
                       : Words(L"cannot start a ledger at ", Quoted(m_path.GetString()), L": ", WhyNotOpened(error))};
        return false;
    }
    // A new file: what the station knew of an earlier one there is past
    // (its file is overwritten at this run's first row).
    m_remembered = LedgerMemory();
    m_created = true;
    return true;
}

bool LedgerFile::Lock(unsigned waitSeconds, Failure& failure)
{
    const DWORD started = GetTickCount();
    const DWORD patience = waitSeconds * 1000;
    // Stations that start together should not retry in step.
    const DWORD pause = 20 + GetCurrentProcessId() % 30;
    for (;;) {
        OVERLAPPED whole{};
        if (LockFileEx(m_file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole))
            break;
        const DWORD error = GetLastError();
        if (!Busy(error) && error != ERROR_IO_PENDING) {
            failure = {kLedgerUnusable, Words(L"cannot lock the ledger ", Quoted(m_path.GetString()), L": ",
                                              WindowsError(error), L"; stations share it only through its lock")};
            return false;
        }
        if (GetTickCount() - started >= patience) {
            failure = {kLedgerBusy, Words(L"the ledger ", Quoted(m_path.GetString()),
                                          L" is busy: another station, or a program that has it open, held it for ",
                                          Decimal(waitSeconds), L" s; try again")};
            return false;
        }
        Sleep(pause);
    }
    m_locked = true;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(m_file, &size)) {
        failure = {kLedgerUnusable,
                   Words(L"cannot read the ledger ", Quoted(m_path.GetString()), L": ", WindowsError(GetLastError()))};
        return false;
    }
    m_size = static_cast<unsigned long long>(size.QuadPart);
    return true;
}

void LedgerFile::Unlock()
{
    if (!m_locked)
        return;
    OVERLAPPED whole{};
    UnlockFileEx(m_file, 0, MAXDWORD, MAXDWORD, &whole);
    m_locked = false;
}
