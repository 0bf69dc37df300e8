// The virtual adapter: the device library's three operations, working on a
// 52-byte image file that stands in for the adapter's flash. Environment
// variables, read anew at every call, make the adapter absent, make calls fail,
// lie, slow or end the process, and turn on a call log for tests to inspect.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "device/QelvoCan.h"
#include "vadapter/Platform.h"

#ifdef _WIN32
#define VADAPTER_EXPORT  // exported by number only, through the .def file
#else
#define VADAPTER_EXPORT __attribute__((visibility("default")))
#endif

namespace vadapter {
namespace {

static_assert(sizeof(DeviceInfo) == kImageSize, "the image is the record, byte for byte");

constexpr DeviceResult kDefaultFailure = 0;
constexpr uint8_t kGarbage[] = {0xDE, 0xAD, 0xBE, 0xEF};

// Read and write need an open that succeeded in this process, as on the
// real adapter, where the open sets up the USB session.
std::atomic<bool> g_opened{false};
// For VADAPTER_FAIL_READ_AFTER_WRITE: the read-back after a landed write.
std::atomic<bool> g_written{false};
// The byte VADAPTER_WRITE_STORES_OTHER flips unless told another: the
// suffix's last.
constexpr uint32_t kDefaultOtherByte = kSuffixOffset + kSuffixLength - 1;

// The record the adapter leaves the factory with.
Image FactoryImage()
{
    Image image{};                      // all that is not set below is zero
    image[1] = 0x02;                    // hardware V2.0: byte 1 is the major part
    image[2] = 0x13, image[3] = 0x02;   // firmware 0x0213
    image[8] = 0xFF, image[9] = 0xFF;   // no reserved value
    image[10] = 2;                      // channels
    std::memcpy(&image[11], "VN240017", 8);
    std::memcpy(&image[19], "Virtual CAN", 11);
    return image;
}

// Decimal or 0x-hex, all of the text, within 32 bits.
std::optional<uint32_t> ParseNumber(const std::string& text)
{
    unsigned base = 10;
    size_t i = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        i = 2;
    }
    if (i == text.size()) return std::nullopt;
    uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        unsigned digit;
        if (c >= '0' && c <= '9') digit = unsigned(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f') digit = unsigned(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F') digit = unsigned(c - 'A' + 10);
        else return std::nullopt;
        value = value * base + digit;
        if (value > UINT32_MAX) return std::nullopt;
    }
    return uint32_t(value);
}

// Set to anything but "" or "0".
bool EnvFlag(const char* name)
{
    const std::optional<std::string> value = EnvText(name);
    return value && !value->empty() && *value != "0";
}

uint32_t EnvNumber(const char* name, uint32_t fallback)
{
    const std::optional<std::string> value = EnvText(name);
    return value ? ParseNumber(*value).value_or(fallback) : fallback;
}

DeviceResult Failure()
{
    const uint32_t result = EnvNumber("VADAPTER_FAIL_RESULT", kDefaultFailure);
    return result == DEVICE_RESULT_OK ? kDefaultFailure : result;  // a failure never reads as success
}

std::optional<SysPath> ImagePath()
{
    std::optional<SysPath> path = EnvPath("VADAPTER_IMAGE");
    if (path && !path->empty()) return path;
    return DefaultImagePath();
}

void Delay()
{
    if (const uint32_t ms = EnvNumber("VADAPTER_DELAY_MS", 0)) SleepMilliseconds(ms);
}

void Log(const std::string& line)
{
    const std::optional<SysPath> path = EnvPath("VADAPTER_LOG");
    if (path && !path->empty()) AppendLine(*path, line);
}

std::string CallText(const char* operation, uint32_t type, uint32_t index)
{
    return std::string(operation) + ' ' + std::to_string(type) + ' ' + std::to_string(index);
}

// "read 2 0 -> 1 <104 hex digits>"; a null record has no bytes to show.
std::string RecordLine(const char* operation, uint32_t type, uint32_t index, DeviceResult result,
                       const DeviceInfo* info)
{
    std::string line = CallText(operation, type, index) + " -> " + std::to_string(result) + ' ';
    if (!info) return line + "null";
    static const char digits[] = "0123456789abcdef";
    const auto* bytes = reinterpret_cast<const uint8_t*>(info);
    for (size_t i = 0; i < kImageSize; ++i) {
        line += digits[bytes[i] >> 4];
        line += digits[bytes[i] & 0x0F];
    }
    return line;
}

DeviceResult Open(uint32_t type, uint32_t index)
{
    if (EnvFlag("VADAPTER_ABSENT") || type != DEVICE_TYPE_ADAPTER || index != DEVICE_INDEX_FIRST)
        return Failure();
    g_opened = true;
    return DEVICE_RESULT_OK;
}

// An adapter unplugged after its open fails from then on.
bool Reachable(uint32_t type, uint32_t index)
{
    return g_opened && !EnvFlag("VADAPTER_ABSENT") && type == DEVICE_TYPE_ADAPTER &&
           index == DEVICE_INDEX_FIRST;
}

DeviceResult Read(uint32_t type, uint32_t index, DeviceInfo* info)
{
    if (!info || !Reachable(type, index)) return Failure();
    if (EnvFlag("VADAPTER_FAIL_READ_GARBAGE")) {
        auto* bytes = reinterpret_cast<uint8_t*>(info);
        for (size_t i = 0; i < kImageSize; ++i) bytes[i] = kGarbage[i % sizeof kGarbage];
        return Failure();
    }
    if (EnvFlag("VADAPTER_FAIL_READ")) return Failure();
    if (g_written && EnvFlag("VADAPTER_FAIL_READ_AFTER_WRITE")) return Failure();

    const std::optional<SysPath> path = ImagePath();
    if (!path) return Failure();
    Image image;
    ImageState state = ReadImage(*path, image);
    if (state == ImageState::Missing) {
        // First use. Should another process create the image meanwhile, its
        // file stays and is the one read.
        InstallImage(*path, FactoryImage(), false);
        state = ReadImage(*path, image);
    }
    if (state != ImageState::Read) return Failure();
    std::memcpy(info, image.data(), kImageSize);
    return DEVICE_RESULT_OK;
}

DeviceResult Write(uint32_t type, uint32_t index, const DeviceInfo* info)
{
    if (!info || !Reachable(type, index) || EnvFlag("VADAPTER_FAIL_WRITE")) return Failure();
    const std::optional<SysPath> path = ImagePath();
    if (!path) return Failure();
    // A damaged image is left for someone to look at, not papered over.
    Image image;
    if (ReadImage(*path, image) == ImageState::Bad) return Failure();
    std::memcpy(image.data(), info, kImageSize);
    // An adapter that says it stored the record but kept something else: only
    // reading it back shows that.
    // Any byte, so that a compare that skips one is caught too.
    if (EnvFlag("VADAPTER_WRITE_STORES_OTHER")) {
        const uint32_t byte = EnvNumber("VADAPTER_WRITE_STORES_OTHER_BYTE", kDefaultOtherByte);
        image[byte < kImageSize ? byte : kDefaultOtherByte] ^= 0x01;
    }
    if (!InstallImage(*path, image, true)) return Failure();
    g_written = true;
    return DEVICE_RESULT_OK;
}

// The program that loads us is built without exceptions: one that crossed
// into it would end it. Strings and paths can throw (out of memory), so each
// export catches everything, and whatever went wrong is a failure result.
template <class Call>
DeviceResult Guarded(Call call) noexcept
{
    try {
        return call();
    } catch (...) {
        return kDefaultFailure;
    }
}

// The log is the tests' view, not part of the contract: it never changes a result.
template <class Line>
void LogQuietly(Line line) noexcept
{
    try {
        Log(line());
    } catch (...) {
    }
}

}  // namespace
}  // namespace vadapter

extern "C" {

VADAPTER_EXPORT DeviceResult DEVICE_LIBRARY_CALL DeviceOpen(uint32_t deviceType, uint32_t deviceIndex,
                                                            uint32_t reserved)
{
    using namespace vadapter;
    return Guarded([&] {
        Delay();
        const DeviceResult result = Open(deviceType, deviceIndex);
        LogQuietly([&] {
            return CallText("open", deviceType, deviceIndex) + ' ' + std::to_string(reserved) + " -> " +
                   std::to_string(result);
        });
        return result;
    });
}

VADAPTER_EXPORT DeviceResult DEVICE_LIBRARY_CALL DeviceInfoRead(uint32_t deviceType, uint32_t deviceIndex,
                                                                DeviceInfo* info)
{
    using namespace vadapter;
    return Guarded([&] {
        Delay();
        const DeviceResult result = Read(deviceType, deviceIndex, info);
        LogQuietly([&] { return RecordLine("read", deviceType, deviceIndex, result, info); });
        return result;
    });
}

VADAPTER_EXPORT DeviceResult DEVICE_LIBRARY_CALL DeviceInfoWrite(uint32_t deviceType, uint32_t deviceIndex,
                                                                 DeviceInfo* info)
{
    using namespace vadapter;
    return Guarded([&] {
        Delay();
        const DeviceResult result = Write(deviceType, deviceIndex, info);
        LogQuietly([&] { return RecordLine("write", deviceType, deviceIndex, result, info); });
        // A library that runs out of memory once the record is stored: the
        // caller never hears back.
        if (result == DEVICE_RESULT_OK && EnvFlag("VADAPTER_ABORT_AFTER_WRITE")) std::abort();
        return result;
    });
}

}  // extern "C"
