// varnock-cli.exe as a script runs it: arguments in, stdout and stderr to
// files, the exit code, and what reached the adapter (the call log and the
// image's bytes) and the ledger (its bytes, parsed as CSV).
#include <winsock2.h>  // before windows.h, which would take the older one

#include "VarnockTest.h"
#include "tests/support/LedgerFixture.h"

#include <algorithm>
#include <functional>
#include <set>
#include <thread>

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

// Where the program's stdout goes.
enum class Output {
    File,
    ClosedPipe,  // a pipe whose read end is closed
    ReadOnly,    // a file handle that may only be read
};

// Which library varnock-cli.exe finds beside it. All but the virtual adapter
// run a copy of the program in a folder of the test's own.
enum class Library { Virtual, None, OtherWidth, NoExports };

using fixture::kBom;
using fixture::kHeader;
const std::string kEmptyLedger = fixture::kStart;
const std::string kAFolder = "<a folder>";

// The ledger named by an argument that begins with @: a path in the test's folder.
struct LedgerCase {
    std::optional<std::string> before;  // the file's bytes; none: no file; kAFolder: a folder in its place
    // The rows the run appends, as "event,old_serial,new_serial,exit_code";
    // none: the ledger is left byte for byte as it was (or is still not there).
    std::optional<std::vector<std::string>> added;
    bool lockedByOthers = false;  // the test holds its lock during the run
};

struct Case {
    const char* name;
    std::vector<std::wstring> arguments;
    std::optional<Record> record;  // the image before; none: no image, so the factory record
    Environment adapter;           // fault switches
    DWORD exitCode;
    std::string out;                     // stdout, exactly (UTF-8); when it ends no line, how it begins
    std::string error;                   // in stderr's English line
    std::string message;                 // the window's message after it (UTF-8), if any
    std::vector<std::string> calls;      // "<op> <result>"
    std::vector<uint8_t> suffixSent;     // bytes 17 and 18 of the record written; none: nothing was
    std::vector<uint8_t> suffixStored;   // bytes 17 and 18 of the image after; none: the image unchanged
    LedgerCase ledger = {};
    Library library = Library::Virtual;
    Output output = Output::File;
    size_t otherByte = 0;  // a byte the adapter stored with its lowest bit flipped; 0: none
};
void PrintTo(const Case& row, std::ostream* os) { *os << row.name; }

// High bytes (a Chinese serial suffix and product name, a character in
// U+0080-U+00FF, a byte with no code page 936 form), a zero inside the product
// name, control characters, a quote and a backslash, reserved value 0xFFFE,
// and filler the program never shows.
Record HighBytesRecord()
{
    Record record = Patched(Record(52, 0), 0, std::vector<uint8_t>{0x10, 0x02, 0xCD, 0xAB, 0xA4, 0xA5, 0xA6, 0xA7});
    record = Patched(record, 8, std::vector<uint8_t>{0xFE, 0xFF, 255});
    record = Patched(record, 11, std::string("SN-001\xD6\xD0" "\xD6\xD0\xCE\xC4" "C\"N\0Box\t\\\xA1\xE3\xFF", 24));
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
    "product: \xE4\xB8\xAD\xE6\x96\x87" "C\"NBox\\\xC2\xB0\xEF\xBF\xBD\r\n";  // 中文C"NBox\° and U+FFFD
const std::string kHighBytesJson =
    "{\"hardware\":\"V2.10\",\"firmware\":\"ABCD\",\"reserved\":\"0x255254\",\"channels\":\"255\","
    "\"serial\":\"SN-001\",\"suffix\":\"\\u4e2d\",\"product\":\"\\u4e2d\\u6587C\\\"NBox\\\\\\u00b0\\ufffd\","
    "\"record\":\"" + Hex(HighBytesRecord()) + "\"}\r\n";

const char kNeedTwo[] = "\xE8\xAF\xB7\xE8\xBE\x93\xE5\x85\xA5\xE4\xB8\xA4\xE4\xBD\x8D\xE5\x80\xBC!";  // 请输入两位值!
const std::vector<std::string> kReadWriteReadBack = {"open 1", "read 1", "write 1", "open 1", "read 1"};

const std::string kWriteFailedMessage = "\xE5\x86\x99\xE8\xAE\xBE\xE5\xA4\x87\xE4\xBF\xA1\xE6\x81\xAF\xE5\xA4\xB1\xE8\xB4\xA5!";  // 写设备信息失败!
const std::string kReadFailedMessage = "\xE8\x8E\xB7\xE5\x8F\x96\xE7\x89\x88\xE6\x9C\xAC\xE4\xBF\xA1\xE6\x81\xAF\xE5\xA4\xB1\xE8\xB4\xA5!";  // 获取版本信息失败!
const std::string kOpenFailedMessage = "\xE8\xAE\xBE\xE5\xA4\x87\xE6\x89\x93\xE5\xBC\x80\xE5\xA4\xB1\xE8\xB4\xA5\xEF\xBC\x81";  // 设备打开失败！
#ifdef _WIN64
const char kNotOurWidth[] = "is not a 64-bit library";
#else
const char kNotOurWidth[] = "is not a 32-bit library";
#endif
const std::vector<std::string> kProvisioned01 = {"reserved,VN240017,VN240001,", "provisioned,VN240017,VN240001,"};
// A ledger in which another station gave out VN2400AB.
const std::string kLedgerGaveOutAB =
    kEmptyLedger + "2026-12-09T09:14:03Z,LINE-1,reserved,VN240017,VN2400AB,V2.0,0213,Virtual CAN," +
    Hex(FactoryRecord()) + ",\r\n2026-12-09T09:14:04Z,LINE-1,provisioned,VN240017,VN2400AB,V2.0,0213,Virtual CAN," +
    Hex(FactoryRecord()) + ",\r\n";

// Another batch's rows that gave out VN240001 to VN240006, each serial typed
// by hand the way a person reads as that serial: padded with an ideographic
// space, in full-width forms, with a zero-width space, in lower case, with a
// line break inside, with a space inside.
std::string TypedRow(const std::string& serial)
{
    return "2026-12-09T09:14:03Z,LINE-1,provisioned,VN240017," + serial + ",V2.0,0213,Other CAN," +
           std::string(104, '0') + ",\r\n";
}
// A later build's ledger: a column more, and a row of an event this build
// does not know that names VN240001.
const std::string kLedgerGrown = kBom + kHeader + ",note\r\n2026-12-09T09:14:03Z,LINE-9,labelled,VN240017,VN240001," +
                                 "V2.0,0213,Other CAN," + std::string(104, '0') + ",,first label\r\n";
const std::string kLedgerTypedByHand =
    kEmptyLedger + TypedRow("VN240001\xE3\x80\x80") +
    TypedRow("\xEF\xBC\xB6\xEF\xBC\xAE\xEF\xBC\x92\xEF\xBC\x94\xEF\xBC\x90\xEF\xBC\x90\xEF\xBC\x90\xEF\xBC\x92") +
    TypedRow("VN240003\xE2\x80\x8B") + TypedRow("vn240004") + TypedRow("\"VN24\r\n0005\"") + TypedRow("VN24 0006");

// Rows name the fields they need; the rest keep their defaults.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
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
    // What the program refuses before it opens anything.
    {"ControlCharacterInSuffix", {L"write-suffix", L"7\r"}, HighBytesRecord(), {}, 5, "", "control character",
     kNeedTwo, {}, {}, {}},
    {"SuffixOf64Characters", {L"write-suffix", std::wstring(64, L'A')}, HighBytesRecord(), {}, 5, "", "is 64 bytes",
     kNeedTwo, {}, {}, {}},
    {"ArgumentOf65Characters", {L"write-suffix", std::wstring(64, L'A') + L"Z"}, HighBytesRecord(), {}, 2, "",
     "argument 2 is 65 characters long", "", {}, {}, {}},
    {"JsonTwice", {L"read", L"--json", L"--json"}, HighBytesRecord(), {}, 2, "", "--json once", "", {}, {}, {}},
    // A label's options are checked with the others: nothing is opened.
    {"LabelWithoutPrinter", {L"provision", L"@ledger.csv", L"--label", L"t.zpl"}, HighBytesRecord(), {}, 2, "",
     "provision takes --label and --printer together", "", {}, {}, {}, {kEmptyLedger}},
    {"PrinterNoTarget", {L"provision", L"@ledger.csv", L"--label", L"t.zpl", L"--printer", L"tcp:printer:0"},
     HighBytesRecord(), {}, 2, "", "--printer takes a printer's name, a path (not to NUL or CON), or tcp:HOST[:PORT] with a port from 1",
     "", {}, {}, {}, {kEmptyLedger}},
    {"PrinterThatKeepsNothing", {L"provision", L"@ledger.csv", L"--label", L"t.zpl", L"--printer", L".\\NUL"},
     HighBytesRecord(), {}, 2, "", "--printer takes a printer's name, a path (not to NUL or CON)", "", {}, {}, {},
     {kEmptyLedger}},
    {"LabelLineNoNumber", {L"label", L"@ledger.csv", L"--line", L"0", L"--label", L"t.zpl", L"--printer", L"p"},
     HighBytesRecord(), {}, 2, "", "--line takes a line number from 1, not \"0\"", "", {}, {}, {}, {kEmptyLedger}},
    {"CommandInCapitals", {L"READ"}, HighBytesRecord(), {}, 0, kHighBytesPlain, "", "", {"open 1", "read 1"}, {}, {}},
    {"SuffixBeginningWithADash", {L"write-suffix", L"-1"}, std::nullopt, {}, 0,
     "old-serial: VN240017\r\nnew-serial: VN2400-1\r\n", "", "", kReadWriteReadBack, {'-', '1'}, {'-', '1'}},
    // Help and version need no adapter.
    {"Help", {L"--help"}, HighBytesRecord(), {}, 0, "Usage: varnock-cli", "", "", {}, {}, {}},
    {"HelpShort", {L"-h"}, HighBytesRecord(), {}, 0, "Usage: varnock-cli", "", "", {}, {}, {}},
    {"HelpSlash", {L"/?"}, HighBytesRecord(), {}, 0, "Usage: varnock-cli", "", "", {}, {}, {}},
    {"Version", {L"--version"}, HighBytesRecord(), {}, 0, "varnock-cli " VARNOCK_E2E_VERSION "\r\n", "", "", {}, {},
     {}},
    // JSON from write-suffix, also when the write fails.
    {"WriteJson", {L"write-suffix", L"AB", L"--json"}, std::nullopt, {}, 0,
     "{\"result\":\"written\",\"old_serial\":\"VN240017\",\"new_serial\":\"VN2400AB\"}\r\n", "", "",
     kReadWriteReadBack, {'A', 'B'}, {'A', 'B'}},
    {"WriteFailsJson", {L"write-suffix", L"12", L"--json"}, std::nullopt, {{L"VADAPTER_FAIL_WRITE", L"1"}}, 6,
     "{\"result\":\"write_failed\",\"old_serial\":\"VN240017\",\"new_serial\":\"VN240012\"}\r\n",
     "refused the write", kWriteFailedMessage, {"open 1", "read 1", "write 0"}, {'1', '2'}, {}},
    // Checking the write: the read-back fails, or differs in the record's last byte.
    {"ReadBackUnreadable", {L"write-suffix", L"12"}, HighBytesRecord(), {{L"VADAPTER_FAIL_READ_AFTER_WRITE", L"1"}},
     7, "", "could not be read back", kReadFailedMessage, {"open 1", "read 1", "write 1", "open 1", "read 0"},
     {'1', '2'}, {'1', '2'}},
    {"ReadBackDiffersInTheLastByte", {L"write-suffix", L"12"}, HighBytesRecord(),
     {{L"VADAPTER_WRITE_STORES_OTHER", L"1"}, {L"VADAPTER_WRITE_STORES_OTHER_BYTE", L"51"}}, 7, "",
     "byte 51 is 0xf2 where 0xf3 was written", "", kReadWriteReadBack, {'1', '2'}, {'1', '2'}, {}, Library::Virtual,
     Output::File, 51},
    // The adapter's work stands when the output cannot be written, or the library ends the process.
    {"ReadToAClosedPipe", {L"read", L"--json"}, HighBytesRecord(), {}, 13, "", "could not be written", "",
     {"open 1", "read 1"}, {}, {}, {}, Library::Virtual, Output::ClosedPipe},
    {"WriteToAReadOnlyOutput", {L"write-suffix", L"AB"}, HighBytesRecord(), {}, 13, "",
     "could not be written (is the disk full, or the pipe closed?); the adapter was written", "", kReadWriteReadBack,
     {'A', 'B'}, {'A', 'B'}, {}, Library::Virtual, Output::ReadOnly},
    {"AbnormalEndAfterTheWrite", {L"write-suffix", L"AB"}, HighBytesRecord(), {{L"VADAPTER_ABORT_AFTER_WRITE", L"1"}},
     14, "", "ended abnormally", "", {"open 1", "read 1", "write 1"}, {'A', 'B'}, {'A', 'B'}},
    // The library, loaded by the program: missing, of the other width, without the exports.
    {"NoLibrary", {L"read"}, std::nullopt, {}, 12, "", "Qelvo_CAN.dll is not beside", "", {}, {}, {}, {},
     Library::None},
    {"LibraryOfTheOtherWidth", {L"read"}, std::nullopt, {}, 12, "", kNotOurWidth, "", {}, {}, {}, {},
     Library::OtherWidth},
    {"LibraryWithoutTheExports", {L"read"}, std::nullopt, {}, 12, "", "Qelvo_CAN.dll lacks export", "", {}, {}, {}, {},
     Library::NoExports},
    {"HelpWithoutTheLibrary", {L"--help"}, std::nullopt, {}, 0, "Usage: varnock-cli", "", "", {}, {}, {}, {},
     Library::None},

    // Provisioning, one run each. A missing ledger is created.
    // Provisioning, one run each. A ledger is made only when asked, and never by a run refused.
    {"ProvisionFirst", {L"provision", L"@ledger.csv", L"--new"}, std::nullopt, {}, 0,
     "old-serial: VN240017\r\nnew-serial: VN240001\r\nledger-line: 3\r\n", "", "", kReadWriteReadBack, {'0', '1'},
     {'0', '1'}, {std::nullopt, kProvisioned01}},
    {"ProvisionOnAMistypedPath", {L"provision", L"@ledgr.csv"}, std::nullopt, {}, 11, "",
     "no ledger at \"", "", {}, {}, {}, {std::nullopt}},
    {"ProvisionNewOverALedger", {L"provision", L"@ledger.csv", L"--new"}, std::nullopt, {}, 11, "",
     "is there already; it was left as it is", "", {}, {}, {}, {kEmptyLedger}},
    {"ProvisionNewRefused", {L"provision", L"@ledger.csv", L"--new", L"--suffix", L"17"}, std::nullopt, {}, 10, "",
     "which is taken: this adapter carries it now", "", {"open 1", "read 1"}, {}, {}, {std::nullopt}},
    {"ProvisionNewWithNoAdapter", {L"provision", L"@ledger.csv", L"--new"}, std::nullopt,
     {{L"VADAPTER_ABSENT", L"1"}}, 3, "", "cannot open the adapter", kOpenFailedMessage, {"open 0"}, {}, {},
     {std::nullopt}},
    {"ProvisionNewOnALongPath", {L"provision", L"@" + std::wstring(200, L'x') + L".csv", L"--new"}, std::nullopt, {},
     0, "old-serial: VN240017\r\nnew-serial: VN240001\r\nledger-line: 3\r\n", "", "", kReadWriteReadBack,
     {'0', '1'}, {'0', '1'}, {std::nullopt, kProvisioned01}},
    {"ProvisionOnCon", {L"provision", L"CON"}, std::nullopt, {}, 11, "", "names a device, not a file", "", {}, {}, {}},
    {"ProvisionOnNul", {L"provision", L"nul.csv", L"--new"}, std::nullopt, {}, 11, "", "names a device", "", {}, {},
     {}},
    {"ProvisionOnCom1", {L"provision", L".\\Com1"}, std::nullopt, {}, 11, "", "names a device", "", {}, {}, {}},
    {"ProvisionJson", {L"provision", L"@ledger.csv", L"--json"}, std::nullopt, {}, 0,
     "{\"result\":\"provisioned\",\"old_serial\":\"VN240017\",\"new_serial\":\"VN240001\",\"ledger_line\":3}\r\n", "",
     "", kReadWriteReadBack, {'0', '1'}, {'0', '1'}, {kEmptyLedger, kProvisioned01}},
    {"ProvisionWriteFailsJson", {L"provision", L"@ledger.csv", L"--json"}, std::nullopt,
     {{L"VADAPTER_FAIL_WRITE", L"1"}}, 6,
     "{\"result\":\"write_failed\",\"old_serial\":\"VN240017\",\"new_serial\":\"VN240001\",\"ledger_line\":3}\r\n",
     "refused the write", kWriteFailedMessage, {"open 1", "read 1", "write 0", "open 1", "read 1"}, {'0', '1'}, {},
     {kEmptyLedger, {{"reserved,VN240017,VN240001,", "failed,VN240017,VN240001,6"}}}},
    {"ProvisionSuffix", {L"provision", L"@ledger.csv", L"--suffix", L"AB"}, std::nullopt, {}, 0,
     "old-serial: VN240017\r\nnew-serial: VN2400AB\r\nledger-line: 3\r\n", "", "", kReadWriteReadBack, {'A', 'B'},
     {'A', 'B'}, {kEmptyLedger, {{"reserved,VN240017,VN2400AB,", "provisioned,VN240017,VN2400AB,"}}}},
    {"ProvisionItsOwnSerial", {L"provision", L"@ledger.csv", L"--suffix", L"17"}, std::nullopt, {}, 10, "",
     "is taken", "", {"open 1", "read 1"}, {}, {}, {kEmptyLedger}},
    {"ProvisionSuffixGivenOutBefore", {L"provision", L"@ledger.csv", L"--suffix", L"AB", L"--json"}, std::nullopt, {},
     10, "{\"result\":\"suffix_taken\",\"old_serial\":\"VN240017\",\"new_serial\":null,\"ledger_line\":null}\r\n",
     "is taken", "", {"open 1", "read 1"}, {}, {}, {kLedgerGaveOutAB}},
    {"ProvisionSuffixOfThreeBytes", {L"provision", L"@ledger.csv", L"--suffix", L"123"}, std::nullopt, {}, 5, "",
     "is 3 bytes", kNeedTwo, {}, {}, {}},
    {"ProvisionFromAPool", {L"provision", L"@ledger.csv", L"--pool", L"AY-B1"}, std::nullopt, {}, 0,
     "old-serial: VN240017\r\nnew-serial: VN2400AY\r\nledger-line: 3\r\n", "", "", kReadWriteReadBack, {'A', 'Y'},
     {'A', 'Y'}, {kEmptyLedger, {{"reserved,VN240017,VN2400AY,", "provisioned,VN240017,VN2400AY,"}}}},
    {"ProvisionFromAnEmptyPool", {L"provision", L"@ledger.csv", L"--pool", L"AB-AB", L"--json"}, std::nullopt, {},
     10, "{\"result\":\"no_free_suffix\",\"old_serial\":\"VN240017\",\"new_serial\":null,\"ledger_line\":null}\r\n",
     "no free suffix in the pool AB-AB: the ledger has taken every serial the pool gives with this adapter's prefix "
     "VN2400; give another pool with --pool", "", {"open 1", "read 1"}, {}, {}, {kLedgerGaveOutAB}},
    // Re-run on the adapter that row provisioned: its whole record is the one written.
    {"ProvisionedBefore", {L"provision", L"@ledger.csv", L"--json"}, Patched(FactoryRecord(), 17, "AB"), {}, 8,
     "{\"result\":\"already_provisioned\",\"old_serial\":\"VN2400AB\",\"new_serial\":null,\"ledger_line\":3}\r\n",
     "this adapter is provisioned already: the provisioned row at line 3 (2026-12-09T09:14:04Z, station LINE-1) gave "
     "it the serial VN2400AB", "", {"open 1", "read 1"}, {}, {}, {kLedgerGaveOutAB}},
    {"ProvisionReadBackDiffersJson", {L"provision", L"@ledger.csv", L"--json"}, std::nullopt,
     {{L"VADAPTER_WRITE_STORES_OTHER", L"1"}}, 7,
     "{\"result\":\"read_back_differs\",\"old_serial\":\"VN240017\",\"new_serial\":\"VN240001\","
     "\"read_back_serial\":\"VN240000\",\"ledger_line\":3}\r\n",
     "run provision again on this adapter: it settles it", "", kReadWriteReadBack, {'0', '1'}, {'0', '1'},
     {kEmptyLedger, {{"reserved,VN240017,VN240001,", "failed,VN240017,VN240001,7", "seen,VN240000,,"}}},
     Library::Virtual, Output::File, 18},
    // The pool never offers the serial the adapter carries.
    {"ProvisionPoolOfItsOwnSerial", {L"provision", L"@ledger.csv", L"--pool", L"17-18"}, std::nullopt, {}, 0,
     "old-serial: VN240017\r\nnew-serial: VN240018\r\nledger-line: 3\r\n", "", "", kReadWriteReadBack, {'1', '8'},
     {'1', '8'}, {kEmptyLedger, {{"reserved,VN240017,VN240018,", "provisioned,VN240017,VN240018,"}}}},
    // Serials typed by hand, as a person reads them, are taken.
    {"ProvisionPastHandTypedSerials", {L"provision", L"@ledger.csv"}, std::nullopt, {}, 0,
     "old-serial: VN240017\r\nnew-serial: VN240007\r\nledger-line: 10\r\n", "", "", kReadWriteReadBack, {'0', '7'},
     {'0', '7'}, {kLedgerTypedByHand, {{"reserved,VN240017,VN240007,", "provisioned,VN240017,VN240007,"}}}},
    // Its rows are read, and this run's carry its columns, the later one empty.
    {"ProvisionOnALaterBuildsLedger", {L"provision", L"@ledger.csv"}, std::nullopt, {}, 0,
     "old-serial: VN240017\r\nnew-serial: VN240002\r\nledger-line: 4\r\n", "", "", kReadWriteReadBack, {'0', '2'},
     {'0', '2'}, {kLedgerGrown, {{"reserved,VN240017,VN240002,", "provisioned,VN240017,VN240002,"}}}},
    // A later build's header may span two lines (a quoted name with a line
    // break): the closing row's line is still the line it lands on.
    {"ProvisionOnALedgerWhoseHeaderSpansTwoLines", {L"provision", L"@ledger.csv"}, std::nullopt, {}, 0,
     "old-serial: VN240017\r\nnew-serial: VN240001\r\nledger-line: 4\r\n", "", "", kReadWriteReadBack, {'0', '1'},
     {'0', '1'}, {kBom + kHeader + ",\"no\nte\"\r\n", {{"reserved,VN240017,VN240001,", "provisioned,VN240017,VN240001,"}}}},
    {"PoolOfOneCharacter", {L"provision", L"@ledger.csv", L"--pool", L"5"}, std::nullopt, {}, 2, "", "is not one", "", {},
     {}, {}},
    {"PoolBackwards", {L"provision", L"@ledger.csv", L"--pool", L"43-41"}, std::nullopt, {}, 2, "", "is not one", "", {},
     {}, {}},
    {"PoolWithAPunctuationMark", {L"provision", L"@ledger.csv", L"--pool", L"4!-50"}, std::nullopt, {}, 2, "",
     "is not one", "", {}, {}, {}},
    {"ProvisionWithoutALedger", {L"provision"}, std::nullopt, {}, 2, "", "ledger", "", {}, {}, {}},
    {"ProvisionOnAnAbsentAdapter", {L"provision", L"@ledger.csv"}, std::nullopt, {{L"VADAPTER_ABSENT", L"1"}}, 3, "",
     "cannot open the adapter", kOpenFailedMessage, {"open 0"}, {}, {}, {kEmptyLedger}},
    {"LedgerBusy", {L"provision", L"@ledger.csv", L"--wait", L"1", L"--json"}, std::nullopt, {}, 9,
     "{\"result\":\"ledger_busy\",\"old_serial\":\"VN240017\",\"new_serial\":null,\"ledger_line\":null}\r\n", "busy",
     "", {"open 1", "read 1"}, {}, {}, {kEmptyLedger, std::nullopt, true}},
    // Files that are not a ledger, and a ledger that cannot be: left as they are.
    {"LedgerOfJunk", {L"provision", L"@ledger.csv", L"--json"}, std::nullopt, {}, 11,
     "{\"result\":\"ledger_error\",\"old_serial\":\"VN240017\",\"new_serial\":null,\"ledger_line\":null}\r\n",
     "not a ledger", "", {"open 1", "read 1"}, {}, {},
     {std::string("\x7F" "ELF\x02\x01\x01\0\0junk\xFF\xFE\r\n", 18)}},
    {"LedgerOfAnotherProgram", {L"provision", L"@ledger.csv"}, std::nullopt, {}, 11, "", "not a ledger", "",
     {"open 1", "read 1"}, {}, {},
     {kBom + "name,price,count\r\nwidget,3.50,12\r\n"}},
    {"LedgerRowWithAFieldMissing", {L"provision", L"@ledger.csv"}, std::nullopt, {}, 11, "", "not a ledger", "",
     {"open 1", "read 1"}, {}, {}, {kEmptyLedger + "2026-12-09T09:14:03Z,LINE-1,reserved,VN240017,VN240001,V2.0,0213,Virtual CAN,00\r\n"}},
    {"LedgerIsAFolder", {L"provision", L"@ledger.csv"}, std::nullopt, {}, 11, "", "cannot open the ledger", "", {},
     {}, {}, {kAFolder}},
    {"LedgerInAMissingFolder", {L"provision", L"@missing\\ledger.csv"}, std::nullopt, {}, 11, "",
     "its folder does not exist", "", {}, {}, {}},
};
#pragma GCC diagnostic pop

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// One varnock-cli.exe, started with stdout and stderr to files of the test's
// own, fresh ones: a file left from an earlier run is never read as this one's.
class CliProcess {
public:
    CliProcess(const std::wstring& exe, const std::vector<std::wstring>& arguments, const Environment& environment,
               const std::wstring& outPath, const std::wstring& errPath, Output output = Output::File)
        : m_outPath(outPath), m_errPath(errPath)
    {
        DeleteFileW(outPath.c_str());
        DeleteFileW(errPath.c_str());
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE out = INVALID_HANDLE_VALUE;
        if (output == Output::ClosedPipe) {
            HANDLE readEnd = nullptr;
            if (CreatePipe(&readEnd, &out, &inherit, 0))
                CloseHandle(readEnd);  // before the child writes: every write fails
            else
                out = INVALID_HANDLE_VALUE;
        } else {
            out = CreateFileW(outPath.c_str(), output == Output::ReadOnly ? GENERIC_READ : GENERIC_WRITE,
                              FILE_SHARE_READ, &inherit, CREATE_NEW, 0, nullptr);
        }
        HANDLE err = CreateFileW(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_NEW, 0, nullptr);
        if (out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE) {
            STARTUPINFOW startup{};
            startup.cb = sizeof startup;
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdInput = INVALID_HANDLE_VALUE;
            startup.hStdOutput = out;
            startup.hStdError = err;
            std::wstring line = CommandLine(exe, arguments);
            std::wstring block = EnvironmentBlock(environment);
            const auto start = [&] {
                return CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, TRUE,
                                      CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, block.data(),
                                      ExeDirectory().c_str(), &startup, &m_process);
            };
            // Wine's answer when the new process dies before its first line
            // of code: nothing of it ran, so it may be started again.
            bool started = start();
            if (!started && GetLastError() == ERROR_INTERNAL_ERROR) {
                SayStartedAgain("varnock-cli.exe did not start (error 1359)");
                started = start();
            }
            if (!started)
                ADD_FAILURE() << "cannot start " << Utf8(exe) << ": error " << GetLastError();
        } else {
            ADD_FAILURE() << "cannot create " << Utf8(outPath) << " and " << Utf8(errPath) << ": error "
                          << GetLastError();
        }
        if (out != INVALID_HANDLE_VALUE)
            CloseHandle(out);
        if (err != INVALID_HANDLE_VALUE)
            CloseHandle(err);
    }
    ~CliProcess()
    {
        if (m_process.hProcess == nullptr)
            return;
        TerminateProcess(m_process.hProcess, 99);
        WaitForSingleObject(m_process.hProcess, 5000);
        CloseHandle(m_process.hThread);
        CloseHandle(m_process.hProcess);
    }
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    HANDLE Handle() const { return m_process.hProcess; }

    CliRun Wait()
    {
        CliRun run;
        if (m_process.hProcess == nullptr)
            return run;
        if (WaitForSingleObject(m_process.hProcess, 30000) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "varnock-cli.exe did not end within 30 s";
            TerminateProcess(m_process.hProcess, 99);
            WaitForSingleObject(m_process.hProcess, 5000);
        }
        GetExitCodeProcess(m_process.hProcess, &run.exitCode);
        const std::vector<uint8_t> outBytes = ReadFileBytes(m_outPath), errBytes = ReadFileBytes(m_errPath);
        run.out.assign(outBytes.begin(), outBytes.end());
        run.err.assign(errBytes.begin(), errBytes.end());
        return run;
    }

private:
    std::wstring m_outPath, m_errPath;
    PROCESS_INFORMATION m_process{};
};

// The ledger's rows after its header, or why it is no ledger: UTF-8 with a
// byte order mark, CRLF, fields quoted as RFC 4180 quotes them, every row
// with every column of its header (ours, and a later build's after them).
bool ParseLedger(const std::string& bytes, std::vector<std::vector<std::string>>& rows, std::string& problem)
{
    rows.clear();
    const std::string start = kBom + kHeader;
    const size_t headerEnd = bytes.find("\r\n");
    if (bytes.rfind(start, 0) != 0 || headerEnd == std::string::npos ||
        (headerEnd != start.size() && bytes[start.size()] != ',')) {
        problem = "it does not begin with the byte order mark and the header line";
        return false;
    }
    const size_t columns =
        fixture::kColumns + static_cast<size_t>(std::count(bytes.begin() + start.size(), bytes.begin() + headerEnd, ','));
    size_t i = headerEnd + 2;
    while (i < bytes.size()) {
        std::vector<std::string> row(1);
        bool quoted = false, wasQuoted = false;
        for (;; ++i) {
            if (i == bytes.size()) {
                problem = "row " + std::to_string(rows.size() + 1) + " ends without CR LF";
                return false;
            }
            const char c = bytes[i];
            if (quoted) {
                if (c == '"' && i + 1 < bytes.size() && bytes[i + 1] == '"')
                    row.back() += bytes[i++];
                else if (c == '"')
                    quoted = false;
                else
                    row.back() += c;
            } else if (c == '"' && row.back().empty() && !wasQuoted) {
                quoted = wasQuoted = true;
            } else if (c == ',') {
                row.emplace_back();
                wasQuoted = false;
            } else if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
                i += 2;
                break;
            } else if (c == '\r' || c == '\n' || c == '"' || wasQuoted) {
                problem = "row " + std::to_string(rows.size() + 1) + " has a stray CR, LF or quote";
                return false;
            } else {
                row.back() += c;
            }
        }
        if (row.size() != columns) {
            problem = "row " + std::to_string(rows.size() + 1) + " has " + std::to_string(row.size()) + " fields";
            return false;
        }
        rows.push_back(row);
    }
    return true;
}

// "event,old_serial,new_serial,exit_code" of each row from `first` on, after
// checking that each names its time, station and the record as it was read.
std::vector<std::string> Events(const std::vector<std::vector<std::string>>& rows, size_t first,
                                const Record& recordRead)
{
    std::vector<std::string> events;
    for (size_t i = first; i < rows.size(); ++i) {
        const auto& row = rows[i];
        EXPECT_EQ(row[0].size(), 20u) << "time of row " << i + 1 << ": " << row[0];
        EXPECT_FALSE(row[1].empty()) << "row " << i + 1 << " names no station";
        if (row[2] != "seen") {  // a seen row has the record read back
            EXPECT_EQ(row[8], Hex(recordRead)) << "record of row " << i + 1;
        }
        for (size_t k = fixture::kColumns; k < row.size(); ++k)
            EXPECT_EQ(row[k], "") << "a later build's column in row " << i + 1;
        events.push_back(row[2] + "," + row[3] + "," + row[4] + "," + row[9]);
    }
    return events;
}

class CliTest : public VarnockTest {
protected:
    std::wstring Path(const std::wstring& name) const { return m_directory + L"\\" + name; }

    // An argument that begins with @ is a path in the test's folder.
    std::vector<std::wstring> Expanded(std::vector<std::wstring> arguments) const
    {
        for (std::wstring& argument : arguments)
            if (!argument.empty() && argument[0] == L'@')
                argument = Path(argument.substr(1));
        return arguments;
    }

    // The environment of a run on the adapter with this image and call log.
    // What the station remembers of its ledgers is the test's own, too.
    Environment On(const std::wstring& image, const std::wstring& log, Environment adapter = {}) const
    {
        adapter[L"VADAPTER_IMAGE"] = image;
        adapter[L"VADAPTER_LOG"] = log;
        adapter[L"LOCALAPPDATA"] = Path(L"appdata");
        return adapter;
    }

    void SetUp() override
    {
        VarnockTest::SetUp();
        RemoveFiles(Path(L"appdata\\Varnock\\ledgers"));
    }

    CliRun Run(const std::vector<std::wstring>& arguments, const Environment& environment,
               Output output = Output::File, const std::wstring& exe = ExeDirectory() + L"\\varnock-cli.exe")
    {
        const std::wstring run = L"run-" + std::to_wstring(++m_runs);
        return CliProcess(exe, Expanded(arguments), environment, Path(run + L".out"), Path(run + L".err"), output)
            .Wait();
    }

    // A copy of varnock-cli.exe alone in a folder with `library` beside it
    // as Qelvo_CAN.dll (none: nothing beside it).
    std::wstring Alone(const std::wstring& library)
    {
        const std::wstring folder = Path(L"alone");
        CreateDirectoryW(folder.c_str(), nullptr);
        DeleteFileW((folder + L"\\Qelvo_CAN.dll").c_str());
        const std::wstring exe = folder + L"\\varnock-cli.exe";
        EXPECT_TRUE(CopyFileW((ExeDirectory() + L"\\varnock-cli.exe").c_str(), exe.c_str(), FALSE));
        if (!library.empty()) {
            EXPECT_TRUE(CopyFileW(library.c_str(), (folder + L"\\Qelvo_CAN.dll").c_str(), FALSE))
                << "cannot copy " << Utf8(library);
        }
        return exe;
    }

    int m_runs = 0;

    // The serial in an image, bytes 11 to 18.
    std::string SerialIn(const std::wstring& image)
    {
        const std::vector<uint8_t> bytes = ReadFileBytes(image);
        return bytes.size() == 52 ? std::string(bytes.begin() + 11, bytes.begin() + 19) : "<no image>";
    }
};

class Cli : public CliTest, public ::testing::WithParamInterface<Case> {};

TEST_P(Cli, ExitCodeOutputAndWhatReachesTheAdapter)
{
    const Case& row = GetParam();
    if (row.record)
        WriteFileBytes(m_image, *row.record);

    std::wstring ledger;
    for (const std::wstring& argument : Expanded(row.arguments))
        if (argument.rfind(m_directory, 0) == 0)
            ledger = argument;
    const std::wstring ledgerFolder = ledger.substr(0, ledger.find_last_of(L'\\'));
    if (!ledger.empty()) {
        DeleteFileW(ledger.c_str());
        RemoveDirectoryW(ledger.c_str());
        if (ledgerFolder != m_directory)
            RemoveDirectoryW(ledgerFolder.c_str());
        if (row.ledger.before == kAFolder)
            ASSERT_TRUE(CreateDirectoryW(ledger.c_str(), nullptr));
        else if (row.ledger.before)
            WriteFileBytes(ledger, std::vector<uint8_t>(row.ledger.before->begin(), row.ledger.before->end()));
    }
    HANDLE held = INVALID_HANDLE_VALUE;
    OVERLAPPED whole{};
    if (row.ledger.lockedByOthers) {
        held = CreateFileW(ledger.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        ASSERT_TRUE(LockFileEx(held, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole));
    }

    std::wstring exe = ExeDirectory() + L"\\varnock-cli.exe";
    if (row.library == Library::None)
        exe = Alone(L"");
    else if (row.library == Library::OtherWidth)
        exe = Alone(ExeDirectory() + L"\\other-width\\Qelvo_CAN.dll");
    else if (row.library == Library::NoExports)
        exe = Alone(ExeDirectory() + L"\\varnock_e2e_menu_reader.dll");
    const CliRun run = Run(row.arguments, On(m_image, m_log, row.adapter), row.output, exe);
    if (held != INVALID_HANDLE_VALUE) {
        UnlockFileEx(held, 0, MAXDWORD, MAXDWORD, &whole);
        CloseHandle(held);
    }

    EXPECT_EQ(run.exitCode, row.exitCode);
    if (row.out.empty() || row.out.back() == '\n')
        EXPECT_EQ(run.out, row.out);
    else
        EXPECT_EQ(run.out.substr(0, row.out.size()), row.out) << run.out;
    if (row.exitCode == 0) {
        EXPECT_EQ(run.err, "");
    } else {
        // One English line that says what was wrong, then the window's message.
        const std::string first = run.err.substr(0, run.err.find("\r\n"));
        EXPECT_EQ(first.rfind("varnock-cli: ", 0), 0u) << run.err;
        EXPECT_NE(first.find(row.error), std::string::npos) << run.err;
        EXPECT_EQ(run.err, first + "\r\n" + (row.message.empty() ? "" : row.message + "\r\n"));
    }
    // An overlong argument is not echoed back whole.
    for (const std::wstring& argument : row.arguments) {
        if (argument.size() > 64) {
            EXPECT_EQ(run.err.find(Utf8(argument)), std::string::npos);
        }
    }

    std::vector<std::string> calls;
    for (const auto& call : Calls())
        calls.push_back(call.op + " " + std::to_string(call.result));
    EXPECT_EQ(calls, row.calls);
    const Record before = row.record.value_or(FactoryRecord());
    Record after = row.suffixStored.empty() ? before : Patched(before, 17, row.suffixStored);
    if (row.otherByte != 0)
        after[row.otherByte] ^= 1;
    // The adapter makes its image at the first read.
    const bool imaged = row.record || std::count(row.calls.begin(), row.calls.end(), "read 1") > 0;
    EXPECT_EQ(Hex(ReadFileBytes(m_image)), imaged ? Hex(after) : "");
    // A write sends the record read, with bytes 17 and 18 alone changed.
    const auto writes = CallsOf("write");
    if (row.suffixSent.empty()) {
        EXPECT_TRUE(writes.empty());
    } else {
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_EQ(Hex(writes[0].record), Hex(Patched(before, 17, row.suffixSent)));
    }

    if (ledger.empty())
        return;
    if (!row.ledger.added) {
        // Left as it was: the same bytes, the same folder, or still nothing.
        if (row.ledger.before == kAFolder) {
            EXPECT_TRUE(IsFolder(ledger));
        } else if (row.ledger.before) {
            EXPECT_EQ(Hex(ReadFileBytes(ledger)),
                      Hex(std::vector<uint8_t>(row.ledger.before->begin(), row.ledger.before->end())));
        } else {
            EXPECT_FALSE(Exists(ledger)) << "a ledger was created";
        }
        if (ledgerFolder != m_directory) {
            EXPECT_FALSE(Exists(ledgerFolder)) << "the ledger's folder was created";
        }
        return;
    }
    std::vector<std::vector<std::string>> rowsBefore, rowsAfter;
    std::string problem;
    if (row.ledger.before) {
        ASSERT_TRUE(ParseLedger(*row.ledger.before, rowsBefore, problem)) << problem;
    }
    const std::vector<uint8_t> bytes = ReadFileBytes(ledger);
    ASSERT_TRUE(ParseLedger(std::string(bytes.begin(), bytes.end()), rowsAfter, problem)) << problem;
    EXPECT_EQ(Events(rowsAfter, rowsBefore.size(), before), *row.ledger.added);
    // Rows are only ever appended, and a new ledger has this build's header.
    const std::string start = row.ledger.before ? *row.ledger.before : kBom + kHeader + "\r\n";
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()).compare(0, start.size(), start), 0) << "its first bytes changed";
}

INSTANTIATE_TEST_SUITE_P(Runs, Cli, ::testing::ValuesIn(kCases),
                         [](const auto& test) { return std::string(test.param.name); });

// Provisioning adapter after adapter on one ledger, each adapter with an
// image of its own; all come from the factory as VN240017, unless a step
// gives one another record first.
struct Step {
    int adapter;
    std::vector<std::wstring> arguments;  // after "provision <ledger>"
    Environment faults;
    DWORD exitCode;
    std::string newSerial;  // the adapter's serial afterwards; none: unchanged
    std::string error;      // in stderr's English line
    size_t settles = 0;     // the reserved row a run found written after all: nothing is sent
    std::optional<Record> image = {};  // the adapter's record before the step
    std::function<std::string(const std::string&)> edit = {};  // what a person does to the ledger first
    std::string printed = {};  // what reached @printed.zpl: the label; empty: nothing
};
struct Scenario {
    const char* name;
    std::optional<std::string> ledger;  // before; none: no file
    std::vector<Step> steps;
    std::vector<std::string> rows;  // every row afterwards, "event,old_serial,new_serial,exit_code"
};
void PrintTo(const Scenario& scenario, std::ostream* os) { *os << scenario.name; }

// Label templates in the test's folder: one a line could have (a byte order
// mark, ^CI28, hex escapes), and two that are refused.
const std::pair<const wchar_t*, std::string> kTemplates[] = {
    {L"label.zpl", kBom + "^XA^CI28\r\n^FO20,20^A0N,60,60^FH^FD${serial}^FS\r\n"
                   "^FO20,90^FH^FD${product} ${hardware} ${firmware}, line ${ledger_line}, was ${old_serial}^FS\r\n"
                   "^FO400,20^BQN,2,4^FH^FDQA,${serial}^FS^XZ\r\n"},
    {L"unknown.zpl", "^XA\r\n^FD${serial} ${colour}^FS^XZ\r\n"},
    {L"ascii.zpl", "^XA^FD${serial}^FS^XZ\r\n"},
    {L"prefix-a.zpl", "^XA^CCA\r\nAFO10,10AFD${serial}AFSAXZ\r\n"},  // A is the prefix: no serial with an A
};
// label.zpl, filled.
std::string Label(const std::string& serial, size_t line, const std::string& old = "VN240017")
{
    return "^XA^CI28\r\n^FO20,20^A0N,60,60^FH^FD" + serial + "^FS\r\n^FO20,90^FH^FDVirtual CAN V2.0 0213, line " +
           std::to_string(line) + ", was " + old + "^FS\r\n^FO400,20^BQN,2,4^FH^FDQA," + serial + "^FS^XZ\r\n";
}
const std::vector<std::wstring> kLabelled = {L"--label", L"@label.zpl", L"--printer", L"@printed.zpl"};
const std::wstring kPortRefusing = L"tcp:127.0.0.1:1";

// The ledger's first `lines` lines, as an editor opened earlier saves it.
std::string FirstLines(const std::string& ledger, size_t lines)
{
    size_t end = 0;
    for (size_t i = 0; i < lines && end != std::string::npos; ++i)
        end = ledger.find('\n', end) + 1;
    return ledger.substr(0, end);
}

const Environment kAbortAfterWrite = {{L"VADAPTER_ABORT_AFTER_WRITE", L"1"}};
const std::string kGone = "<moved away>";  // an edit that takes the ledger away
// Adapter from another batch (firmware 0214) that left its factory as VN240001.
const Record kOtherBatch01 = Patched(Patched(FactoryRecord(), 2, std::vector<uint8_t>{0x14, 0x02}), 17, "01");

const Scenario kScenarios[] = {
    {"ThreeAdaptersThenTheFirstAgain",
     kEmptyLedger,
     {{0, {}, {}, 0, "VN240001", ""},
      {1, {}, {}, 0, "VN240002", ""},
      {2, {}, {}, 0, "VN240003", ""},
      {0, {}, {}, 8, "", "this adapter is provisioned already: the provisioned row at line 3 ("}},
     {"reserved,VN240017,VN240001,", "provisioned,VN240017,VN240001,", "reserved,VN240017,VN240002,",
      "provisioned,VN240017,VN240002,", "reserved,VN240017,VN240003,", "provisioned,VN240017,VN240003,"}},
    // The last row cut after its new_serial: that serial is taken, and the
    // row is completed so that the next run reads the ledger.
    {"CutLastRow",
     kEmptyLedger + "2026-12-09T09:14:03Z,LINE-1,reserved,VN240017,VN240001,V2",
     {{0, {}, {}, 0, "VN240002", ""}, {1, {}, {}, 0, "VN240003", ""}},
     {"reserved,VN240017,VN240001,", "reserved,VN240017,VN240002,", "provisioned,VN240017,VN240002,",
      "reserved,VN240017,VN240003,", "provisioned,VN240017,VN240003,"}},
    // The adapter may hold a serial whose write failed: never again. The
    // retry finds the factory serial, and gives the adapter a new one.
    {"FailedWriteThenARetry",
     kEmptyLedger,
     {{0, {}, {{L"VADAPTER_FAIL_WRITE", L"1"}}, 6, "", "keeps VN240001 reserved (line 2)"},
      {1, {}, {}, 0, "VN240002", ""},
      {0, {}, {}, 0, "VN240003", ""}},
     {"reserved,VN240017,VN240001,", "failed,VN240017,VN240001,6", "reserved,VN240017,VN240002,",
      "provisioned,VN240017,VN240002,", "reserved,VN240017,VN240003,", "provisioned,VN240017,VN240003,"}},
    // The adapter reads back 00 where 02 was written: it carries 00 now, seen
    // and never given out. The retry gives it a serial of its own.
    {"ReadBackDiffersThenARetry",
     kEmptyLedger,
     {{0, {}, {}, 0, "VN240001", ""},
      {1, {}, {{L"VADAPTER_WRITE_STORES_OTHER", L"1"}}, 7, "VN240003", "now reads back the serial VN240003"},
      {2, {}, {}, 0, "VN240004", ""},
      {1, {}, {}, 0, "VN240005", ""}},
     {"reserved,VN240017,VN240001,", "provisioned,VN240017,VN240001,", "reserved,VN240017,VN240002,",
      "failed,VN240017,VN240002,7", "seen,VN240003,,", "reserved,VN240017,VN240004,",
      "provisioned,VN240017,VN240004,", "reserved,VN240003,VN240005,", "provisioned,VN240003,VN240005,"}},
    // The serial landed, another byte did not: not what that run meant to write.
    {"AnotherByteDiffersThenARetry",
     kEmptyLedger,
     {{0, {}, {{L"VADAPTER_WRITE_STORES_OTHER", L"1"}, {L"VADAPTER_WRITE_STORES_OTHER_BYTE", L"30"}}, 7, "VN240001",
       "byte 30"},
      {0, {}, {}, 0, "VN240002", ""}},
     {"reserved,VN240017,VN240001,", "failed,VN240017,VN240001,7", "reserved,VN240001,VN240002,",
      "provisioned,VN240001,VN240002,"}},
    // A write that landed, though its run could not say so: the retry
    // settles it, and sends nothing.
    {"ReadBackUnreadableThenSettled",
     kEmptyLedger,
     {{0, {}, {{L"VADAPTER_FAIL_READ_AFTER_WRITE", L"1"}}, 7, "VN240001", "could not be read back"},
      {0, {}, {}, 0, "VN240001", "", 2},
      {0, {}, {}, 8, "", "the provisioned row at line 4 ("}},
     {"reserved,VN240017,VN240001,", "failed,VN240017,VN240001,7", "provisioned,VN240001,VN240001,settles line 2"}},
    {"AbortAfterTheWriteThenSettled",
     kEmptyLedger,
     {{0, {}, kAbortAfterWrite, 14, "VN240001", "ended abnormally"}, {0, {}, {}, 0, "VN240001", "", 2}},
     {"reserved,VN240017,VN240001,", "provisioned,VN240001,VN240001,settles line 2"}},
    // Another batch's adapter that came as a serial given out: a fresh one.
    {"ForeignAdapterWithAGivenSerial",
     kEmptyLedger,
     {{0, {}, {}, 0, "VN240001", ""}, {1, {}, {}, 0, "VN240002", "", 0, kOtherBatch01}},
     {"reserved,VN240017,VN240001,", "provisioned,VN240017,VN240001,",
      "reserved,VN240001,VN240002,collides with line 3", "provisioned,VN240001,VN240002,collides with line 3"}},
    // An adapter whose record is byte for byte one provisioned before is a
    // re-run, until the operator says it is another one.
    {"TwinsAndAgain",
     kEmptyLedger,
     {{0, {}, {}, 0, "VN240001", ""},
      {1, {}, {}, 8, "", "a twin), give it a serial of its own with --again", 0, Patched(FactoryRecord(), 17, "01")},
      {1, {L"--again"}, {}, 0, "VN240002", ""}},
     {"reserved,VN240017,VN240001,", "provisioned,VN240017,VN240001,", "reserved,VN240001,VN240002,again, after line 3",
      "provisioned,VN240001,VN240002,again, after line 3"}},
    // A lying write lands a serial another adapter was given: both carry it
    // with the same record, so the retry is no re-run, and gets another.
    {"ALyingWriteLandsAGivenSerial",
     kEmptyLedger,
     {{0, {}, {}, 0, "VN240001", ""},
      {1, {L"--suffix", L"03"}, {}, 0, "VN240003", ""},
      {2, {}, {{L"VADAPTER_WRITE_STORES_OTHER", L"1"}}, 7, "VN240003",
       "now reads back the serial VN240003, which the provisioned row at line 5 ("},
      {2, {}, {}, 0, "VN240004", ""}},
     {"reserved,VN240017,VN240001,", "provisioned,VN240017,VN240001,", "reserved,VN240017,VN240003,",
      "provisioned,VN240017,VN240003,", "reserved,VN240017,VN240002,", "failed,VN240017,VN240002,7", "seen,VN240003,,",
      "reserved,VN240003,VN240004,collides with line 5", "provisioned,VN240003,VN240004,collides with line 5"}},
    // A ledger moved away is never started again where it was.
    {"ALedgerMovedAway",
     std::nullopt,
     {{0, {L"--new"}, {}, 0, "VN240001", ""},
      {0, {}, {}, 11, "", "though this station wrote to one there, in its row at line 3 (provisioned VN240001 at ", 0,
       std::nullopt, [](const std::string&) { return kGone; }},
      {0, {L"--new"}, {}, 11, "", "where this station wrote to one before"}},
     {}},
    // A template refused, or one that cannot hold a value: before anything
    // is reserved, so no serial is lost. A label only after exit 0.
    {"ABadTemplateCostsNoSerial",
     kEmptyLedger,
     {{0, {L"--label", L"@unknown.zpl", L"--printer", L"@printed.zpl"}, {}, 16, "",
       "unknown.zpl\", line 2, column 14: unknown placeholder ${\"colour\"}", 0, FactoryRecord()},
      {0, {L"--suffix", L"中", L"--label", L"@ascii.zpl", L"--printer", L"@printed.zpl"}, {}, 16, "",
       "line 1, column 7: ${serial} is \"VN2400\xE4\xB8\xAD\", which is not ASCII"},
      {0, {L"--pool", L"A0-ZZ", L"--label", L"@prefix-a.zpl", L"--printer", L"@printed.zpl"}, {}, 16, "",
       "line 2, column 12: ${serial} is \"VN2400A0\", which holds A: the printer would take it for a command"},
      {0, {L"--suffix", L"中", L"--label", L"@label.zpl", L"--printer", L"@printed.zpl"}, {{L"VADAPTER_FAIL_WRITE", L"1"}},
       6, "", "keeps VN2400\xE4\xB8\xAD reserved"},
      {0, kLabelled, {}, 0, "VN240001", "", 0, std::nullopt, {}, Label("VN240001", 5)}},
     {"reserved,VN240017,VN2400\xE4\xB8\xAD,", "failed,VN240017,VN2400\xE4\xB8\xAD,6", "reserved,VN240017,VN240001,",
      "provisioned,VN240017,VN240001,", "labelled,VN240017,VN240001,@printed.zpl"}},
    // A printer that refuses: the adapter keeps its serial, the ledger no
    // labelled row; a settled run prints its label too.
    {"APrinterRefusesThenASettledRunIsLabelled",
     kEmptyLedger,
     {{0, {L"--label", L"@label.zpl", L"--printer", kPortRefusing}, {}, 15, "VN240001",
       "the adapter was provisioned: its serial is now VN240001, ledger line 3; but the label was not printed: could "
       "not connect to 127.0.0.1 port 1"},
      {1, kLabelled, {{L"VADAPTER_FAIL_READ_AFTER_WRITE", L"1"}}, 7, "VN240002", "could not be read back"},
      {1, kLabelled, {}, 0, "VN240002", "", 4, std::nullopt, {}, Label("VN240002", 6, "VN240002")}},
     {"reserved,VN240017,VN240001,", "provisioned,VN240017,VN240001,", "reserved,VN240017,VN240002,",
      "failed,VN240017,VN240002,7", "provisioned,VN240002,VN240002,settles line 4",
      "labelled,VN240002,VN240002,@printed.zpl"}},
    {"PoolOfOneUsedUp",
     kEmptyLedger,
     {{0, {L"--pool", L"05-05"}, {}, 0, "VN240005", ""},
      {1, {L"--pool", L"05-05"}, {}, 10, "", "no free suffix in the pool 05-05"}},
     {"reserved,VN240017,VN240005,", "provisioned,VN240017,VN240005,"}},
    // An editor opened before the second run saves over the ledger: the
    // second run's rows are gone, and the station refuses the ledger.
    {"AnEditorSavesOverTheLedger",
     kEmptyLedger,
     {{0, {}, {}, 0, "VN240001", ""},
      {1, {}, {}, 0, "VN240002", ""},
      {2, {}, {}, 11, "", "went back in time: it is shorter than when this station last wrote to it, in its row at "
                          "line 5 (provisioned VN240002 at ", 0, std::nullopt,
       [](const std::string& ledger) { return FirstLines(ledger, 3); }},
      {2, {}, {}, 11, "", "not the same in its first rows", 0, std::nullopt,
       [](const std::string& ledger) {
           std::string edited = ledger;
           edited.replace(edited.find("VN240001"), 8, "VN24000X");
           return edited + TypedRow("VN240050") + TypedRow("VN240051") + TypedRow("VN240052");
       }}},
     {"reserved,VN240017,VN24000X,", "provisioned,VN240017,VN240001,", "provisioned,VN240017,VN240050,",
      "provisioned,VN240017,VN240051,", "provisioned,VN240017,VN240052,"}},
};

class Provision : public CliTest, public ::testing::WithParamInterface<Scenario> {};

TEST_P(Provision, AdapterAfterAdapterOnOneLedger)
{
    const Scenario& scenario = GetParam();
    const std::wstring ledger = Path(L"ledger.csv");
    if (scenario.ledger)
        WriteFileBytes(ledger, std::vector<uint8_t>(scenario.ledger->begin(), scenario.ledger->end()));
    for (const auto& [name, bytes] : kTemplates)
        WriteFileBytes(Path(name), std::vector<uint8_t>(bytes.begin(), bytes.end()));
    const std::wstring printed = Path(L"printed.zpl");
    for (size_t i = 0; i < scenario.steps.size(); ++i) {
        const Step& step = scenario.steps[i];
        SCOPED_TRACE("step " + std::to_string(i + 1));
        const std::wstring image = Path(L"adapter-" + std::to_wstring(step.adapter) + L".bin");
        const std::wstring log = Path(L"calls-" + std::to_wstring(i + 1) + L".log");
        if (step.image)
            WriteFileBytes(image, *step.image);
        if (step.edit) {
            const std::vector<uint8_t> bytes = ReadFileBytes(ledger);
            const std::string edited = step.edit(std::string(bytes.begin(), bytes.end()));
            if (edited == kGone)
                DeleteFileW(ledger.c_str());
            else
                WriteFileBytes(ledger, std::vector<uint8_t>(edited.begin(), edited.end()));
        }
        const std::string serialBefore = Exists(image) ? SerialIn(image) : "VN240017";
        DeleteFileW(printed.c_str());
        const bool labels = std::count(step.arguments.begin(), step.arguments.end(), L"--label") != 0;
        const std::vector<uint8_t> ledgerBefore = ReadFileBytes(ledger);
        std::vector<std::wstring> arguments = {L"provision", L"@ledger.csv"};
        arguments.insert(arguments.end(), step.arguments.begin(), step.arguments.end());
        const CliRun run = Run(arguments, On(image, log, step.faults));

        EXPECT_EQ(run.exitCode, step.exitCode) << run.err;
        EXPECT_NE(run.err.substr(0, run.err.find("\r\n")).find(step.error), std::string::npos) << run.err;
        const std::vector<LibraryCall> calls = ReadCallLog(log);
        const bool wrote = std::any_of(calls.begin(), calls.end(), [](const auto& c) { return c.op == "write"; });
        const std::vector<uint8_t> ledgerAfter = ReadFileBytes(ledger);
        if (step.exitCode == 0) {
            // The closing row is the ledger's last line, or the labelled row after it.
            const auto lines = std::count(ledgerAfter.begin(), ledgerAfter.end(), '\n');
            EXPECT_EQ(run.out, "old-serial: " + serialBefore + "\r\nnew-serial: " + step.newSerial +
                                   "\r\nledger-line: " + std::to_string(lines - (labels ? 1 : 0)) + "\r\n" +
                                   (step.settles != 0 ? "settles-line: " + std::to_string(step.settles) + "\r\n" : "") +
                                   (labels ? "labelled-line: " + std::to_string(lines) + "\r\n" : ""));
        } else {
            EXPECT_EQ(run.out, "");
        }
        EXPECT_EQ(SerialIn(image), step.newSerial.empty() ? serialBefore : step.newSerial);
        const bool sends = (step.exitCode == 0 && step.settles == 0) || step.exitCode == 6 || step.exitCode == 7 ||
                           step.exitCode == 14 || step.exitCode == 15;
        const std::vector<uint8_t> label = ReadFileBytes(printed);
        EXPECT_EQ(std::string(label.begin(), label.end()), step.printed);
        EXPECT_EQ(wrote, sends);
        // Nothing sent, nothing recorded.
        if (!sends && step.settles == 0) {
            EXPECT_EQ(Hex(ledgerAfter), Hex(ledgerBefore));
        }
    }
    if (scenario.rows.empty()) {
        EXPECT_FALSE(Exists(ledger)) << "a ledger was made";
        return;
    }
    std::vector<std::vector<std::string>> rows;
    std::string problem;
    const std::vector<uint8_t> bytes = ReadFileBytes(ledger);
    ASSERT_TRUE(ParseLedger(std::string(bytes.begin(), bytes.end()), rows, problem)) << problem;
    std::vector<std::string> events;
    const std::string folder = Utf8(m_directory) + "\\";
    for (auto& row : rows) {
        if (row[9].rfind(folder, 0) == 0)
            row[9] = "@" + row[9].substr(folder.size());  // a labelled row's printer in the test's folder
        events.push_back(row[2] + "," + row[3] + "," + row[4] + "," + row[9]);
    }
    EXPECT_EQ(events, scenario.rows);
}

INSTANTIATE_TEST_SUITE_P(Sequences, Provision, ::testing::ValuesIn(kScenarios),
                         [](const auto& test) { return std::string(test.param.name); });

using Stations = CliTest;

// Waits for `file` to grow past `size` bytes: a station's reserved row. The
// lock keeps the file from being read, not its size from being known.
bool Grows(const std::wstring& file, size_t size, Milliseconds timeout)
{
    return WaitFor(
        [&] {
            WIN32_FILE_ATTRIBUTE_DATA data{};
            return GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data) && data.nFileSizeLow > size;
        },
        timeout);
}

// A station killed while its write is on the way: the adapter may or may not
// hold the serial, so it is never given out again.
TEST_F(Stations, KilledWhileWritingItsSerialIsNotGivenOutAgain)
{
    const std::wstring ledger = Path(L"ledger.csv");
    WriteFileBytes(ledger, std::vector<uint8_t>(kEmptyLedger.begin(), kEmptyLedger.end()));
    {
        // Each library call waits 2 s first: the write is on its way for 2 s
        // after the reserved row.
        CliProcess slow(ExeDirectory() + L"\\varnock-cli.exe", {L"provision", ledger},
                        On(Path(L"adapter-0.bin"), Path(L"calls-0.log"), {{L"VADAPTER_DELAY_MS", L"2000"}}),
                        Path(L"killed.out"), Path(L"killed.err"));
        ASSERT_TRUE(Grows(ledger, kEmptyLedger.size(), Milliseconds(15000)))
            << "no reserved row";
        ASSERT_TRUE(TerminateProcess(slow.Handle(), 99));
        ASSERT_EQ(WaitForSingleObject(slow.Handle(), 5000), WAIT_OBJECT_0);
    }
    // Killed before the write's call ended: it logged nothing, and changed nothing.
    for (const auto& call : ReadCallLog(Path(L"calls-0.log")))
        EXPECT_NE(call.op, "write");
    EXPECT_EQ(SerialIn(Path(L"adapter-0.bin")), "VN240017");
    for (int adapter = 1; adapter <= 2; ++adapter) {
        const std::wstring image = Path(L"adapter-" + std::to_wstring(adapter) + L".bin");
        const CliRun run = Run({L"provision", L"@ledger.csv"}, On(image, Path(L"calls-" + std::to_wstring(adapter) + L".log")));
        EXPECT_EQ(run.exitCode, 0u) << run.err;
        EXPECT_EQ(SerialIn(image), "VN24000" + std::to_string(adapter + 1));
    }
    std::vector<std::vector<std::string>> rows;
    std::string problem;
    const std::vector<uint8_t> bytes = ReadFileBytes(ledger);
    ASSERT_TRUE(ParseLedger(std::string(bytes.begin(), bytes.end()), rows, problem)) << problem;
    EXPECT_EQ(Events(rows, 0, FactoryRecord()),
              (std::vector<std::string>{"reserved,VN240017,VN240001,", "reserved,VN240017,VN240002,",
                                        "provisioned,VN240017,VN240002,", "reserved,VN240017,VN240003,",
                                        "provisioned,VN240017,VN240003,"}));
}

// Rows of a ledger in use for a while, for stations to read as they start.
std::string LedgerOfRows(size_t rows)
{
    std::string ledger = kEmptyLedger;
    for (size_t i = 0; i < rows; ++i)
        ledger += TypedRow("VN" + std::to_string(300000 + i));
    return ledger;
}

// Six stations on one ledger at once, while a seventh waits on its slow
// library: each gets a serial of its own, and the six are not held up, since
// the lock is never held across a library call.
TEST_F(Stations, SixAtOnceAndOneSlowGetDistinctSerials)
{
    constexpr int kStations = 7;  // the last is the slow one
    const std::wstring ledger = Path(L"ledger.csv");
    const std::string start = LedgerOfRows(10000);
    WriteFileBytes(ledger, std::vector<uint8_t>(start.begin(), start.end()));
    const auto station = [&](int i, const Environment& faults, const std::wstring& wait) {
        const std::wstring n = std::to_wstring(i);
        return std::make_unique<CliProcess>(
            ExeDirectory() + L"\\varnock-cli.exe", std::vector<std::wstring>{L"provision", ledger, L"--wait", wait},
            On(Path(L"adapter-" + n + L".bin"), Path(L"calls-" + n + L".log"), faults), Path(L"station-" + n + L".out"),
            Path(L"station-" + n + L".err"));
    };
    // Each of its library calls waits 3 s first: 6 s before its reserved
    // row, 9 s more before its closing one.
    std::unique_ptr<CliProcess> slow = station(kStations - 1, {{L"VADAPTER_DELAY_MS", L"3000"}}, L"30");
    ASSERT_TRUE(Grows(ledger, start.size(), Milliseconds(20000)))
        << "no reserved row from the slow station";
    std::vector<std::unique_ptr<CliProcess>> stations;
    for (int i = 0; i < kStations - 1; ++i)
        stations.push_back(station(i, {}, L"30"));
    std::set<std::string> serials;
    for (int i = 0; i < kStations - 1; ++i) {
        const CliRun run = stations[i]->Wait();
        EXPECT_EQ(run.exitCode, 0u) << "station " << i << ": " << run.err;
    }
    EXPECT_EQ(WaitForSingleObject(slow->Handle(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the slow station ended before the six";
    const CliRun slowRun = slow->Wait();
    EXPECT_EQ(slowRun.exitCode, 0u) << "the slow station: " << slowRun.err;
    for (int i = 0; i < kStations; ++i)
        serials.insert(SerialIn(Path(L"adapter-" + std::to_wstring(i) + L".bin")));
    EXPECT_EQ(serials, (std::set<std::string>{"VN240001", "VN240002", "VN240003", "VN240004", "VN240005", "VN240006",
                                              "VN240007"}));
    std::vector<std::vector<std::string>> rows;
    std::string problem;
    const std::vector<uint8_t> bytes = ReadFileBytes(ledger);
    ASSERT_TRUE(ParseLedger(std::string(bytes.begin(), bytes.end()), rows, problem)) << problem;
    EXPECT_EQ(rows.size(), 10000u + 2u * kStations);
    std::multiset<std::string> given;
    for (const std::string& event : Events(rows, 10000, FactoryRecord()))
        given.insert(event);
    for (const std::string& serial : serials) {
        EXPECT_EQ(given.count("reserved,VN240017," + serial + ","), 1u) << serial;
        EXPECT_EQ(given.count("provisioned,VN240017," + serial + ","), 1u) << serial;
    }
}

// A station killed after its write landed, before it could close its row:
// the next run on that adapter settles it, and sends nothing.
TEST_F(Stations, KilledAfterItsWriteIsSettledByTheNextRun)
{
    const std::wstring ledger = Path(L"ledger.csv");
    WriteFileBytes(ledger, std::vector<uint8_t>(kEmptyLedger.begin(), kEmptyLedger.end()));
    const std::wstring image = Path(L"adapter-0.bin");
    {
        CliProcess slow(ExeDirectory() + L"\\varnock-cli.exe", {L"provision", ledger},
                        On(image, Path(L"calls-0.log"), {{L"VADAPTER_DELAY_MS", L"1500"}}), Path(L"killed.out"),
                        Path(L"killed.err"));
        // The call log, not the image: reading the image as the adapter
        // replaces it would make its write fail.
        ASSERT_TRUE(WaitFor(
            [&] {
                const auto calls = ReadCallLog(Path(L"calls-0.log"));
                return std::any_of(calls.begin(), calls.end(),
                                   [](const LibraryCall& c) { return c.op == "write" && c.result == 1; });
            },
            Milliseconds(20000)))
            << "no write";
        ASSERT_TRUE(TerminateProcess(slow.Handle(), 99));
        ASSERT_EQ(WaitForSingleObject(slow.Handle(), 5000), WAIT_OBJECT_0);
    }
    const CliRun run = Run({L"provision", L"@ledger.csv", L"--json"}, On(image, Path(L"calls-1.log")));
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(run.out, "{\"result\":\"provisioned\",\"old_serial\":\"VN240001\",\"new_serial\":\"VN240001\","
                       "\"ledger_line\":3,\"settles_line\":2}\r\n");
    for (const auto& call : ReadCallLog(Path(L"calls-1.log")))
        EXPECT_NE(call.op, "write");
    std::vector<std::vector<std::string>> rows;
    std::string problem;
    const std::vector<uint8_t> bytes = ReadFileBytes(ledger);
    ASSERT_TRUE(ParseLedger(std::string(bytes.begin(), bytes.end()), rows, problem)) << problem;
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][2] + "," + rows[0][4], "reserved,VN240001");
    EXPECT_EQ(rows[1][2] + "," + rows[1][3] + "," + rows[1][4] + "," + rows[1][9],
              "provisioned,VN240001,VN240001,settles line 2");
}

// An editor saves over the ledger while the write is on its way: the
// adapter is written, its reserved row is gone, and the run appends it again
// with its closing row, so that its serial stays taken, and says so (13).
TEST_F(Stations, LedgerSavedOverDuringTheWrite)
{
    // The editor's copy may be a later build's ledger, a column wider, or the
    // other way round: the reserved row appended again takes the width of
    // the ledger now there, or no station can read it after this run.
    const std::string wider = kBom + kHeader + ",note\r\n";
    const struct {
        std::string before, savedOver;
    } kCopies[] = {{kEmptyLedger, kEmptyLedger}, {kEmptyLedger, wider}, {wider, kEmptyLedger}};
    for (size_t i = 0; i < std::size(kCopies); ++i) {
        SCOPED_TRACE(i);
        const std::wstring ledger = Path(L"ledger-" + std::to_wstring(i) + L".csv");
        const std::string& before = kCopies[i].before;
        const std::string& savedOver = kCopies[i].savedOver;
        WriteFileBytes(ledger, std::vector<uint8_t>(before.begin(), before.end()));
        const std::wstring image = Path(L"adapter-" + std::to_wstring(i) + L".bin");
        CliProcess slow(ExeDirectory() + L"\\varnock-cli.exe", {L"provision", ledger, L"--json"},
                        On(image, Path(L"calls.log"), {{L"VADAPTER_DELAY_MS", L"1500"}}), Path(L"run.out"),
                        Path(L"run.err"));
        ASSERT_TRUE(Grows(ledger, before.size(), Milliseconds(15000))) << "no reserved row";
        WriteFileBytes(ledger, std::vector<uint8_t>(savedOver.begin(), savedOver.end()));
        const CliRun run = slow.Wait();
        EXPECT_EQ(run.exitCode, 13u) << run.err;
        EXPECT_EQ(run.out, "{\"result\":\"ledger_error\",\"old_serial\":\"VN240017\",\"new_serial\":\"VN240001\","
                           "\"ledger_line\":3}\r\n");
        EXPECT_NE(run.err.find("the adapter was written and checked: its serial is now VN240001, recorded at line 3; "
                               "but someone saved over the ledger while the adapter was written, and its reserved row "
                               "(line 2) was lost with it; this run appended it again at line 2"),
                  std::string::npos)
            << run.err;
        EXPECT_EQ(SerialIn(image), "VN240001");
        // Its serial stays taken: both its rows are in the ledger again.
        std::vector<std::vector<std::string>> rows;
        std::string problem;
        const std::vector<uint8_t> bytes = ReadFileBytes(ledger);
        ASSERT_TRUE(ParseLedger(std::string(bytes.begin(), bytes.end()), rows, problem)) << problem;
        EXPECT_EQ(Events(rows, 0, FactoryRecord()),
                  (std::vector<std::string>{"reserved,VN240017,VN240001,", "provisioned,VN240017,VN240001,"}));
        // And the next station reads it.
        const CliRun next = CliProcess(ExeDirectory() + L"\\varnock-cli.exe", {L"provision", ledger},
                                       On(Path(L"next-" + std::to_wstring(i) + L".bin"), Path(L"calls.log"), {}),
                                       Path(L"next.out"), Path(L"next.err"))
                                .Wait();
        EXPECT_EQ(next.exitCode, 0u) << next.err;
    }
}

// A networked label printer: one connection on a port of its own, and what
// arrives until the sender closes.
class PortPrinter {
public:
    PortPrinter()
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        m_listening = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int size = sizeof address;
        if (bind(m_listening, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(m_listening, 1) != 0 ||
            getsockname(m_listening, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] {
            fd_set ready;
            FD_ZERO(&ready);
            FD_SET(m_listening, &ready);
            timeval wait = {30, 0};
            if (select(0, &ready, nullptr, nullptr, &wait) != 1)
                return;
            const SOCKET taken = accept(m_listening, nullptr, nullptr);
            const DWORD limit = 30000;
            setsockopt(taken, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
            char piece[4096];
            for (int got; (got = recv(taken, piece, sizeof piece, 0)) > 0;)
                m_bytes.append(piece, static_cast<size_t>(got));
            closesocket(taken);
        });
    }
    ~PortPrinter()
    {
        closesocket(m_listening);
        if (m_thread.joinable())
            m_thread.join();
        WSACleanup();
    }
    std::wstring Target() const { return L"tcp:127.0.0.1:" + std::to_wstring(m_port); }
    std::string Received()
    {
        if (m_thread.joinable())
            m_thread.join();
        return m_bytes;
    }

private:
    SOCKET m_listening = INVALID_SOCKET;
    unsigned m_port = 0;
    std::thread m_thread;
    std::string m_bytes;
};

// A printer of the spooler's, made by the test and removed after it: its
// port is one Wine writes to a Unix path (a port mapped to a path, with no
// driver), so that what the spooler sends arrives byte for byte.
class SpoolerPrinter {
public:
    SpoolerPrinter(const std::wstring& name, const std::wstring& unixPath)
        : m_key(L"System\\CurrentControlSet\\Control\\Print\\Printers\\" + name),
          m_port(L"VNTEST" + std::to_wstring(GetCurrentProcessId()) + name.substr(name.size() - 1) + L":")
    {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, m_key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
            ERROR_SUCCESS) {
            Set(key, L"Port", m_port);
            Set(key, L"Print Processor", L"winprint");
            Set(key, L"Datatype", L"RAW");
            RegCloseKey(key);
        }
        if (RegCreateKeyExW(HKEY_CURRENT_USER, kSpooler, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
            ERROR_SUCCESS) {
            Set(key, m_port.c_str(), unixPath);
            RegCloseKey(key);
        }
    }
    ~SpoolerPrinter()
    {
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, m_key.c_str());
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kSpooler, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
            RegDeleteValueW(key, m_port.c_str());
            RegCloseKey(key);
        }
    }

    // A Windows path as Wine's Unix one, which is what a port maps to.
    static std::wstring UnixPath(const std::wstring& path)
    {
        using UnixName = char*(__cdecl*)(const wchar_t*);
        const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void (*)()>(
            GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
        char* name = unixName != nullptr ? unixName(path.c_str()) : nullptr;
        if (name == nullptr)
            return L"";
        const std::string utf8 = name;
        HeapFree(GetProcessHeap(), 0, name);
        std::wstring wide(utf8.size(), L'\0');
        wide.resize(static_cast<size_t>(
            MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], static_cast<int>(wide.size()))));
        return wide;
    }

private:
    static constexpr const wchar_t* kSpooler = L"Software\\Wine\\Printing\\Spooler";
    static void Set(HKEY key, const wchar_t* name, const std::wstring& value)
    {
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    std::wstring m_key, m_port;
};

using Labels = CliTest;

// One adapter's label through each kind of target, and a label that failed
// to print printed afterwards from its row: every time the same bytes, and
// a labelled row only for a label that went out.
TEST_F(Labels, ThroughEachTargetAndAgainAfterAFailure)
{
    for (const auto& [name, bytes] : kTemplates)
        WriteFileBytes(Path(name), std::vector<uint8_t>(bytes.begin(), bytes.end()));
    WriteFileBytes(Path(L"ledger.csv"), std::vector<uint8_t>(kEmptyLedger.begin(), kEmptyLedger.end()));
    const auto printed = [&] {
        const std::vector<uint8_t> bytes = ReadFileBytes(Path(L"printed.zpl"));
        return std::string(bytes.begin(), bytes.end());
    };
    const std::string zhong = "VN2400\xE4\xB8\xAD";
    CliRun run = Run({L"provision", L"@ledger.csv", L"--suffix", L"中", L"--label", L"@label.zpl", L"--printer",
                      L"@printed.zpl"},
                     On(Path(L"adapter-0.bin"), Path(L"calls-0.log")));
    ASSERT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(printed(), Label(zhong, 3));

    // Printing again sends nothing to any adapter.
    const Environment station = On(Path(L"adapter-9.bin"), Path(L"calls-9.log"));
    PortPrinter port;
    run = Run({L"label", L"@ledger.csv", L"--line", L"3", L"--label", L"@label.zpl", L"--printer", port.Target()}, station);
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(run.out, "serial: " + zhong + "\r\nledger-line: 3\r\nlabelled-line: 5\r\n");
    EXPECT_EQ(port.Received(), Label(zhong, 3));

    // Through the spooler as a RAW document; a printer whose port cannot be
    // written is a label not printed.
    const std::wstring printerName = L"Varnock test " + std::to_wstring(GetCurrentProcessId()) + L" A";
    const std::wstring brokenName = L"Varnock test " + std::to_wstring(GetCurrentProcessId()) + L" B";
    WriteFileBytes(Path(L"spooled.bin"), {});
    const std::wstring spooled = SpoolerPrinter::UnixPath(Path(L"spooled.bin"));
    ASSERT_FALSE(spooled.empty());
    SpoolerPrinter printer(printerName, spooled);
    SpoolerPrinter broken(brokenName, spooled.substr(0, spooled.rfind(L'/')) + L"/no-such-folder/spooled.bin");
    run = Run({L"label", L"@ledger.csv", L"--line", L"3", L"--label", L"@label.zpl", L"--printer", printerName}, station);
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    const std::vector<uint8_t> arrived = ReadFileBytes(Path(L"spooled.bin"));
    EXPECT_EQ(std::string(arrived.begin(), arrived.end()), Label(zhong, 3));
    run = Run({L"label", L"@ledger.csv", L"--line", L"3", L"--label", L"@label.zpl", L"--printer", brokenName}, station);
    EXPECT_EQ(run.exitCode, 15u);
    EXPECT_NE(run.err.find("the label was not printed: the printer \"" + Utf8(brokenName) + "\" could not end the "
                           "document"), std::string::npos) << run.err;
    run = Run({L"label", L"@ledger.csv", L"--line", L"3", L"--label", L"@label.zpl", L"--printer", L"tcp:[::1]:1"},
              station);
    EXPECT_EQ(run.exitCode, 15u);
    EXPECT_NE(run.err.find("could not connect to ::1 port 1: "), std::string::npos) << run.err;

    // A printer that refuses: provisioned all the same, and told how to print it.
    run = Run({L"provision", L"@ledger.csv", L"--label", L"@label.zpl", L"--printer", kPortRefusing},
              On(Path(L"adapter-1.bin"), Path(L"calls-1.log")));
    EXPECT_EQ(run.exitCode, 15u);
    EXPECT_EQ(SerialIn(Path(L"adapter-1.bin")), "VN240001");
    EXPECT_NE(run.err.find("; but the label was not printed: could not connect to 127.0.0.1 port 1: "),
              std::string::npos) << run.err;
    EXPECT_NE(run.err.find(". Print it with: varnock-cli label \"" + Utf8(Path(L"ledger.csv")) +
                           "\" --line 8 --label \"" + Utf8(Path(L"label.zpl")) + "\" --printer \"tcp:127.0.0.1:1\"\r\n"),
              std::string::npos) << run.err;
    run = Run({L"label", L"@ledger.csv", L"--line", L"8", L"--label", L"@label.zpl", L"--printer", L"@printed.zpl"},
              station);
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(printed(), Label("VN240001", 8));

    // Only a provisioned row has a label.
    for (const auto& [line, why] : {std::pair<const wchar_t*, const char*>{L"2", "line 2 is a reserved row for "},
                                    {L"4", "line 4 is a labelled row for "},
                                    {L"1", "line 1 of the ledger is its header"},
                                    {L"99", "no row of the ledger starts on line 99; its rows end before line 10"}}) {
        run = Run({L"label", L"@ledger.csv", L"--line", line, L"--label", L"@label.zpl", L"--printer",
                   L"@printed.zpl"}, station);
        EXPECT_EQ(run.exitCode, 16u);
        EXPECT_NE(run.err.find(why), std::string::npos) << run.err;
    }

    EXPECT_TRUE(ReadCallLog(Path(L"calls-9.log")).empty());
    std::vector<std::vector<std::string>> rows;
    std::string problem;
    const std::vector<uint8_t> bytes = ReadFileBytes(Path(L"ledger.csv"));
    ASSERT_TRUE(ParseLedger(std::string(bytes.begin(), bytes.end()), rows, problem)) << problem;
    std::vector<std::string> events;
    for (const auto& row : rows)
        events.push_back(row[2] + "," + row[4] + "," + row[9]);
    EXPECT_EQ(events, (std::vector<std::string>{
                          "reserved," + zhong + ",", "provisioned," + zhong + ",",
                          "labelled," + zhong + "," + Utf8(Path(L"printed.zpl")),
                          "labelled," + zhong + "," + Utf8(port.Target()), "labelled," + zhong + "," + Utf8(printerName),
                          "reserved,VN240001,",
                          "provisioned,VN240001,", "labelled,VN240001," + Utf8(Path(L"printed.zpl"))}));
}

}  // namespace
}  // namespace e2e
