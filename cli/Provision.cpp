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
#include <cwchar>

#include "cli/ExitCodes.h"
#include "cli/Label.h"
#include "cli/Library.h"
#include "cli/ProvisionRun.h"
#include "ledger/SuffixPool.h"

namespace {

bool Prepare(Run& run);
bool LabelFits(Run& run);
bool Write(Run& run, Failure& written);
int Conclude(Run& run, bool landed, const Failure& written, bool closed, const Failure& closing);

}  // namespace

// The run, step by step, in the order argued for above.
int Provisioned(Run& run)
{
    if (!Prepare(run))
        return run.failure.code;

    // Choose the serial and reserve it (1, 2; or settle an earlier run, 5).
    bool settled = false;
    const bool reserved = Reserve(run, settled);
    run.file.Unlock();
    if (!reserved)
        return run.failure.code;
    if (settled)
        return kSuccess;

    // Write it, holding no lock (3).
    Failure written;
    const bool landed = Write(run, written);

    // Close the reservation, whatever the write came to (4).
    Failure closing;
    const bool closed = Close(run, landed, written, closing);
    run.file.Unlock();
    return Conclude(run, landed, written, closed, closing);
}

namespace {

// Everything that can be checked without the adapter is checked first: a
// refused run leaves no trace anywhere, nor does a run with no adapter.
// Then the adapter is read, and a new ledger made.
bool Prepare(Run& run)
{
    const ProvisionOptions& options = run.options;
    Failure& failure = run.failure;
    if (options.suffix != nullptr && !SuffixBytes(options.suffix, run.suffix, failure))
        return false;
    if (options.labelTemplate != nullptr && !ReadLabelTemplate(options.labelTemplate, run.label, failure)) {
        failure.what.Append(L"; nothing was sent to the adapter");
        return false;
    }
    if (!LoadDeviceLibrary(run.library, failure))
        return false;
    if (!(options.create ? run.file.CheckNew(options.ledger, failure) : run.file.Open(options.ledger, failure)))
        return false;
    if (!ReadAdapter(run.library, run.adapter, failure))
        return false;
    run.recordAsRead = WideToUtf8(RecordHex(run.adapter.info));
    run.outcome.oldSerial = run.adapter.Serial();
    if (options.labelTemplate != nullptr && !LabelFits(run))
        return false;
    if (options.create) {
        // What a new ledger would refuse, it refuses before it is made.
        Ledger blank;
        const CString start = LedgerStart();
        blank.Parse(start.GetString(), static_cast<size_t>(start.GetLength()));
        if (!Choose(run, blank) || !run.file.Create(failure))
            return false;
        run.outcome.newSerial = CWideString();
    }
    return true;
}

// Whether the template holds this adapter's values, whichever serial the run
// gives it: an unprintable value must not cost the adapter a serial. Values
// are judged byte by byte, so a few serials that hold every character the
// pool can give stand for all of its serials; the time and line are digits
// as here.
bool LabelFits(Run& run)
{
    const DeviceInfo& info = run.adapter.info;
    CString serials[2 + 18];  // the one it carries (a settled run), then --suffix's or the pool's
    size_t count = 0;
    serials[count++] = WideToUtf8(run.outcome.oldSerial);
    if (!run.suffix.IsEmpty()) {
        serials[count++] = WideToUtf8(SerialWith(info, run.suffix.GetString()));
    } else {
        SuffixPool pool;
        const char* reason = nullptr;
        ParseSuffixPool(WideToUtf8(CWideString(run.options.pool, std::wcslen(run.options.pool))), pool, reason);
        bool seen[128] = {};
        char characters[36];
        size_t distinct = 0;
        for (size_t i = 0; i < pool.Count(); ++i) {
            char pair[2];
            pool.At(i, pair);
            for (const char c : pair)
                if (c > 0 && !seen[static_cast<unsigned char>(c)] && distinct < sizeof characters) {
                    seen[static_cast<unsigned char>(c)] = true;
                    characters[distinct++] = c;
                }
        }
        for (size_t k = 0; k < distinct; k += 2) {
            const char pair[2] = {characters[k], characters[k + 1 < distinct ? k + 1 : k]};
            serials[count++] = WideToUtf8(SerialWith(info, pair));
        }
    }
    LedgerRow row;
    row.time = RowTime();
    row.station = RowStation();
    row.oldSerial = serials[0];
    CString zpl;
    for (size_t i = 0; i < count; ++i) {
        row.newSerial = serials[i];
        if (!FillLabel(run.label, LabelValuesOf(run.adapter.host, row, 1), run.options.labelTemplate, zpl,
                       run.failure)) {
            run.failure.what.Append(L"; nothing was sent to the adapter");
            return false;
        }
    }
    return true;
}

// The write and its read-back, with no lock held (point 3). False with
// `written` when it did not land; what the adapter reads back then is kept.
bool Write(Run& run, Failure& written)
{
    Outcome& outcome = run.outcome;
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
    return landed;
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

// The run's exit code and message, from how the write and the closing row
// ended.
int Conclude(Run& run, bool landed, const Failure& written, bool closed, const Failure& closing)
{
    Outcome& outcome = run.outcome;
    Failure& failure = run.failure;
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
            if (given.line == 0 && run.ledger.History(WideToUtf8(outcome.readBackSerial), history))
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

}  // namespace
