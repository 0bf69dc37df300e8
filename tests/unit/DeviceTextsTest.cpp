// The seven display texts built from a record.
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <functional>
#include <utility>

#include "FakeDevice.h"
#include "text/TextBuffer.h"

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

TEST(CStringFormat, ZeroByteEndsTheText)
{
    CString s;
    s.Format("%c", 0);
    EXPECT_TRUE(s.IsEmpty());
    s.Format("%c", 0xB0);
    EXPECT_EQ(s.GetLength(), 1);
    EXPECT_EQ(s.GetAt(0), 0xB0);
    s.Format("%s-%d", "long text that needs more than a small buffer, many bytes long indeed", 42);
    EXPECT_EQ(s.Bytes(), "long text that needs more than a small buffer, many bytes long indeed-42");
}

// The string owns its bytes: copies, moves and joins each leave both sides
// whole, also when a string is joined to or assigned from itself.
TEST(CStringBytes, CopiesMovesAndJoins)
{
    CString a("ab");
    CString copy = a;
    copy += "cd";
    EXPECT_EQ(a.Bytes(), "ab");
    EXPECT_EQ(copy.Bytes(), "abcd");

    CString moved = std::move(copy);
    EXPECT_EQ(moved.Bytes(), "abcd");
    copy = "reused";  // a moved-from string takes a new text
    EXPECT_EQ(copy.Bytes(), "reused");

    moved += moved;
    EXPECT_EQ(moved.Bytes(), "abcdabcd");
    CString& same = moved;
    moved = same;
    EXPECT_EQ(moved.Bytes(), "abcdabcd");

    const CString withZero("A\0B", 3);  // a zero byte given by length stays
    EXPECT_EQ(withZero.GetLength(), 3);
    EXPECT_EQ(withZero + withZero, CString("A\0BA\0B", 6));
    EXPECT_NE(withZero, CString("A"));

    moved.Empty();
    EXPECT_TRUE(moved.IsEmpty());
    EXPECT_STREQ(moved.GetString(), "");
    EXPECT_STREQ(CString(nullptr).GetString(), "");
    EXPECT_EQ(a.GetAt(2), 0);  // outside the text
    EXPECT_EQ(a.GetAt(3), 0);  // and past its ending zero
    EXPECT_EQ(a.GetAt(-1), 0);
}

// The text ends where its length says, for C strings and the window calls:
// after a join, a format, a buffer filled to its size and a cut.
TEST(TextBufferEnd, IsWhereTheLengthSays)
{
    const CString joined = CString("ab") + CString("cd");
    EXPECT_EQ(std::strlen(joined.GetString()), 4u);
    CString formatted;
    formatted.Format("%s", "a text longer than any small buffer, to be sure it is a fresh allocation");
    EXPECT_EQ(std::strlen(formatted.GetString()), size_t(formatted.GetLength()));

    TextBuffer<wchar_t> filled;
    wchar_t* room = filled.Resize(3);
    room[0] = room[1] = room[2] = L'x';
    EXPECT_EQ(std::wcslen(filled.Text()), 3u);

    const struct {
        size_t cutTo;
        const wchar_t* left;
    } cuts[] = {{2, L"ab"}, {5, L"abcde"}, {6, L"abcdef"}, {9, L"abcdef"}, {0, L""}};
    for (const auto& cut : cuts) {
        TextBuffer<wchar_t> text(L"abcdef", 6);
        text.Truncate(cut.cutTo);
        EXPECT_EQ(text.Length(), std::wcslen(cut.left)) << cut.cutTo;
        EXPECT_STREQ(text.Text(), cut.left) << cut.cutTo;
    }
}

}  // namespace
