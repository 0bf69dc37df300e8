// varnock-cli.exe as a script runs it: arguments in, stdout and stderr to
// files, the exit code, and what reached the adapter (the call log and the
// image's bytes).
#include "VarnockTest.h"

namespace e2e {
namespace {

struct CliRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::string out;  // the bytes written, UTF-8 when all is well
    std::string err;
};

// Windows' quoting: in quotes, with a quote inside escaped. The tests pass no
// backslashes before quotes.
std::wstring CommandLine(const std::wstring& exe, const std::vector<std::wstring>& arguments)
{
    std::wstring line = L"\"" + exe + L"\"";
    for (const std::wstring& argument : arguments) {
        line += L" \"";
        for (wchar_t c : argument)
            line += c == L'"' ? std::wstring(L"\\\"") : std::wstring(1, c);
        line += L"\"";
    }
    return line;
}

struct Case {
    const char* name;
    std::vector<std::wstring> arguments;
    std::optional<Record> record;  // the image before; none: no image, so the factory record
    Environment adapter;           // fault switches
    DWORD exitCode;
    std::string out;                     // stdout, exactly (UTF-8)
    std::string error;                   // in stderr's English line
    std::string message;                 // the window's message after it (UTF-8), if any
    std::vector<std::string> calls;      // "<op> <result>"
    std::vector<uint8_t> suffixSent;     // bytes 17 and 18 of the record written; none: nothing was
    std::vector<uint8_t> suffixStored;   // bytes 17 and 18 of the image after; none: the image unchanged
};
void PrintTo(const Case& row, std::ostream* os) { *os << row.name; }

// High bytes (a Chinese serial suffix and product name, a byte with no code
// page 936 form), a zero inside the product name, control characters, a quote
// and a backslash, reserved value 0xFFFE, and filler the program never shows.
Record HighBytesRecord()
{
    Record record = Patched(Record(52, 0), 0, std::vector<uint8_t>{0x10, 0x02, 0xCD, 0xAB, 0xA4, 0xA5, 0xA6, 0xA7});
    record = Patched(record, 8, std::vector<uint8_t>{0xFE, 0xFF, 255});
    record = Patched(record, 11, std::string("SN-001\xD6\xD0" "\xD6\xD0\xCE\xC4" "C\"N\0Box\t\\\xFF", 22));
    for (size_t i = 35; i < 52; ++i)
        record[i] = static_cast<uint8_t>(0xC0 + i);
    return record;
}

const std::string kHighBytesPlain =
    "hardware: V2.10\r\n"
    "firmware: ABCD\r\n"
    "reserved: 0x255254\r\n"
    "channels: 255\r\n"
    "serial: SN-001\r\n"
    "suffix: \xE4\xB8\xAD\r\n"                                    // 中
    "product: \xE4\xB8\xAD\xE6\x96\x87" "C\"NBox\\\xEF\xBF\xBD\r\n";  // 中文C"NBox\ and U+FFFD
const std::string kHighBytesJson =
    "{\"hardware\":\"V2.10\",\"firmware\":\"ABCD\",\"reserved\":\"0x255254\",\"channels\":\"255\","
    "\"serial\":\"SN-001\",\"suffix\":\"\\u4e2d\",\"product\":\"\\u4e2d\\u6587C\\\"NBox\\\\\\ufffd\","
    "\"record\":\"" + Hex(HighBytesRecord()) + "\"}\r\n";

const char kNeedTwo[] = "\xE8\xAF\xB7\xE8\xBE\x93\xE5\x85\xA5\xE4\xB8\xA4\xE4\xBD\x8D\xE5\x80\xBC!";  // 请输入两位值!
const std::vector<std::string> kReadWriteReadBack = {"open 1", "read 1", "write 1", "open 1", "read 1"};

const Case kCases[] = {
    // Reading: the window's texts, and the same as JSON.
    {"ReadPlain", {L"read"}, HighBytesRecord(), {}, 0, kHighBytesPlain, "", "", {"open 1", "read 1"}, {}, {}},
    {"ReadJson", {L"read", L"--json"}, HighBytesRecord(), {}, 0, kHighBytesJson, "", "", {"open 1", "read 1"}, {}, {}},
    // Writing: read, write the read record with two bytes changed, read back.
    {"WriteTwoLetters", {L"write-suffix", L"AB"}, HighBytesRecord(), {}, 0,
     "old-serial: SN-001\xE4\xB8\xAD\r\nnew-serial: SN-001AB\r\n", "", "", kReadWriteReadBack, {'A', 'B'}, {'A', 'B'}},
    {"WriteOneChineseCharacter", {L"write-suffix", L"中"}, std::nullopt, {}, 0,
     "old-serial: VN240017\r\nnew-serial: VN2400\xE4\xB8\xAD\r\n", "", "", kReadWriteReadBack, {0xD6, 0xD0}, {0xD6, 0xD0}},
    // Refused suffixes: nothing is opened, let alone written.
    {"TwoChineseCharacters", {L"write-suffix", L"中文"}, HighBytesRecord(), {}, 5, "",
     "is 4 bytes in code page 936; it must be exactly 2", kNeedTwo, {}, {}, {}},
    {"OneByte", {L"write-suffix", L"5"}, HighBytesRecord(), {}, 5, "", "is 1 bytes", kNeedTwo, {}, {}, {}},
    {"ThreeBytes", {L"write-suffix", L"123"}, HighBytesRecord(), {}, 5, "", "is 3 bytes", kNeedTwo, {}, {}, {}},
    {"NoCp936Form", {L"write-suffix", L"한국"}, HighBytesRecord(), {}, 5, "", "no code page 936 form", kNeedTwo, {}, {}, {}},
    // The adapter's faults.
    {"AdapterAbsent", {L"write-suffix", L"12"}, HighBytesRecord(), {{L"VADAPTER_ABSENT", L"1"}}, 3, "",
     "cannot open the adapter", "\xE8\xAE\xBE\xE5\xA4\x87\xE6\x89\x93\xE5\xBC\x80\xE5\xA4\xB1\xE8\xB4\xA5\xEF\xBC\x81",
     {"open 0"}, {}, {}},  // 设备打开失败！
    {"ReadScribblesThenFails", {L"write-suffix", L"12"}, HighBytesRecord(), {{L"VADAPTER_FAIL_READ_GARBAGE", L"1"}}, 4,
     "", "could not be read",
     "\xE8\x8E\xB7\xE5\x8F\x96\xE7\x89\x88\xE6\x9C\xAC\xE4\xBF\xA1\xE6\x81\xAF\xE5\xA4\xB1\xE8\xB4\xA5!",
     {"open 1", "read 0"}, {}, {}},  // 获取版本信息失败!
    {"WriteFails", {L"write-suffix", L"12"}, HighBytesRecord(), {{L"VADAPTER_FAIL_WRITE", L"1"}}, 6, "",
     "refused the write", "\xE5\x86\x99\xE8\xAE\xBE\xE5\xA4\x87\xE4\xBF\xA1\xE6\x81\xAF\xE5\xA4\xB1\xE8\xB4\xA5!",
     {"open 1", "read 1", "write 0"}, {'1', '2'}, {}},  // 写设备信息失败!
    {"ReadBackDiffers", {L"write-suffix", L"12"}, HighBytesRecord(), {{L"VADAPTER_WRITE_STORES_OTHER", L"1"}}, 7, "",
     "reads back another record: byte 18 is 0x33 where 0x32 was written", "", kReadWriteReadBack, {'1', '2'}, {'1', '2' ^ 1}},
    // Usage errors: nothing reaches the adapter.
    {"UnknownCommand", {L"frob"}, HighBytesRecord(), {}, 2, "", "unknown command \"frob\"", "", {}, {}, {}},
    {"UnknownOption", {L"read", L"--xml"}, HighBytesRecord(), {}, 2, "", "option \"--xml\"", "", {}, {}, {}},
    {"MissingSuffix", {L"write-suffix"}, HighBytesRecord(), {}, 2, "", "needs the suffix", "", {}, {}, {}},
    {"ExtraArgument", {L"write-suffix", L"1", L"2"}, HighBytesRecord(), {}, 2, "", "got 2 arguments", "", {}, {}, {}},
    {"EmptySuffix", {L"write-suffix", L""}, HighBytesRecord(), {}, 2, "", "argument 2 is empty", "", {}, {}, {}},
    {"LongestCommandLine", {L"write-suffix", std::wstring(30000, L'A')}, HighBytesRecord(), {}, 2, "",
     "argument 2 is 30000 characters long", "", {}, {}, {}},
};

class Cli : public VarnockTest, public ::testing::WithParamInterface<Case> {
protected:
    CliRun Run(const std::vector<std::wstring>& arguments, const Environment& adapter)
    {
        Environment environment = adapter;
        environment[L"VADAPTER_IMAGE"] = m_image;
        environment[L"VADAPTER_LOG"] = m_log;
        std::wstring block = EnvironmentBlock(environment);

        const std::wstring outPath = m_directory + L"\\stdout.txt", errPath = m_directory + L"\\stderr.txt";
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE out = CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
        HANDLE err = CreateFileW(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = INVALID_HANDLE_VALUE;
        startup.hStdOutput = out;
        startup.hStdError = err;
        const std::wstring exe = ExeDirectory() + L"\\varnock-cli.exe";
        std::wstring line = CommandLine(exe, arguments);
        PROCESS_INFORMATION process{};
        const BOOL started = CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, TRUE,
                                            CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, block.data(),
                                            ExeDirectory().c_str(), &startup, &process);
        CloseHandle(out);
        CloseHandle(err);
        CliRun run;
        if (!started) {
            ADD_FAILURE() << "cannot start varnock-cli.exe: error " << GetLastError();
            return run;
        }
        if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "varnock-cli.exe did not end within 30 s";
            TerminateProcess(process.hProcess, 99);
            WaitForSingleObject(process.hProcess, 5000);
        }
        GetExitCodeProcess(process.hProcess, &run.exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        const std::vector<uint8_t> outBytes = ReadFileBytes(outPath), errBytes = ReadFileBytes(errPath);
        run.out.assign(outBytes.begin(), outBytes.end());
        run.err.assign(errBytes.begin(), errBytes.end());
        return run;
    }
};

TEST_P(Cli, ExitCodeOutputAndWhatReachesTheAdapter)
{
    const Case& row = GetParam();
    if (row.record)
        WriteFileBytes(m_image, *row.record);
    const CliRun run = Run(row.arguments, row.adapter);

    EXPECT_EQ(run.exitCode, row.exitCode);
    EXPECT_EQ(run.out, row.out);
    if (row.exitCode == 0) {
        EXPECT_EQ(run.err, "");
    } else {
        // One English line that says what was wrong, then the window's message.
        const std::string first = run.err.substr(0, run.err.find("\r\n"));
        EXPECT_EQ(first.rfind("varnock-cli: ", 0), 0u) << run.err;
        EXPECT_NE(first.find(row.error), std::string::npos) << run.err;
        EXPECT_EQ(run.err, first + "\r\n" + (row.message.empty() ? "" : row.message + "\r\n"));
    }

    std::vector<std::string> calls;
    for (const auto& call : Calls())
        calls.push_back(call.op + " " + std::to_string(call.result));
    EXPECT_EQ(calls, row.calls);
    const Record before = row.record.value_or(FactoryRecord());
    const Record after = row.suffixStored.empty() ? before : Patched(before, 17, row.suffixStored);
    EXPECT_EQ(Hex(ReadFileBytes(m_image)), Hex(after));
    // A write sends the record read, with bytes 17 and 18 alone changed.
    const auto writes = CallsOf("write");
    if (row.suffixSent.empty()) {
        EXPECT_TRUE(writes.empty());
    } else {
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_EQ(Hex(writes[0].record), Hex(Patched(before, 17, row.suffixSent)));
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, Cli, ::testing::ValuesIn(kCases),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace e2e
