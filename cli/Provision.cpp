// provision: gives the adapter a serial that no other adapter got, and
// records how, so that no two adapters on a line share an identity, also
// after a fault and after what an operator does about it.
//
// Why that holds, though the ledger's lock is taken twice and never across a
// call into the device library:
// 1. Choosing a serial and reserving it are one locked step: the station
//    reads the whole ledger and appends its reserved row before it lets go.
//    Whatever any station reads after that includes the row, so a serial is
//    reserved by one run at most.
// 2. The reserved row is on disk before anything is sent to the adapter, and
//    a serial the ledger names never becomes free again: not after a failed
//    write, nor after a run that did not live to close its row.
// 3. The write and its read-back hold no lock. A station stuck in its
//    library holds nobody up, and all it can write is what it reserved.
// 4. Closing is the second locked step. It reads what other stations
//    appended meanwhile (to finish a row a crash cut short, and to number
//    lines right), and it only records: it takes no new serial, so no order
//    of the two steps among stations can give one serial twice.
// 5. A run that never closed leaves its reserved row. The next run on that
//    adapter finds the adapter's whole record to be what the row meant to
//    write, and closes the row then, without writing. An adapter whose
//    record is anything else is provisioned afresh: the ledger cannot tell
//    it from another adapter that carries the same serial.
// 6. Exit 8 only when the whole record is what a provisioned row wrote.
#include <windows.h>

#include <cstring>
#include <cwchar>

#include "cli/Adapter.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/ExitCodes.h"
#include "cli/LedgerFile.h"
#include "cli/Library.h"
#include "ledger/Ledger.h"
#include "ledger/SuffixPool.h"

namespace {

// The closing step waits at least this long for the lock: giving up leaves
// a written adapter for the next run to settle.
constexpr unsigned kLeastClosingWait = 30;

// What the run came to, for the JSON object and the verdict.
struct Outcome {
    const wchar_t* result = nullptr;  // none: no adapter was read, so no JSON
    CWideString oldSerial, newSerial;
    bool haveNewSerial = false;
    CWideString readBackSerial;  // when the adapter reads back another serial than the one written
    bool haveReadBackSerial = false;
    size_t ledgerLine = 0;   // 0: none
    size_t settlesLine = 0;  // a reserved row this run found written after all
};

// One run's state, from step to step.
struct Run {
    Run(const ProvisionOptions& o, Outcome& out, Failure& f) : options(o), outcome(out), failure(f) {}

    const ProvisionOptions& options;
    Outcome& outcome;
    Failure& failure;
    DeviceLibrary library;
    LedgerFile file;
    Adapter adapter;
    CString suffix;        // what is written to bytes 17 and 18
    CString recordAsRead;  // hex
    CString note;          // the exit_code column of this run's rows: why it took another serial
    size_t reservedLine = 0;
    CString reservedRow;  // its bytes
    unsigned long long reservedEnd = 0;  // the file's size right after them
    size_t lineAfterReserved = 0;
    Ledger ledger;  // as read in the first step
    size_t lostLine = 0;              // the reserved row someone saved over, if anyone did
    LedgerEntryRow givenMeanwhile;    // a provisioned row that gave this run's serial out meanwhile
    LedgerEntryRow readBackGiven;     // a provisioned row that gave out the serial read back
};

CString Now()
{
    SYSTEMTIME now{};
    GetSystemTime(&now);
    CString text;
    text.Format("%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                now.wSecond);
    return text;
}

CWideString Station()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(name, &length) ? CWideString(name, length) : CWideString();
}

CString RecordHex(const DeviceInfo& info)
{
    CWideString hex;
    const auto* bytes = reinterpret_cast<const uint8_t*>(&info);
    for (size_t i = 0; i < sizeof info; ++i)
        AppendHexByte(hex, bytes[i]);
    return Utf8(hex);
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Whether `row` wrote the adapter's record as it is now: the row's record as
// read, with its new serial. Serial texts never match for different bytes,
// so the same text and every other byte the same is the same record.
bool Wrote(const LedgerEntryRow& row, const DeviceInfo& info, const CString& carried)
{
    if (row.line == 0 || !(row.serial == carried) || row.record.GetLength() != 2 * sizeof info)
        return false;
    const auto* bytes = reinterpret_cast<const uint8_t*>(&info);
    for (size_t i = 0; i < sizeof info; ++i) {
        const int high = HexDigit(row.record.GetString()[2 * i]), low = HexDigit(row.record.GetString()[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        if ((i < kSuffixOffset || i >= kSuffixOffset + 2) && bytes[i] != (high << 4 | low))
            return false;
    }
    return true;
}

// A row about this adapter, with the record as it was read.
LedgerRow RowOf(const char* event, const Run& run, const CWideString& newSerial, const CString& last)
{
    LedgerRow row;
    row.time = Now();
    row.station = Utf8(Station());
    row.event = event;
    row.oldSerial = Utf8(run.outcome.oldSerial);
    row.newSerial = Utf8(newSerial);
    row.hardware = Utf8(Shown(run.adapter.host.hardwareVersion));
    row.firmware = Utf8(Shown(run.adapter.host.firmwareVersion));
    row.product = Utf8(Shown(run.adapter.host.productName));
    row.record = run.recordAsRead;
    row.exitCode = last;
    return row;
}

// The row as a line of the ledger, of its `columns`.
bool RowText(const LedgerRow& row, size_t columns, CString& text, Failure& failure)
{
    if (LedgerRowText(row, columns, text))
        return true;
    failure = {kLedgerUnusable,
               Words(L"a field of the ", Ascii(row.event.GetString()), L" row cannot be written to a ledger")};
    return false;
}

CWideString RowWords(const LedgerRow& row)
{
    return Words(Ascii(row.event.GetString()), L" ", Wide(row.newSerial), L" at ", Ascii(row.time.GetString()));
}

// A field from the ledger for a message: a hand-edited one may hold
// anything, so it is cut short and cannot break the line.
CWideString Clipped(const CString& utf8)
{
    const CWideString text = Wide(utf8);
    const size_t kLongest = 32;
    CWideString clipped;
    for (size_t i = 0; i < text.GetLength() && i < kLongest; ++i) {
        const wchar_t c = text.GetString()[i];
        clipped.Append(IsControl(c) ? static_cast<wchar_t>(0xFFFD) : c);
    }
    if (text.GetLength() > kLongest)
        clipped.Append(L"...");
    return clipped;
}

// "the provisioned row at line 3 (2026-12-09T09:14:03Z, station LINE-1)",
// with what the ledger kept of it.
CWideString Cited(const wchar_t* event, const LedgerEntryRow& row)
{
    CWideString cited = Words(L"the ", event, L" row at line ", Decimal(row.line));
    if (!row.time.IsEmpty() && !row.station.IsEmpty())
        cited.Append(Words(L" (", Clipped(row.time), L", station ", Clipped(row.station), L")"));
    else if (!row.time.IsEmpty())
        cited.Append(Words(L" (", Clipped(row.time), L")"));
    return cited;
}

// The serial the adapter would have with `suffix` in its last two bytes.
CWideString SerialWith(const DeviceInfo& info, const char suffix[2])
{
    uint8_t serial[sizeof info.serialNumber];
    std::memcpy(serial, info.serialNumber, sizeof serial);
    serial[6] = static_cast<uint8_t>(suffix[0]);
    serial[7] = static_cast<uint8_t>(suffix[1]);
    return SerialText(serial, sizeof serial);
}

// Why `serial` is not free, for a message.
CWideString WhyTaken(const Ledger& ledger, const CWideString& serial)
{
    SerialHistory history;
    ledger.History(Utf8(serial), history);
    if (history.given.line != 0)
        return Words(L"the ledger gave it out in ", Cited(L"provisioned", history.given));
    if (history.reserved.line != 0)
        return Words(L"the ledger reserved it in ", Cited(L"reserved", history.reserved));
    return Words(L"the ledger has seen it on an adapter");
}

// The first step's choice when the adapter is provisioned afresh: a serial
// the ledger has never taken, and not the one this adapter carries (which a
// fresh one of the same batch carries too).
bool Choose(Run& run, const Ledger& ledger)
{
    Outcome& outcome = run.outcome;
    const ProvisionOptions& options = run.options;
    if (options.suffix != nullptr) {
        const char wanted[2] = {static_cast<char>(run.suffix.GetAt(0)), static_cast<char>(run.suffix.GetAt(1))};
        const CWideString serial = SerialWith(run.adapter.info, wanted);
        const bool own = serial == outcome.oldSerial;
        if (own || ledger.Taken(Utf8(serial))) {
            outcome.result = L"suffix_taken";
            const CWideString why = own ? Words(L"this adapter carries it now, as every adapter fresh from its batch does")
                                        : WhyTaken(ledger, serial);
            run.failure = {kNoFreeSuffix, Words(L"the suffix ", Quoted(options.suffix), L" gives the serial ", serial,
                                                L", which is taken: ", why, L"; nothing was written")};
            return false;
        }
        outcome.newSerial = serial;
        return true;
    }
    SuffixPool pool;
    const char* reason = nullptr;
    ParseSuffixPool(Utf8(CWideString(options.pool, std::wcslen(options.pool))), pool, reason);  // checked before
    const CString own = Utf8(outcome.oldSerial);
    const CString ownFolded = FoldedSerial(own.GetString(), static_cast<size_t>(own.GetLength()));
    // At most 36 x 36 suffixes; the pool was checked with the arguments.
    CString candidates[36 * 36];
    size_t suffixOf[36 * 36];
    size_t offered = 0;
    for (size_t i = 0; i < pool.Count() && offered < 36 * 36; ++i) {
        char pair[2];
        pool.At(i, pair);
        const CString serial = Utf8(SerialWith(run.adapter.info, pair));
        if (!(FoldedSerial(serial.GetString(), static_cast<size_t>(serial.GetLength())) == ownFolded)) {
            suffixOf[offered] = i;
            candidates[offered++] = serial;
        }
    }
    const size_t chosen = ledger.FirstFree(candidates, offered);
    if (chosen == offered) {
        outcome.result = L"no_free_suffix";
        const CWideString prefix = SerialText(run.adapter.info.serialNumber, 6);
        const CWideString why = offered == 0 ? Words(L"it gives no serial but the one this adapter carries")
                                             : Words(L"the ledger has taken every serial the pool gives with this "
                                                     L"adapter's prefix ", prefix);
        run.failure = {kNoFreeSuffix,
                       Words(L"no free suffix in the pool ", options.pool, L": ", why,
                             L"; give another pool with --pool FIRST-LAST (two of 0-9 and A-Z at each end, as in "
                             L"--pool A0-ZZ); nothing was written")};
        return false;
    }
    char pair[2];
    pool.At(suffixOf[chosen], pair);
    run.suffix = CString(pair, 2);
    outcome.newSerial = SerialWith(run.adapter.info, pair);
    return true;
}

// The first locked step: read the ledger, decide what this adapter is, and
// append the row that says so. False when the run ends here; `done` when it
// ends well (a settled run).
bool Reserve(Run& run, bool& done)
{
    Outcome& outcome = run.outcome;
    Failure& failure = run.failure;
    done = false;
    Ledger& ledger = run.ledger;
    const CString carried = Utf8(outcome.oldSerial);
    ledger.Watch(carried);
    if (run.options.suffix != nullptr) {
        const char wanted[2] = {static_cast<char>(run.suffix.GetAt(0)), static_cast<char>(run.suffix.GetAt(1))};
        ledger.Watch(Utf8(SerialWith(run.adapter.info, wanted)));
    }
    outcome.result = L"ledger_error";
    if (!run.file.Lock(run.options.waitSeconds, failure) || !run.file.Rewind(failure)) {
        if (failure.code == kLedgerBusy)
            outcome.result = L"ledger_busy";
        return false;
    }
    if (!ledger.Parse(run.file, static_cast<size_t>(run.file.Size()))) {
        if (ledger.ReadFailed())
            failure = run.file.ReadFailure();
        else
            failure = {kLedgerUnusable,
                       Words(L"the file ", Quoted(run.file.Path().GetString()), L" is not a ledger, so it was left as "
                             L"it is: line ", Decimal(ledger.ProblemLine()), L": ", Ascii(ledger.Problem()))};
        return false;
    }
    if (!run.file.CheckNotRewound(failure))
        return false;
    outcome.result = nullptr;

    SerialHistory history;
    ledger.History(carried, history);
    // An adapter read back this serial after a failed write: two may carry
    // it with the same record, so neither is taken for a re-run.
    const bool again = run.options.again || history.readBack;
    if (!again && Wrote(history.given, run.adapter.info, carried)) {
        outcome.result = L"already_provisioned";
        outcome.ledgerLine = history.given.line;
        failure = {kAlreadyProvisioned,
                   Words(L"this adapter is provisioned already: ", Cited(L"provisioned", history.given),
                         L" gave it the serial ", outcome.oldSerial, L" and wrote this very record; nothing was "
                         L"written. If it is another adapter whose record is the same byte for byte (a twin), give "
                         L"it a serial of its own with --again")};
        return false;
    }

    CString text;
    const size_t line = ledger.NextLine();
    if (!again && history.given.line == 0 && Wrote(history.reserved, run.adapter.info, carried)) {
        // That run's write landed: the adapter carries what it reserved.
        const LedgerRow row = RowOf(kEventProvisioned, run, outcome.oldSerial,
                                    Utf8(Words(L"settles line ", Decimal(history.reserved.line))));
        if (!RowText(row, ledger.Columns(), text, failure) ||
            !run.file.Append(ledger.Completion() + text, line, RowWords(row), failure)) {
            outcome.result = L"ledger_error";
            return false;
        }
        run.file.Remember();
        outcome.newSerial = outcome.oldSerial;
        outcome.haveNewSerial = true;
        outcome.ledgerLine = line;
        outcome.settlesLine = history.reserved.line;
        outcome.result = L"provisioned";
        done = true;
        return true;
    }

    // Provisioned afresh; the serial it carries stays taken.
    if (run.options.again)
        run.note = history.given.line != 0 ? Utf8(Words(L"again, after line ", Decimal(history.given.line)))
                                           : CString("again");
    else if (history.given.line != 0)
        run.note = Utf8(Words(L"collides with line ", Decimal(history.given.line)));
    if (!Choose(run, ledger))
        return false;
    const LedgerRow row = RowOf(kEventReserved, run, outcome.newSerial, run.note);
    if (!RowText(row, ledger.Columns(), text, failure) ||
        !run.file.Append(ledger.Completion() + text, line, RowWords(row), failure)) {
        outcome.result = L"ledger_error";
        failure.what.Append(L"; nothing was written to the adapter");
        return false;
    }
    run.file.Remember();
    outcome.haveNewSerial = true;
    run.reservedLine = line;
    run.reservedRow = text;
    run.reservedEnd = run.file.Size();
    run.lineAfterReserved = line + 1;
    return true;
}

// The second locked step: the row that closes this run's reservation, after
// whatever other stations appended meanwhile. False with `closing` set when
// it cannot be written.
bool Close(Run& run, bool landed, const Failure& written, Failure& closing)
{
    LedgerFile& file = run.file;
    Outcome& outcome = run.outcome;
    const unsigned wait = run.options.waitSeconds > kLeastClosingWait ? run.options.waitSeconds : kLeastClosingWait;
    if (!file.Lock(wait, closing))
        return false;
    // Its own reserved row where it left it, then the rows after it.
    CString after;
    const size_t rowLength = static_cast<size_t>(run.reservedRow.GetLength());
    if (file.Size() >= run.reservedEnd && !file.ReadFrom(run.reservedEnd - rowLength, after, closing))
        return false;
    Ledger others;
    others.Watch(Utf8(outcome.newSerial));
    if (outcome.haveReadBackSerial)
        others.Watch(Utf8(outcome.readBackSerial));
    CString first;  // what goes before its closing row
    size_t line = 0, firstLine = 0;  // the closing row's, and the first line of the rows the ledger read
    if (static_cast<size_t>(after.GetLength()) >= rowLength &&
        std::memcmp(after.GetString(), run.reservedRow.GetString(), rowLength) == 0) {
        const CString tail = run.ledger.Header() + CString(after.GetString() + rowLength, after.GetLength() - rowLength);
        if (!others.Parse(tail.GetString(), static_cast<size_t>(tail.GetLength()))) {
            closing = {kLedgerUnusable, Words(L"the rows other stations appended after line ",
                                              Decimal(run.reservedLine), L" are not a ledger's: ",
                                              Ascii(others.Problem()))};
            return false;
        }
        first = others.Completion();
        line = run.lineAfterReserved + others.NextLine() - 2;
        firstLine = run.lineAfterReserved - 2;
    } else {
        // Someone saved over the ledger meanwhile, without this run's
        // reserved row. It goes at the end again, so that its serial stays
        // taken, whatever the adapter now holds.
        if (!file.Rewind(closing))
            return false;
        if (!others.Parse(file, static_cast<size_t>(file.Size()))) {
            closing = others.ReadFailed() ? file.ReadFailure()
                                          : Failure{kLedgerUnusable, Words(L"the ledger was saved over while the "
                                                                           L"adapter was written, and is no ledger now: ",
                                                                           L"line ", Decimal(others.ProblemLine()),
                                                                           L": ", Ascii(others.Problem()))};
            return false;
        }
        first = others.Completion() + run.reservedRow;
        line = others.NextLine() + 1;
        run.lostLine = run.reservedLine;
        run.reservedLine = others.NextLine();
        SerialHistory taken;
        if (others.History(Utf8(outcome.newSerial), taken) && taken.given.line != 0)
            run.givenMeanwhile = taken.given;
    }
    if (outcome.haveReadBackSerial) {
        SerialHistory taken;
        if (others.History(Utf8(outcome.readBackSerial), taken) && taken.given.line != 0) {
            run.readBackGiven = taken.given;
            run.readBackGiven.line += firstLine;
        }
    }

    LedgerRow row = RowOf(landed ? kEventProvisioned : kEventFailed, run, outcome.newSerial,
                          landed ? run.note : Utf8(Decimal(static_cast<size_t>(written.code))));
    CString text;
    if (!RowText(row, others.Columns(), text, closing))
        return false;
    if (outcome.haveReadBackSerial && !(outcome.readBackSerial == outcome.oldSerial)) {
        // What the adapter carries now is seen, never given out.
        LedgerRow seen = row;
        seen.event = kEventSeen;
        seen.oldSerial = Utf8(outcome.readBackSerial);
        seen.newSerial.Empty();
        seen.record = RecordHex(run.adapter.readBack);
        seen.exitCode.Empty();
        CString more;
        if (!RowText(seen, others.Columns(), more, closing))
            return false;
        text += more;
    }
    if (!file.Append(first + text, line, RowWords(row), closing))
        return false;
    file.Remember();
    file.Unlock();
    outcome.ledgerLine = line;
    return true;
}

// What a run whose reserved row was lost says about it.
CWideString LostRow(const Run& run)
{
    CWideString what = Words(L"someone saved over the ledger while the adapter was written, and its reserved row "
                             L"(line ", Decimal(run.lostLine), L") was lost with it; this run appended it again at line ",
                             Decimal(run.reservedLine), L". Other stations' rows may be lost too: check the ledger");
    if (run.givenMeanwhile.line != 0)
        what.Append(Words(L". Meanwhile ", Cited(L"provisioned", run.givenMeanwhile), L" gave ", run.outcome.newSerial,
                          L" to another adapter: two carry it, and their records may be the same; give this one a "
                          L"serial of its own with provision --again"));
    return what;
}

int Provisioned(Run& run)
{
    Outcome& outcome = run.outcome;
    Failure& failure = run.failure;
    const ProvisionOptions& options = run.options;
    // Everything that can be checked without the adapter is checked first: a
    // refused run leaves no trace anywhere, nor does a run with no adapter.
    if (options.suffix != nullptr && !SuffixBytes(options.suffix, run.suffix, failure))
        return failure.code;
    if (!LoadDeviceLibrary(run.library, failure))
        return failure.code;
    if (!(options.create ? run.file.CheckNew(options.ledger, failure) : run.file.Open(options.ledger, failure)))
        return failure.code;
    if (!ReadAdapter(run.library, run.adapter, failure))
        return failure.code;
    run.recordAsRead = RecordHex(run.adapter.info);
    outcome.oldSerial = run.adapter.Serial();
    if (options.create) {
        // What a new ledger would refuse, it refuses before it is made.
        Ledger blank;
        const CString start = LedgerStart();
        blank.Parse(start.GetString(), static_cast<size_t>(start.GetLength()));
        if (!Choose(run, blank) || !run.file.Create(failure))
            return failure.code;
        outcome.newSerial = CWideString();
    }

    bool settled = false;
    const bool reserved = Reserve(run, settled);
    run.file.Unlock();
    if (!reserved)
        return failure.code;
    if (settled)
        return kSuccess;

    Failure written;
    const bool landed = WriteChecked(run.library, run.adapter, run.suffix, written);
    outcome.ledgerLine = run.reservedLine;
    if (!landed && written.code == kWriteFailed) {
        // A refused write may have changed the adapter all the same: what it
        // holds now is worth a read.
        Adapter check;
        Failure unread;
        if (ReadAdapter(run.library, check, unread)) {
            run.adapter.readBack = check.info;
            run.adapter.readBackValid = true;
        }
    }
    // An adapter that reads back another serial carries that one now.
    if (!landed && run.adapter.readBackValid) {
        const CWideString carried =
            SerialText(run.adapter.readBack.serialNumber, sizeof run.adapter.readBack.serialNumber);
        // After a refused write, news only when it changed.
        if (!(carried == outcome.newSerial) && (written.code != kWriteFailed || !(carried == outcome.oldSerial))) {
            outcome.readBackSerial = carried;
            outcome.haveReadBackSerial = true;
        }
    }
    Failure closing;
    const bool closed = Close(run, landed, written, closing);
    run.file.Unlock();
    if (!landed) {
        outcome.result = written.code == kWriteFailed ? L"write_failed" : L"read_back_differs";
        failure = written;
        if (written.code == kWriteFailed)  // the rest of the advice is provision's own, below
            failure.what = Words(L"the adapter refused the write; its record may or may not have changed");
        failure.what.Append(
            Words(L"; the ledger keeps ", outcome.newSerial, L" reserved (line ", Decimal(run.reservedLine), L")"));
        if (outcome.haveReadBackSerial && !(outcome.readBackSerial == outcome.oldSerial)) {
            failure.what.Append(Words(L"; the adapter now reads back the serial ", outcome.readBackSerial));
            SerialHistory history;
            LedgerEntryRow given = run.readBackGiven;
            if (given.line == 0 && run.ledger.History(Utf8(outcome.readBackSerial), history))
                given = history.given;
            if (given.line != 0)
                failure.what.Append(Words(L", which ", Cited(L"provisioned", given),
                                          L" gave to another adapter: two adapters carry it until this one is "
                                          L"provisioned again"));
            else if (closed)
                failure.what.Append(L", which the ledger keeps out of the pool too");
        }
        if (!closed)
            failure.what.Append(Words(L"; and the failed row could not be written (", closing.what, L")"));
        else if (run.lostLine != 0)
            failure.what.Append(Words(L"; ", LostRow(run)));
        failure.what.Append(L"; run provision again on this adapter: it settles it");
        return failure.code;
    }
    if (!closed) {
        outcome.result = L"ledger_error";
        outcome.ledgerLine = run.reservedLine;
        failure = {kOutputFailed,
                   Words(L"the adapter was written and checked: its serial is now ", outcome.newSerial,
                         L"; but its closing row could not be written to the ledger (", closing.what,
                         L"), which keeps it reserved at line ", Decimal(run.reservedLine),
                         L"; run provision again on this adapter: it settles it")};
        return failure.code;
    }
    if (run.lostLine != 0) {
        outcome.result = L"ledger_error";
        failure = {kOutputFailed, Words(L"the adapter was written and checked: its serial is now ", outcome.newSerial,
                                        L", recorded at line ", Decimal(outcome.ledgerLine), L"; but ", LostRow(run))};
        return failure.code;
    }
    outcome.result = L"provisioned";
    return kSuccess;
}

CWideString Json(const Outcome& outcome)
{
    CWideString json = Words(L"{\"result\":\"", outcome.result, L"\",\"old_serial\":");
    AppendJsonString(json, outcome.oldSerial);
    json.Append(L",\"new_serial\":");
    if (outcome.haveNewSerial)
        AppendJsonString(json, outcome.newSerial);
    else
        json.Append(L"null");
    if (outcome.haveReadBackSerial) {
        json.Append(L",\"read_back_serial\":");
        AppendJsonString(json, outcome.readBackSerial);
    }
    json.Append(L",\"ledger_line\":");
    json.Append(outcome.ledgerLine > 0 ? Decimal(outcome.ledgerLine) : Words(L"null"));
    if (outcome.settlesLine > 0)
        json.Append(Words(L",\"settles_line\":", Decimal(outcome.settlesLine)));
    json.Append(L"}\r\n");
    return json;
}

}  // namespace

int Provision(const ProvisionOptions& options)
{
    Outcome outcome;
    Failure failure;
    Run run(options, outcome, failure);
    int code = Provisioned(run);
    if (code == kSuccess) {
        CWideString out = options.json ? Json(outcome)
                                       : Words(L"old-serial: ", outcome.oldSerial, L"\r\nnew-serial: ",
                                               outcome.newSerial, L"\r\nledger-line: ", Decimal(outcome.ledgerLine),
                                               L"\r\n");
        if (!options.json && outcome.settlesLine > 0)
            out.Append(Words(L"settles-line: ", Decimal(outcome.settlesLine), L"\r\n"));
        code = Finish(out, Words(L"the adapter was provisioned: its serial is now ", outcome.newSerial,
                                 L", ledger line ", Decimal(outcome.ledgerLine)));
    } else {
        Fail(failure);
        if (options.json && outcome.result != nullptr)
            WriteText(Stream::Out, Json(outcome));
    }

    if (code == kSuccess && outcome.settlesLine > 0) {
        WriteVerdict(true, Words(L"PASSED: ", outcome.newSerial, L" was written by the run at line ",
                                 Decimal(outcome.settlesLine), L" after all (settles line ",
                                 Decimal(outcome.settlesLine), L"; ledger line ", Decimal(outcome.ledgerLine), L")"));
    } else if (code == kSuccess) {
        WriteVerdict(true, Words(L"PASSED: ", outcome.oldSerial, L" is now ", outcome.newSerial, L" (ledger line ",
                                 Decimal(outcome.ledgerLine), L")"));
    } else {
        const wchar_t* state = L"nothing was written to the adapter";
        if (code == kWriteFailed || code == kReadBackFailed)
            state = L"the adapter may or may not hold the new serial: run provision again, which settles it";
        else if (code == kOutputFailed)
            state = L"the adapter was written; see the message above";
        else if (code == kAlreadyProvisioned)
            state = L"this adapter was provisioned before; nothing was written";
        WriteVerdict(false, Words(L"FAILED (exit ", Decimal(static_cast<size_t>(code)), L"): ", state));
    }
    return code;
}
