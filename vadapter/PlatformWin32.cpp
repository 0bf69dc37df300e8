// The virtual adapter's system layer for Windows. Wide (W) calls throughout:
// the environment as it is now, and paths in any script.
#include <atomic>

#include <windows.h>

#include "vadapter/Platform.h"

namespace vadapter {
namespace {

std::wstring Widen(const char* ascii)
{
    std::wstring text;
    for (; *ascii; ++ascii) text += wchar_t(*ascii);
    return text;
}

// Closes the handle on every way out.
class File {
public:
    explicit File(HANDLE handle) : m_handle(handle) {}
    ~File() { if (IsOpen()) CloseHandle(m_handle); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    bool IsOpen() const { return m_handle != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return m_handle; }
    bool Close()
    {
        const HANDLE handle = m_handle;
        m_handle = INVALID_HANDLE_VALUE;
        return CloseHandle(handle) != 0;
    }

private:
    HANDLE m_handle;
};

std::optional<std::wstring> EnvPathW(const wchar_t* name)
{
    // The size, including the terminator, can change between two calls.
    std::wstring value(64, L'\0');
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        const DWORD n = GetEnvironmentVariableW(name, &value[0], DWORD(value.size()));
        if (n == 0) {
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            return std::wstring();
        }
        if (n < value.size()) {
            value.resize(n);
            return value;
        }
        value.resize(n);
    }
}

}  // namespace

std::optional<SysPath> EnvPath(const char* name)
{
    return EnvPathW(Widen(name).c_str());
}

std::optional<std::string> EnvText(const char* name)
{
    const std::optional<std::wstring> wide = EnvPath(name);
    if (!wide) return std::nullopt;
    std::string text;
    for (wchar_t c : *wide) text += c < 0x80 ? char(c) : '?';
    return text;
}

std::optional<SysPath> DefaultImagePath()
{
    const std::optional<std::wstring> local = EnvPathW(L"LOCALAPPDATA");
    if (!local || local->empty()) return std::nullopt;
    const std::wstring folder = *local + L"\\Varnock";
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return std::nullopt;
    return folder + L"\\virtual-adapter.bin";
}

ImageState ReadImage(const SysPath& path, Image& image)
{
    // FILE_SHARE_DELETE lets a writer rename its new image over this one
    // while it is being read.
    File file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsOpen()) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? ImageState::Missing : ImageState::Bad;
    }
    // One byte more than the image, to tell a long file from a good one.
    uint8_t buffer[kImageSize + 1];
    DWORD total = 0;
    while (total < sizeof buffer) {
        DWORD n = 0;
        if (!ReadFile(file.Get(), buffer + total, DWORD(sizeof buffer - total), &n, nullptr)) return ImageState::Bad;
        if (n == 0) break;
        total += n;
    }
    if (total != kImageSize) return ImageState::Bad;
    for (size_t i = 0; i < kImageSize; ++i) image[i] = buffer[i];
    return ImageState::Read;
}

bool InstallImage(const SysPath& path, const Image& image, bool replace)
{
    // Unique within this folder: the process id and a count. A name left by
    // a killed process with the same id is skipped, not reused.
    static std::atomic<unsigned> counter{0};
    std::wstring temp;
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && handle == INVALID_HANDLE_VALUE; ++attempt) {
        temp = path + L".tmp-" + std::to_wstring(GetCurrentProcessId()) + L'-' + std::to_wstring(counter++);
        handle = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    File file(handle);
    if (!file.IsOpen()) return false;
    DWORD written = 0;
    const bool flushed = WriteFile(file.Get(), image.data(), DWORD(image.size()), &written, nullptr) &&
                         written == image.size() && FlushFileBuffers(file.Get());
    const bool closed = file.Close();
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    const bool installed = flushed && closed && MoveFileExW(temp.c_str(), path.c_str(), flags);
    if (!installed) DeleteFileW(temp.c_str());
    return installed;
}

void AppendLine(const SysPath& path, const std::string& line)
{
    File file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsOpen()) return;
    const std::string text = line + '\n';
    DWORD written = 0;
    WriteFile(file.Get(), text.data(), DWORD(text.size()), &written, nullptr);
}

void SleepMilliseconds(uint32_t milliseconds)
{
    Sleep(milliseconds);
}

}  // namespace vadapter
