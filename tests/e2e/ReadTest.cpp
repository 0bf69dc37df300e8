// "打开": what the fields show for chosen adapter records, and what an absent
// adapter or a failed read leaves behind.
//
// The hardware version, firmware version and reserved value texts are built
// with a trailing line feed; the window may or may not show it, so those
// three are compared without line feeds. The other four must match exactly.
#include "VarnockTest.h"

namespace e2e {
namespace {

// Bytes the program neither shows nor changes, filled so that a record
// passed on with them zeroed cannot go unnoticed.
Record WithFiller(Record record)
{
    record = Patched(record, 4, std::vector<uint8_t>{0xA4, 0xA5, 0xA6, 0xA7});
    for (size_t i = 35; i < 52; ++i)
        record[i] = static_cast<uint8_t>(0xC0 + i);
    return record;
}

struct ReadCase {
    const char* name;
    std::optional<Record> record;  // none: the adapter's factory record
    FieldTexts shown;
};
// Failures and test lists name the case, not its bytes.
void PrintTo(const ReadCase& row, std::ostream* os) { *os << row.name; }

const ReadCase kReadCases[] = {
    {"FactoryRecord",
     std::nullopt,
     {{kHardware, L"V2.0"}, {kFirmware, L"0213"}, {kReserved, L""}, {kChannels, L"2"},
      {kSerial, L"VN2400"}, {kSuffix, L"17"}, {kProduct, L"Virtual CAN"}}},
    {"ZeroBytesInsideTextsAndAnEmptySuffix",
     Patched(Patched(Patched(Patched(Record(52, 0), 0, std::vector<uint8_t>{0x0A, 0x01, 0x05, 0x00}), 8,
                             std::vector<uint8_t>{0x02, 0x01, 0}),
                     11, std::string("A\0B\0C\0\0\0", 8)),
             19, std::string("AB\0CD", 5)),
     {{kHardware, L"V1.A"}, {kFirmware, L"0005"}, {kReserved, L"0x12"}, {kChannels, L"0"},
      {kSerial, L"ABC"}, {kSuffix, L""}, {kProduct, L"ABCD"}}},
    {"ChineseProductNameAndSuffix",
     // D6 D0 CE C4 is "中文" and D6 D0 "中" in code page 936.
     WithFiller(Patched(Patched(Patched(Record(52, 0), 0, std::vector<uint8_t>{0x10, 0x02, 0xCD, 0xAB}), 8,
                                std::vector<uint8_t>{0x0B, 0x0A, 255}),
                        11, std::string("SN-001\xD6\xD0" "\xD6\xD0\xCE\xC4" "CAN-Box", 19))),
     {{kHardware, L"V2.10"}, {kFirmware, L"ABCD"}, {kReserved, L"0x1011"}, {kChannels, L"255"},
      {kSerial, L"SN-001"}, {kSuffix, L"中"}, {kProduct, L"中文CAN-Box"}}},
    {"FullLengthNameAndOneCharacterSuffix",
     WithFiller(Patched(Patched(Patched(Record(52, 0), 0, std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}), 8,
                                std::vector<uint8_t>{0xFE, 0xFF, 1}),
                        11, std::string("QV9999\0" "9" "ABCDEFGHIJKLMNOP", 24))),
     {{kHardware, L"VFF.FF"}, {kFirmware, L"FFFF"}, {kReserved, L"0x255254"}, {kChannels, L"1"},
      {kSerial, L"QV9999"}, {kSuffix, L"9"}, {kProduct, L"ABCDEFGHIJKLMNOP"}}},
    {"ReservedValueWithAZeroHighByte",
     WithFiller(Patched(FactoryRecord(), 8, std::vector<uint8_t>{0xFF, 0x00})),
     {{kHardware, L"V2.0"}, {kFirmware, L"0213"}, {kReserved, L"0x0255"}, {kChannels, L"2"},
      {kSerial, L"VN2400"}, {kSuffix, L"17"}, {kProduct, L"Virtual CAN"}}},
    {"ReservedValueZero",
     Patched(FactoryRecord(), 8, std::vector<uint8_t>{0x00, 0x00}),
     {{kHardware, L"V2.0"}, {kFirmware, L"0213"}, {kReserved, L"0x00"}, {kChannels, L"2"},
      {kSerial, L"VN2400"}, {kSuffix, L"17"}, {kProduct, L"Virtual CAN"}}},
};

class ReadShows : public VarnockTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadShows, TheRecordInAllSevenFields)
{
    const ReadCase& row = GetParam();
    Start(row.record);
    OpenAndRead();

    const FieldTexts shown = App().Fields();
    for (int id : {kHardware, kFirmware, kReserved})
        EXPECT_EQ(WithoutLineFeeds(shown.at(id)), row.shown.at(id)) << "control " << id;
    for (int id : {kChannels, kSerial, kSuffix, kProduct})
        EXPECT_EQ(shown.at(id), row.shown.at(id)) << "control " << id;
    EXPECT_FALSE(App().WaitForDialog(kWatch)) << "a successful read shows no message";

    // One open and one read, with the device address and the image's bytes.
    const auto calls = Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].op, "open");
    EXPECT_EQ(calls[0].args, (std::vector<long long>{2, 0, 0}));
    EXPECT_EQ(calls[0].result, 1);
    EXPECT_EQ(calls[1].op, "read");
    EXPECT_EQ(calls[1].args, (std::vector<long long>{2, 0}));
    EXPECT_EQ(calls[1].result, 1);
    EXPECT_EQ(Hex(calls[1].record), Hex(row.record.value_or(FactoryRecord())));

    SaveScreenshot(App().Main(), L"main-after-read-" + Utf16(row.name));
}

INSTANTIATE_TEST_SUITE_P(Records, ReadShows, ::testing::ValuesIn(kReadCases),
                         [](const auto& test) { return std::string(test.param.name); });

using ReadTest = VarnockTest;

// A second press reads the adapter again and rebuilds every field from what
// it holds now; a typed suffix gives way to the adapter's.
TEST_F(ReadTest, AgainRereadsTheAdapterAndRebuildsEveryField)
{
    const ReadCase& changed = kReadCases[2];
    Start();
    OpenAndRead();
    ReplaceSuffix(L"XY");
    WriteFileBytes(m_image, *changed.record);
    OpenAndRead();
    EXPECT_TRUE(WaitFor([&] { return App().Field(kProduct) == changed.shown.at(kProduct); }));
    FieldTexts shown;
    for (const auto& [id, text] : App().Fields())
        shown[id] = WithoutLineFeeds(text);
    EXPECT_EQ(shown, changed.shown);

    std::vector<std::string> ops;
    for (const auto& call : Calls())
        ops.push_back(call.op);
    EXPECT_EQ(ops, (std::vector<std::string>{"open", "read", "open", "read"}));
}

// ---- Failures -----------------------------------------------------------------

struct ReadFailureCase {
    const char* name;
    Environment adapter;
    std::wstring message;
    std::vector<std::string> calls;  // "<op> <result>"
};
void PrintTo(const ReadFailureCase& row, std::ostream* os) { *os << row.name; }

const ReadFailureCase kReadFailures[] = {
    {"AdapterAbsent", {{L"VADAPTER_ABSENT", L"1"}}, L"设备打开失败！", {"open 0"}},
    {"OpenReturnsTwo", {{L"VADAPTER_ABSENT", L"1"}, {L"VADAPTER_FAIL_RESULT", L"2"}}, L"设备打开失败！", {"open 2"}},
    {"ReadFails", {{L"VADAPTER_FAIL_READ", L"1"}}, L"获取版本信息失败!", {"open 1", "read 0"}},
    {"ReadScribblesThenFails", {{L"VADAPTER_FAIL_READ_GARBAGE", L"1"}}, L"获取版本信息失败!", {"open 1", "read 0"}},
    {"ReadReturnsAllBitsSet",
     {{L"VADAPTER_FAIL_READ", L"1"}, {L"VADAPTER_FAIL_RESULT", L"0xFFFFFFFF"}},
     L"获取版本信息失败!",
     {"open 1", "read 4294967295"}},
};

class ReadFailure : public VarnockTest, public ::testing::WithParamInterface<ReadFailureCase> {};

TEST_P(ReadFailure, IsReportedAndLeavesTheWindowAsItWas)
{
    const ReadFailureCase& row = GetParam();
    Start(FactoryRecord(), row.adapter);
    ReplaceSuffix(L"AB");
    ClickButton(kOpen);
    EXPECT_EQ(TakeMessage(false, L"message-" + Utf16(row.name)), row.message);

    for (const auto& [id, text] : App().Fields())
        EXPECT_EQ(text, id == kSuffix ? L"AB" : L"") << "control " << id;
    std::vector<std::string> calls;
    for (const auto& call : Calls())
        calls.push_back(call.op + " " + std::to_string(call.result));
    EXPECT_EQ(calls, row.calls);

    // With no good read there is no record to send, whatever the read left.
    ClickButton(kWrite);
    EXPECT_EQ(TakeMessage(true), L"请先打开设备!");
    EXPECT_TRUE(CallsOf("write").empty());
    EXPECT_EQ(App().Field(kSuffix), L"AB");
}

INSTANTIATE_TEST_SUITE_P(Adapters, ReadFailure, ::testing::ValuesIn(kReadFailures),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace e2e
