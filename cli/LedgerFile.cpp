#include "cli/LedgerFile.h"

#include <cstring>
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

CWideString WhyNotWritten(DWORD error)
{
    if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL)
        return WindowsError(error);
    return Words(WindowsError(error), L"; is the disk full, or the share gone?");
}

bool Busy(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

wchar_t Upper(wchar_t c)
{
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

// A name Windows gives to a device in every folder: CON, NUL.txt, com1 and
// the like would take every line and keep none, or wait on a port.
bool DeviceName(const wchar_t* path)
{
    const wchar_t* name = path;
    for (const wchar_t* c = path; *c != L'\0'; ++c)
        if (*c == L'\\' || *c == L'/' || *c == L':')
            name = c + 1;
    size_t length = 0;
    while (name[length] != L'\0' && name[length] != L'.')
        ++length;
    while (length > 0 && name[length - 1] == L' ')
        --length;
    const auto is = [&](const wchar_t* device, size_t count) {
        for (size_t i = 0; i < count; ++i)
            if (device[i] == L'\0' || i >= length || Upper(name[i]) != device[i])
                return false;
        return true;
    };
    static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* device : kDevices)
        if (std::wcslen(device) == length && is(device, length))
            return true;
    return length == 4 && (is(L"COM", 3) || is(L"LPT", 3)) && name[3] >= L'1' && name[3] <= L'9';
}

uint64_t Mixed(uint64_t hash, uint64_t word)
{
    hash ^= word;
    hash *= 0xFF51AFD7ED558CCDull;
    return hash ^ (hash >> 32);
}

CWideString Hex64(uint64_t value)
{
    CWideString text;
    for (int shift = 56; shift >= 0; shift -= 8)
        AppendHexByte(text, static_cast<uint8_t>(value >> shift));
    return text;
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
    if (DeviceName(path)) {
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

    // One file a ledger, named by a check of its full path.
    wchar_t base[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", base, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        length = GetEnvironmentVariableW(L"APPDATA", base, MAX_PATH);  // Windows XP
    if (length == 0 || length >= MAX_PATH)
        return true;
    uint64_t key = 1469598103934665603ull;  // FNV-1a, the path's letters in one case
    for (const wchar_t* c = f; *c != L'\0'; ++c) {
        key = (key ^ Upper(*c)) * 1099511628211ull;
    }
    m_memoryPath = Words(CWideString(base, length), L"\\Varnock\\ledgers\\", Hex64(key), L".txt");
    LoadMemory();
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
    m_remembered = Memory();
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
        LoadMemory();
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

bool LedgerFile::Append(const CString& bytes, size_t line, const CWideString& row, Failure& failure)
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

// What the station remembers of a ledger: "BYTES CHECK" on the first line,
// the row it last wrote on the second. Anything else is as good as nothing:
// a safety net must not stop a line by itself.
void LedgerFile::LoadMemory()
{
    m_remembered = Memory();
    if (m_memoryPath.IsEmpty())
        return;
    HANDLE file = CreateFileW(m_memoryPath.GetString(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    char text[1024];
    DWORD read = 0;
    const bool ok = ReadFile(file, text, sizeof text - 1, &read, nullptr) != 0;
    CloseHandle(file);
    if (!ok)
        return;
    text[read] = '\0';
    Memory memory;
    const char* c = text;
    for (; *c >= '0' && *c <= '9' && memory.bytes < kLargestLedger; ++c)
        memory.bytes = memory.bytes * 10 + static_cast<unsigned>(*c - '0');
    if (*c++ != ' ' || memory.bytes == 0 || memory.bytes > kLargestLedger)
        return;
    for (int i = 0; i < 16; ++i, ++c) {
        const int digit = *c >= '0' && *c <= '9' ? *c - '0' : *c >= 'a' && *c <= 'f' ? *c - 'a' + 10 : -1;
        if (digit < 0)
            return;
        memory.check = memory.check << 4 | static_cast<uint64_t>(digit);
    }
    if (*c++ != '\r' || *c++ != '\n')
        return;
    const char* end = static_cast<const char*>(std::memchr(c, '\r', static_cast<size_t>(text + read - c)));
    if (end == nullptr || end[1] != '\n')
        return;
    // It goes into a message: no control character from it reaches the console.
    const CWideString row = Utf8ToWide(CString(c, static_cast<size_t>(end - c)));
    for (size_t i = 0; i < row.GetLength() && i < 200; ++i)
        memory.row.Append(IsControl(row.GetString()[i]) ? static_cast<wchar_t>(0xFFFD) : row.GetString()[i]);
    memory.known = true;
    m_remembered = memory;
}

void LedgerFile::Remember()
{
    if (m_lastRow.IsEmpty())
        return;
    m_remembered.known = true;
    m_remembered.bytes = m_size;
    m_remembered.check = m_check.Value();
    m_remembered.row = m_lastRow;
    if (m_memoryPath.IsEmpty())
        return;
    const auto create = [&] {
        return CreateFileW(m_memoryPath.GetString(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    };
    HANDLE file = create();
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PATH_NOT_FOUND) {
        // The first time: its folders, those that are there already kept.
        for (size_t i = 3; i < m_memoryPath.GetLength(); ++i) {
            if (m_memoryPath.GetString()[i] == L'\\')
                CreateDirectoryW(CWideString(m_memoryPath.GetString(), i).GetString(), nullptr);
        }
        file = create();
    }
    if (file == INVALID_HANDLE_VALUE)
        return;
    const CString text = WideToUtf8(Words(Decimal(static_cast<size_t>(m_size)), L" ", Hex64(m_remembered.check), L"\r\n",
                                    m_remembered.row, L"\r\n"));
    DWORD written = 0;
    WriteFile(file, text.GetString(), static_cast<DWORD>(text.GetLength()), &written, nullptr);
    CloseHandle(file);
}
