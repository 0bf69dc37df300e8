// The second locked step, which records how the write ended (point 4 of the
// argument in Provision.cpp).
#include <cstring>

#include "cli/ExitCodes.h"
#include "cli/ProvisionRun.h"

namespace {

// The closing step waits at least this long for the lock: giving up leaves
// a written adapter for the next run to settle.
constexpr unsigned kLeastClosingWait = 30;

}  // namespace

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
    others.Watch(WideToUtf8(outcome.newSerial));
    if (outcome.haveReadBackSerial)
        others.Watch(WideToUtf8(outcome.readBackSerial));
    CString first;  // what goes before its closing row
    size_t line = 0, firstLine = 0;  // the closing row's, and the first line of the rows the ledger read
    if (static_cast<size_t>(after.GetLength()) >= rowLength &&
        std::memcmp(after.GetString(), run.reservedRow.GetString(), rowLength) == 0) {
        // The tail is read after the ledger's own header, whose lines it does not count.
        const size_t headerNext = run.ledger.FirstRowLine();
        const CString tail =
            run.ledger.Header() + CString(after.GetString() + rowLength, after.GetLength() - rowLength);
        if (!others.Parse(tail.GetString(), static_cast<size_t>(tail.GetLength()))) {
            closing = {kLedgerUnusable, Words(L"the rows other stations appended after line ",
                                              Decimal(run.reservedLine), L" are not a ledger's: ",
                                              Ascii(others.Problem()))};
            return false;
        }
        first = others.Completion();
        line = run.lineAfterReserved + others.NextLine() - headerNext;
        firstLine = run.lineAfterReserved - headerNext;
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
    file.Remember();
    file.Unlock();
    outcome.ledgerLine = line;
    if (landed)
        run.provisionedRow = row;
    return true;
}
