// "写参数": the suffix a person types, the message they get and the exact
// bytes that reach the adapter (or that nothing does).
#include "VarnockTest.h"

namespace e2e {
namespace {

// Every byte set, so a write that passes on anything but the read record
// (with bytes 17 and 18 replaced) shows.
Record BusyRecord()
{
    Record record = FactoryRecord();
    record = Patched(record, 4, std::vector<uint8_t>{0x44, 0x55, 0x66, 0x77});
    record = Patched(record, 8, std::vector<uint8_t>{0x02, 0x01});
    record = Patched(record, 30, std::string("\x80\xFE\x01\x7F\x0A", 5));
    for (size_t i = 35; i < 52; ++i)
        record[i] = static_cast<uint8_t>(0xE0 + i);
    return record;
}

constexpr wchar_t kNeedTwo[] = L"请输入两位值!";
constexpr wchar_t kWritten[] = L"写设备信息成功!";

struct WriteCase {
    const char* name;
    std::wstring typed;
    std::wstring message;
    std::vector<uint8_t> bytes;  // for record bytes 17 and 18; none: nothing is written
};
// Failures and test lists name the case, not its bytes.
void PrintTo(const WriteCase& row, std::ostream* os) { *os << row.name; }

const WriteCase kWriteCases[] = {
    {"Empty", L"", kNeedTwo, {}},
    {"OneCharacter", L"5", kNeedTwo, {}},
    {"ThreeCharacters", L"123", kNeedTwo, {}},
    {"TwoChineseCharacters", L"中文", kNeedTwo, {}},
    {"LetterAndChineseCharacter", L"a中", kNeedTwo, {}},
    // No code page 936 form: refused rather than sent as "??".
    {"CharactersWithoutACp936Form", L"한국", kNeedTwo, {}},
    {"TwoDigits", L"42", kWritten, {'4', '2'}},
    {"TwoLetters", L"zQ", kWritten, {'z', 'Q'}},
    {"TwoSpaces", L"  ", kWritten, {' ', ' '}},
    {"TwoPunctuationMarks", L"#!", kWritten, {'#', '!'}},
    {"OneChineseCharacter", L"中", kWritten, {0xD6, 0xD0}},
};

class WriteSuffix : public VarnockTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(WriteSuffix, SendsTheReadRecordWithOnlyBytes17And18Changed)
{
    const WriteCase& row = GetParam();
    const Record stored = BusyRecord();
    Start(stored);
    OpenAndRead();
    ReplaceSuffix(row.typed);
    const FieldTexts before = App().Fields();

    ClickButton(kWrite);
    EXPECT_EQ(TakeMessage(), row.message);

    // No refresh: the fields, the typed suffix included, stay as they were.
    EXPECT_EQ(App().Fields(), before);

    const auto writes = CallsOf("write");
    const auto reads = CallsOf("read");
    EXPECT_EQ(CallsOf("open").size(), 1u) << "a write opens the device on its own";
    if (row.bytes.empty()) {
        EXPECT_TRUE(writes.empty()) << "something reached the adapter: " << Hex(writes.front().record);
        EXPECT_EQ(Hex(ReadFileBytes(m_image)), Hex(stored));
        return;
    }
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].args, (std::vector<long long>{2, 0}));
    EXPECT_EQ(writes[0].result, 1);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(Hex(writes[0].record), Hex(Patched(reads[0].record, 17, row.bytes)));
    EXPECT_EQ(Hex(ReadFileBytes(m_image)), Hex(writes[0].record)) << "the adapter did not keep the record";
}

INSTANTIATE_TEST_SUITE_P(Suffixes, WriteSuffix, ::testing::ValuesIn(kWriteCases),
                         [](const auto& test) { return std::string(test.param.name); });

using WriteTest = VarnockTest;

TEST_F(WriteTest, BeforeAnyReadAsksToOpenTheDeviceFirst)
{
    Start();
    ReplaceSuffix(L"12");
    ClickButton(kWrite);
    EXPECT_EQ(TakeMessage(true), L"请先打开设备!");
    EXPECT_TRUE(Calls().empty());
    EXPECT_EQ(App().Field(kSuffix), L"12");
}

TEST_F(WriteTest, FailureIsReportedAndTheSameRecordGoesAgainOnTheNextPress)
{
    const Record stored = BusyRecord();
    Start(stored, {{L"VADAPTER_FAIL_WRITE", L"1"}});
    OpenAndRead();
    ReplaceSuffix(L"88");
    ClickButton(kWrite);
    EXPECT_EQ(TakeMessage(), L"写设备信息失败!");
    ClickButton(kWrite);
    EXPECT_EQ(TakeMessage(true), L"写设备信息失败!");

    const auto writes = CallsOf("write");
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].result, 0);
    EXPECT_EQ(Hex(writes[0].record), Hex(Patched(stored, 17, std::string("88"))));
    EXPECT_EQ(Hex(writes[1].record), Hex(writes[0].record));
    EXPECT_EQ(Hex(ReadFileBytes(m_image)), Hex(stored));
    EXPECT_EQ(App().Field(kSuffix), L"88");
}

// A suffix of zero bytes reads as an empty field; two typed characters then pass.
TEST_F(WriteTest, AnEmptySuffixFromTheAdapterNeedsTwoTypedCharacters)
{
    const Record stored = Patched(FactoryRecord(), 17, std::vector<uint8_t>{0, 0});
    Start(stored);
    OpenAndRead();
    ASSERT_EQ(App().Field(kSuffix), L"");
    ClickButton(kWrite);
    EXPECT_EQ(TakeMessage(), kNeedTwo);
    EXPECT_TRUE(CallsOf("write").empty());

    ReplaceSuffix(L"77");
    ClickButton(kWrite);
    EXPECT_EQ(TakeMessage(), kWritten);
    const auto writes = CallsOf("write");
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(Hex(writes[0].record), Hex(Patched(stored, 17, std::string("77"))));
}

// What was written is what the adapter gives back on the next read.
TEST_F(WriteTest, TheNextReadShowsTheWrittenSuffix)
{
    Start();
    OpenAndRead();
    ReplaceSuffix(L"中");
    ClickButton(kWrite);
    EXPECT_EQ(TakeMessage(), kWritten);
    ReplaceSuffix(L"00");
    OpenAndRead();
    EXPECT_TRUE(WaitFor([&] { return App().Field(kSuffix) == L"中"; })) << Utf8(App().Field(kSuffix));
    EXPECT_EQ(App().Field(kSerial), L"VN2400");
    EXPECT_EQ(Hex(CallsOf("read").back().record), Hex(Patched(FactoryRecord(), 17, std::vector<uint8_t>{0xD6, 0xD0})));
}

}  // namespace
}  // namespace e2e
