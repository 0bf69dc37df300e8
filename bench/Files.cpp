#include "bench/Files.h"

#include <windows.h>

#include "bench/Fail.h"

namespace bench {

bool FileBytes(const std::wstring& path, std::vector<unsigned char>& bytes)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(file, &size) && size.QuadPart < (64 << 20);
    if (ok) {
        bytes.resize(size_t(size.QuadPart));
        DWORD read = 0;
        ok = bytes.empty() || (ReadFile(file, bytes.data(), DWORD(bytes.size()), &read, nullptr) && read == bytes.size());
    }
    CloseHandle(file);
    return ok;
}

void PutFile(const std::wstring& path, const void* bytes, size_t length, const char* what)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    // Flushed, as a station leaves the ledger: otherwise the provision run's
    // own flush would write the reset copy out too, and be timed for it.
    const bool ok = file != INVALID_HANDLE_VALUE && WriteFile(file, bytes, DWORD(length), &written, nullptr) &&
                    written == length && FlushFileBuffers(file);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (!ok) Fail("cannot write %s (error %lu)", what, GetLastError());
}

}  // namespace bench
