// The first locked step, which chooses the adapter's serial and reserves it
// (points 1, 2, 5 and 6 of the argument in Provision.cpp).
#include <cwchar>

#include "cli/ExitCodes.h"
#include "cli/ProvisionRun.h"
#include "ledger/SuffixPool.h"

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
        if (own || ledger.Taken(WideToUtf8(serial))) {
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
    ParseSuffixPool(WideToUtf8(CWideString(options.pool, std::wcslen(options.pool))), pool, reason);  // checked before
    const CString own = WideToUtf8(outcome.oldSerial);
    const CString ownFolded = FoldedSerial(own.GetString(), static_cast<size_t>(own.GetLength()));
    // At most 36 x 36 suffixes; the pool was checked with the arguments.
    CString candidates[36 * 36];
    size_t suffixOf[36 * 36];
    size_t offered = 0;
    for (size_t i = 0; i < pool.Count() && offered < 36 * 36; ++i) {
        char pair[2];
        pool.At(i, pair);
        const CString serial = WideToUtf8(SerialWith(run.adapter.info, pair));
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
    const CString carried = WideToUtf8(outcome.oldSerial);
    ledger.Watch(carried);
    if (run.options.suffix != nullptr) {
        const char wanted[2] = {static_cast<char>(run.suffix.GetAt(0)), static_cast<char>(run.suffix.GetAt(1))};
        ledger.Watch(WideToUtf8(SerialWith(run.adapter.info, wanted)));
    }
    outcome.result = L"ledger_error";
    if (!run.file.Lock(run.options.waitSeconds, failure)) {
        if (failure.code == kLedgerBusy)
            outcome.result = L"ledger_busy";
        return false;
    }
    if (!ReadLedger(run.file, ledger, nullptr, failure) || !run.file.CheckNotRewound(failure))
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
                                    WideToUtf8(Words(L"settles line ", Decimal(history.reserved.line))));
        if (!RowText(row, ledger.Columns(), text, failure) ||
            !run.file.Append(ledger.Completion() + text, line, RowWords(row), failure)) {
            outcome.result = L"ledger_error";
            return false;
        }
        run.file.Remember();
        run.provisionedRow = row;
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
        run.note = history.given.line != 0 ? WideToUtf8(Words(L"again, after line ", Decimal(history.given.line)))
                                           : CString("again");
    else if (history.given.line != 0)
        run.note = WideToUtf8(Words(L"collides with line ", Decimal(history.given.line)));
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
    run.reserved = row;
    run.reservedEnd = run.file.Size();
    run.lineAfterReserved = line + 1;
    return true;
}
