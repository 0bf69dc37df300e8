// Any 52 bytes through the text building, checked against the rules stated
// again independently: digits written by hand here, not through printf.
#include <cstdlib>
#include <cstring>
#include <string>

#include "actions/DeviceInfoActions.h"

namespace {

std::string Hex(unsigned value, size_t minDigits)
{
    std::string digits;
    do {
        digits.insert(digits.begin(), "0123456789ABCDEF"[value % 16]);
        value /= 16;
    } while (value != 0);
    while (digits.size() < minDigits) digits.insert(digits.begin(), '0');
    return digits;
}

std::string Decimal(unsigned value) { return value >= 10 ? Decimal(value / 10) + char('0' + value % 10) : std::string(1, char('0' + value)); }

std::string NonZeroBytes(const uint8_t* record, size_t offset, size_t count)
{
    std::string out;
    for (size_t i = offset; i < offset + count; ++i)
        if (record[i] != 0) out += static_cast<char>(record[i]);
    return out;
}

void Check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "text rule broken: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    uint8_t r[sizeof(DeviceInfo)] = {};
    std::memcpy(r, data, size < sizeof r ? size : sizeof r);
    DeviceInfo info;
    std::memcpy(&info, r, sizeof info);

    CString channels, firmware, hardware, product, serial, suffix, reserved;
    BuildDeviceTexts(info, {channels, firmware, hardware, product, serial, suffix, reserved});

    Check(channels.Bytes() == Decimal(r[10]), "channel count in decimal, no line feed");
    Check(hardware.Bytes() == "V" + Hex(r[1], 1) + "." + Hex(r[0], 1) + "\n", "V, high byte, dot, low byte");
    Check(firmware.Bytes() == Hex(r[2] | r[3] << 8, 4) + "\n", "four hex digits and a line feed");
    const bool noValue = r[8] == 0xFF && r[9] == 0xFF;
    Check(reserved.Bytes() == (noValue ? "" : "0x" + Decimal(r[9]) + Decimal(r[8]) + "\n"), "reserved value");
    Check(product.Bytes() == NonZeroBytes(r, 19, 16), "product name, zero bytes skipped");
    Check(serial.Bytes() == NonZeroBytes(r, 11, 6), "serial number, zero bytes skipped");
    Check(suffix.Bytes() == NonZeroBytes(r, 17, 2), "suffix, zero bytes skipped");
    Check(product.GetLength() <= 16 && serial.GetLength() <= 6 && suffix.GetLength() <= 2, "lengths");
    return 0;
}
