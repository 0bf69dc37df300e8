// The seven display texts built from a record.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "FakeDevice.h"

namespace {

struct Texts {
    CString channelCount, firmwareVersion, hardwareVersion, productName, serialNumber, serialSuffix, reservedValue;
    DeviceTexts Refs()
    {
        return {channelCount, firmwareVersion, hardwareVersion, productName, serialNumber, serialSuffix, reservedValue};
    }
};

Texts Build(const DeviceInfo& info)
{
    Texts t;
    BuildDeviceTexts(info, t.Refs());
    return t;
}

struct TextCase {
    const char* name;
    std::function<void(DeviceInfo&)> fill;
    CString Texts::*field;
    std::string expected;
};

void SetProductName(DeviceInfo& d, const std::string& bytes) { std::memcpy(d.productName, bytes.data(), bytes.size()); }

const TextCase kCases[] = {
    {"hardware 2.0", [](DeviceInfo& d) { d.hardwareVersion[0] = 0x00, d.hardwareVersion[1] = 0x02; },
     &Texts::hardwareVersion, "V2.0\n"},
    {"hardware 1.A", [](DeviceInfo& d) { d.hardwareVersion[0] = 0x0A, d.hardwareVersion[1] = 0x01; },
     &Texts::hardwareVersion, "V1.A\n"},
    {"hardware 2.10", [](DeviceInfo& d) { d.hardwareVersion[0] = 0x10, d.hardwareVersion[1] = 0x02; },
     &Texts::hardwareVersion, "V2.10\n"},
    {"hardware high byte first", [](DeviceInfo& d) { d.hardwareVersion[0] = 0xFF, d.hardwareVersion[1] = 0x00; },
     &Texts::hardwareVersion, "V0.FF\n"},
    {"firmware 0213", [](DeviceInfo& d) { d.firmwareVersion[0] = 0x13, d.firmwareVersion[1] = 0x02; },
     &Texts::firmwareVersion, "0213\n"},
    {"firmware 0005", [](DeviceInfo& d) { d.firmwareVersion[0] = 0x05, d.firmwareVersion[1] = 0x00; },
     &Texts::firmwareVersion, "0005\n"},
    {"firmware FFFF", [](DeviceInfo& d) { d.firmwareVersion[0] = 0xFF, d.firmwareVersion[1] = 0xFF; },
     &Texts::firmwareVersion, "FFFF\n"},
    {"reserved 0x0102", [](DeviceInfo& d) { d.reservedValue[0] = 0x02, d.reservedValue[1] = 0x01; },
     &Texts::reservedValue, "0x12\n"},
    {"reserved 0x0A0B", [](DeviceInfo& d) { d.reservedValue[0] = 0x0B, d.reservedValue[1] = 0x0A; },
     &Texts::reservedValue, "0x1011\n"},
    {"reserved 0x00FF", [](DeviceInfo& d) { d.reservedValue[0] = 0xFF, d.reservedValue[1] = 0x00; },
     &Texts::reservedValue, "0x0255\n"},
    {"reserved 0x0000", [](DeviceInfo& d) { d.reservedValue[0] = 0x00, d.reservedValue[1] = 0x00; },
     &Texts::reservedValue, "0x00\n"},
    {"reserved 0xFFFF is no value", [](DeviceInfo& d) { d.reservedValue[0] = 0xFF, d.reservedValue[1] = 0xFF; },
     &Texts::reservedValue, ""},
    {"reserved 0xFFFE", [](DeviceInfo& d) { d.reservedValue[0] = 0xFE, d.reservedValue[1] = 0xFF; },
     &Texts::reservedValue, "0x255254\n"},
    {"reserved 0xFEFF", [](DeviceInfo& d) { d.reservedValue[0] = 0xFF, d.reservedValue[1] = 0xFE; },
     &Texts::reservedValue, "0x254255\n"},
    {"channels 2", [](DeviceInfo& d) { d.channelCount = 2; }, &Texts::channelCount, "2"},
    {"channels 0", [](DeviceInfo& d) { d.channelCount = 0; }, &Texts::channelCount, "0"},
    {"channels 255 unsigned", [](DeviceInfo& d) { d.channelCount = 255; }, &Texts::channelCount, "255"},
    {"product name skips zero bytes", [](DeviceInfo& d) { SetProductName(d, std::string("AB\0CD", 5)); },
     &Texts::productName, "ABCD"},
    {"product name of 16 bytes, no terminator",
     [](DeviceInfo& d) {
         SetProductName(d, "0123456789ABCDEF");
         d.unused35[0] = 'X';  // the byte after it must not join in
     },
     &Texts::productName, "0123456789ABCDEF"},
    {"product name all zero", [](DeviceInfo&) {}, &Texts::productName, ""},
    {"product name keeps a code page 936 pair", [](DeviceInfo& d) { SetProductName(d, "\xD6\xD0" "CAN"); },
     &Texts::productName, "\xD6\xD0" "CAN"},
    {"product name starting with zeros", [](DeviceInfo& d) { d.productName[15] = 'Z'; }, &Texts::productName, "Z"},
    {"serial number is positions 0-5",
     [](DeviceInfo& d) { std::memcpy(d.serialNumber, "AB1234XY", 8); }, &Texts::serialNumber, "AB1234"},
    {"suffix is positions 6-7", [](DeviceInfo& d) { std::memcpy(d.serialNumber, "AB1234XY", 8); },
     &Texts::serialSuffix, "XY"},
    {"suffix of two zero bytes is empty", [](DeviceInfo& d) { std::memcpy(d.serialNumber, "AB1234\0\0", 8); },
     &Texts::serialSuffix, ""},
    {"suffix with zero byte 17 has one character",
     [](DeviceInfo& d) { std::memcpy(d.serialNumber, "AB1234\0Q", 8); }, &Texts::serialSuffix, "Q"},
    {"serial number with a zero inside", [](DeviceInfo& d) { std::memcpy(d.serialNumber, "A\0B\0C\0XY", 8); },
     &Texts::serialNumber, "ABC"},
};

TEST(DeviceTexts, WorkedValuesAndEdges)
{
    for (const TextCase& c : kCases) {
        DeviceInfo info{};
        c.fill(info);
        Texts t = Build(info);
        EXPECT_EQ((t.*c.field).Bytes(), c.expected) << c.name;
    }
}

TEST(DeviceTexts, AllSevenFromOneRecord)
{
    DeviceInfo info = RecordFromBytes({0x00, 0x02, 0x13, 0x02, 9, 9, 9, 9, 0xFF, 0xFF, 2,
                                       'V', 'N', '2', '4', '0', '0', '1', '7',
                                       'V', 'i', 'r', 't', 'u', 'a', 'l', ' ', 'C', 'A', 'N'});
    Texts t = Build(info);
    EXPECT_EQ(t.channelCount.Bytes(), "2");
    EXPECT_EQ(t.hardwareVersion.Bytes(), "V2.0\n");
    EXPECT_EQ(t.firmwareVersion.Bytes(), "0213\n");
    EXPECT_EQ(t.reservedValue.Bytes(), "");
    EXPECT_EQ(t.productName.Bytes(), "Virtual CAN");
    EXPECT_EQ(t.serialNumber.Bytes(), "VN2400");
    EXPECT_EQ(t.serialSuffix.Bytes(), "17");
}

// Every 16-bit value through the two number fields: the text always has the
// documented shape, whatever the bytes.
TEST(DeviceTexts, EveryNumberValue)
{
    for (unsigned v = 0; v <= 0xFFFF; ++v) {
        DeviceInfo info{};
        info.firmwareVersion[0] = info.reservedValue[0] = static_cast<uint8_t>(v);
        info.firmwareVersion[1] = info.reservedValue[1] = static_cast<uint8_t>(v >> 8);
        Texts t = Build(info);
        char firmware[8];
        std::snprintf(firmware, sizeof firmware, "%04X\n", v);
        ASSERT_EQ(t.firmwareVersion.Bytes(), firmware) << v;
        const std::string reserved =
            v == 0xFFFF ? "" : "0x" + std::to_string(v >> 8) + std::to_string(v & 0xFF) + "\n";
        ASSERT_EQ(t.reservedValue.Bytes(), reserved) << v;
    }
}

}  // namespace
