// provision: gives the adapter a serial that the ledger has never given out,
// never reserved and never seen, and records it, so that no two adapters on
// a line share an identity.
//
// The order is what makes that hold: the ledger is locked before it is read
// and stays locked until the last line is on disk; the serial is reserved on
// disk before the write is sent; and a reserved serial is never handed out
// again, whatever happened to the write, since the adapter may hold it.
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

// What the run came to, for the JSON object and the verdict.
struct Outcome {
    const wchar_t* result = nullptr;  // none: no adapter was read, so no JSON
    CWideString oldSerial, newSerial;
    bool haveNewSerial = false;
    CWideString readBackSerial;  // when the adapter reads back another serial than the one written
    bool haveReadBackSerial = false;
    size_t ledgerLine = 0;  // 0: none
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

// A row about this adapter, with the record as it was read.
LedgerRow RowOf(const wchar_t* event, const Outcome& outcome, const ConsoleHost& host, const CString& recordAsRead,
                int code, const CWideString* carried = nullptr)
{
    LedgerRow row;
    row.time = Now();
    row.station = Utf8(Station());
    row.event = Utf8(CWideString(event, std::wcslen(event)));
    row.oldSerial = Utf8(outcome.oldSerial);
    row.newSerial = Utf8(carried != nullptr ? *carried : outcome.newSerial);
    row.hardware = Utf8(Shown(host.hardwareVersion));
    row.firmware = Utf8(Shown(host.firmwareVersion));
    row.product = Utf8(Shown(host.productName));
    row.record = recordAsRead;
    if (code != kSuccess)
        row.exitCode = Utf8(Decimal(static_cast<size_t>(code)));
    return row;
}

// The row as a line of the ledger, appended and on disk.
bool AppendRow(LedgerFile& file, const CString& before, const LedgerRow& row, Failure& failure)
{
    CString text;
    if (!LedgerRowText(row, text)) {
        failure = {kLedgerUnusable, Words(L"a field of the ", Ascii(row.event.GetString()),
                                          L" row cannot be written to a ledger")};
        return false;
    }
    return file.Append(before + text, failure);
}

// A time from the ledger for a message: a hand-edited field may hold
// anything, so it is cut short and cannot break the line.
CWideString Clipped(const CWideString& text)
{
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

CWideString Wide(const CString& utf8)
{
    const int length = utf8.GetLength();
    CWideString wide;
    if (length == 0)
        return wide;
    const int needed = MultiByteToWideChar(CP_UTF8, 0, utf8.GetString(), length, nullptr, 0);
    if (needed > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.GetString(), length, wide.GetBuffer(static_cast<size_t>(needed)),
                            needed);
    return wide;
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

int Run(const ProvisionOptions& options, Outcome& outcome, Failure& failure)
{
    // Everything that can be checked without the adapter or the ledger is
    // checked first: a refused run leaves no trace anywhere.
    CString suffix;
    if (options.suffix != nullptr && !SuffixBytes(options.suffix, suffix, failure))
        return failure.code;
    DeviceLibrary library;
    if (!LoadDeviceLibrary(library, failure))
        return failure.code;

    LedgerFile file;
    if (!file.Open(options.ledger, options.waitSeconds, failure))
        return failure.code;
    if (file.Empty() && !file.Append(LedgerStart(), failure))
        return failure.code;
    if (!file.Rewind(failure))
        return failure.code;
    Ledger ledger;
    if (!ledger.Parse(file, static_cast<size_t>(file.Size()))) {
        if (ledger.ReadFailed()) {
            failure = file.ReadFailure();
            return failure.code;
        }
        failure = {kLedgerUnusable,
                   Words(L"the file ", Quoted(options.ledger), L" is not a ledger, so it was left as it is: line ",
                         Decimal(ledger.ProblemLine()), L": ", Ascii(ledger.Problem()))};
        return failure.code;
    }

    Adapter adapter;
    if (!ReadAdapter(library, adapter, failure))
        return failure.code;
    const CString recordAsRead = RecordHex(adapter.info);
    outcome.oldSerial = adapter.Serial();
    const CString oldSerial = Utf8(outcome.oldSerial);

    size_t line = 0;
    CString when;
    if (ledger.GivenOut(oldSerial, line, when)) {
        outcome.result = L"already_provisioned";
        outcome.ledgerLine = line;
        failure = {kAlreadyProvisioned,
                   Words(L"this adapter's serial ", outcome.oldSerial, L" was already given out by the ledger at line ",
                         Decimal(line), L" (", Clipped(Wide(when)), L"); nothing was written")};
        return failure.code;
    }

    // A free serial: never given out, never reserved, never seen on an
    // adapter, and not the one this adapter carries now (which a fresh one
    // of the same batch carries too).
    if (options.suffix != nullptr) {
        const char wanted[2] = {static_cast<char>(suffix.GetAt(0)), static_cast<char>(suffix.GetAt(1))};
        outcome.newSerial = SerialWith(adapter.info, wanted);
        const CString serial = Utf8(outcome.newSerial);
        const bool own = outcome.newSerial == outcome.oldSerial;
        if (own || ledger.Taken(serial)) {
            outcome.result = L"suffix_taken";
            CWideString why = own ? Words(L"this adapter carries it now, as every adapter fresh from its batch does")
                                  : Words(L"the ledger has seen it on an adapter");
            if (!own && ledger.GivenOut(serial, line, when))
                why = Words(L"the ledger gave it out at line ", Decimal(line), L" (", Clipped(Wide(when)), L")");
            failure = {kNoFreeSuffix, Words(L"the suffix ", Quoted(options.suffix), L" gives the serial ",
                                            outcome.newSerial, L", which is taken: ", why, L"; nothing was written")};
            return failure.code;
        }
    } else {
        SuffixPool pool;
        const char* reason = nullptr;
        ParseSuffixPool(Utf8(CWideString(options.pool, std::wcslen(options.pool))), pool, reason);  // checked before
        // At most 36 x 36 suffixes; the pool was checked with the arguments.
        CString candidates[36 * 36];
        size_t suffixOf[36 * 36];
        size_t offered = 0;
        for (size_t i = 0; i < pool.Count() && offered < 36 * 36; ++i) {
            char pair[2];
            pool.At(i, pair);
            const CWideString serial = SerialWith(adapter.info, pair);
            if (!(serial == outcome.oldSerial)) {
                suffixOf[offered] = i;
                candidates[offered++] = Utf8(serial);
            }
        }
        const size_t chosen = ledger.FirstFree(candidates, offered);
        if (chosen < offered) {
            char pair[2];
            pool.At(suffixOf[chosen], pair);
            suffix = CString(pair, 2);
            outcome.newSerial = SerialWith(adapter.info, pair);
        }
        if (chosen == offered) {
            outcome.result = L"no_free_suffix";
            failure = {kNoFreeSuffix,
                       Words(L"no free suffix in the pool ", options.pool, L": the ledger has given out or seen every ",
                             L"serial it gives for ", outcome.oldSerial, L"; nothing was written")};
            return failure.code;
        }
    }
    outcome.haveNewSerial = true;

    // Reserved on disk before anything is sent: from here on, whatever
    // happens, the serial is never handed out again.
    const size_t reservedLine = ledger.NextLine();
    if (!AppendRow(file, ledger.Completion(), RowOf(L"reserved", outcome, adapter.host, recordAsRead, kSuccess),
                   failure)) {
        outcome.result = L"ledger_error";
        failure.what.Append(L"; nothing was written to the adapter");
        return failure.code;
    }

    Failure written;
    const bool landed = WriteChecked(library, adapter, suffix, written);
    outcome.ledgerLine = reservedLine + 1;
    // An adapter that reads back another serial carries that one now: the
    // failed row names it, so that it too is never handed out again.
    if (!landed && adapter.readBackValid) {
        const CWideString carried = SerialText(adapter.readBack.serialNumber, sizeof adapter.readBack.serialNumber);
        if (!(carried == outcome.newSerial)) {
            outcome.readBackSerial = carried;
            outcome.haveReadBackSerial = true;
        }
    }
    Failure closing;
    const bool recorded = AppendRow(file, CString(),
                                    RowOf(landed ? L"provisioned" : L"failed", outcome, adapter.host, recordAsRead,
                                          landed ? kSuccess : written.code,
                                          outcome.haveReadBackSerial ? &outcome.readBackSerial : nullptr),
                                    closing);
    if (!landed) {
        outcome.result = written.code == kWriteFailed ? L"write_failed" : L"read_back_differs";
        failure = written;
        failure.what.Append(Words(L"; the ledger keeps ", outcome.newSerial, L" reserved (line ",
                                  Decimal(reservedLine), L")"));
        if (outcome.haveReadBackSerial) {
            failure.what.Append(Words(L"; the adapter now reads back the serial ", outcome.readBackSerial));
            if (ledger.GivenOut(Utf8(outcome.readBackSerial), line, when))
                failure.what.Append(Words(L", which the ledger gave out at line ", Decimal(line), L" (",
                                          Clipped(Wide(when)), L"): two adapters may share it, so give this one "
                                          L"another suffix (write-suffix) and provision it again"));
            else if (recorded)
                failure.what.Append(Words(L", which the ledger now keeps out of the pool too (line ",
                                          Decimal(outcome.ledgerLine), L")"));
        }
        if (!recorded)
            outcome.ledgerLine = reservedLine;
        return failure.code;
    }
    if (!recorded) {
        outcome.result = L"ledger_error";
        outcome.ledgerLine = reservedLine;
        failure = {kOutputFailed,
                   Words(L"the adapter was written and checked: its serial is now ", outcome.newSerial,
                         L"; but its closing line could not be written to the ledger (", closing.what,
                         L"), which keeps it reserved at line ", Decimal(reservedLine))};
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
    json.Append(L"}\r\n");
    return json;
}

}  // namespace

int Provision(const ProvisionOptions& options)
{
    Outcome outcome;
    Failure failure;
    int code = Run(options, outcome, failure);
    if (code == kSuccess) {
        const CWideString out =
            options.json ? Json(outcome)
                         : Words(L"old-serial: ", outcome.oldSerial, L"\r\nnew-serial: ", outcome.newSerial,
                                 L"\r\nledger-line: ", Decimal(outcome.ledgerLine), L"\r\n");
        code = Finish(out, Words(L"the adapter was provisioned: its serial is now ", outcome.newSerial,
                                 L", ledger line ", Decimal(outcome.ledgerLine)));
    } else {
        Fail(failure);
        if (options.json && outcome.result != nullptr)
            WriteText(Stream::Out, Json(outcome));
    }

    if (code == kSuccess) {
        WriteVerdict(true, Words(L"PASSED: ", outcome.oldSerial, L" is now ", outcome.newSerial, L" (ledger line ",
                                 Decimal(outcome.ledgerLine), L")"));
    } else {
        const wchar_t* state = L"nothing was written to the adapter";
        if (code == kWriteFailed || code == kReadBackFailed)
            state = L"the adapter may or may not hold the new serial: read it again before the next try";
        else if (code == kOutputFailed)
            state = L"the adapter was written; see the message above";
        WriteVerdict(false, Words(L"FAILED (exit ", Decimal(static_cast<size_t>(code)), L"): ", state));
    }
    return code;
}
