#include "cli/Label.h"

#include <cstdlib>

#include "cli/ExitCodes.h"
#include "cli/Printer.h"

bool ReadLabelTemplate(const wchar_t* path, LabelTemplate& label, Failure& failure)
{
    failure.code = kLabelRefused;
    const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        failure.what = Words(L"the label template ", Quoted(path), L" cannot be opened: ", WindowsError(GetLastError()));
        return false;
    }
    LARGE_INTEGER size{};
    CString bytes;
    bool read = GetFileSizeEx(file, &size) != 0;
    DWORD error = read ? 0 : GetLastError();
    if (read && static_cast<unsigned long long>(size.QuadPart) > kLongestTemplate) {
        CloseHandle(file);
        failure.what = Words(L"the label template ", Quoted(path), L" is over ", Decimal(kLongestTemplate >> 20),
                             L" MB, so it is no label template");
        return false;
    }
    if (read && size.QuadPart > 0) {
        // malloc, not new: the C++ library's operator new would bring its exceptions.
        char* room = static_cast<char*>(std::malloc(static_cast<size_t>(size.QuadPart)));
        if (room == nullptr)
            std::abort();
        DWORD got = 0;
        read = ReadFile(file, room, static_cast<DWORD>(size.QuadPart), &got, nullptr) && got == size.QuadPart;
        error = read ? 0 : GetLastError();
        bytes = CString(room, got);
        std::free(room);
    }
    CloseHandle(file);
    if (!read) {
        failure.what = Words(L"the label template ", Quoted(path), L" cannot be read: ", WindowsError(error));
        return false;
    }
    if (!label.Parse(bytes.GetString(), static_cast<size_t>(bytes.GetLength()))) {
        failure.what = Words(L"the label template ", Quoted(path), L", ", Utf8ToWide(label.Problem()));
        return false;
    }
    return true;
}

LabelValues LabelValuesOf(ConsoleHost& texts, const LedgerRow& row, size_t line)
{
    LabelValues values;
    values.text[kLabelSerial] = row.newSerial;
    values.text[kLabelOldSerial] = row.oldSerial;
    values.text[kLabelHardware] = WideToUtf8(Shown(texts.hardwareVersion));
    values.text[kLabelFirmware] = WideToUtf8(Shown(texts.firmwareVersion));
    values.text[kLabelReserved] = WideToUtf8(Shown(texts.reservedValue));
    values.text[kLabelChannels] = WideToUtf8(Shown(texts.channelCount));
    values.text[kLabelProduct] = WideToUtf8(Shown(texts.productName));
    values.text[kLabelTime] = row.time;
    values.text[kLabelStation] = row.station;
    values.text[kLabelLedgerLine] = WideToUtf8(Decimal(line));
    return values;
}

bool FillLabel(LabelTemplate& label, const LabelValues& values, const wchar_t* path, CString& zpl, Failure& failure)
{
    if (label.Fill(values, zpl))
        return true;
    failure = {kLabelRefused, Words(L"the label template ", Quoted(path), L" cannot hold this adapter's values: ",
                                    Utf8ToWide(label.Problem()))};
    return false;
}

bool PrintAndRecord(const CString& zpl, const wchar_t* printer, LedgerFile& file, unsigned waitSeconds,
                    const LedgerRow& provisioned, const OwnRows* own, size_t& labelledLine, Failure& failure)
{
    CWideString why;
    if (!SendLabel(printer, zpl, Words(L"Varnock label ", Utf8ToWide(provisioned.newSerial)), why)) {
        failure = {kLabelNotPrinted, Words(L"the label was not printed: ", why)};
        return false;
    }
    // The labelled row, after whatever other stations appended meanwhile.
    LedgerRow row = provisioned;
    row.time = RowTime();
    row.station = RowStation();
    row.event = kEventLabelled;
    row.exitCode = WideToUtf8(CWideString(printer, wcslen(printer)));
    Ledger ledger;
    CString text;
    size_t line = 0;
    bool found = false;
    bool recorded = file.Lock(waitSeconds, failure) &&
                    (own == nullptr || own->end == 0 || ReadAfterOwn(file, *own, ledger, line, found, failure));
    if (recorded && !found) {
        recorded = ReadLedger(file, ledger, nullptr, failure) && file.CheckNotRewound(failure);
        line = ledger.NextLine();
    }
    // A run remembers the ledger once: provision did at its closing row,
    // which stays a true state of the ledger. Its labelled row takes no
    // serial, so it need not wait for the disk either; label's, which it
    // remembers, must.
    const bool remember = own == nullptr;
    recorded = recorded && RowText(row, found ? own->ledger->Columns() : ledger.Columns(), text, failure) &&
               file.Append(ledger.Completion() + text, line, RowWords(row), failure, remember);
    if (recorded) {
        if (remember)
            file.Remember();
        labelledLine = line;
    }
    file.Unlock();
    if (!recorded)
        failure = {kOutputFailed, Words(L"the label was printed to ", Quoted(printer),
                                        L", but its labelled row could not be written to the ledger: ",
                                        failure.what)};
    return recorded;
}
