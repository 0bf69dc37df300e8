// Trying to break the promise: whatever is typed, pasted or clicked, and
// whatever the adapter does, no byte reaches it that a successful read did
// not deliver, apart from the two suffix bytes; and the window never crashes
// or stays stuck. Each test ends Varnock through "退出" and checks that it
// went the ordinary way.
#include <cstdio>
#include <functional>

#include "HardeningSupport.h"
#include "VarnockTest.h"

namespace e2e {
namespace {

constexpr wchar_t kOpenFailed[] = L"设备打开失败！";
constexpr wchar_t kReadFailed[] = L"获取版本信息失败!";
constexpr wchar_t kNeedTwo[] = L"请输入两位值!";
constexpr wchar_t kWriteFailed[] = L"写设备信息失败!";
constexpr wchar_t kWritten[] = L"写设备信息成功!";
constexpr wchar_t kOpenFirst[] = L"请先打开设备!";

constexpr Milliseconds kRecovery{1000};  // how soon the window must answer again

// Every byte set, so a record passed on with anything zeroed or mixed shows.
Record Stored()
{
    Record record = FactoryRecord();
    record = Patched(record, 4, std::vector<uint8_t>{0x14, 0x25, 0x36, 0x47});
    record = Patched(record, 8, std::vector<uint8_t>{0x03, 0x04});
    for (size_t i = 35; i < 52; ++i)
        record[i] = static_cast<uint8_t>(0xA0 + i);
    return record;
}

// A second record, different in every byte the program sends.
Record Other()
{
    Record record = Stored();
    for (auto& byte : record)
        byte = static_cast<uint8_t>(byte ^ 0x5A);
    return record;
}

const Record kAB = {'A', 'B'};

class Hardening : public VarnockTest {
protected:
    std::vector<std::string> CallSummary() const
    {
        std::vector<std::string> summary;
        for (const auto& call : Calls())
            summary.push_back(call.op + " " + std::to_string(call.result));
        return summary;
    }

    // Alive, answering, and with the caption it started with.
    void ExpectResponsive()
    {
        EXPECT_FALSE(App().Exited(Milliseconds(0))) << "Varnock.exe has ended, exit code " << App().ExitCode();
        EXPECT_TRUE(Answers(App().Main(), kRecovery)) << "the window does not answer";
        EXPECT_EQ(WindowText(App().Main()), L"Varnock");
    }

    // "退出", and the ordinary end: exit code 0, no crash code.
    void EndVarnock()
    {
        ExpectResponsive();
        ClickButton(kExit);
        ASSERT_TRUE(App().Exited()) << "Varnock.exe does not end on \"退出\"";
        EXPECT_EQ(App().ExitCode(), 0u);
    }

    void ExpectImage(const Record& expected, const char* what)
    {
        EXPECT_EQ(Hex(ReadFileBytes(m_image)), Hex(expected)) << what;
    }

    // Every write sent the last good read with `suffix` in bytes 17 and 18.
    void ExpectWritesOf(const Record& lastGood, const Record& suffix, size_t count)
    {
        const auto writes = CallsOf("write");
        EXPECT_EQ(writes.size(), count);
        for (const auto& write : writes)
            EXPECT_EQ(Hex(write.record), Hex(Patched(lastGood, 17, suffix)));
    }
};

// ---- Faults at the adapter ------------------------------------------------------

struct FaultCase {
    const char* name;
    Environment adapter;
    std::vector<std::string> readCalls;  // "<op> <result>" after "打开"
    std::wstring readMessage;            // empty: the read succeeds
    std::wstring writeMessage;           // for "写参数" with "AB" afterwards
};
// Failures and test lists name the case, not its bytes.
void PrintTo(const FaultCase& row, std::ostream* os) { *os << row.name; }

// Every result but 1 is a failure: 0, 2, the top bit set and the largest
// positive 32-bit value all the same.
const FaultCase kFaults[] = {
    {"Absent", {{L"VADAPTER_ABSENT", L"1"}}, {"open 0"}, kOpenFailed, kOpenFirst},
    {"OpenResultTwo", {{L"VADAPTER_ABSENT", L"1"}, {L"VADAPTER_FAIL_RESULT", L"2"}}, {"open 2"}, kOpenFailed,
     kOpenFirst},
    {"OpenResultAllBits", {{L"VADAPTER_ABSENT", L"1"}, {L"VADAPTER_FAIL_RESULT", L"0xFFFFFFFF"}},
     {"open 4294967295"}, kOpenFailed, kOpenFirst},
    {"OpenResultMaxPositive", {{L"VADAPTER_ABSENT", L"1"}, {L"VADAPTER_FAIL_RESULT", L"0x7FFFFFFF"}},
     {"open 2147483647"}, kOpenFailed, kOpenFirst},
    {"ReadFails", {{L"VADAPTER_FAIL_READ", L"1"}}, {"open 1", "read 0"}, kReadFailed, kOpenFirst},
    {"ReadResultTwo", {{L"VADAPTER_FAIL_READ", L"1"}, {L"VADAPTER_FAIL_RESULT", L"2"}}, {"open 1", "read 2"},
     kReadFailed, kOpenFirst},
    {"ReadResultMaxPositive", {{L"VADAPTER_FAIL_READ", L"1"}, {L"VADAPTER_FAIL_RESULT", L"0x7FFFFFFF"}},
     {"open 1", "read 2147483647"}, kReadFailed, kOpenFirst},
    {"ReadScribblesThenFails", {{L"VADAPTER_FAIL_READ_GARBAGE", L"1"}}, {"open 1", "read 0"}, kReadFailed,
     kOpenFirst},
    {"ReadScribblesThenReturnsAllBits",
     {{L"VADAPTER_FAIL_READ_GARBAGE", L"1"}, {L"VADAPTER_FAIL_RESULT", L"0xFFFFFFFF"}},
     {"open 1", "read 4294967295"}, kReadFailed, kOpenFirst},
    {"WriteFails", {{L"VADAPTER_FAIL_WRITE", L"1"}}, {"open 1", "read 1"}, L"", kWriteFailed},
    {"WriteResultTwo", {{L"VADAPTER_FAIL_WRITE", L"1"}, {L"VADAPTER_FAIL_RESULT", L"2"}}, {"open 1", "read 1"},
     L"", kWriteFailed},
    {"WriteResultAllBits", {{L"VADAPTER_FAIL_WRITE", L"1"}, {L"VADAPTER_FAIL_RESULT", L"0xFFFFFFFF"}},
     {"open 1", "read 1"}, L"", kWriteFailed},
    {"WriteResultMaxPositive", {{L"VADAPTER_FAIL_WRITE", L"1"}, {L"VADAPTER_FAIL_RESULT", L"0x7FFFFFFF"}},
     {"open 1", "read 1"}, L"", kWriteFailed},
    // Slow and failing: the box comes once the call returns.
    {"SlowAndReadFails", {{L"VADAPTER_DELAY_MS", L"1000"}, {L"VADAPTER_FAIL_READ", L"1"}}, {"open 1", "read 0"},
     kReadFailed, kOpenFirst},
    {"SlowAndWriteFails", {{L"VADAPTER_DELAY_MS", L"1000"}, {L"VADAPTER_FAIL_WRITE", L"1"}}, {"open 1", "read 1"},
     L"", kWriteFailed},
};

class HardeningAdapterFault : public Hardening, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(HardeningAdapterFault, IsReportedTheWindowRecoversAndTheImageKeepsItsRecord)
{
    const FaultCase& row = GetParam();
    const Record stored = Stored();
    Start(stored, row.adapter);

    ClickButton(kOpen);
    if (row.readMessage.empty()) {
        ASSERT_TRUE(WaitFor([&] { return !App().Field(kChannels).empty(); })) << "the fields stay empty";
        EXPECT_FALSE(App().WaitForDialog(kWatch)) << "a good read shows no message";
    } else {
        // The main window keeps answering behind the box, and after it.
        ASSERT_TRUE(App().WaitForDialog().has_value());
        ExpectResponsive();
        EXPECT_EQ(TakeMessage(), row.readMessage);
        for (const auto& [id, text] : App().Fields())
            EXPECT_EQ(text, L"") << "control " << id << " after a failed open or read";
    }
    ExpectResponsive();
    EXPECT_EQ(CallSummary(), row.readCalls);

    ReplaceSuffix(L"AB");
    ClickButton(kWrite);
    EXPECT_EQ(TakeMessage(), row.writeMessage);
    ExpectResponsive();

    if (row.readMessage.empty()) {
        ExpectWritesOf(CallsOf("read").at(0).record, kAB, 1);
        EXPECT_EQ(Hex(CallsOf("read").at(0).record), Hex(stored));
    } else {
        EXPECT_TRUE(CallsOf("write").empty()) << "a write went out with no good read behind it";
    }
    ExpectImage(stored, "a failed call changed the image");
    EndVarnock();
}

INSTANTIATE_TEST_SUITE_P(Hardening, HardeningAdapterFault, ::testing::ValuesIn(kFaults),
                         [](const auto& test) { return std::string(test.param.name); });

// ---- A slow adapter ------------------------------------------------------------

TEST_F(Hardening, SlowAdapterBlocksEachCallThenTheWindowAnswersAndTheWriteLands)
{
    const Record stored = Stored();
    Start(stored, {{L"VADAPTER_DELAY_MS", L"2000"}});

    ClickButton(kOpen);
    ASSERT_TRUE(WaitUntilBusy(App().Main(), Milliseconds(1500))) << "the window answers during a 2 s call";
    ASSERT_TRUE(WaitFor([&] { return CallsOf("read").size() == 1; }, Milliseconds(8000))) << "no read in 8 s";
    EXPECT_TRUE(Answers(App().Main(), kRecovery)) << "the window does not answer once the read returned";
    EXPECT_TRUE(WaitFor([&] { return App().Field(kSuffix) == L"17"; }));
    EXPECT_FALSE(App().WaitForDialog(kWatch));

    ReplaceSuffix(L"AB");
    ClickButton(kWrite);
    EXPECT_TRUE(WaitUntilBusy(App().Main(), Milliseconds(1500)));
    ASSERT_TRUE(WaitFor([&] { return CallsOf("write").size() == 1; }, Milliseconds(6000))) << "no write in 6 s";
    EXPECT_EQ(TakeMessage(), kWritten);

    EXPECT_EQ(CallSummary(), (std::vector<std::string>{"open 1", "read 1", "write 1"}));
    ExpectWritesOf(stored, kAB, 1);
    ExpectImage(Patched(stored, 17, kAB), "the slow write did not land whole");
    EndVarnock();
}

// ---- Faults that come and go within one run -------------------------------------
// Varnock's environment is fixed when it starts, so faults are switched from
// outside by damaging the image: the adapter then fails reads and writes.

struct ImageFaultCase {
    const char* name;
    std::function<void(const std::wstring& image)> damage;
    std::function<void(const std::wstring& image)> undo;  // before the record goes back
};
void PrintTo(const ImageFaultCase& row, std::ostream* os) { *os << row.name; }

const ImageFaultCase kImageFaults[] = {
    {"ShortImage", [](const std::wstring& image) { WriteFileBytes(image, Record(51, 0xEE)); },
     [](const std::wstring&) {}},
    {"FolderInPlaceOfTheImage",
     [](const std::wstring& image) {
         DeleteFileW(image.c_str());
         CreateDirectoryW(image.c_str(), nullptr);
     },
     [](const std::wstring& image) { RemoveDirectoryW(image.c_str()); }},
};

class HardeningImageFault : public Hardening, public ::testing::WithParamInterface<ImageFaultCase> {};

TEST_P(HardeningImageFault, WritesAfterAFailedReadSendTheLastGoodRecord)
{
    const ImageFaultCase& row = GetParam();
    const Record stored = Stored();
    Start(stored);
    OpenAndRead();

    row.damage(m_image);
    ClickButton(kOpen);
    EXPECT_EQ(TakeMessage(), kReadFailed);
    EXPECT_EQ(App().Field(kSuffix), L"17") << "a failed read changed the window";
    ExpectResponsive();

    // The adapter fails this one too, but what it was given must be clean.
    ReplaceSuffix(L"AB");
    ClickButton(kWrite);
    EXPECT_EQ(TakeMessage(), kWriteFailed);

    // The adapter is well again, with a record the program never read: the
    // write still sends what the last good read delivered.
    row.undo(m_image);
    WriteFileBytes(m_image, Other());
    ClickButton(kWrite);
    EXPECT_EQ(TakeMessage(), kWritten);

    EXPECT_EQ(CallSummary(),
              (std::vector<std::string>{"open 1", "read 1", "open 1", "read 0", "write 0", "write 1"}));
    ExpectWritesOf(stored, kAB, 2);
    ExpectImage(Patched(stored, 17, kAB), "the image after the good write");
    EndVarnock();
}

INSTANTIATE_TEST_SUITE_P(Hardening, HardeningImageFault, ::testing::ValuesIn(kImageFaults),
                         [](const auto& test) { return std::string(test.param.name); });

// ---- Pasted suffixes -------------------------------------------------------------

struct PasteCase {
    const char* name;
    std::wstring pasted;
    std::wstring message;
    Record bytes;  // for record bytes 17 and 18; none: nothing is written
};
void PrintTo(const PasteCase& row, std::ostream* os) { *os << row.name; }

const PasteCase kPastes[] = {
    // A single-line edit takes what fits; far more than two places either way.
    {"OneMegabyte", std::wstring(1 << 20, L'7'), kNeedTwo, {}},
    {"ControlCharacters", L"\t\x01\x1b", kNeedTwo, {}},
    // A UTF-16 clipboard cannot hold half of a code page 936 character; the
    // nearest are lone surrogates, which have no code page 936 form at all.
    // Sent as '?' they would make two bytes of something never typed.
    {"LoneSurrogate", std::wstring(1, wchar_t(0xD800)), kNeedTwo, {}},
    {"LoneSurrogateAndALetter", std::wstring(1, wchar_t(0xD800)) + L"A", kNeedTwo, {}},
    {"TwoLoneSurrogates", std::wstring(2, wchar_t(0xDC00)), kNeedTwo, {}},
    {"Emoji", L"\U0001F600", kNeedTwo, {}},
    // "€" is the one single byte 0x80 in code page 936: one place only.
    {"Euro", L"€", kNeedTwo, {}},
    {"TwoEuros", L"€€", kWritten, {0x80, 0x80}},
    {"TwoSpaces", L"  ", kWritten, {0x20, 0x20}},
    {"OneChineseCharacter", L"中", kWritten, {0xD6, 0xD0}},
};

std::string Units(const std::wstring& text)
{
    char buffer[16];
    std::string units;
    for (size_t i = 0; i < text.size() && i < 8; ++i) {
        std::snprintf(buffer, sizeof buffer, "%s%04X", i ? " " : "", static_cast<unsigned>(text[i]));
        units += buffer;
    }
    return units + (text.size() > 8 ? " ..." : "");
}

class HardeningPaste : public Hardening, public ::testing::WithParamInterface<PasteCase> {};

TEST_P(HardeningPaste, IntoTheSuffixFieldWritesOnlyTwoPlacesOfCp936)
{
    const PasteCase& row = GetParam();
    const Record stored = Stored();
    Start(stored);
    OpenAndRead();
    ReplaceSuffix(L"");  // focused and empty
    ASSERT_TRUE(SetClipboardText(row.pasted)) << "cannot set the clipboard";
    PressChord(VK_CONTROL, 'V');
    ASSERT_TRUE(WaitFor([&] { return !App().Field(kSuffix).empty(); })) << "the paste left the field empty";
    const std::wstring held = App().Field(kSuffix);
    std::printf("pasted %zu units, the field holds %zu: %s\n", row.pasted.size(), held.size(), Units(held).c_str());
    EXPECT_EQ(held.substr(0, 2), row.pasted.substr(0, 2));
    ExpectResponsive();

    ClickButton(kWrite);
    EXPECT_EQ(TakeMessage(), row.message);
    ExpectResponsive();
    if (row.bytes.empty()) {
        EXPECT_TRUE(CallsOf("write").empty()) << "sent: " << Hex(CallsOf("write").front().record);
        ExpectImage(stored, "nothing was to be written");
    } else {
        ExpectWritesOf(stored, row.bytes, 1);
        ExpectImage(Patched(stored, 17, row.bytes), "the pasted bytes did not land");
    }
    EndVarnock();
}

INSTANTIATE_TEST_SUITE_P(Hardening, HardeningPaste, ::testing::ValuesIn(kPastes),
                         [](const auto& test) { return std::string(test.param.name); });

// ---- Many clicks -----------------------------------------------------------------

// A successful read shows no box, so every click of a burst reaches the
// enabled button and is one read, no more and no fewer.
TEST_F(Hardening, BurstOfOpenClicksIsOneReadEach)
{
    constexpr int kClicks = 20;
    const Record stored = Stored();
    Start(stored);
    ClickButton(kOpen);  // puts the cursor on "打开"
    ClickBurst(kClicks - 1);
    EXPECT_TRUE(WaitFor([&] { return CallsOf("read").size() >= kClicks; }, Milliseconds(15000)))
        << CallsOf("read").size() << " reads";
    Sleep(500);  // room for any read too many
    const auto calls = Calls();
    ASSERT_EQ(calls.size(), 2u * kClicks);
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].op, i % 2 ? "read" : "open") << "call " << i;
        EXPECT_EQ(calls[i].result, 1) << "call " << i;
    }
    EXPECT_FALSE(App().WaitForDialog(kWatch));
    EXPECT_EQ(App().Field(kSuffix), L"17");
    EndVarnock();
}

// Each press of "写参数" ends in a box that takes the window's input until
// it is dismissed: press, dismiss, N times, is N writes of the same record.
// A burst instead lands its first click on the button and the rest on the
// box or the disabled window; however many land, each write has its box
// and sends the same clean record.
TEST_F(Hardening, RepeatedAndBurstWriteClicksAreOneWriteEach)
{
    constexpr int kPresses = 5;
    constexpr int kBurst = 10;
    const Record stored = Stored();
    Start(stored);
    OpenAndRead();
    ReplaceSuffix(L"AB");
    for (int i = 0; i < kPresses; ++i) {
        ClickButton(kWrite);
        EXPECT_EQ(TakeMessage(), kWritten) << "press " << i;
    }
    ExpectWritesOf(stored, kAB, kPresses);

    ClickButton(kWrite);
    ClickBurst(kBurst - 1);
    int boxes = 0;
    while (auto box = App().WaitForDialog(Milliseconds(1500))) {
        ++boxes;
        EXPECT_EQ(box->text, kWritten);
        ASSERT_LE(boxes, kBurst) << "more boxes than clicks";
        BringToForeground(box->window);
        PressKey(VK_RETURN);
        App().WaitForNoDialog();
    }
    std::printf("a burst of %d clicks on \"写参数\": %d writes\n", kBurst, boxes);
    EXPECT_GE(boxes, 1);
    ExpectWritesOf(stored, kAB, static_cast<size_t>(kPresses + boxes));
    EXPECT_EQ(CallsOf("read").size(), 1u);
    ExpectImage(Patched(stored, 17, kAB), "after the writes");
    EndVarnock();
}

// ---- Input while a call blocks ----------------------------------------------------

// What a Windows user gets: input given while the window is blocked waits in
// its queue and is handled, in order, once the call returns. Clicks on the
// two buttons become actions then; typed letters go to the focused button.
TEST_F(Hardening, InputDuringASlowReadIsHandledAfterItInOrder)
{
    const Record stored = Stored();
    Start(stored, {{L"VADAPTER_DELAY_MS", L"1500"}});
    ClickButton(kOpen);
    ASSERT_TRUE(WaitUntilBusy(App().Main(), Milliseconds(1500)));

    ClickAt(Centre(WindowRect(App().Control(kOpen))));
    ClickAt(Centre(WindowRect(App().Control(kWrite))));
    TypeText(L"xy");
    EXPECT_FALSE(Answers(App().Main(), Milliseconds(50))) << "the input did not go in during the first read";
    EXPECT_EQ(CallsOf("read").size(), 0u) << "the input did not go in during the first read";

    // Read, the queued read, then the queued write of what that read gave.
    const auto box = App().WaitForDialog(Milliseconds(15000));
    ASSERT_TRUE(box.has_value()) << "no box after the queued write; calls: " << CallSummary().size();
    EXPECT_EQ(TakeMessage(), kWritten);
    Sleep(300);
    EXPECT_EQ(CallSummary(), (std::vector<std::string>{"open 1", "read 1", "open 1", "read 1", "write 1"}));
    ExpectWritesOf(stored, Record{'1', '7'}, 1);
    EXPECT_EQ(App().Field(kSuffix), L"17") << "typed letters reached the suffix field";
    ExpectImage(stored, "the write of the unchanged record");
    EndVarnock();
}

}  // namespace
}  // namespace e2e
