// Any file content as the virtual adapter's image: the library either fails
// with a result other than 1, leaving the caller's bytes alone, or delivers
// exactly the 52 bytes of a 52-byte file; it never touches bytes beyond them.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "device/QelvoCan.h"

namespace {

const std::string& ImagePath()
{
    static const std::string path = []() -> std::string {
        if (const char* given = std::getenv("VADAPTER_IMAGE")) return given;  // run-fuzzer.sh's work dir
        char dir[] = "/tmp/varnock-fuzz-image-XXXXXX";
        if (!mkdtemp(dir)) std::abort();
        const std::string p = std::string(dir) + "/image.bin";
        setenv("VADAPTER_IMAGE", p.c_str(), 1);
        return p;
    }();
    return path;
}

void Check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "adapter image rule broken: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& path = ImagePath();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);

    Check(DeviceOpen(DEVICE_TYPE_ADAPTER, DEVICE_INDEX_FIRST, 0) == 1, "open of a present adapter");

    // The record between two guard areas.
    uint8_t buffer[16 + sizeof(DeviceInfo) + 16];
    std::memset(buffer, 0x5A, sizeof buffer);
    auto* record = reinterpret_cast<DeviceInfo*>(buffer + 16);
    const DeviceResult read = DeviceInfoRead(DEVICE_TYPE_ADAPTER, DEVICE_INDEX_FIRST, record);
    for (size_t i = 0; i < 16; ++i)
        Check(buffer[i] == 0x5A && buffer[16 + sizeof(DeviceInfo) + i] == 0x5A, "bytes outside the record");
    if (size == sizeof(DeviceInfo)) {
        Check(read == 1, "a 52-byte image reads");
        Check(std::memcmp(record, data, size) == 0, "the record is the image");
    } else {
        Check(read != 1, "an image of the wrong size fails");
        for (size_t i = 16; i < 16 + sizeof(DeviceInfo); ++i) Check(buffer[i] == 0x5A, "nothing invented");
    }

    // A write succeeds only over a good image, and then reads back whole.
    const DeviceResult written = DeviceInfoWrite(DEVICE_TYPE_ADAPTER, DEVICE_INDEX_FIRST, record);
    if (read == 1) {
        Check(written == 1, "a write over a good image");
        DeviceInfo again;
        Check(DeviceInfoRead(DEVICE_TYPE_ADAPTER, DEVICE_INDEX_FIRST, &again) == 1, "read after write");
        Check(std::memcmp(&again, record, sizeof again) == 0, "the written record reads back");
    }
    return 0;
}
