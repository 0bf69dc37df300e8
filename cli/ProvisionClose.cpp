// The second locked step, which records how the write ended (point 4 of the
// argument in Provision.cpp).
#include <cstring>

#include "cli/ExitCodes.h"
#include "cli/ProvisionRun.h"

// The second locked step: the row that closes this run's reservation, after
// whatever other stations appended meanwhile. False with `closing` set when
// it cannot be written.
bool Close(Run& run, bool landed, const Failure& written, Failure& closing)
{
    LedgerFile& file = run.file;
    Outcome& outcome = run.outcome;
    if (!file.Lock(AfterWriteWait(run.options), closing))
        return false;
    // Its own reserved row where it left it, then the rows after it.
    Ledger others;
    others.Watch(WideToUtf8(outcome.newSerial));
    if (outcome.haveReadBackSerial)
        others.Watch(WideToUtf8(outcome.readBackSerial));
    CString first;  // what goes before its closing row
    size_t line = 0, firstLine = 0;  // the closing row's, and the first line of the rows the ledger read
    const OwnRows reserved = {&run.ledger, run.reservedRow, run.reservedEnd, run.lineAfterReserved};
    bool found = false;
    if (!ReadAfterOwn(file, reserved, others, line, found, closing))
        return false;
    if (found) {
        first = others.Completion();
        firstLine = run.lineAfterReserved - run.ledger.FirstRowLine();
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
        // Its reserved row again, of the width of the ledger now there.
        CString reservedAgain;
        if (!RowText(run.reserved, others.Columns(), reservedAgain, closing))
            return false;
        first = others.Completion() + reservedAgain;
        line = others.NextLine() + 1;
        run.lostLine = run.reservedLine;
        run.reservedLine = others.NextLine();
        SerialHistory taken;
        if (others.History(WideToUtf8(outcome.newSerial), taken) && taken.given.line != 0)
            run.givenMeanwhile = taken.given;
    }
    if (outcome.haveReadBackSerial) {
        SerialHistory taken;
        if (others.History(WideToUtf8(outcome.readBackSerial), taken) && taken.given.line != 0) {
            run.readBackGiven = taken.given;
            run.readBackGiven.line += firstLine;
        }
    }

    LedgerRow row = RowOf(landed ? kEventProvisioned : kEventFailed, run, outcome.newSerial,
                          landed ? run.note : WideToUtf8(Decimal(static_cast<size_t>(written.code))));
    CString text;
    if (!RowText(row, others.Columns(), text, closing))
        return false;
    if (outcome.haveReadBackSerial && !(outcome.readBackSerial == outcome.oldSerial)) {
        // What the adapter carries now is seen, never given out.
        LedgerRow seen = row;
        seen.event = kEventSeen;
        seen.oldSerial = WideToUtf8(outcome.readBackSerial);
        seen.newSerial.Empty();
        seen.record = WideToUtf8(RecordHex(run.adapter.readBack));
        seen.exitCode.Empty();
        CString more;
        if (!RowText(seen, others.Columns(), more, closing))
            return false;
        text += more;
    }
    if (!file.Append(first + text, line, RowWords(row), closing))
        return false;
    if (found) {
        size_t lines = 0;
        for (int i = 0; i < text.GetLength(); ++i)
            lines += text.GetString()[i] == '\n';
        run.closed = {&run.ledger, text, file.Size(), line + lines};
    }
    file.Remember();
    file.Unlock();
    outcome.ledgerLine = line;
    if (landed)
        run.provisionedRow = row;
    return true;
}
