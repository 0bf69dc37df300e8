// Any bytes as a ledger file (after a first byte that picks how many bytes
// each read gives), and as the fields of a row to write. Read a piece at a
// time, a file must read as it does whole. An accepted file with its
// completion and one more row appended must read again and still know every
// serial, as written and as folded; only provisioned rows give serials out.
// A later build's ledger (columns past ours) takes rows of its own width.
// A written row must read back as its fields, and be refused only where no
// ledger line could hold it.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ledger/Ledger.h"

namespace {

void Check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "ledger rule broken: %s\n", what);
        std::abort();
    }
}

struct Serials : LedgerFieldSink {
    std::vector<std::string> oldSerials;
    std::vector<std::pair<std::string, size_t>> newSerials;
    std::vector<bool> provisioned;  // of each new serial's row
    std::vector<std::vector<std::string>> rows;
    void Field(size_t line, size_t index, const char* bytes, size_t length) override
    {
        if (index == 0) rows.emplace_back();
        rows.back().emplace_back(bytes, length);
        if (index == 3) oldSerials.emplace_back(bytes, length);
        if (index == 4) {
            newSerials.emplace_back(std::string(bytes, length), line);
            provisioned.push_back(rows.back()[2] == "provisioned");
        }
    }
};

CString Text(const std::string& s) { return CString(s.data(), s.size()); }

struct Pieces : LedgerSource {
    const std::string& file;
    size_t piece, at = 0;
    Pieces(const std::string& f, size_t p) : file(f), piece(p) {}
    bool Read(char* buffer, size_t room, size_t& got) override
    {
        got = std::min(std::min(piece, room), file.size() - at);
        std::memcpy(buffer, file.data() + at, got);
        at += got;
        return true;
    }
};

void CheckPieces(const std::string& file, size_t piece, const Ledger& whole, const Serials& wholeRead)
{
    Pieces source(file, piece);
    Serials read;
    Ledger ledger;
    const bool accepted = ledger.Parse(source, file.size(), &read);
    Check(accepted == (whole.Problem() == nullptr) && !ledger.ReadFailed(), "accepted as whole");
    Check(ledger.ProblemLine() == whole.ProblemLine() &&
              (accepted || std::strcmp(ledger.Problem(), whole.Problem()) == 0),
          "refused as whole");
    Check(ledger.Completion() == whole.Completion() && ledger.NextLine() == whole.NextLine(), "completed as whole");
    Check(ledger.Header() == whole.Header() && ledger.Columns() == whole.Columns(), "the same header as whole");
    Check(read.rows == wholeRead.rows && read.newSerials == wholeRead.newSerials, "the same fields as whole");
    for (const auto& given : wholeRead.newSerials) {
        size_t line = 0, wholeLine = 0;
        CString time, wholeTime;
        const CString serial = Text(given.first);
        Check(ledger.GivenOut(serial, line, time) == whole.GivenOut(serial, wholeLine, wholeTime) &&
                  line == wholeLine && time == wholeTime && ledger.Seen(serial) == whole.Seen(serial),
              "given out as whole");
    }
    for (const std::string& serial : wholeRead.oldSerials)
        Check(ledger.Seen(Text(serial)) == whole.Seen(Text(serial)), "seen as whole");
}

void CheckAppending(const uint8_t* data, size_t size, size_t piece)
{
    const std::string file(reinterpret_cast<const char*>(data), size);
    Serials read;
    Ledger before;
    const bool accepted = before.Parse(file.data(), file.size(), &read);
    CheckPieces(file, piece, before, read);
    if (!accepted) {
        Check(before.Problem() != nullptr && before.ProblemLine() >= 1, "a refusal says why and where");
        return;
    }
    LedgerRow row;
    row.time = "2026-12-09T09:14:03Z";
    row.event = kEventProvisioned;
    row.oldSerial = "=old\"";
    row.newSerial = "new,\r\n";
    CString line;
    Check(LedgerRowText(row, before.Columns(), line), "a plain row is written, of the header's fields");
    const std::string longer = file + before.Completion().Bytes() + line.Bytes();
    Check(longer.rfind(before.Header().Bytes(), 0) == 0, "the header as read, as completed");
    Ledger after;
    Check(after.Parse(longer.data(), longer.size()), "completion and a row keep it a ledger");
    Check(after.Header() == before.Header() && after.Columns() == before.Columns(), "the same header after");
    Check(after.Completion().IsEmpty(), "nothing cut after a whole row");
    for (const std::string& serial : read.oldSerials) Check(after.Seen(Text(serial)), "old serials stay seen");
    for (size_t i = 0; i < read.newSerials.size(); ++i) {
        const auto& given = read.newSerials[i];
        const CString serial = Text(given.first);
        const CString folded = FoldedSerial(serial.GetString(), given.first.size());
        Check(folded.GetLength() <= serial.GetLength() &&
                  FoldedSerial(folded.GetString(), static_cast<size_t>(folded.GetLength())) == folded,
              "folding never lengthens, and folds once");
        Check(after.Taken(serial) && after.Taken(folded), "new serials stay taken, as folded too");
        size_t first = 0, again = 0;
        CString time;
        if (!read.provisioned[i]) continue;
        Check(before.GivenOut(serial, first, time) && first <= given.second, "given out from its row");
        Check(after.GivenOut(serial, again, time) && again == first, "given out from the same row");
    }
    size_t at = 0;
    CString time;
    if (!before.Taken(row.newSerial))
        Check(after.GivenOut(row.newSerial, at, time) && at == before.NextLine(), "the new row on NextLine()");
    Check(after.NextLine() == before.NextLine() + 2, "the new row takes two lines");  // a CRLF inside
}

// The bytes cut into ten fields; written, then read back.
void CheckWriting(const uint8_t* data, size_t size)
{
    std::vector<std::string> fields;
    std::string naive;  // every field quoted, no guard: a line the reader takes iff the bytes fit a ledger
    for (size_t i = 0; i < 10; ++i) {
        const size_t from = i * size / 10, to = (i + 1) * size / 10;
        const std::string field(reinterpret_cast<const char*>(data) + from, to - from);
        fields.push_back(field);
        naive += i == 0 ? "\"" : ",\"";
        for (char c : field) naive += c == '"' ? std::string("\"\"") : std::string(1, c);
        naive += "\"";
    }
    naive += "\r\n";
    LedgerRow row;
    CString* const slots[] = {&row.time,     &row.station,  &row.event,   &row.oldSerial, &row.newSerial,
                              &row.hardware, &row.firmware, &row.product, &row.record,    &row.exitCode};
    for (size_t i = 0; i < 10; ++i) *slots[i] = Text(fields[i]);

    const std::string start = LedgerStart().Bytes();
    const std::string naiveFile = start + naive;
    Ledger probe;
    const bool fits = probe.Parse(naiveFile.data(), naiveFile.size());
    CString line;
    const bool written = LedgerRowText(row, line);
    Check(written == fits, "refused exactly when no line can hold the fields");
    if (!written) {
        Check(line.IsEmpty(), "nothing left of a refused row");
        return;
    }
    const std::string file = start + line.Bytes();
    Serials read;
    Ledger ledger;
    Check(ledger.Parse(file.data(), file.size(), &read), "a written row reads");
    Check(ledger.Completion().IsEmpty(), "a written row is whole");
    Check(read.rows.size() == 1 && read.rows[0] == fields, "a written row reads back as its fields");
    Check(ledger.Taken(row.oldSerial) && ledger.Taken(row.newSerial), "its serials taken");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size != 0) CheckAppending(data + 1, size - 1, data[0] + 1u);
    CheckWriting(data, size);
    return 0;
}
