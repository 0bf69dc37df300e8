// Helpers for the virtual adapter's tests: environment variables set the way
// the adapter reads them (the W API on Windows), a scratch folder per test,
// whole-file access and a few known records.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "device/QelvoCan.h"

namespace adaptertest {

namespace fs = std::filesystem;
using Bytes = std::array<uint8_t, sizeof(DeviceInfo)>;

#ifdef _WIN32
inline std::wstring Wide(const char* ascii) { return std::wstring(ascii, ascii + std::strlen(ascii)); }
inline void SetEnv(const char* name, const fs::path& value) { SetEnvironmentVariableW(Wide(name).c_str(), value.c_str()); }
inline void UnsetEnv(const char* name) { SetEnvironmentVariableW(Wide(name).c_str(), nullptr); }
inline std::optional<fs::path> GetEnv(const char* name)
{
    wchar_t value[32768];
    SetLastError(ERROR_SUCCESS);
    const DWORD n = GetEnvironmentVariableW(Wide(name).c_str(), value, 32768);
    if (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    return fs::path(std::wstring(value, n));
}
#else
inline void SetEnv(const char* name, const fs::path& value) { setenv(name, value.c_str(), 1); }
inline void UnsetEnv(const char* name) { unsetenv(name); }
inline std::optional<fs::path> GetEnv(const char* name)
{
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return fs::path(value);
}
#endif

// Sets (or unsets) a variable for one scope and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<fs::path> value) : m_name(name), m_old(GetEnv(name))
    {
        if (value) SetEnv(name, *value);
        else UnsetEnv(name);
    }
    ~ScopedEnv()
    {
        if (m_old) SetEnv(m_name, *m_old);
        else UnsetEnv(m_name);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    std::optional<fs::path> m_old;
};

inline const char* const kAdapterVariables[] = {
    "VADAPTER_IMAGE", "VADAPTER_ABSENT", "VADAPTER_FAIL_READ", "VADAPTER_FAIL_READ_GARBAGE",
    "VADAPTER_FAIL_WRITE", "VADAPTER_FAIL_RESULT", "VADAPTER_DELAY_MS", "VADAPTER_LOG",
    "VADAPTER_WRITE_STORES_OTHER", "VADAPTER_WRITE_STORES_OTHER_BYTE", "VADAPTER_FAIL_READ_AFTER_WRITE",
    "VADAPTER_ABORT_AFTER_WRITE",
};

inline void ClearAdapterVariables()
{
    for (const char* name : kAdapterVariables) UnsetEnv(name);
}

// A fresh empty folder, removed with everything in it at the end.
class ScratchFolder {
public:
    explicit ScratchFolder(const fs::path& parent = fs::temp_directory_path())
    {
        std::random_device random;
        m_path = parent / ("vadapter-test-" + std::to_string(random()) + std::to_string(random()));
        fs::create_directories(m_path);
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const fs::path& Path() const { return m_path; }

private:
    fs::path m_path;
};

inline std::vector<uint8_t> FileBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const fs::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline Bytes BytesOf(const DeviceInfo& info)
{
    Bytes bytes;
    std::memcpy(bytes.data(), &info, bytes.size());
    return bytes;
}

inline std::vector<uint8_t> VectorOf(const DeviceInfo& info)
{
    const Bytes bytes = BytesOf(info);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

inline DeviceInfo RecordOf(const std::vector<uint8_t>& bytes)
{
    DeviceInfo info;
    std::memcpy(&info, bytes.data(), sizeof info);
    return info;
}

// The record a new adapter has, spelled out field by field.
inline DeviceInfo FactoryRecord()
{
    DeviceInfo info{};
    info.hardwareVersion[0] = 0x00;
    info.hardwareVersion[1] = 0x02;
    info.firmwareVersion[0] = 0x13;
    info.firmwareVersion[1] = 0x02;
    info.reservedValue[0] = 0xFF;
    info.reservedValue[1] = 0xFF;
    info.channelCount = 2;
    std::memcpy(info.serialNumber, "VN240017", 8);
    std::memcpy(info.productName, "Virtual CAN\0\0\0\0\0", 16);
    return info;
}

// Two records that differ in every byte, so that any mix of them shows.
inline DeviceInfo RecordA()
{
    std::vector<uint8_t> bytes(sizeof(DeviceInfo));
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i + 1);
    return RecordOf(bytes);
}

inline DeviceInfo RecordB()
{
    std::vector<uint8_t> bytes(sizeof(DeviceInfo));
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(0xF0 - i);
    return RecordOf(bytes);
}

inline DeviceResult Open() { return DeviceOpen(DEVICE_TYPE_ADAPTER, DEVICE_INDEX_FIRST, 0); }
inline DeviceResult Read(DeviceInfo& info) { return DeviceInfoRead(DEVICE_TYPE_ADAPTER, DEVICE_INDEX_FIRST, &info); }
inline DeviceResult Write(DeviceInfo info) { return DeviceInfoWrite(DEVICE_TYPE_ADAPTER, DEVICE_INDEX_FIRST, &info); }

// A record with guard bytes on both sides, to catch a library that reaches
// past the 52 bytes.
struct GuardedRecord {
    static constexpr uint8_t kGuard = 0xA5;
    uint8_t before[16];
    DeviceInfo info;
    uint8_t after[16];

    explicit GuardedRecord(uint8_t fill = 0x5A)
    {
        std::memset(before, kGuard, sizeof before);
        std::memset(&info, fill, sizeof info);
        std::memset(after, kGuard, sizeof after);
    }
    bool GuardsIntact() const
    {
        for (size_t i = 0; i < sizeof before; ++i)
            if (before[i] != kGuard || after[i] != kGuard) return false;
        return true;
    }
};
static_assert(sizeof(GuardedRecord) == 16 + 52 + 16, "no padding between guards and record");

}  // namespace adaptertest
