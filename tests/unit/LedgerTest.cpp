// The provisioning ledger: reading files as stations, editors and crashes
// leave them, writing rows, and the suffix pool.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "ledger/Ledger.h"
#include "ledger/SuffixPool.h"
#include "tests/support/LedgerFixture.h"

namespace {

using fixture::kBom;
using fixture::kHeader;
using fixture::kStart;
const std::string kTime = "2026-12-09T09:14:03Z";
const std::string kRecord(104, 'a');

// The row up to and with new_serial, and what follows it.
std::string Head(const std::string& oldSerial, const std::string& newSerial, const std::string& time = kTime)
{
    return time + ",ST-01,provisioned," + oldSerial + "," + newSerial;
}
const std::string kTail = ",V2.0,0213,Virtual CAN," + kRecord + ",";
std::string Row(const std::string& oldSerial, const std::string& newSerial, const std::string& time = kTime)
{
    return Head(oldSerial, newSerial, time) + kTail + "\r\n";
}

struct Given {
    std::string serial;
    size_t line;
    std::string time;
};

// A reserved row, and the failed row that closed it (0: none).
struct Reserved {
    std::string serial;
    size_t line, failedLine;
    int failedCode;
};

struct FileCase {
    const char* name;
    std::string file;
    bool accepted;
    size_t line;  // NextLine() when accepted, ProblemLine() when refused
    std::string completion = {};
    std::vector<Given> given = {};
    std::vector<std::string> seen = {};  // seen, and never given out
    std::vector<std::string> free = {};
    std::vector<Reserved> reserved = {};
    std::vector<std::string> readBack = {};  // named by a seen row
};

const std::string kCut = kStart + Row("VN240017", "VN240001");
const std::string kCutHead = kCut + Head("VN240018", "VN240002");

const FileCase kFiles[] = {
    {"valid",
     kStart + Row("VN240017", "VN240001") + Row("VN240017", "VN240001", "2026-12-09T09:14:05Z") +
         Row("VN240099", "VN240002", "2026-12-10T08:00:00Z"),
     true, 5, "",
     {{"VN240001", 2, kTime}, {"VN240002", 4, "2026-12-10T08:00:00Z"}},
     {"VN240017", "VN240099"},
     {"VN240003", "VN24000", "VN2400011", ""}},
    {"header alone", kStart, true, 2, "", {}, {}, {"VN240001"}},
    {"no byte order mark", kHeader + "\r\n" + Row("VN240017", "VN240001"), true, 3, "", {{"VN240001", 2, kTime}},
     {"VN240017"}, {}},
    {"LF line ends", kBom + kHeader + "\n" + Head("A", "B") + kTail + "\n", true, 3, "", {{"B", 2, kTime}}, {"A"}, {}},
    {"quoted comma, quotes and line breaks",
     kStart + kTime + ",\"ST,01\",provisioned,\"VN\"\"1\",\"VN,2\",V2.0,0213,\"two\r\nlines\nand\rmore\"," + kRecord +
         ",\r\n" +
         Row("VN240017", "VN240001"),
     true, 7, "",
     {{"VN,2", 2, kTime}, {"VN240001", 6, kTime}},
     {"VN\"1", "VN240017"},
     {"\"VN,2\""}},
    {"formula fields lose one leading quote",
     kStart + Head("'=VN24", "\"'-VN,24\"") + kTail + "\r\n" + Head("''VN", "'@1") + kTail + "\r\n", true, 4, "",
     {{"-VN,24", 2, kTime}, {"@1", 3, kTime}},
     {"=VN24", "'VN"},
     {"'=VN24", "'@1"}},
    {"empty lines skipped", kStart + "\r\n" + Row("A", "B") + "\n\r\n" + Row("C", "D") + "\r\n", true, 8, "",
     {{"B", 3, kTime}, {"D", 6, kTime}}, {"A", "C"}, {}},
    {"empty serials", kStart + ",,,,,,,,,\r\n", true, 3, "", {}, {""}, {"A"}},
    // Hand edits around a serial: it is taken as written and as trimmed.
    {"padded and spreadsheet-quoted serials",
     kStart + Row(" VN240017\xC2\xA0", "\xEF\xBB\xBFVN240001\t") + Row("A", "\"=\"\"VN240002\"\"\""), true, 4, "",
     {{"\xEF\xBB\xBFVN240001\t", 2, kTime}, {"VN240001", 2, kTime}, {"=\"VN240002\"", 3, kTime}, {"VN240002", 3, kTime}},
     {" VN240017\xC2\xA0", "VN240017", "A"}},
    // Serials typed by hand are the serials a person reads in them.
    {"hand-typed serials",
     kStart + Row("A", "VN240001\xE3\x80\x80") +
         Row("B", "\xEF\xBC\xB6\xEF\xBC\xAE\xEF\xBC\x92\xEF\xBC\x94\xEF\xBC\x90\xEF\xBC\x90\xEF\xBC\x90\xEF\xBC\x92") +
         Row("C", "VN240003\xE2\x80\x8B") + Row("D", "vn240004") + Row("E", "\"VN24\r\n0005\"") +
         Row("F", "VN24 0006") + Row("G", "  VN240007") + Row("H", "\xC2\xA0 VN240008\t") +
         Row("I", "VN2400\xE2\x80\xAE" "09") + Row("J", "VN24001\xEF\xB8\x8F" "0") + Row("K", "\xE3\x85\xA4VN240011") +
         Row("L", "VN240012\xF3\xA0\x80\xA0"),
     true, 15, "",
     {{"VN240001", 2, kTime}, {"VN240002", 3, kTime}, {"VN240003", 4, kTime}, {"VN240004", 5, kTime},
      {"VN240005", 6, kTime}, {"VN240006", 8, kTime}, {"VN240007", 9, kTime}, {"VN240008", 10, kTime},
      {"VN240009", 11, kTime}, {"VN240010", 12, kTime}, {"VN240011", 13, kTime}, {"VN240012", 14, kTime}},
     {"a"}, {"VN240013", "VN24000", "VN2400010"}},
    // What each event takes: only provisioned gives out, only reserved
    // reserves; a failed row closes its own run's reservation, and every
    // other serial is seen. So is a failed row's serial in a ledger whose
    // failed rows named the serial read back.
    {"events",
     kStart + kTime + ",ST-01,reserved,VN240017,VN240001" + kTail + "\r\n" + kTime +
         ",ST-01,failed,VN240017,VN240001" + kTail + "7\r\n" + kTime + ",ST-01,seen,VN240003," + kTail + "\r\n" +
         kTime + ",ST-02,reserved,VN240017,VN240004" + kTail + "\r\n" + kTime + ",ST-01,labelled,VN240017,VN240005" +
         kTail + "\r\n" + kTime + ",ST-01,failed,VN240017,VN240006" + kTail + "7\r\n" + Row("VN240017", "VN240007") +
         kTime + ",ST-03,failed,VN240017,VN240004" + kTail + "6\r\n",
     true, 10, "", {{"VN240007", 8, kTime}}, {"VN240003", "VN240005", "VN240006", "VN240017", "VN240004"},
     {"VN240002", "VN240008"}, {{"VN240001", 2, 3, 7}, {"VN240004", 5, 0, 0}}, {"VN240003"}},
    // A later build's ledger: a column more, left empty or not, and an event
    // this build does not know, whose serials are seen.
    {"header with a column more", kBom + kHeader + ",note\r\n", true, 2},
    {"a column more and an event unknown",
     kBom + kHeader + ",note\r\n" + Head("VN240017", "VN240001") + kTail + ",a note\r\n" + kTime +
         ",ST-01,labelled,VN240018,VN240002" + kTail + ",\r\n",
     true, 4, "", {{"VN240001", 2, kTime}}, {"VN240017", "VN240018", "VN240002"}, {"VN240003"}},
    {"a column more, the last row cut", kBom + kHeader + ",note\r\n" + Head("A", "B"), true, 3, ",,,,,,\r\n",
     {{"B", 2, kTime}}, {"A"}, {}},
    {"a column more, a row without it", kBom + kHeader + ",note\r\n" + Row("A", "B"), false, 2},
    {"a column more, a row of two more", kBom + kHeader + ",note\r\n" + Head("A", "B") + kTail + ",x,y\r\n", false, 2},
    {"a field longer than the read buffer",
     kStart + Head("A", "\"" + std::string(70000, '"') + "\r\n" + std::string(70000, 'x') + "\"") + kTail + "\r\n" +
         Row("C", "D"),
     true, 5, "", {{std::string(35000, '"') + "\r\n" + std::string(70000, 'x'), 2, kTime}, {"D", 4, kTime}},
     {"A", "C"}},

    {"header wrong", kBom + "time,station,event\r\n" + Row("A", "B"), false, 1},
    {"header with a column first", kBom + "note," + kHeader + "\r\n", false, 1},
    {"header with its last column renamed", kBom + kHeader + "s\r\n", false, 1},
    {"header quoted", kBom + "\"time\"" + kHeader.substr(4) + "\r\n", false, 1},
    // A crash while the ledger was made: the completion finishes its start.
    {"byte order mark alone", kBom, true, 2, kHeader + "\r\n"},
    {"byte order mark cut short", kBom.substr(0, 2), true, 2, kBom.substr(2) + kHeader + "\r\n"},
    {"header cut short", kBom + kHeader.substr(0, 20), true, 2, kHeader.substr(20) + "\r\n"},
    {"another program's CSV", "name,serial\r\nBob,VN240001\r\n", false, 1},
    {"junk bytes", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), false, 1},
    {"junk after the header", kStart + Row("A", "B") + std::string("\x7f" "ELF\x02\x01", 6), false, 3},
    {"a row of 9 fields", kStart + Row("A", "B") + "1,2,3,4,5,6,7,8,9\r\n", false, 3},
    {"a row of 11 fields", kStart + Row("A", "B") + Head("C", "D") + kTail + ",\r\n", false, 3},
    {"a quote inside an unquoted field", kStart + Head("A\"B", "C") + kTail + "\r\n", false, 2},
    {"text after a closing quote", kStart + Head("\"A\"B", "C") + kTail + "\r\n", false, 2},
    {"invalid UTF-8: stray continuation", kStart + Head("A\x80", "B") + kTail + "\r\n", false, 2},
    {"invalid UTF-8: overlong", kStart + Row("A", "B") + Head("\xC0\xAF", "B") + kTail + "\r\n", false, 3},
    {"invalid UTF-8: surrogate", kStart + Head("\xED\xA0\x80", "B") + kTail + "\r\n", false, 2},
    {"invalid UTF-8: lead without its bytes", kStart + Head("\xE4\xB8", "B") + kTail + "\r\n", false, 2},
    {"NUL on the third line of a quoted field",
     kStart + Head("A", "\"B\r\n\r\nC" + std::string(1, '\0') + "\"") + kTail + "\r\n", false, 4},
    {"control byte", kStart + Head("A\x1b", "B") + kTail + "\r\n", false, 2},
    {"DEL", kStart + Head("A\x7f", "B") + kTail + "\r\n", false, 2},
    {"a lone CR ends a row", kStart + Head("A", "B") + kTail + "\r" + Row("C", "D"), false, 2},
    {"a lone CR inside a field", kStart + Head("A\rB", "C") + kTail + "\r\n", false, 2},
    {"a lone CR line", kStart + "\r" + Row("A", "B"), false, 2},

    // Cut last rows: a crash in the middle of an append.
    {"cut inside a quoted field", kCutHead + ",V2.0,0213,\"Virtual, C", true, 4, "\",,\r\n", {{"VN240002", 3, kTime}},
     {"VN240018"}, {"VN240003"}},
    {"cut inside a quoted field after a line break", kCutHead + ",V2.0,0213,\"Virtual\r\nC", true, 5, "\",,\r\n",
     {{"VN240002", 3, kTime}}, {"VN240018"}, {}},
    {"cut after a lone CR inside quotes", kCutHead + ",V2.0,0213,\"Virtual\r", true, 5, "\",,\r\n",
     {{"VN240002", 3, kTime}}, {"VN240018"}, {}},
    {"cut at an opening quote", kCutHead + ",\"", true, 4, "\",,,,\r\n", {{"VN240002", 3, kTime}}, {"VN240018"}, {}},
    {"cut after a closing quote", kCutHead + ",\"V2.0\"", true, 4, ",,,,\r\n", {{"VN240002", 3, kTime}}, {}, {}},
    {"cut after a complete new_serial", kCutHead + ",", true, 4, ",,,,\r\n", {{"VN240002", 3, kTime}}, {"VN240018"},
     {}},
    // The cut field counts as the completed row will name it.
    {"cut inside new_serial", kCut + Head("VN240018", "VN2400"), true, 4, ",,,,,\r\n", {{"VN2400", 3, kTime}},
     {"VN240018"}, {"VN240002"}},
    {"cut inside a quoted new_serial", kCut + Head("VN240018", "\"VN24,00"), true, 4, "\",,,,,\r\n",
     {{"VN24,00", 3, kTime}}, {"VN240018"}, {}},
    {"cut inside old_serial", kCut + Head("VN2", "").substr(0, Head("VN2", "").size() - 1), true, 4, ",,,,,,\r\n",
     {{"VN240001", 2, kTime}}, {"VN240017", "VN2"}, {}},
    {"cut in the first field", kCut + "2026-12", true, 4, ",,,,,,,,,\r\n", {}, {}, {}},
    {"full row missing only CRLF", kCut + Head("VN240018", "VN240002") + kTail + "7", true, 4, "\r\n",
     {{"VN240002", 3, kTime}}, {}, {}},
    {"full row missing only LF", kCut + Head("VN240018", "VN240002") + kTail + "\r", true, 4, "\n",
     {{"VN240002", 3, kTime}}, {}, {}},
    {"header missing only CRLF", kBom + kHeader, true, 2, "\r\n", {}, {}, {}},
    {"header missing only LF", kBom + kHeader + "\r", true, 2, "\n", {}, {}, {}},
    {"cut inside a character", kCutHead + ",V2.0,0213,Virtual \xE4", true, 4, "\x80\x80,,\r\n",
     {{"VN240002", 3, kTime}},
     {}, {}},
    {"cut inside a character after E0", kCutHead + ",V2.0,0213,\"\xE0", true, 4, "\xA0\x80\",,\r\n", {}, {}, {}},
    {"cut inside a character after F0", kCutHead + ",V2.0,0213,\xF0\x9F\x98", true, 4, "\x80,,\r\n", {}, {}, {}},
    {"cut row ending in a bare CR", kCutHead + ",V2.0\r", false, 3},
    {"cut row of 11 fields", kCut + Head("VN240018", "VN240002") + kTail + ",", false, 3},
    {"cut row with bad quoting", kCutHead + ",\"V2\"0", false, 3},
    {"cut row with a NUL", kCutHead + std::string(",\0", 2), false, 3},
};

// The file some bytes at a time; failing, rather than ending, from `failAt` on.
struct Pieces : LedgerSource {
    const std::string& file;
    size_t piece, failAt, at = 0;
    Pieces(const std::string& f, size_t p, size_t fail = std::string::npos) : file(f), piece(p), failAt(fail) {}
    bool Read(char* buffer, size_t room, size_t& got) override
    {
        if (at >= failAt) return false;
        got = std::min({piece, room, file.size() - at});
        std::memcpy(buffer, file.data() + at, got);
        at += got;
        return true;
    }
};

// Every field read, by the row's line.
struct Fields : LedgerFieldSink {
    std::map<size_t, std::vector<std::string>> rows;
    void Field(size_t line, size_t index, const char* bytes, size_t length) override
    {
        auto& row = rows[line];
        EXPECT_EQ(index, row.size());
        row.emplace_back(bytes, length);
    }
};

void ExpectKnows(const Ledger& ledger, const FileCase& c)
{
    for (const Given& g : c.given) {
        size_t line = 0;
        CString time;
        EXPECT_TRUE(ledger.GivenOut(g.serial.c_str(), line, time)) << g.serial;
        EXPECT_EQ(line, g.line) << g.serial;
        EXPECT_EQ(time.Bytes(), g.time) << g.serial;
        EXPECT_TRUE(ledger.Taken(g.serial.c_str())) << g.serial;
    }
    for (const std::string& serial : c.seen) {
        EXPECT_TRUE(ledger.Seen(serial.c_str())) << serial;
        EXPECT_TRUE(ledger.Taken(serial.c_str())) << serial;
        const bool given = std::any_of(c.given.begin(), c.given.end(), [&](const Given& g) { return g.serial == serial; });
        size_t line = 0;
        CString time;
        if (!given) {
            EXPECT_FALSE(ledger.GivenOut(serial.c_str(), line, time)) << serial << " at line " << line;
        }
    }
    for (const Reserved& r : c.reserved) {
        SerialHistory history;
        ASSERT_TRUE(ledger.History(r.serial.c_str(), history)) << r.serial;
        EXPECT_EQ(history.reserved.line, r.line) << r.serial;
        EXPECT_EQ(history.reserved.failedLine, r.failedLine) << r.serial;
        EXPECT_EQ(history.reserved.failedCode, r.failedCode) << r.serial;
        EXPECT_EQ(history.reserved.serial.Bytes(), r.serial);
        EXPECT_FALSE(history.readBack) << r.serial;
    }
    for (const std::string& serial : c.readBack) {
        SerialHistory history;
        EXPECT_TRUE(ledger.History(serial.c_str(), history) && history.readBack) << serial;
    }
}

// What a parse of the case's file must have left.
void ExpectRead(const Ledger& ledger, const FileCase& c)
{
    if (!c.accepted) {
        EXPECT_EQ(ledger.ProblemLine(), c.line) << ledger.Problem();
        EXPECT_NE(ledger.Problem(), nullptr);
        EXPECT_FALSE(ledger.Taken("B"));  // nothing from the rows before the fault
        return;
    }
    EXPECT_EQ(ledger.Problem(), nullptr);
    EXPECT_EQ(ledger.Completion().Bytes(), c.completion);
    EXPECT_EQ((c.file + c.completion).rfind(ledger.Header().Bytes(), 0), 0u) << "the header as read";
    EXPECT_EQ(ledger.NextLine(), c.line);
    ExpectKnows(ledger, c);
    for (const std::string& serial : c.free) {
        size_t line = 0;
        CString time;
        EXPECT_FALSE(ledger.Taken(serial.c_str())) << serial;
        EXPECT_FALSE(ledger.GivenOut(serial.c_str(), line, time)) << serial;
    }
}

// Read whole, then some bytes at a time: the same however the reads fall
// (with a size hint half the file's, as when it grew since).
TEST(Ledger, ReadsFilesAsTheyComeAndRefusesWhatIsNoLedger)
{
    for (const FileCase& c : kFiles) {
        std::map<size_t, std::vector<std::string>> whole;
        std::string problem;  // the ledger holds its own
        for (size_t piece : {0, 1, 2, 3, 7, 4096}) {
            SCOPED_TRACE(std::string(c.name) + ", read by " + std::to_string(piece));
            Ledger ledger;
            for (const Reserved& r : c.reserved) ledger.Watch(r.serial.c_str());
            Fields read;
            Pieces source(c.file, piece);
            ASSERT_EQ(piece == 0 ? ledger.Parse(c.file.data(), c.file.size(), &read)
                                 : ledger.Parse(source, c.file.size() / 2, &read),
                      c.accepted)
                << (ledger.Problem() ? ledger.Problem() : "") << " at line " << ledger.ProblemLine();
            const std::string why = ledger.Problem() != nullptr ? ledger.Problem() : "";
            if (piece == 0) whole = read.rows, problem = why;
            EXPECT_EQ(read.rows, whole);
            EXPECT_EQ(why, problem);
            EXPECT_FALSE(ledger.ReadFailed());
            ExpectRead(ledger, c);
        }
    }
}

// A file that cannot be read to its end is no ledger: nothing taken from it.
TEST(Ledger, AFileThatFailsToReadIsRefusedWhereItStopped)
{
    const std::string file = kStart + Row("A", "B") + Row("C", "D");
    const struct {
        size_t failAt, piece, line;
    } kFails[] = {{0, 4096, 1}, {kStart.size() + 5, 5, 2}, {file.size(), 7, 4}, {file.size(), 4096, 4}};
    for (const auto& f : kFails) {
        Pieces source(file, f.piece, f.failAt);
        Ledger ledger;
        EXPECT_FALSE(ledger.Parse(source, file.size()));
        EXPECT_TRUE(ledger.ReadFailed());
        EXPECT_STREQ(ledger.Problem(), "the file could not be read");
        EXPECT_EQ(ledger.ProblemLine(), f.line) << f.failAt;
        EXPECT_FALSE(ledger.Taken("B"));
    }
}

// What the program does with an accepted ledger: append the completion and
// its own row. The file must stay a ledger that still knows everything.
TEST(Ledger, CompletionAndOneMoreRowKeepTheFileALedger)
{
    LedgerRow row;
    row.time = "2026-12-11T10:00:00Z";
    row.event = "provisioned";
    row.oldSerial = "VN2400XX";
    row.newSerial = "VN2400ZZ";
    for (const FileCase& c : kFiles) {
        if (!c.accepted) continue;
        SCOPED_TRACE(c.name);
        Ledger before;
        ASSERT_TRUE(before.Parse(c.file.data(), c.file.size()));
        CString appended;  // with as many fields as the file's header
        ASSERT_TRUE(LedgerRowText(row, before.Columns(), appended));
        const std::string file = c.file + before.Completion().Bytes() + appended.Bytes();
        Ledger after;
        for (const Reserved& r : c.reserved) after.Watch(r.serial.c_str());
        ASSERT_TRUE(after.Parse(file.data(), file.size())) << after.Problem() << " at line " << after.ProblemLine();
        EXPECT_TRUE(after.Completion().IsEmpty());
        size_t line = 0;
        CString time;
        ASSERT_TRUE(after.GivenOut("VN2400ZZ", line, time));
        EXPECT_EQ(line, before.NextLine());
        EXPECT_EQ(time.Bytes(), "2026-12-11T10:00:00Z");
        EXPECT_TRUE(after.Seen("VN2400XX"));
        EXPECT_EQ(after.NextLine(), before.NextLine() + 1);
        ExpectKnows(after, c);
    }
}

TEST(Ledger, FirstFreeSkipsGivenOutAndSeenSerials)
{
    std::string file = kStart;
    // 10,000 rows give out and see 2 x 10,000 serials; one of 10,001 is left.
    const int kRows = 10000;
    char serial[16];
    for (int i = 0; i < kRows; ++i) {
        std::snprintf(serial, sizeof serial, "S%05d", i);
        std::string given = serial;
        std::snprintf(serial, sizeof serial, "S%05d", 2 * kRows - i);
        file += Row(serial, given);
    }
    Ledger ledger;
    ASSERT_TRUE(ledger.Parse(file.data(), file.size()));
    std::vector<CString> candidates;
    for (int i = 0; i <= 2 * kRows; ++i) {
        std::snprintf(serial, sizeof serial, "S%05d", i);
        candidates.emplace_back(serial);
    }
    EXPECT_EQ(ledger.FirstFree(candidates.data(), candidates.size()), size_t(kRows));
    EXPECT_EQ(ledger.FirstFree(candidates.data(), kRows), size_t(kRows));  // none free
    EXPECT_EQ(ledger.FirstFree(candidates.data(), 0), 0u);
    size_t line = 0;
    CString time;
    EXPECT_TRUE(ledger.GivenOut("S09999", line, time));
    EXPECT_EQ(line, size_t(kRows + 1));
}

LedgerRow RowOf(const std::vector<std::string>& f)
{
    LedgerRow r;
    CString* fields[] = {&r.time,     &r.station,  &r.event,   &r.oldSerial, &r.newSerial,
                         &r.hardware, &r.firmware, &r.product, &r.record,    &r.exitCode};
    for (size_t i = 0; i < 10; ++i) *fields[i] = CString(f[i].data(), f[i].size());
    return r;
}

TEST(Ledger, RowsAreWrittenQuotedAndGuardedAsTheFileWants)
{
    EXPECT_EQ(LedgerStart().Bytes(), kStart);
    CString text;
    ASSERT_TRUE(LedgerRowText(
        RowOf({kTime, "ST,01", "failed", "=VN24", "-1", "V2.0", "0213", "Say \"CAN\"", "'x", "+7"}), text));
    EXPECT_EQ(text.Bytes(), kTime + ",\"ST,01\",failed,'=VN24,'-1,V2.0,0213,\"Say \"\"CAN\"\"\",''x,'+7\r\n");
    ASSERT_TRUE(LedgerRowText(RowOf({"", "", "", "", "", "", "", "", "", ""}), text));
    EXPECT_EQ(text.Bytes(), ",,,,,,,,,\r\n");
    // For a later build's ledger, its columns past ours left empty.
    ASSERT_TRUE(LedgerRowText(RowOf({"a", "", "", "", "", "", "", "", "", "b"}), 12, text));
    EXPECT_EQ(text.Bytes(), "a,,,,,,,,,b,,\r\n");
}

// Hostile fields written and read back must come back byte for byte; fields
// no line can hold are refused rather than written.
TEST(Ledger, WrittenRowsReadBackExactly)
{
    const std::vector<std::vector<std::string>> rows = {
        {"=1+2", "+SUM(A1)", "-2", "@cmd", "\tTab", "\rCR", "'quoted", "''two", "\"", "\"\""},
        {",", ",,", "a,b", "line\r\nbreak", "\n", "\r", "a\rb\nc", " spaced ", "\xE4\xB8\xAD\xE6\x96\x87",
         "\xF0\x9F\x98\x80"},
        {"", "'", "'=", "=", "a\"b", "\"a", "a\"", "\t", "x\ty", "\xEF\xBB\xBF" "bom"},
    };
    std::string file = kStart;
    for (const auto& fields : rows) {
        CString text;
        ASSERT_TRUE(LedgerRowText(RowOf(fields), text));
        file += text.Bytes();
    }
    Fields read;
    Ledger ledger;
    ASSERT_TRUE(ledger.Parse(file.data(), file.size(), &read))
        << ledger.Problem() << " at line " << ledger.ProblemLine();
    EXPECT_TRUE(ledger.Completion().IsEmpty());
    std::vector<std::vector<std::string>> back;
    std::vector<size_t> lines;
    for (const auto& row : read.rows) {
        lines.push_back(row.first);
        back.push_back(row.second);
    }
    EXPECT_EQ(back, rows);
    // The first row holds one line break, the second five (a lone CR counts).
    EXPECT_EQ(lines, (std::vector<size_t>{2, 4, 10}));
    EXPECT_EQ(ledger.NextLine(), 11u);

    for (const std::string& bad : {std::string(1, '\0'), std::string("A\x01"), std::string("\x7f"),
                                   std::string("\x1b[31m"), std::string("\xC3"), std::string("\xC0\xAF"),
                                   std::string("\xED\xA0\x80"), std::string("\xF4\x90\x80\x80"),
                                   std::string("\xB6\xFE")}) {
        std::vector<std::string> fields(10, "ok");
        fields[4] = bad;
        CString text = "left over";
        EXPECT_FALSE(LedgerRowText(RowOf(fields), text)) << testing::PrintToString(bad);
        EXPECT_TRUE(text.IsEmpty());
    }
}

struct PoolCase {
    const char* text;
    size_t count;
    std::vector<std::string> first;  // the sequence's start
    std::string last;
};

TEST(SuffixPool, ReadsPoolsAndCountsThroughThem)
{
    const PoolCase kPools[] = {
        {"01-99", 99, {"01", "02", "03"}, "99"},
        {"00-99", 100, {"00", "01"}, "99"},
        {"09-11", 3, {"09", "10", "11"}, "11"},
        {"AY-B1", 4, {"AY", "AZ", "B0", "B1"}, "B1"},
        {"5X-61", 5, {"5X", "5Y", "5Z", "60", "61"}, "61"},
        {"09-1A", 38, {"09", "0A", "0B"}, "1A"},
        {"AA-AA", 1, {"AA"}, "AA"},
        {"00-ZZ", 1296, {"00", "01"}, "ZZ"},
        {"Z9-ZZ", 27, {"Z9", "ZA"}, "ZZ"},
    };
    for (const PoolCase& c : kPools) {
        SCOPED_TRACE(c.text);
        SuffixPool pool;
        const char* reason = nullptr;
        ASSERT_TRUE(ParseSuffixPool(c.text, pool, reason));
        ASSERT_EQ(pool.Count(), c.count);
        char suffix[2];
        for (size_t i = 0; i < c.first.size(); ++i) {
            pool.At(i, suffix);
            EXPECT_EQ(std::string(suffix, 2), c.first[i]);
        }
        pool.At(c.count - 1, suffix);
        EXPECT_EQ(std::string(suffix, 2), c.last);
    }

    SuffixPool byDefault;
    char suffix[2];
    ASSERT_EQ(byDefault.Count(), 99u);
    byDefault.At(0, suffix);
    EXPECT_EQ(std::string(suffix, 2), "01");

    for (const char* refused : {"5", "4!-50", "a0-b1", "01-99-3", "43-41", "B1-AY", "", "01_99", "01-9", " 01-99",
                                "01-99 ", "01--99", "0\xC3\xA9-99"}) {
        SCOPED_TRACE(refused);
        SuffixPool pool;
        const char* reason = nullptr;
        ASSERT_TRUE(ParseSuffixPool("AY-B1", pool, reason));
        EXPECT_FALSE(ParseSuffixPool(refused, pool, reason));
        EXPECT_NE(reason, nullptr);
        EXPECT_EQ(pool.Count(), 4u);  // as it was
    }
}

}  // namespace
