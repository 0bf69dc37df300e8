// What a provisioning run prints: its lines or its JSON, its message, and
// on a console the last PASSED or FAILED line.
#include "cli/Console.h"
#include "cli/ExitCodes.h"
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
    return json.Done();
}

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

