// What a provisioning run prints: its lines or its JSON, its message, and
// on a console the last PASSED or FAILED line.
#include "cli/Console.h"
#include "cli/ExitCodes.h"
#include "cli/Label.h"
#include "cli/ProvisionRun.h"

CWideString Json(const Outcome& outcome)
{
    JsonLine json;
    json.Text(L"result", Words(outcome.result)).Text(L"old_serial", outcome.oldSerial);
    if (outcome.haveNewSerial)
        json.Text(L"new_serial", outcome.newSerial);
    else
        json.Null(L"new_serial");
    if (outcome.haveReadBackSerial)
        json.Text(L"read_back_serial", outcome.readBackSerial);
    if (outcome.ledgerLine > 0)
        json.Number(L"ledger_line", outcome.ledgerLine);
    else
        json.Null(L"ledger_line");
    if (outcome.settlesLine > 0)
        json.Number(L"settles_line", outcome.settlesLine);
    if (outcome.labelledLine > 0)
        json.Number(L"labelled_line", outcome.labelledLine);
    else if (outcome.labelAsked)
        json.Null(L"labelled_line");
    return json.Done();
}

// The label after a run that ended well: a verified write, or a settled
// earlier run. Whatever becomes of it, the adapter keeps its serial.
int Labelled(Run& run)
{
    const ProvisionOptions& options = run.options;
    Outcome& outcome = run.outcome;
    Failure& failure = run.failure;
    CString zpl;
    if (FillLabel(run.label, LabelValuesOf(run.adapter.host, run.provisionedRow, outcome.ledgerLine),
                  options.labelTemplate, zpl, failure) &&
        PrintAndRecord(zpl, options.printer, run.file, AfterWriteWait(options), run.provisionedRow, &run.closed,
                       outcome.labelledLine, failure))
        return kSuccess;
    const bool printed = failure.code != kLabelNotPrinted && failure.code != kLabelRefused;
    failure.what = Words(L"the adapter was provisioned: its serial is now ", outcome.newSerial, L", ledger line ",
                         Decimal(outcome.ledgerLine), printed ? L"; " : L"; but ", failure.what);
    if (!printed) {
        // 15 whatever stopped the label: the adapter was written, as 16 would deny.
        const bool refused = failure.code == kLabelRefused;
        failure.code = kLabelNotPrinted;
        failure.what.Append(Words(refused ? L". Mend the template, then print it with: varnock-cli label "
                                          : L". Print it with: varnock-cli label ",
                                  Quoted(options.ledger), L" --line ",
                                  Decimal(outcome.ledgerLine), L" --label ", Quoted(options.labelTemplate),
                                  L" --printer ", Quoted(options.printer)));
    }
    return failure.code;
}

int Provision(const ProvisionOptions& options)
{
    Outcome outcome;
    Failure failure;
    Run run(options, outcome, failure);
    outcome.labelAsked = options.labelTemplate != nullptr;
    int code = Provisioned(run);
    if (code == kSuccess && outcome.labelAsked)
        code = Labelled(run);
    if (code == kSuccess) {
        CWideString out = options.json ? Json(outcome)
                                       : Words(L"old-serial: ", outcome.oldSerial, L"\r\nnew-serial: ",
                                               outcome.newSerial, L"\r\nledger-line: ", Decimal(outcome.ledgerLine),
                                               L"\r\n");
        if (!options.json && outcome.settlesLine > 0)
            out.Append(Words(L"settles-line: ", Decimal(outcome.settlesLine), L"\r\n"));
        if (!options.json && outcome.labelledLine > 0)
            out.Append(Words(L"labelled-line: ", Decimal(outcome.labelledLine), L"\r\n"));
        code = Finish(out, Words(L"the adapter was provisioned: its serial is now ", outcome.newSerial,
                                 L", ledger line ", Decimal(outcome.ledgerLine)));
    } else {
        Fail(failure);
        if (options.json && outcome.result != nullptr)
            WriteText(Stream::Out, Json(outcome));
    }

    const CWideString labelled =
        outcome.labelledLine > 0 ? Words(L"; label printed, line ", Decimal(outcome.labelledLine)) : CWideString();
    if (code == kSuccess && outcome.settlesLine > 0) {
        WriteVerdict(true, Words(L"PASSED: ", outcome.newSerial, L" was written by the run at line ",
                                 Decimal(outcome.settlesLine), L" after all (settles line ",
                                 Decimal(outcome.settlesLine), L"; ledger line ", Decimal(outcome.ledgerLine),
                                 labelled, L")"));
    } else if (code == kSuccess) {
        WriteVerdict(true, Words(L"PASSED: ", outcome.oldSerial, L" is now ", outcome.newSerial, L" (ledger line ",
                                 Decimal(outcome.ledgerLine), labelled, L")"));
    } else {
        const wchar_t* state = L"nothing was written to the adapter";
        if (code == kWriteFailed || code == kReadBackFailed)
            state = L"the adapter may or may not hold the new serial: run provision again, which settles it";
        else if (code == kOutputFailed)
            state = L"the adapter was written; see the message above";
        else if (code == kAlreadyProvisioned)
            state = L"this adapter was provisioned before; nothing was written";
        else if (code == kLabelNotPrinted)
            state = L"the adapter was provisioned, but its label was not printed; see the message above";
        WriteVerdict(false, Words(L"FAILED (exit ", Decimal(static_cast<size_t>(code)), L"): ", state));
    }
    return code;
}

