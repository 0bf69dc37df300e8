#include "cli/LedgerMemory.h"

#include <windows.h>

#include <cstring>

#include "cli/Report.h"

namespace {

CWideString Hex64(uint64_t value)
{
    CWideString text;
    for (int shift = 56; shift >= 0; shift -= 8)
        AppendHexByte(text, static_cast<uint8_t>(value >> shift));
    return text;
}

}  // namespace

CWideString LedgerMemoryPath(const wchar_t* fullPath)
{
    wchar_t base[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", base, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        length = GetEnvironmentVariableW(L"APPDATA", base, MAX_PATH);  // Windows XP
    if (length == 0 || length >= MAX_PATH)
        return CWideString();
    uint64_t key = 1469598103934665603ull;  // FNV-1a, the path's letters in one case
    for (const wchar_t* c = fullPath; *c != L'\0'; ++c)
        key = (key ^ (*c >= L'a' && *c <= L'z' ? static_cast<wchar_t>(*c - L'a' + L'A') : *c)) * 1099511628211ull;
    return Words(CWideString(base, length), L"\\Varnock\\ledgers\\", Hex64(key), L".txt");
}

// "BYTES CHECK" on the first line, the row on the second.
LedgerMemory LoadLedgerMemory(const CWideString& path)
{
    if (path.IsEmpty())
        return LedgerMemory();
    HANDLE file = CreateFileW(path.GetString(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return LedgerMemory();
    char text[1024];
    DWORD read = 0;
    const bool ok = ReadFile(file, text, sizeof text - 1, &read, nullptr) != 0;
    CloseHandle(file);
    if (!ok)
        return LedgerMemory();
    text[read] = '\0';
    LedgerMemory memory;
    const char* c = text;
    for (; *c >= '0' && *c <= '9' && memory.bytes < kLargestLedger; ++c)
        memory.bytes = memory.bytes * 10 + static_cast<unsigned>(*c - '0');
    if (*c++ != ' ' || memory.bytes == 0 || memory.bytes > kLargestLedger)
        return LedgerMemory();
    for (int i = 0; i < 16; ++i, ++c) {
        const int digit = *c >= '0' && *c <= '9' ? *c - '0' : *c >= 'a' && *c <= 'f' ? *c - 'a' + 10 : -1;
        if (digit < 0)
            return LedgerMemory();
        memory.check = memory.check << 4 | static_cast<uint64_t>(digit);
    }
    if (*c++ != '\r' || *c++ != '\n')
        return LedgerMemory();
    const char* end = static_cast<const char*>(std::memchr(c, '\r', static_cast<size_t>(text + read - c)));
    if (end == nullptr || end[1] != '\n')
        return LedgerMemory();
    // It goes into a message: no control character from it reaches the console.
    const CWideString row = Utf8ToWide(CString(c, static_cast<size_t>(end - c)));
    for (size_t i = 0; i < row.GetLength() && i < 200; ++i)
        memory.row.Append(IsControl(row.GetString()[i]) ? static_cast<wchar_t>(0xFFFD) : row.GetString()[i]);
    memory.known = true;
    return memory;
}

void SaveLedgerMemory(const CWideString& path, const LedgerMemory& memory)
{
    if (path.IsEmpty())
        return;
    const auto create = [&] {
        return CreateFileW(path.GetString(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    HANDLE file = create();
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PATH_NOT_FOUND) {
        // The first time: its folders, those that are there already kept.
        for (size_t i = 3; i < path.GetLength(); ++i) {
            if (path.GetString()[i] == L'\\')
                CreateDirectoryW(CWideString(path.GetString(), i).GetString(), nullptr);
        }
        file = create();
    }
    if (file == INVALID_HANDLE_VALUE)
        return;
    const CString text = WideToUtf8(Words(Decimal(static_cast<size_t>(memory.bytes)), L" ", Hex64(memory.check),
                                          L"\r\n", memory.row, L"\r\n"));
    DWORD written = 0;
    WriteFile(file, text.GetString(), static_cast<DWORD>(text.GetLength()), &written, nullptr);
    CloseHandle(file);
}
