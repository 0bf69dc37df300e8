// The adapter's device information record, exchanged whole with the device
// library. Multi-byte numbers are kept as byte pairs so that the layout and
// the byte order are the adapter's on every build, whatever the host.
#pragma once

#include <cstddef>
#include <cstdint>

struct DeviceInfo {
    uint8_t hardwareVersion[2];  // byte 1 is the major part
    uint8_t firmwareVersion[2];  // little-endian
    uint8_t unused4[4];          // not interpreted
    uint8_t reservedValue[2];    // little-endian, 0xFFFF = no value
    uint8_t channelCount;
    uint8_t serialNumber[8];     // text, no terminator; [6] and [7] are the suffix
    uint8_t productName[16];     // text, zero bytes anywhere
    uint8_t unused35[17];        // not interpreted
};

static_assert(sizeof(DeviceInfo) == 52, "the library fills exactly 52 bytes");
static_assert(alignof(DeviceInfo) == 1, "no padding may enter the record");
static_assert(offsetof(DeviceInfo, hardwareVersion) == 0);
static_assert(offsetof(DeviceInfo, firmwareVersion) == 2);
static_assert(offsetof(DeviceInfo, unused4) == 4);
static_assert(offsetof(DeviceInfo, reservedValue) == 8);
static_assert(offsetof(DeviceInfo, channelCount) == 10);
static_assert(offsetof(DeviceInfo, serialNumber) == 11);
static_assert(offsetof(DeviceInfo, productName) == 19);
static_assert(offsetof(DeviceInfo, unused35) == 35);

// Record offsets of the two bytes the write action may change.
constexpr size_t kSuffixOffset = 17;
constexpr size_t kSuffixLength = 2;
static_assert(offsetof(DeviceInfo, serialNumber) + 6 == kSuffixOffset);

inline uint16_t ReadLittleEndian16(const uint8_t (&bytes)[2])
{
    return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}
