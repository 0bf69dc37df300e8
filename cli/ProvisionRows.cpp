// The ledger's rows that a run appends, and how messages cite the rows it
// reads.
#include <windows.h>

#include <cstring>

#include "cli/ExitCodes.h"
#include "cli/ProvisionRun.h"

namespace {

// A field from the ledger for a message: a hand-edited one may hold
// anything, so it is cut short and cannot break the line.
CWideString Clipped(const CString& utf8)
{
    const CWideString text = Utf8ToWide(utf8);
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

}  // namespace

// Whether `row` wrote the adapter's record as it is now: the row's record as
// read, with its new serial. Serial texts never match for different bytes,
// so the same text and every other byte the same is the same record.
bool Wrote(const LedgerEntryRow& row, const DeviceInfo& info, const CString& carried)
{
    DeviceInfo read{};
    if (row.line == 0 || !(row.serial == carried) || !RecordFromHex(row.record, read))
        return false;
    const auto* bytes = reinterpret_cast<const uint8_t*>(&info);
    const auto* before = reinterpret_cast<const uint8_t*>(&read);
    for (size_t i = 0; i < sizeof info; ++i)
        if ((i < kSuffixOffset || i >= kSuffixOffset + 2) && bytes[i] != before[i])
            return false;
    return true;
}

// A row about this adapter, with the record as it was read.
LedgerRow RowOf(const char* event, const Run& run, const CWideString& newSerial, const CString& last)
{
    LedgerRow row;
    row.time = RowTime();
    row.station = RowStation();
    row.event = event;
    row.oldSerial = WideToUtf8(run.outcome.oldSerial);
    row.newSerial = WideToUtf8(newSerial);
    row.hardware = WideToUtf8(Shown(run.adapter.host.hardwareVersion));
    row.firmware = WideToUtf8(Shown(run.adapter.host.firmwareVersion));
    row.product = WideToUtf8(Shown(run.adapter.host.productName));
    row.record = run.recordAsRead;
    row.exitCode = last;
    return row;
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
    ledger.History(WideToUtf8(serial), history);
    if (history.given.line != 0)
        return Words(L"the ledger gave it out in ", Cited(L"provisioned", history.given));
    if (history.reserved.line != 0)
        return Words(L"the ledger reserved it in ", Cited(L"reserved", history.reserved));
    return Words(L"the ledger has seen it on an adapter");
}
